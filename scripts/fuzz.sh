#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for about a minute,
# seeded from the shared corpus (PNG, BMP, PPM, PBM, TIFF, JPEG and GIF
# files) when it is present.
# A crashing input is kept in fuzz/regressions/, which the unit tests
# replay, and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

FUZZ_BUILD=build/fuzz
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
SANITIZERS=address,undefined

step "Fuzz build (clang, libFuzzer)"
CC=clang CXX=clang++ configure_and_build "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDOVODA_BUILD_FUZZ=ON -DDOVODA_BUILD_TESTS=OFF -DDOVODA_BUILD_BENCH=OFF \
  "-DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link,$SANITIZERS" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,$SANITIZERS"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" fuzz/regressions
for folder in ../shared/corpus/png ../shared/corpus/bmp ../shared/corpus/tiff ../shared/corpus/jpeg \
  ../shared/corpus/gif; do
  if [ -d "$folder" ]; then
    cp "$folder"/*.png "$folder"/*.bmp "$folder"/*.ppm "$folder"/*.pbm "$folder"/*.tiff "$folder"/*.jpg \
      "$folder"/*.gif "$work/corpus/" 2>/dev/null || true
  fi
done
seeds=("$work/corpus")
if [ -n "$(ls -A fuzz/regressions)" ]; then
  seeds+=(fuzz/regressions)
fi

# A small file may declare a large image (JPEG and fax data compress
# thousands to one). One allocation of more than MAX_ALLOCATION_MB fails
# as if memory were short, which the codecs report as code 13 or as a
# library error, so that one input stays within the memory and time
# limits. The decoders' messages on standard output are dropped.
MAX_ALLOCATION_MB=256

step "Fuzzing for ${FUZZ_SECONDS} s"
if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=$MAX_ALLOCATION_MB \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$FUZZ_BUILD/fuzz/fuzz_imagebuffer" -max_total_time="$FUZZ_SECONDS" -max_len=65536 \
  -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$work/" "${seeds[@]}" > /dev/null 2> "$work/log"; then
  tail -n 60 "$work/log" >&2
  for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
    [ -e "$artifact" ] && cp "$artifact" fuzz/regressions/
  done
  fail "the fuzz target found a fault; the input is kept in fuzz/regressions/"
fi
tail -n 3 "$work/log"
