#!/usr/bin/env bash
# A Visual Studio user's two roads, with clang-cl (MSVC's command line and ABI) and lld-link
# standing in for Visual Studio:
#   1. the prebuilt package: installs the Windows build (stripped, as the zip holds it) into a
#      scratch prefix, builds msvc/msvc_host.c with find_package(Ferrolink) (which links
#      ferrolink.lib, no default libraries, no mingw), and runs it under wine from the package's
#      bin/ alone (no runtime folders on the DLL path) with wine's wpcap.dll switched off;
#   2. the build from source: configures this source tree with the same compiler and checks that
#      the library alone is built (tools, tests, benchmarks and fuzz targets off).
#   check_msvc_host.sh BUILD_DIR SOURCE_DIR WINE_RUN
set -euo pipefail
build=$1 src=$2 run=$3
root=$(cd "$src/../../.." && pwd)
work=$build/msvc-host
prefix=$work/prefix
toolchain=$src/clang-cl.cmake
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
[ -f "$prefix/lib/ferrolink.lib" ] || { echo "the package has no lib/ferrolink.lib"; exit 1; }

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DFerrolink_DIR="$prefix/lib/cmake/Ferrolink" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
grep -q 'ferrolink\.lib' "$work/build/build.ninja" ||
  { echo "the host was not linked against ferrolink.lib"; exit 1; }
cp "$work/build/msvc_host.exe" "$prefix/bin/"

out=$work/run.out
status=0
FERROLINK_WINE_RUNTIME_PATH=0 WINEDLLOVERRIDES=wpcap= "$run" "$prefix/bin/msvc_host.exe" \
  >"$out" 2>&1 || status=$?
cat "$out"
[ $status -eq 0 ] || { echo "the MSVC-ABI host ended with $status"; exit 1; }
grep -q "^msvc-host: 0 check(s) failed" "$out" || { echo "the MSVC-ABI host did not finish"; exit 1; }

# The build from source: only Boost's headers and the capture library's (Npcap SDK's) are asked for.
deps=$(sed -n 's/^FERROLINK_WINDOWS_DEPS:PATH=//p' "$build/CMakeCache.txt")
cmake -S "$root" -B "$work/source-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DFERROLINK_BUILD_TESTS=ON -DFERROLINK_BUILD_TOOLS=ON \
  -DFERROLINK_PCAP_INCLUDE_DIR="$build/pcap-include" -DBoost_DIR="$deps/lib/cmake/Boost-1.74.0" \
  >"$work/source-configure.log" 2>&1 || { cat "$work/source-configure.log"; exit 1; }
for part in TOOLS TESTS BENCH FUZZ; do
  grep -qx "FERROLINK_BUILD_$part:BOOL=OFF" "$work/source-build/CMakeCache.txt" ||
    { echo "FERROLINK_BUILD_$part is not off in a build with MSVC"; exit 1; }
done
grep -q 'ferrolink\.dll' "$work/source-build/build.ninja" ||
  { echo "the library is not among the targets of a build with MSVC"; exit 1; }
echo "msvc-host: a configure with MSVC builds the library alone"
