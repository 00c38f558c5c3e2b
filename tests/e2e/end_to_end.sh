#!/usr/bin/env bash
# End to end: the ferrolink tool against the board emulator on virtual links made here.
# usage: end_to_end.sh FERROLINK_BIN BOARD_SIM_BIN
# Skips (exit 77, saying why) without the rights to create network namespaces.
set -euo pipefail
cli=$1
sim=$2
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "end-to-end tests skipped: creating network namespaces needs root (CAP_SYS_ADMIN, CAP_NET_ADMIN)"
  exit 77
fi
# shellcheck source=../../scripts/lib/virtual-link.sh
. "$here/../../scripts/lib/virtual-link.sh"
work=$(mktemp -d)
trap 'link_remove; rm -rf "$work"' EXIT
export FERROLINK_CONFIG="$work/network.ini"
export FERROLINK_LOCK_DIR="$work/locks"
tag="flke$$"
failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pc() { ip netns exec "$LINK_PC" "$cli" "$@"; }

# Bad input: usage errors exit 2, other failures 1 with a message.
set +e
"$cli" send >/dev/null 2>&1; [ $? -eq 2 ] && pass "missing argument exits 2" || fail "missing argument"
"$cli" frobnicate >/dev/null 2>&1; [ $? -eq 2 ] && pass "unknown command exits 2" || fail "unknown command"
"$cli" send /nonexistent/job.bin --device lo >"$work/out" 2>&1; rc=$?
[ $rc -eq 1 ] && grep -q "cannot read" "$work/out" && pass "unreadable file" || fail "unreadable file ($rc)"
set -e

link_create "$tag" 3
head -c $((64 << 20)) /dev/urandom >"$work/job.bin"

# Detection among several adapters: the board is on the third one.
board_start "$sim" "$work/board.log" "${tag}b2" --first-byte 0x06 --report-interval-ms 200
if pc detect >"$work/detect.log" 2>&1 && grep -q "adapter: rpcap://${tag}2" "$work/detect.log" &&
   grep -q "board MAC: 06:34:56:78:9A:BC" "$work/detect.log"; then
  pass "detect finds the board on the third adapter"
else
  fail "detect"; cat "$work/detect.log"
fi
board_stop

set +e
pc send "$work/job.bin" --device nosuchif0 >"$work/out" 2>&1; rc=$?
set -e
[ $rc -eq 1 ] && grep -q "cannot open" "$work/out" && pass "unknown interface" || fail "unknown interface ($rc)"

# A 64 MiB job through drop, corruption, duplication and reordering with a fixed seed.
board_start "$sim" "$work/board.log" "${tag}b2" --first-byte 0x06 --seed 42 \
  --drop 0.01 --corrupt 0.001 --duplicate 0.01 --reorder 0.01
# (no --device: the adapter stored by the detection above is tried first)
if pc send "$work/job.bin" --band-size $((1 << 20)) >"$work/send.log" 2>&1; then
  grep -E '^(sent|statistics)' "$work/send.log"
  board_stop
  bands_byte_exact "$work/send.log" "$work/board.log" && pass "64 MiB job byte-exact through impairment" ||
    fail "64 MiB job not byte-exact"
else
  board_stop
  fail "64 MiB job through impairment"; tail -n 20 "$work/send.log"
fi

# A fatal error of the board stops the job with a clear message.
board_start "$sim" "$work/board.log" "${tag}b2" --first-byte 0x06 --fatal-bits 0x04
set +e
pc send "$work/job.bin" --band-size $((1 << 20)) >"$work/fatal.log" 2>&1; rc=$?
set -e
board_stop
if [ $rc -ne 0 ] && grep -q "fatal error" "$work/fatal.log"; then pass "fatal bit stops the job"
else fail "fatal bit ($rc)"; tail -n 5 "$work/fatal.log"; fi

# A board that reports less often than every 2 s produces the silence record.
board_start "$sim" "$work/board.log" "${tag}b2" --first-byte 0x06 --report-interval-ms 2600
pc monitor --seconds 6.5 --log-level notice >"$work/monitor.log" 2>&1 || true
board_stop
if grep -q "auto report packet time interval = " "$work/monitor.log"; then pass "silence record"
else fail "no silence record"; cat "$work/monitor.log"; fi

echo "end-to-end: $((8 - failures)) passed, $failures failed"
[ $failures -eq 0 ]
