#!/usr/bin/env bash
# Installs the built library into a scratch prefix and builds a host program against it, once with
# find_package(Ferrolink) and once with pkg-config, then runs both.
set -euo pipefail
build_dir=$1
src_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

cmake -S "$src_dir" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"

libdir=$(dirname "$(find "$work/prefix" -name ferrolink.pc | head -n1)")
export PKG_CONFIG_PATH="$libdir"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/consumer-pc" "$src_dir/consumer.cpp" $(pkg-config --cflags --libs ferrolink)
LD_LIBRARY_PATH="$work/prefix/lib:$(dirname "$libdir")" "$work/consumer-pc"
# The integration guide's complete host program must build against the installed package too.
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror -o "$work/host-example" "$src_dir/../../docs/examples/host_example.cpp" \
  $(pkg-config --cflags --libs ferrolink)
echo "package consumer: cmake and pkg-config builds ran; the host example builds"
