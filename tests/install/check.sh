#!/usr/bin/env bash
# Installs the Release build into a temporary prefix and builds a user's
# program against it, once with CMake's find_package and once with
# pkg-config, then runs it.
set -euo pipefail
build_dir="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"

PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" \
  c++ -std=c++17 "$here/consumer.cpp" -o "$work/consumer-pc" \
  $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs dovoda)
"$work/consumer-pc"
