#!/usr/bin/env bash
# Builds and runs every test: the unit and end-to-end tests in a normal
# build and again under AddressSanitizer and UndefinedBehaviorSanitizer;
# the scripts through shellcheck and the manual pages through mandoc; the
# installed files and the Debian packages (lintian, hardening-check, the
# unit verified, installed and removed in a private root, its daemon run
# without infod, and built twice to the same bytes); the appliance's
# builds with the same package checks: armhf with every test under
# qemu-arm, arm64 built; the fuzz targets for their time, and a leak check
# of the daemon through a storm of reloads, then the demo. Beside all that,
# from the start, the Debian 13 stage (tools/debian13.sh): the tree built
# and tested in a Debian 13 root, its packages and its armhf build checked.
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

./tools/install-deps.sh

# Each step with the seconds since the start, so a slow one shows.
step() { printf '\n=== [%d s] %s\n' "$SECONDS" "$*"; }

scratch=$(mktemp -d /tmp/ar-test-XXXXXX)
background=()
cleanup() {
  for pid in "${background[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The Debian 13 stage works in a root of its own, mostly waiting for the
# mirror and for dpkg at first, and then building at a lower priority: it
# takes the time the steps below leave to the processors (the fuzz targets
# and the leak check keep one busy, the tests under qemu-arm and the demo
# wait much). Its output comes at the end. In a session of its own, so
# that an early end stops it with all it started.
setsid nice -n 10 ./tools/debian13.sh > "$scratch/debian13.log" 2>&1 &
debian13=$!
background+=("$debian13")
# The cross toolchains come meanwhile too.
setsid ./tools/install-deps.sh crossbuild-essential-armhf crossbuild-essential-arm64 qemu-user \
  > "$scratch/cross-deps.log" 2>&1 &
cross_deps=$!
background+=("$cross_deps")

# The builds that no other is compared with byte for byte go through
# ccache, kept beside the Debian 13 root; the first build and the one
# that must give the same packages do not.
with_ccache() {
  CCACHE_DIR=/var/cache/autoresponsed-test/ccache CCACHE_MAXSIZE=2G \
    CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache "$@"
}

step "shell scripts and manual pages"
# Every shell script of the tree, found by its first line.
mapfile -t scripts < <(git ls-files | while read -r f; do
  head -n 1 "$f" 2>/dev/null | grep -qE '^#!.*\b(ba)?sh\b' && echo "$f"; done)
shellcheck "${scripts[@]}"
for page in dist/autoresponsed.8 dist/arctl.8 dist/devinfod.1; do
  lint=$(mandoc -Tlint "$page" 2>&1) || true
  [ -z "$lint" ] || { printf '%s\n' "$lint"; exit 1; }
done
echo "${#scripts[@]} scripts and three pages without findings"

step "build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
make -C build -j"$jobs" --no-print-directory

step "tests"
(cd build && ctest --output-on-failure -j"$jobs")

step "the appliance benchmarks, briefly: they build and run (no figures)"
(cd build && ./appliance_bench --brief > "$scratch/bench.log" 2>&1) || { cat "$scratch/bench.log"; exit 1; }
if ! grep -q '^BM_Start' "$scratch/bench.log" || grep -q -e 'ERROR OCCURRED' -e 'exit_ok=0' "$scratch/bench.log"; then
  cat "$scratch/bench.log"
  exit 1
fi
echo "the appliance benchmarks ran"

step "arctl check --strict and arctl test: the example configuration and the README's rule"
# The README's rules and their tests, as its sections show them: each
# section's xml block is the configuration, its text block the test.
readme="$scratch/readme"
mkdir -p "$readme"
readme_section() {
  awk -v dir="$readme" -v section="## $1" -v xml="$2" -v test="$3" '
    /^## / { inside = ($0 == section) }
    inside && /^```(xml|text)$/ { file = dir "/" ($0 == "```xml" ? xml : test); next }
    /^```$/ { file = "" }
    inside && file != "" && !/^```/ { print > file }' README.md
  if [ ! -s "$readme/$2" ] || [ ! -s "$readme/$3" ]; then echo "README: no rule or test to try in '$1'"; exit 1; fi
}
readme_section "Testing rules before they go live" my-rules.xml rack4.test
readme_section "Rules that wait on other rules" uplink.xml uplink.test
# Sound on a development machine: their only warnings say it is not the
# appliance (scripts it lacks, ports a file of rules alone lacks).
build/arctl check --strict dist/examples/config.xml
build/arctl check --strict "$readme/my-rules.xml"
build/arctl check --strict "$readme/uplink.xml"
build/arctl test dist/examples/config.test "$readme/rack4.test" "$readme/uplink.test"
# What the README says explain tells of the held host while the uplink is down.
build/arctl test --explain host-a 60 "$readme/uplink.test" | grep -qx "  held while uplink is Triggered, holding 'page'"

step "manual pages render without warnings"
for page in dist/autoresponsed.8 dist/arctl.8 dist/devinfod.1; do
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { printf '%s\n' "$warnings"; echo "$page: warnings"; exit 1; }
done
echo "all three render cleanly"

step "install, package, and the package installed and removed in a private root"
installed_files="usr/bin/devinfod
usr/lib/debug/usr/bin/devinfod.debug
usr/lib/debug/usr/sbin/arctl.debug
usr/lib/debug/usr/sbin/autoresponsed.debug
usr/lib/systemd/system/autoresponsed.service
usr/sbin/arctl
usr/sbin/autoresponsed
usr/share/doc/autoresponsed-dbg/changelog.gz
usr/share/doc/autoresponsed-dbg/copyright
usr/share/doc/autoresponsed/changelog.gz
usr/share/doc/autoresponsed/copyright
usr/share/doc/autoresponsed/examples/config.test
usr/share/doc/autoresponsed/examples/config.xml
usr/share/lintian/overrides/autoresponsed
usr/share/lintian/overrides/autoresponsed-dbg
usr/share/man/man1/devinfod.1.gz
usr/share/man/man8/arctl.8.gz
usr/share/man/man8/autoresponsed.8.gz"
DESTDIR="$scratch/destdir" cmake --install build >/dev/null
found=$(cd "$scratch/destdir" && find . -type f | sed 's|^\./||' | sort)
[ "$found" = "$installed_files" ] || { printf 'installed:\n%s\n' "$found"; exit 1; }
for program in usr/sbin/autoresponsed usr/sbin/arctl usr/bin/devinfod; do
  file "$scratch/destdir/$program" | grep -q ", stripped" || { echo "$program is not stripped"; exit 1; }
done
(cd build && rm -f ./*.deb && cpack -G DEB > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls build/autoresponsed_*_"$(dpkg --print-architecture)".deb)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libevent-core" <<<"$depends" || { echo "$deb: no dependencies"; exit 1; }
grep -q "libpcre2-8-0" <<<"$depends" || { echo "$deb: no PCRE2 among its dependencies"; exit 1; }
members=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
if grep -q -v -e '^\./$' -e control -e md5sums <<<"$members"; then
  echo "$deb: maintainer scripts or conffiles"
  exit 1
fi
./tools/package-check.sh build/*.deb
# The unit as installed, against a root that holds what it names (the
# package's programs, and the targets every service is ordered against), so
# that only the unit itself is judged; a warning is a finding too.
unit_root="$scratch/unit-root"
dpkg-deb -x "$deb" "$unit_root"
for target in sysinit.target basic.target shutdown.target multi-user.target; do
  cp "/lib/systemd/system/$target" "$unit_root/usr/lib/systemd/system/"
done
if ! verify=$(systemd-analyze verify --man=no --root="$unit_root" autoresponsed.service 2>&1) || [ -n "$verify" ]; then
  printf '%s\n' "$verify"
  echo "autoresponsed.service: systemd-analyze verify failed"
  exit 1
fi
systemd-analyze security --offline=true --root="$unit_root" autoresponsed.service | tail -n 1
# dpkg -i and dpkg -r in a private root: every file of the package arrives,
# nothing runs, and removing it leaves nothing behind but dpkg's database.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends -i "$deb" > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
found=$(cd "$root" && find . -path ./var -prune -o -type f -print | sed 's|^\./||' | sort)
[ "$found" = "$(grep -v -e /debug/ -e autoresponsed-dbg <<<"$installed_files")" ] || { printf 'dpkg -i:\n%s\n' "$found"; exit 1; }
# The package's daemon, without infod and then with it, in a private mount namespace.
(cd build && AR_INSTALLED_DAEMON="$root/usr/sbin/autoresponsed" ./e2e_tests --gtest_filter='ProductionBinary.*') \
  > "$scratch/production.log" 2>&1 || { cat "$scratch/production.log"; exit 1; }
grep -q '^\[  PASSED  \] [1-9]' "$scratch/production.log" || { cat "$scratch/production.log"; exit 1; }
# The package's arctl finds the example it installed sound (its scripts are
# not on this machine: warnings that only say it is not the appliance).
"$root/usr/sbin/arctl" check --strict "$root/usr/share/doc/autoresponsed/examples/config.xml" > "$scratch/arctl.log" 2>&1 ||
  { cat "$scratch/arctl.log"; exit 1; }
# Its arctl tries the example's test beside it, as it is installed.
"$root/usr/sbin/arctl" test "$root/usr/share/doc/autoresponsed/examples/config.test" > "$scratch/arctl.log" 2>&1 ||
  { cat "$scratch/arctl.log"; exit 1; }
# Its arctl tells the package's version.
[ "$("$root/usr/sbin/arctl" --version)" = "arctl $(dpkg-deb -f "$deb" Version)" ] ||
  { echo "arctl --version is not the package's version"; exit 1; }
dpkg --root="$root" -r autoresponsed > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
left=$(cd "$root" && find . -mindepth 1 -path ./var -prune -o -print)
[ -z "$left" ] || { printf 'dpkg -r left:\n%s\n' "$left"; exit 1; }
echo "$(basename "$deb"): installed, its daemon exits 255 without infod, its arctl checks the example," \
     "removed without a trace"

step "the host packages are reproducible: built again in another place"
# A copy of the tree under another name, built from scratch (only the
# packaged programs) later than the packages above, with the time of the
# last commit as every time stamp: its packages must match those byte for
# byte (the tests and benchmarks of the first build change nothing in them).
copy="$scratch/another-place"
epoch=$(git log -1 --format=%ct)
mkdir -p "$copy"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$copy"
(cd "$copy" &&
 cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAR_TESTS=OFF -DAR_BENCH=OFF >/dev/null &&
 make -C build -j"$jobs" --no-print-directory >/dev/null &&
 cd build && SOURCE_DATE_EPOCH=$epoch cpack -G DEB > cpack.log 2>&1) ||
  { cat "$copy/build/cpack.log" 2>/dev/null; exit 1; }
for deb in build/*.deb; do
  cmp "$deb" "$copy/build/$(basename "$deb")" ||
    { echo "$(basename "$deb") differs between two builds (diffoscope shows how)"; exit 1; }
done
echo "built twice, the same packages: $(cd build && echo ./*.deb)"

step "the appliance: armhf, every test under qemu-arm"
wait "$cross_deps" || { cat "$scratch/cross-deps.log"; exit 1; }
with_ccache ./tools/cross-build.sh armhf --package
(cd build-armhf && ctest --output-on-failure -j"$jobs")
deb=$(ls build-armhf/autoresponsed_*_armhf.deb)
dpkg-deb -f "$deb" Depends | grep -q "libevent-core" || { echo "$deb: no dependencies"; exit 1; }
./tools/package-check.sh build-armhf/*.deb

step "the appliance: arm64, built"
with_ccache ./tools/cross-build.sh arm64 --no-tests --package
dpkg-deb -f "$(ls build-arm64/autoresponsed_*_arm64.deb)" Depends | grep -q "libevent-core"
./tools/package-check.sh build-arm64/*.deb

step "build with AddressSanitizer and UndefinedBehaviorSanitizer"
with_ccache cmake -S . -B build/asan -DAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
with_ccache make -C build/asan -j"$jobs" --no-print-directory

step "tests under the sanitizers"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

step "fuzz targets"
with_ccache cmake -S . -B build/fuzz -DAR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fuzzers=()
for target in tests/fuzz/*_fuzz.cc; do fuzzers+=("$(basename "$target" .cc)"); done
with_ccache make -C build/fuzz -j"$jobs" --no-print-directory "${fuzzers[@]}"
# Each target for its time, one on each processor at once: a target runs
# one process, and its time is the clock's.
fuzz_failed() { tail -n 40 "build/fuzz/corpus/$1.log"; echo "$1 failed"; exit 1; }
declare -A fuzzing=()
for target in tests/fuzz/*_fuzz.cc; do
  name=$(basename "$target" .cc)
  seconds=$(sed -n 's|^// fuzz-seconds: *\([0-9]*\).*|\1|p' "$target")
  mkdir -p "build/fuzz/corpus/$name"
  # The format's own examples, where the tree has them, seed the run;
  # what it finds goes into the corpus of the build.
  seeds=()
  [ -d "tests/fuzz/seeds/$name" ] && seeds=("$PWD/tests/fuzz/seeds/$name")
  # and the format's words, where the tree lists them, guide its mutations.
  dict=()
  [ -f "tests/fuzz/dict/$name.dict" ] && dict=("-dict=$PWD/tests/fuzz/dict/$name.dict")
  if [ "${#fuzzing[@]}" -ge "$jobs" ]; then
    wait -n -p ended "${!fuzzing[@]}" || fuzz_failed "${fuzzing[$ended]}"
    unset "fuzzing[$ended]"
  fi
  echo "$name: ${seconds:-30} s"
  (cd build/fuzz && exec "./$name" -max_total_time="${seconds:-30}" -print_final_stats=0 "${dict[@]}" "corpus/$name" "${seeds[@]}" \
     > "corpus/$name.log" 2>&1) &
  fuzzing[$!]=$name
done
while [ "${#fuzzing[@]}" -gt 0 ]; do
  wait -n -p ended "${!fuzzing[@]}" || fuzz_failed "${fuzzing[$ended]}"
  unset "fuzzing[$ended]"
done

step "leak check through a reload storm"
./tools/leak-check.sh build

step "the demo ends by itself and tells its three stories"
demo=$(timeout 300 ./tools/demo.sh 2>&1) || { printf '%s\n' "$demo" | tail -n 40; echo "demo failed"; exit 1; }
for want in "cooling.sh: on Rack 4 inlet 31.5" "cooling.sh: off 27.5" "| To: +15551234567" \
            "ups.sh: Rack UPS onbatt" "ups.sh: Rack UPS online" "autoresponse3: Normal"; do
  grep -qF -- "$want" <<<"$demo" || { printf '%s\n' "$demo" | tail -n 40; echo "demo: no '$want'"; exit 1; }
done
echo "demo: all three stories told"

step "Debian 13: tools/install-deps.sh, the build, every host test, the packages, the armhf build"
status=0
wait "$debian13" || status=$?
cat "$scratch/debian13.log"
[ "$status" -eq 0 ] || { echo "the Debian 13 stage failed ($status)"; exit 1; }

echo
echo "all tests passed in $SECONDS s"
