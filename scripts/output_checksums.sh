#!/usr/bin/env bash
# Runs a DoVoda binary on the three default images and on the corpus
# photographs and lists a SHA-256 checksum for every file each run leaves
# behind: the input, the edge image, the line file and the diagnostic
# files. With --check, the list is compared with the recorded one in
# tests/data/output_checksums.txt, so that a change meant to make the
# program faster can show that it writes the same bytes as before.
#
#   scripts/output_checksums.sh DOVODA            print the list
#   scripts/output_checksums.sh --check DOVODA    compare with the record
#   scripts/output_checksums.sh --record DOVODA   rewrite the record
#
# The JPEG photographs are converted to PNG with ImageMagick's convert
# (-strip: no time stamps). Each input runs on its own in a fresh folder,
# which is also the working folder, so every diagnostic file is kept. The
# PNG files depend on the zlib and libpng of the machine: record the list
# again with the previous program when those change.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

RECORD=tests/data/output_checksums.txt
CORPUS=../shared/corpus/photos

mode=print
case "${1:-}" in
  --check) mode=check; shift ;;
  --record) mode=record; shift ;;
esac
[ "$#" -eq 1 ] || fail "usage: scripts/output_checksums.sh [--check|--record] DOVODA"
program=$(realpath "$1")
[ -x "$program" ] || fail "$1 is not an executable program"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run_one NAME PNG: runs the program on a copy of PNG in folder NAME and
# prints "checksum  NAME/file" for every file there, in name order.
run_one() {
  local name="$1" input="$2"
  mkdir "$work/$name"
  cp "$input" "$work/$name/"
  (cd "$work/$name" && "$program" "$(basename "$input")" >/dev/null) \
    || fail "DoVoda failed on $name"
  (cd "$work" && find "$name" -type f | LC_ALL=C sort | xargs sha256sum)
}

list_checksums() {
  local number photo name
  for number in 6 7 8; do
    run_one "edge_test_$number" "data/edge_test_$number.png"
  done
  if [ ! -d "$CORPUS" ]; then
    echo "no corpus photographs in $CORPUS: default images only" >&2
    return
  fi
  command -v convert >/dev/null || fail "ImageMagick's convert is needed for the corpus photographs"
  mkdir "$work/converted"
  for photo in "$CORPUS"/*.jpg; do
    name=$(basename "$photo" .jpg)
    convert "$photo" -strip "$work/converted/$name.png"
    run_one "$name" "$work/converted/$name.png"
  done
}

case "$mode" in
  print) list_checksums ;;
  record)
    mkdir -p "$(dirname "$RECORD")"
    list_checksums >"$RECORD"
    echo "recorded $(wc -l <"$RECORD") checksums in $RECORD" ;;
  check)
    [ -f "$RECORD" ] || fail "no record $RECORD"
    list_checksums >"$work/now.txt"
    if [ ! -d "$CORPUS" ]; then
      grep -E '  edge_test_[0-9]+/' "$RECORD" >"$work/expected.txt"
    else
      cp "$RECORD" "$work/expected.txt"
    fi
    if ! diff "$work/expected.txt" "$work/now.txt"; then
      fail "the outputs differ from the record (lines above: < recorded, > now)"
    fi
    step "all $(wc -l <"$work/now.txt") output files are byte for byte as recorded" ;;
esac
