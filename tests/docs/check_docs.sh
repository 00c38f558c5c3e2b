#!/usr/bin/env bash
# Runs what README.md and docs/*.md show, so the documentation cannot drift from the code:
#   ```cpp checked / ```c checked   a complete program: built with warnings as errors against the
#                                   build installed into a scratch prefix (pkg-config), then run;
#   ```cpp compiled                 a part of a program (no main) is only compiled
#   ```cmake checked                a complete CMakeLists.txt: configured and built against that
#                                   prefix, beside the file's first checked C++ program as host.cpp
#   ```sh checked                   run by bash -e in a folder holding host.cpp (as above), capture.pcap
#                                   (board frames) and the source's dissector/, with the prefix's
#                                   bin/ on PATH and its pkg-config files found
# Snippets without the word "checked" or "compiled" (output, commands that need root or a board) are left alone.
# Then the man pages: every long option a tool's --help gives is in its page's source.
set -euo pipefail
build_dir=$1 src_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
export PATH="$prefix/bin:$PATH" PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
flags() { pkg-config --cflags --libs ferrolink; echo "-Wl,-rpath,$prefix/lib"; }

# One file per snippet: NNN.LANG (-part: compiled only), NNN.where (file:line), NNN.host (the
# file's first complete C++ program, the host.cpp its CMake and shell snippets build).
python3 - "$work/snippets" "$src_dir" README.md "$src_dir"/docs/*.md <<'PY'
import os, re, sys
out, root = sys.argv[1], sys.argv[2]
os.makedirs(out)
n = 0
for number, path in enumerate(sys.argv[3:]):
    name = os.path.relpath(os.path.join(root, path), root)
    lines = open(os.path.join(root, path), encoding='utf-8').read().split('\n')
    found, i = [], 0
    while i < len(lines):
        m = re.match(r'^```(\w+)\s+(checked|compiled)\s*$', lines[i])
        if m:
            end = lines.index('```', i + 1)
            kind = m.group(1) + ('-part' if m.group(2) == 'compiled' else '')
            found.append((kind, i + 1, '\n'.join(lines[i + 1:end]) + '\n'))
            i = end
        i += 1
    host = next((text for kind, _, text in found if kind == 'cpp'), None)
    if host:
        open(f'{out}/host-{number}.cpp', 'w').write(host)
    for kind, line, text in found:
        n += 1
        open(f'{out}/{n:03d}.{kind}', 'w').write(text)
        open(f'{out}/{n:03d}.where', 'w').write(f'{name}:{line}')
        if host:
            open(f'{out}/{n:03d}.host', 'w').write(f'{out}/host-{number}.cpp')
PY

mkdir "$work/run"
python3 "$src_dir/tests/dissector/board_capture.py" "$work/run/capture.pcap"
ln -s "$src_dir/dissector" "$work/run/dissector"
failures=0 count=0
for snippet in "$work"/snippets/[0-9]*.*; do
  case $snippet in *.where | *.host) continue ;; esac
  where=$(cat "${snippet%.*}.where") lang=${snippet##*.} log=$work/log ok=1
  count=$((count + 1))
  rm -f "$work/run/host.cpp"
  [ ! -f "${snippet%.*}.host" ] || cp "$(cat "${snippet%.*}.host")" "$work/run/host.cpp"
  case $lang in
    cpp | c | cpp-part)
      compiler=(c++ -std=c++17 -x c++) run=./host
      [ "$lang" != c ] || compiler=(cc -std=c11 -x c)
      [ "$lang" != cpp-part ] || { compiler+=(-c) run=true; }
      # shellcheck disable=SC2046
      "${compiler[@]}" -Wall -Wextra -Wpedantic -Werror -o "$work/run/host" "$snippet" $(flags) >"$log" 2>&1 &&
        (cd "$work/run" && timeout 60 $run) >>"$log" 2>&1 || ok=0 ;;
    cmake)
      rm -rf "$work/cmake" && mkdir "$work/cmake" && cp "$snippet" "$work/cmake/CMakeLists.txt"
      [ ! -f "$work/run/host.cpp" ] || cp "$work/run/host.cpp" "$work/cmake/"
      cmake -S "$work/cmake" -B "$work/cmake/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$log" 2>&1 &&
        cmake --build "$work/cmake/build" >>"$log" 2>&1 || ok=0 ;;
    sh)
      (cd "$work/run" && timeout 120 bash -euo pipefail "$snippet") >"$log" 2>&1 || ok=0 ;;
    *)
      echo "docs: $where: no way to check a '$lang' snippet" >"$log"; ok=0 ;;
  esac
  [ "$ok" = 0 ] || { echo "docs: $where ($lang) ok" && continue; }
  echo "docs: $where ($lang) failed:" && sed 's/^/    /' "$log" && failures=$((failures + 1))
done
[ "$count" -gt 0 ] || { echo "docs: no snippet marked 'checked' found" >&2; exit 1; }

# man page sources against the options the tools take: TOOL PAGES [COMMAND...], PAGES the
# sources the build tries in turn (cmake/Packaging.cmake).
options_missing() {
  local tool=$1 page="" candidate
  for candidate in ${2//,/ }; do [ -n "$page" ] || [ ! -f "$src_dir/$candidate" ] || page=$candidate; done
  shift 2
  [ -n "$page" ] || { echo "docs: no man page source for $tool"; failures=$((failures + 1)); return 0; }
  sed 's/\\//g' "$src_dir/$page" >"$work/page"  # markdown may escape the dashes: \-\-option
  for command in "" "$@"; do
    # shellcheck disable=SC2086
    for option in $("$tool" $command --help | grep -oE -- '--[a-z][a-z0-9-]+' | sort -u); do
      grep -qF -- "$option" "$work/page" || {
        echo "docs: $page lacks $option of '$(basename "$tool") $command --help'"
        failures=$((failures + 1))
      }
    done
  done
}
tools=$build_dir/tools
commands=$("$tools/ferrolink/ferrolink" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF { print $1 }')
# shellcheck disable=SC2086
options_missing "$tools/ferrolink/ferrolink" docs/ferrolink.1.md $commands
options_missing "$tools/board-sim/ferrolink-board-sim" docs/ferrolink-board-sim.md,docs/board-protocol.md

[ "$failures" -eq 0 ] || exit 1
echo "docs: $count snippets built or ran; the man pages name every option"
