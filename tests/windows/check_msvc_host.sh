#!/usr/bin/env bash
# A Visual Studio host's view of the package: installs the Windows build (stripped, as the zip
# holds it) into a scratch prefix, builds msvc/msvc_host.c with clang for MSVC's ABI, links it with
# lld-link against the package's ferrolink.lib and an msvcrt.lib made here from msvc/msvcrt.def
# (no default libraries, no mingw), and runs it under wine from the package's bin/ alone (no
# runtime folders on the DLL path) with wine's wpcap.dll switched off.
#   check_msvc_host.sh BUILD_DIR SOURCE_DIR WINE_RUN
set -euo pipefail
build=$1 src=$2 run=$3
work=$build/msvc-host
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" --strip >/dev/null
[ -f "$prefix/lib/ferrolink.lib" ] || { echo "the package has no lib/ferrolink.lib"; exit 1; }

llvm-dlltool -m i386:x86-64 -d "$src/msvcrt.def" -l "$work/msvcrt.lib"
clang --target=x86_64-pc-windows-msvc -std=c11 -O2 -Wall -Wextra -Wpedantic -Werror \
  -I "$prefix/include" -c "$src/msvc_host.c" -o "$work/msvc_host.obj"
lld-link /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console "$work/msvc_host.obj" \
  "$prefix/lib/ferrolink.lib" "$work/msvcrt.lib" /out:"$prefix/bin/msvc_host.exe"

out=$work/run.out
status=0
FERROLINK_WINE_RUNTIME_PATH=0 WINEDLLOVERRIDES=wpcap= "$run" "$prefix/bin/msvc_host.exe" \
  >"$out" 2>&1 || status=$?
cat "$out"
[ $status -eq 0 ] || { echo "the MSVC-ABI host ended with $status"; exit 1; }
grep -q "^msvc-host: 0 check(s) failed" "$out" || { echo "the MSVC-ABI host did not finish"; exit 1; }
