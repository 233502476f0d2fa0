#!/usr/bin/env bash
# Installs what is missing, builds the Release program and runs DoVoda
# without an argument on the three default images of data/. It runs in
# work/run/, two levels below the repository, so that "../../data" is the
# repository's data folder; the diagnostic files land in work/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

install_packages "${BUILD_PACKAGES[@]}"

step "Release build"
configure_and_build build/run -DCMAKE_BUILD_TYPE=Release -DDOVODA_BUILD_TESTS=OFF

step "DoVoda on the default images"
mkdir -p work/run
status=0
(cd work/run && ../../build/run/driver/DoVoda) || status=$?

step "Results"
for number in 6 7 8; do
  for suffix in _edge.png _output_line.txt; do
    result="data/edge_test_${number}.png${suffix}"
    if [ -f "$result" ]; then
      echo "  $PWD/$result"
    fi
  done
done
echo "  diagnostic files of the last image: $PWD/work/run/"
[ "$status" -eq 0 ] || fail "DoVoda reported a failure (exit status $status)"
