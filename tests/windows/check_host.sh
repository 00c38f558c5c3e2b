#!/usr/bin/env bash
# Installs the Windows build into a scratch prefix, builds a host program against it with
# find_package(Ferrolink) at the given optimisation (-O0 or -O2), and runs it under wine:
#   npcap-missing  wine's own wpcap.dll switched off: the host must end normally (exit 3) with
#                  the "Npcap is not installed" text among the library's records.
#   wine-wpcap     as root, in a network namespace of its own with a veth pair in it: the host
#                  lists the pair's Ethernet devices through wine's wpcap.dll and IP Helper API
#                  (exit 0). Wine answers the IP Helper API from the wine server's namespace, so
#                  the run has a wine prefix (and server) of its own, made inside the namespace;
#                  the machine's adapters stay out of it. Skipped (77) without root.
set -euo pipefail
mode=$1 opt=$2 build=$3 src=$4 toolchain=$5 run=$6
work=$build/host-check-$mode$opt
prefix=$work/prefix

if [ "$mode" = wine-wpcap ] && { [ "$(id -u)" -ne 0 ] || ! unshare -n true 2>/dev/null; }; then
  echo "SKIP: listing adapters needs root and a network namespace of its own"
  exit 77
fi

deps=$(sed -n 's/^FERROLINK_WINDOWS_DEPS:PATH=//p' "$build/CMakeCache.txt")
rm -rf "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DFERROLINK_WINDOWS_DEPS="$deps" -DFerrolink_DIR="$prefix/lib/cmake/Ferrolink" \
  -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="$opt" >/dev/null
cmake --build "$work/build" >/dev/null
# Beside ferrolink.dll and the DLLs the package ships, as a host would be deployed.
cp "$work/build/host.exe" "$prefix/bin/"
out=$work/$mode.out

case $mode in
  npcap-missing) want=3 line="Npcap is not installed" runner=(env WINEDLLOVERRIDES=wpcap= "$run") ;;
  wine-wpcap) want=0 line="^host: device rpcap://.Device.NPF_{" runner=(unshare -n sh -c '
      ip link add flk-host0 type veth peer name flk-host1 && ip link set flk-host0 up &&
      ip link set flk-host1 up || exit 1
      FERROLINK_WINEPREFIX=$0/wineprefix "$1" "$2"; status=$?
      FERROLINK_WINEPREFIX=$0/wineprefix /usr/lib/wine/wineserver64 -k 2>/dev/null
      exit $status' "$work" "$run") ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac
status=0
"${runner[@]}" "$prefix/bin/host.exe" >"$out" 2>&1 || status=$?
cat "$out"
[ $status -eq $want ] || { echo "host ended with $status, not $want"; exit 1; }
grep -q "$line" "$out" || { echo "no \"$line\" in the host's output"; exit 1; }
