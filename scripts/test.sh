#!/usr/bin/env bash
# Installs what is needed, builds and runs every test:
#   0. the layout of the C++ files against .clang-format;
#   1. all tests, warnings as errors;
#   2. the Debian package and an installation (scripts/check-package.sh);
#   3. all tests under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. the tests labelled threads under ThreadSanitizer;
#   5. the libFuzzer targets, 60 seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
bash scripts/install-deps.sh
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

step() { printf '\n==== %s ====\n' "$*"; }

step "Layout of the C++ files (.clang-format)"
bash scripts/check-format.sh

step "Build and test (warnings as errors)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIKEL_WERROR=ON
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure --timeout 900 -j"$jobs"

step "Debian package and installation"
bash scripts/check-package.sh --no-deps

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVIKEL_SANITIZE=address -DTORVIKEL_BUILD_BENCH=OFF
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/tests/sanitizers/ubsan.supp" \
  ctest --test-dir build/asan --output-on-failure --timeout 1800 -j"$jobs"

step "ThreadSanitizer (the tests labelled threads)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVIKEL_SANITIZE=thread -DTORVIKEL_BUILD_BENCH=OFF
cmake --build build/tsan -j"$jobs" --target threaded_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp" \
  ctest --test-dir build/tsan --output-on-failure --timeout 1800 -j"$jobs" -L threads

step "libFuzzer targets, 60 s each"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVIKEL_BUILD_APP=OFF -DTORVIKEL_BUILD_BENCH=OFF -DTORVIKEL_BUILD_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined"
cmake --build build/fuzz -j"$jobs" --target fuzz_targets
shopt -s nullglob
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="build/fuzz/corpus-$name"
  mkdir -p "$corpus"
  echo "-- $name"
  seeds=()
  [ -d "tests/fuzz-seeds/$name" ] && seeds=("tests/fuzz-seeds/$name")
  "$target" -max_total_time=60 -print_final_stats=1 "$corpus" "${seeds[@]}" > "build/fuzz/$name.log" 2>&1 ||
    { tail -n 40 "build/fuzz/$name.log"; echo "fuzz target $name failed" >&2; exit 1; }
  tail -n 12 "build/fuzz/$name.log"
done
echo
echo "All test stages passed."
