#!/usr/bin/env bash
# Does what the README tells a host developer: installs the built library into a prefix and builds
# a host program against it, once with find_package(Ferrolink) and once with the pkg-config line
# and its run path flag, then runs both without LD_LIBRARY_PATH. Also checks that the installed
# tool starts from that prefix, that every installed header compiles on its own without touching
# the host's translation unit, and that the guide's examples build.
#
# The binary boundary: the library exports only C names; a host built with clang and libc++
# against this g++/libstdc++ build runs, and so does a plain C host. With root and the board
# emulator (third argument), the worked C++ example built with clang/libc++ and the C example each
# send a print job to the emulator on a virtual link made here, and every band must arrive
# byte-exact; without them that part is left out, saying why.
set -euo pipefail
build_dir=$1 src_dir=$2 board_sim=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH
prefix="$work/opt/ferrolink"

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# Only the C interface leaves the shared library: no C++ (mangled) name, nothing but flk_* and
# FLK_SendPrintData.
exports=$(nm -D --defined-only "$prefix/lib/libferrolink.so" | awk '{print $3}')
if grep -E '^_Z' <<<"$exports"; then echo "the library exports C++ names" >&2; exit 1; fi
if grep -vE '^(flk_[a-z0-9_]+|FLK_SendPrintData)$' <<<"$exports"; then
  echo "the library exports names outside its C interface" >&2
  exit 1
fi

# Installed programs find the library through their run path.
[ ! -x "$prefix/bin/ferrolink" ] || "$prefix/bin/ferrolink" --help >/dev/null
test -f "$prefix/share/ferrolink/ferrolink.lua"

# CMake: find_package with CMAKE_PREFIX_PATH.
cmake -S "$src_dir" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
"$work/cmake-build/consumer" "$work"
"$work/cmake-build/consumer-boostlog" "$work"

# pkg-config, with the run path flag the README gives.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
c++ -std=c++17 -o "$work/consumer-pc" "$src_dir/consumer.cpp" $(pkg-config --cflags --libs ferrolink) \
  $(pkg-config --cflags --libs libpcap) -Wl,-rpath,"$(pkg-config --variable=libdir ferrolink)"
"$work/consumer-pc" "$work"
rpath=-Wl,-rpath,"$(pkg-config --variable=libdir ferrolink)"
# The same host with clang and libc++: the classes are compiled by the host, only C crosses.
# shellcheck disable=SC2046
clang++ -stdlib=libc++ -std=c++17 -o "$work/consumer-libcxx" "$src_dir/consumer.cpp" \
  $(pkg-config --cflags --libs ferrolink) $(pkg-config --cflags --libs libpcap) "$rpath"
"$work/consumer-libcxx" "$work"

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
  # Boost.Log's libraries are built for libstdc++: only its bridge header is left out here.
  [ "$h" = ferrolink/outside/CustomBoostLog.h ] ||
    clang++ -stdlib=libc++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
      -I"$include_dir" "$work/one.cpp" || { echo "installed header $h with libc++" >&2; exit 1; }
done
printf '#include <ferrolink/api/ferrolink.h>\nint main(void) { return flk_api_version() ? 0 : 1; }\n' >"$work/one.c"
cc -x c -std=c11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$include_dir" "$work/one.c"

# The integration guide's complete host programs build against the installed package too: the
# C++ one with the Boost.Log bridge (g++), and without it with clang and libc++; the C one as C11.
examples="$src_dir/../../docs/examples"
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -Werror -o "$work/host-example" "$examples/host_example.cpp" \
  $(pkg-config --cflags --libs ferrolink) "$rpath" -DBOOST_LOG_DYN_LINK -lboost_log -lboost_thread -lpthread
# shellcheck disable=SC2046
clang++ -stdlib=libc++ -std=c++17 -Wall -Wextra -Werror -DHOST_EXAMPLE_WITHOUT_BOOST_LOG \
  -o "$work/host-example-libcxx" "$examples/host_example.cpp" $(pkg-config --cflags --libs ferrolink) "$rpath"
# shellcheck disable=SC2046
cc -x c -std=c11 -Wall -Wextra -Wpedantic -Werror -o "$work/host-example-c" "$examples/host_example.c" \
  -x none $(pkg-config --cflags --libs ferrolink) "$rpath"
echo "package consumer: cmake and pkg-config builds ran (libstdc++ and libc++); headers stand alone (C++, libc++, C); the host examples build"

if [ "$(id -u)" -ne 0 ] || [ -z "$board_sim" ]; then
  echo "package consumer: the examples' runs against the board emulator left out: they need root and the emulator"
  exit 0
fi
# shellcheck source=../../scripts/lib/virtual-link.sh
. "$src_dir/../../scripts/lib/virtual-link.sh"
trap 'link_remove; rm -rf "$work"' EXIT
export FERROLINK_CONFIG="$work/network.ini" FERROLINK_LOCK_DIR="$work/locks"
tag="flkp$$"
link_create "$tag"
# Every band of the examples' job is 1 MiB of 0x5A ('Z'): four bands, each this digest.
band_sha=$(head -c 1048576 /dev/zero | tr '\0' 'Z' | sha256sum | cut -d' ' -f1)
for host in host-example-libcxx host-example-c; do
  board_start "$board_sim" "$work/$host.board.log" "${tag}b0"
  timeout 120 ip netns exec "$LINK_PC" "$work/$host" >"$work/$host.log" 2>&1 ||
    { cat "$work/$host.log" "$work/$host.board.log"; echo "$host failed against the emulator" >&2; exit 1; }
  board_stop
  exact=$(grep -E "^band [0-3] complete.*sha256 $band_sha" "$work/$host.board.log" | sed -E 's/^band ([0-9]+).*/\1/' | sort -u | wc -l)
  if [ "$exact" -ne 4 ]; then
    cat "$work/$host.board.log"
    echo "$host: $exact of 4 bands byte-exact at the board" >&2
    exit 1
  fi
  echo "package consumer: $host sent 4 bands to the emulator, all byte-exact"
done
