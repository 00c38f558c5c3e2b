#!/usr/bin/env bash
# ferrolink.exe under wine, as far as wine can show it: the version line names the capture library
# it runs on or says that Npcap is missing, --help lists the commands, `list` on a PC without
# capture devices fails with its status (and with --json an error object on standard output),
# `dump -w` refuses a folder before it captures, `send --timeline` a device, and bad arguments
# exit 2. Left to a Windows PC: Ctrl-C (wine gives the program no console here), real adapters,
# and a link (wine shows a Unix symbolic link as the file it points to, and makes none).
#   check_tool.sh WINE_RUN FERROLINK_EXE STANDIN_DIR WORK_DIR
set -u
run=$1 exe=$2 standin=$3 work=$4

rm -rf "$work"
mkdir -p "$work/standin" "$work/none" "$work/out/folder"
# The program's own folder comes first in the DLL search: one copy beside the stand-in
# wpcap.dll, one beside none (and wine's own wpcap.dll switched off).
cp "$exe" "$standin/wpcap.dll" "$work/standin/"
cp "$exe" "$work/none/"
head -c 3000 /dev/zero >"$work/out/job.bin"
cd "$work/out" || exit 1

failures=0
# One case a line: wpcap.dll | exit status | stream | extended regular expressions, each to be
# found, between ";;" | arguments
while IFS='|' read -r wpcap want stream pattern args; do
  [ -z "$wpcap" ] && continue
  read -ra argv <<<"$args"
  overrides=wpcap=n
  [ "$wpcap" = none ] && overrides=wpcap=
  status=0
  WINEDLLOVERRIDES=$overrides "$run" "$work/$wpcap/ferrolink.exe" "${argv[@]}" \
    >"$work/stdout" 2>"$work/stderr" || status=$?
  tr -d '\r' <"$work/std$stream" >"$work/text"
  found=1
  while read -r each; do
    grep -Eq -- "$each" "$work/text" || found=0
  done <<<"${pattern//;;/$'\n'}"
  if [ "$status" -ne "$want" ] || [ "$found" -ne 1 ]; then
    echo "FAIL: ferrolink $args (wpcap: $wpcap): exit $status (want $want), std$stream lacks: $pattern"
    sed 's/^/  stdout: /' "$work/stdout"
    sed 's/^/  stderr: /' "$work/stderr"
    failures=$((failures + 1))
  else
    echo "ok: ferrolink $args (wpcap: $wpcap): exit $status, $pattern"
  fi
done <<'CASES'
standin|0|out|^ferrolink [0-9.]+ on the tests' stand-in wpcap\.dll$|--version
none|0|out|^ferrolink [0-9.]+ on Npcap is not installed|--version
standin|0|out|^  list  ;;^  detect  ;;^  send  ;;^  reset  ;;^  monitor  ;;^  dump  |--help
standin|3|err|^ferrolink: no Ethernet adapters found \(0 other capture devices|list
standin|3|out|^\{"error":"no Ethernet adapters found.*"event":"error".*"exit_status":3|list --json
none|3|err|^ferrolink: cannot list the adapters: Npcap is not installed|list
none|3|err|^ferrolink: cannot list the adapters: Npcap is not installed|detect
standin|1|err|^ferrolink: cannot write folder: it is a directory|dump -w folder
standin|1|err|^ferrolink: cannot write the timeline NUL: not a regular file|send job.bin --timeline NUL
standin|2|err|did you mean 'list'|lisst
standin|2|err|must be 0 or more|dump -c -1
standin|2|out|"exit_status":2|monitor --json -c -5
CASES
echo "$failures failed"
[ "$failures" -eq 0 ]
