#!/usr/bin/env bash
# Does what the README tells a host developer: installs the built library into a prefix and builds
# a host program against it, once with find_package(Ferrolink) and once with the pkg-config line
# and its run path flag, then runs both without LD_LIBRARY_PATH. Also checks that the installed
# tool starts from that prefix, that every installed header compiles on its own without touching
# the host's translation unit, and that the guide's example builds.
set -euo pipefail
build_dir=$1 src_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH
prefix="$work/opt/ferrolink"

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# Installed programs find the library through their run path.
[ ! -x "$prefix/bin/ferrolink" ] || "$prefix/bin/ferrolink" --help >/dev/null
test -f "$prefix/share/ferrolink/ferrolink.lua"

# CMake: find_package with CMAKE_PREFIX_PATH.
cmake -S "$src_dir" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/cmake-build/consumer" "$work"

# pkg-config, with the run path flag the README gives.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/consumer-pc" "$src_dir/consumer.cpp" $(pkg-config --cflags --libs ferrolink) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ferrolink)"
"$work/consumer-pc" "$work"

# Every installed header stands alone, warning-free, and leaves the host's macros alone. The
# export macro header is generated for the compiler that built the library, attributes and all.
include_dir="$prefix/include"
if grep -rnE '#[[:space:]]*undef|__attribute__|__builtin' --exclude=FerrolinkExport.h "$include_dir"; then
  echo "an installed header alters the host's translation unit" >&2
  exit 1
fi
for h in $(cd "$include_dir" && find ferrolink -name '*.h' | sort); do
  printf '#include <pcap/pcap.h>\n#include <%s>\nint main() { return PCAP_ERRBUF_SIZE == 256 ? 0 : 1; }\n' "$h" \
    >"$work/one.cpp"
  # shellcheck disable=SC2046
  c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$include_dir" \
    $(pkg-config --cflags libpcap) "$work/one.cpp" || { echo "installed header $h" >&2; exit 1; }
done

# The integration guide's complete host program builds against the installed package too.
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror -o "$work/host-example" "$src_dir/../../docs/examples/host_example.cpp" \
  $(pkg-config --cflags --libs ferrolink) -Wl,-rpath,"$(pkg-config --variable=libdir ferrolink)"
echo "package consumer: cmake and pkg-config builds ran; headers stand alone; the host example builds"
