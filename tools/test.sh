#!/usr/bin/env bash
# Builds and runs every test: the unit and end-to-end tests in a normal
# build and again under AddressSanitizer and UndefinedBehaviorSanitizer;
# the manual pages, the installed files and the Debian package (installed
# and removed in a private root, its daemon run without infod); the
# appliance's builds: armhf with every test under qemu-arm, arm64 built;
# the fuzz targets for their time, and a leak check of the daemon through
# a storm of reloads, then the demo. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)

./tools/install-deps.sh

# Each step with the seconds since the start, so a slow one shows.
step() { printf '\n=== [%d s] %s\n' "$SECONDS" "$*"; }

step "build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
make -C build -j"$jobs" --no-print-directory

step "tests"
(cd build && ctest --output-on-failure -j"$jobs")

step "manual pages render without warnings"
for page in dist/autoresponsed.8 dist/arctl.8 dist/devinfod.1; do
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { printf '%s\n' "$warnings"; echo "$page: warnings"; exit 1; }
done
echo "all three render cleanly"

step "install, package, and the package installed and removed in a private root"
scratch=$(mktemp -d /tmp/ar-install-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
installed_files="usr/bin/devinfod
usr/lib/debug/usr/bin/devinfod.debug
usr/lib/debug/usr/sbin/arctl.debug
usr/lib/debug/usr/sbin/autoresponsed.debug
usr/lib/systemd/system/autoresponsed.service
usr/sbin/arctl
usr/sbin/autoresponsed
usr/share/doc/autoresponsed/examples/config.xml
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
dpkg-deb -f "$deb" Depends | grep -q "libevent-core" || { echo "$deb: no dependencies"; exit 1; }
[ -z "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -v -e '^\./$' -e control -e md5sums)" ] ||
  { echo "$deb: maintainer scripts or conffiles"; exit 1; }
# dpkg -i and dpkg -r in a private root: every file of the package arrives,
# nothing runs, and removing it leaves nothing behind but dpkg's database.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends -i "$deb" > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
found=$(cd "$root" && find . -path ./var -prune -o -type f -print | sed 's|^\./||' | sort)
[ "$found" = "$(grep -v /debug/ <<<"$installed_files")" ] || { printf 'dpkg -i:\n%s\n' "$found"; exit 1; }
# The package's daemon, without infod and then with it, in a private mount namespace.
(cd build && AR_INSTALLED_DAEMON="$root/usr/sbin/autoresponsed" ./e2e_tests --gtest_filter='ProductionBinary.*') \
  > "$scratch/production.log" 2>&1 || { cat "$scratch/production.log"; exit 1; }
grep -q '^\[  PASSED  \] 1 test' "$scratch/production.log" || { cat "$scratch/production.log"; exit 1; }
# The package's arctl finds the example it installed sound (its scripts are
# not on this machine: warnings only).
"$root/usr/sbin/arctl" check "$root/usr/share/doc/autoresponsed/examples/config.xml" > "$scratch/arctl.log" 2>&1 ||
  { cat "$scratch/arctl.log"; exit 1; }
dpkg --root="$root" -r autoresponsed > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; exit 1; }
left=$(cd "$root" && find . -mindepth 1 -path ./var -prune -o -print)
[ -z "$left" ] || { printf 'dpkg -r left:\n%s\n' "$left"; exit 1; }
echo "$(basename "$deb"): installed, its daemon exits 255 without infod, its arctl checks the example," \
     "removed without a trace"

step "the appliance: armhf, every test under qemu-arm"
./tools/cross-build.sh armhf --package
(cd build-armhf && ctest --output-on-failure -j"$jobs")
deb=$(ls build-armhf/autoresponsed_*_armhf.deb)
dpkg-deb -f "$deb" Depends | grep -q "libevent-core" || { echo "$deb: no dependencies"; exit 1; }

step "the appliance: arm64, built"
./tools/cross-build.sh arm64 --no-tests --package
dpkg-deb -f "$(ls build-arm64/autoresponsed_*_arm64.deb)" Depends | grep -q "libevent-core"

step "build with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -DAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
make -C build/asan -j"$jobs" --no-print-directory

step "tests under the sanitizers"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

step "fuzz targets"
cmake -S . -B build/fuzz -DAR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
make -C build/fuzz -j"$jobs" --no-print-directory $(cd tests/fuzz && ls *_fuzz.cc | sed 's/\.cc$//')
for target in tests/fuzz/*_fuzz.cc; do
  name=$(basename "$target" .cc)
  seconds=$(sed -n 's|^// fuzz-seconds: *\([0-9]*\).*|\1|p' "$target")
  corpus="build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "$name: ${seconds:-30} s"
  (cd build/fuzz && "./$name" -max_total_time="${seconds:-30}" -print_final_stats=0 "corpus/$name" \
     > "corpus/$name.log" 2>&1) || { tail -n 40 "build/fuzz/corpus/$name.log"; exit 1; }
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

echo
echo "all tests passed in $SECONDS s"
