#!/usr/bin/env bash
# Installs what is missing, builds the project twice (Release, and Debug
# with AddressSanitizer and UndefinedBehaviorSanitizer), runs every test
# in both builds, then runs the fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

step "Release build"
configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DDOVODA_WERROR=ON
step "Release tests"
run_tests build/release

step "DoVoda writes the recorded bytes"
scripts/output_checksums.sh --check build/release/driver/DoVoda

step "A user's program against the installed package"
tests/install/check.sh build/release || fail "building against the installed package"

step "Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
configure_and_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DDOVODA_WERROR=ON -DDOVODA_SANITIZE=ON -DDOVODA_BUILD_BENCH=OFF
step "Sanitizer tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/sanitize

if [ -x scripts/fuzz.sh ]; then
  step "Fuzzing"
  scripts/fuzz.sh
fi

step "All tests passed"
