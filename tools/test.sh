#!/usr/bin/env bash
# Builds and runs every test: the unit and end-to-end tests in a normal
# build and again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the fuzz targets for their time, and a leak check of the daemon through
# a storm of reloads, then the demo. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)

./tools/install-deps.sh

step() { printf '\n=== %s\n' "$*"; }

step "build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
make -C build -j"$jobs" --no-print-directory

step "tests"
(cd build && ctest --output-on-failure -j"$jobs")

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
echo "all tests passed"
