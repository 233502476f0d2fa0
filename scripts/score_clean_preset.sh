#!/usr/bin/env bash
# Reproduces the boundary score of dovoda-lines' presets on the validation
# photographs: runs the program on ../shared/corpus/photos and scores its
# line files against the human boundaries with
# ../shared/tools/score_boundaries.py (precision P, recall R, F; ds_* are
# the figures over the whole set).
#
#   scripts/score_clean_preset.sh [BUILD_DIR] [PRESET...]   (default: build/release clean default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

build_dir="${1:-build/release}"
shift || true
presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(clean default)
photos=../shared/corpus/photos
boundaries=../shared/corpus/photos-boundaries
scorer=../shared/tools/score_boundaries.py
[ -d "$photos" ] && [ -d "$boundaries" ] && [ -f "$scorer" ] || fail "needs $photos, $boundaries and $scorer"

if [ ! -x "$build_dir/lines/dovoda-lines" ]; then
  configure_and_build "$build_dir" -DCMAKE_BUILD_TYPE=Release
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for preset in "${presets[@]}"; do
  step "Preset $preset"
  "$build_dir/lines/dovoda-lines" --quiet --preset "$preset" --format txt -o "$work/$preset" "$photos" \
    || fail "dovoda-lines --preset $preset"
  /usr/bin/python3 "$scorer" "$photos" "$boundaries" "$work/$preset" --lines || fail "scoring preset $preset"
done
