#!/usr/bin/env bash
# End to end: the ferrolink tool against the board emulator on virtual links made here: its
# options, messages and exit statuses, a 512 MiB job through impairment in bounded memory, two
# senders on one board, a link that goes down or vanishes mid-job, dump and monitor output.
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
passed=0
failures=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# verdict NAME: passes when the command list just before it succeeded, else shows $work/out.
verdict() { if [ $? -eq 0 ]; then pass "$1"; else fail "$1"; tail -n 15 "$work/out"; return 1; fi; }
pc() { ip netns exec "$LINK_PC" "$cli" "$@"; }
board() { board_start "$sim" "$work/board.log" "${tag}b2" --first-byte 0x06 "$@"; }
# run EXPECTED_STATUS COMMAND...: output to $work/out, true when the status is as expected.
run() { local want=$1 rc=0; shift; "$@" >"$work/out" 2>&1 || rc=$?; echo "exit $rc" >>"$work/out"; [ "$rc" -eq "$want" ]; }
has() { grep -qE -- "$1" "$work/out"; }
json_ok() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)" "$@"; }

set +e  # every check below reports its own verdict

# Usage errors exit 2 with a suggestion; other bad input 1, with a message, never a crash.
run 2 "$cli" send; verdict "missing argument exits 2"
run 2 "$cli" sned x && has "did you mean 'send'\?"; verdict "mistyped command: did you mean"
run 2 "$cli" send --band-szie 5 x && has "did you mean '--band-size'\?"; verdict "mistyped option: did you mean"
run 0 "$cli" --version && has '^ferrolink [0-9]+\.[0-9]+'; verdict "--version"
run 0 "$cli" send --help && has -- '-i,--interface' && has -- '--band-size.*=1048576'; verdict "help shows short forms and defaults"
run 1 "$cli" send /nonexistent/job.bin -i lo && has "cannot read"; verdict "unreadable file"
run 1 "$cli" send "$work" -i lo && has "is a folder"; verdict "a folder as the job"
head -c 1000 /dev/urandom >"$work/small.bin"
FERROLINK_CONFIG="$work" run 1 "$cli" send "$work/small.bin" -i lo && has "configuration file .* not a regular file"; verdict "unusable configuration path named"

link_create "$tag" 3
ip -n "$LINK_PC" link add "${tag}d" type bridge  # Ethernet, but no speed
head -c $((64 << 20)) /dev/urandom >"$work/job.bin"

# list: Ethernet adapters only unless -a, "unknown" for a speed the driver does not give, JSON.
run 0 pc list && has "^[0-9]+\. rpcap://${tag}d .*unknown" && ! has "rpcap://lo "; verdict "list: unknown speed, no loopback"
run 0 pc list -a && has "^-\. rpcap://lo .*not Ethernet"; verdict "list -a shows loopback"
pc list --json >"$work/list.json" 2>"$work/out" && json_ok "$work/list.json" "len(d) == 4 and all(x['ethernet'] for x in d)"; verdict "list --json"

# A board that answers with other sequence numbers than ours answers nothing of ours.
fake() {
  ip netns exec "$LINK_BOARD" python3 "$here/fake_board.py" "${tag}b0" "$@" >"$work/fake.log" 2>&1 & fakepid=$!
  for _ in $(seq 100); do grep -q "^fake board on" "$work/fake.log" && return; sleep 0.1; done
}
unfake() { kill "$fakepid"; wait "$fakepid" 2>/dev/null; }
fake foreign
run 1 pc send "$work/small.bin" -i "${tag}0" --reply-timeout-ms 100 --tries 3 && has "does not answer a status query \(3 tries of 100 ms" &&
  has "; [0-9]+ answers came too late or to other commands"
verdict "replies to other sequence numbers are not ours"; unfake

# No board anywhere: the search names the adapters it tried.
run 1 pc detect && has "no board was heard on any adapter \(tried rpcap://${tag}0, .*rpcap://${tag}2.*1000 ms"
verdict "no board: the adapters tried are named"

# Detection among several adapters: the board is on the third one.
board --report-interval-ms 200
run 0 pc detect && has "adapter: rpcap://${tag}2" && has "board MAC: 06:34:56:78:9A:BC"; verdict "detect finds the board on the third adapter"
board_stop

# The jobs that something happens to while they run go through a link slowed to 50 Mbit/s, so
# that they last long enough on any machine (64 MiB: about 11 s).
slow() { tc -n "$LINK_PC" qdisc replace dev "${tag}2" root tbf rate 50mbit burst 32kb latency 50ms; }
fast() { tc -n "$LINK_PC" qdisc del dev "${tag}2" root 2>/dev/null; }
# background NAME ARGS...: `ferrolink ARGS` on the PC side, output in $work/NAME, pid in $bg.
background() { local name=$1; shift; ip netns exec "$LINK_PC" "$cli" "$@" >"$work/$name" 2>&1 & bg=$!; }
# finish PID NAME: waits for it, its status in $rc, its output (from $work/NAME) in $work/out.
finish() { rc=0; wait "$1" || rc=$?; cp "$work/$2" "$work/out"; echo "exit $rc" >>"$work/out"; }
# midjob ACTION SEND_OPTIONS...: a send of job.bin on the third adapter, ACTION 1.5 s into it.
midjob() { local action=$1; shift; background out.log send "$work/job.bin" -i "${tag}2" "$@"; sleep 1.5; eval "$action"; finish $bg out.log; }
down() { ip -n "$LINK_BOARD" link set "${tag}b2" down; }
up() { ip -n "$LINK_BOARD" link set "${tag}b2" up; }

# Two senders on one board: the second is refused while the first holds the claim, and the
# search says who holds the board.
slow; board
background first.log send "$work/job.bin" -i "${tag}2"
sleep 1.5
run 5 pc send "$work/small.bin" -i "${tag}2" && has "held by another process"; verdict "second sender with -i refused"
run 5 pc detect && has "held by other processes: Quon_PCap_06"; verdict "search names the held board"
# ... and dump watches both directions meanwhile, with real timestamps.
run 0 pc dump -i "${tag}2" -w "$work/cap.pcap" -c 3000; verdict "dump -w -c"
finish $bg first.log
board_stop
[ $rc -eq 0 ] && bands_byte_exact "$work/out" "$work/board.log" >/dev/null; verdict "first sender byte-exact"
run 0 "$cli" dump -r "$work/cap.pcap" && has "^20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:.]+ PC > board print band" &&
  has "board > PC (AutoReport|StatusReply)" && has "PC > board EndOfBand band [0-9]+ seq [0-9]+: packets" &&
  has "^3000 frames captured" && has "^0 frames failed checksum"; verdict "dump: both directions, real timestamps, counts"
run 0 "$cli" dump -r "$work/cap.pcap" -x "len < 100" && ! has "print band" && has "^  0x0000: "; verdict "dump: capture filter, hex with offsets"

# The link goes down mid-job: 2 s is waited out, longer fails naming the link.
board; midjob "down; sleep 2; up"; board_stop
[ $rc -eq 0 ] && has "link on ${tag}2 is down" && has "is back after" &&
  bands_byte_exact "$work/out" "$work/board.log" >/dev/null; verdict "2 s link outage survived byte-exact"
board; midjob down --link-wait-ms 1500; up; board_stop
[ $rc -eq 3 ] && has "link on ${tag}2 stayed down for more than 1500 ms" && has -- "--from-band [0-9]+"; verdict "long outage fails naming the link, exit 3"

# Progress on a terminal only, finished before the summary; band lines on a terminal with -v;
# resuming from a band; Ctrl-C gives 130.
board
run 0 script -qec "ip netns exec $LINK_PC $cli send $work/job.bin -i ${tag}2 --from-band 62" /dev/null &&
  has $'\r\\[#' && has "100\.0%" && has "^sent .* 2\.1 MB in 2 bands \(from band 62\)" && ! has "^band [0-9]+ sha256"
verdict "progress line on a terminal, finished; resumed at band 62"
run 0 script -qec "ip netns exec $LINK_PC $cli send $work/small.bin -i ${tag}2 -v" /dev/null &&
  has "^band 0 sha256 [0-9a-f]{64}  1 packets"; verdict "band lines on a terminal with -v"
midjob 'kill -INT "$bg"'
[ $rc -eq 130 ] && has "interrupted"; verdict "Ctrl-C exits 130"
board_stop
fast

run 3 pc send "$work/small.bin" -i nosuchif0 && has "there is no interface nosuchif0"; verdict "unknown interface exits 3"

# A 512 MiB job through drop, corruption, duplication and reordering, in bounded memory; the
# summary as JSON.
head -c $((512 << 20)) /dev/urandom >"$work/big.bin"
board --seed 42 --drop 0.01 --corrupt 0.001 --duplicate 0.01 --reorder 0.01
# (no -i: the adapter stored by the detection above is tried first)
/usr/bin/time -f "peak %M KiB" -o "$work/time" ip netns exec "$LINK_PC" "$cli" send "$work/big.bin" \
  --band-size $((1 << 20)) >"$work/send.log" 2>"$work/out"
rc=$?
board_stop
grep -E '^(sent|statistics)' "$work/send.log"; cat "$work/time"
[ $rc -eq 0 ] && bands_byte_exact "$work/send.log" "$work/board.log"; verdict "512 MiB job byte-exact through impairment"
peak=$(awk '{print $2}' "$work/time")
# (not under a sanitizer, whose shadow memory counts too)
ldd "$cli" | grep -qE 'lib(a|t)san' || { [ "${peak:-999999}" -lt $(((64 + 3) * 1024)) ]; verdict "sender's peak memory ${peak} KiB < 64 MiB + 3 bands"; }
rm -f "$work/big.bin"
board

# The interface vanishes mid-job: said so, exit 3. (The pair is made again for what follows.)
slow; midjob 'ip -n "$LINK_PC" link del "${tag}2"' --band-size $((256 << 10)); board_stop
[ $rc -eq 3 ] && has "interface ${tag}2 is gone"; verdict "vanished interface named, exit 3"
ip link add "${tag}2" netns "$LINK_PC" type veth peer name "${tag}b2" netns "$LINK_BOARD" && ip -n "$LINK_PC" link set "${tag}2" up && up

# A fatal bit stops the job with its meaning and the remedy, and its own exit status.
board --fatal-bits 0x04
run 4 pc send "$work/job.bin" -i "${tag}2" && has "already reports a fatal error: bit 2 \(the board's memory overflowed" &&
  has "nothing was sent.*ferrolink reset -i ${tag}2" && has "smaller bands"; verdict "latched fatal bit refused before the job: meaning, way out, exit 4"
run 0 pc monitor -i "${tag}2" -c 2 && has "^20[0-9-]+ [0-9:.]+ report: errors: bit 2 \(the board's memory overflowed.*\[FATAL\]" &&
  has "packets held [0-9]+, bands completed [0-9]+"; verdict "monitor: time, error bits in words, band words"
run 0 pc monitor -i "${tag}2" -c 1 --json && json_ok <(grep '^{' "$work/out") "d['errors'][0]['bit'] == 2 and d['fatal']"; verdict "monitor --json"
board_stop
grep -q "^  print frames: 0$" "$work/board.log"; verdict "the refused job sent no print frame"

# A board that reports less often than every 2 s: the silence and its end are told, and the
# library's silence record carries its time and severity name.
board --report-interval-ms 2600
run 0 pc monitor -i "${tag}2" --seconds 6.5 --log-level notice
board_stop
has "board silent: no report for" && has "reporting again after" &&
  has "^20[0-9-]+ [0-9:.]+ \[notice\] .*auto report packet time interval = "; verdict "silence told, log records timed"

# ---- The board claim: begin (one block; the claim's own checks) ----
# Every refusal says what it is, with its own exit status: held 5 (the pid from the kernel's lock
# table), something planted 6, a full folder 7, a user outside the claim folder's group 8. The
# installed folder /run/ferrolink is tried in a private /run (a tmpfs in a mount namespace of its
# own); the other user is nobody, with group nogroup (the folder's) or 65533, allowed to capture.
chmod 711 "$work"
mkdir -p "$work/u" && chown 65534 "$work/u"
locks="$FERROLINK_LOCK_DIR" claimfile="$FERROLINK_LOCK_DIR/Quon_PCap_06.lock"
user=(env FERROLINK_CONFIG="$work/u/network.ini" setpriv --reuid=65534 --clear-groups)
member=("${user[@]}" --regid=65534 --inh-caps=+net_raw --ambient-caps=+net_raw "$cli")
outsider=("${user[@]}" --regid=65533 --inh-caps=+net_raw --ambient-caps=+net_raw "$cli")
# in_run SETUP COMMAND...: COMMAND on the PC side with a fresh /run (sticky /run/lock), SETUP run there first.
in_run() { local setup=$1; shift; unshare -m --propagation private nsenter --net="/run/netns/$LINK_PC" sh -c 'mount -t sysfs sysfs /sys && mount -t tmpfs -o mode=755 flkrun /run && mkdir -m 1777 /run/lock && eval "$0" && exec "$@"' "$setup" "$@"; }
installed='mkdir /run/ferrolink && chgrp 65534 /run/ferrolink && chmod 2770 /run/ferrolink'
board
slow; background holder.log send "$work/job.bin" -i "${tag}2"; holder=$bg; sleep 1.5
run 5 ip netns exec "$LINK_PC" "${member[@]}" detect -i "${tag}2" && has "held by another process \(pid [0-9]+\): $claimfile; wait for it" &&
  [ "$(cat "/proc/$(grep -oE 'pid [0-9]+' "$work/out" | head -1 | cut -d' ' -f2)/comm")" = ferrolink ]
verdict "another user is refused a held board, naming the holder's pid; exit 5"
: >"$locks/Quon_PCap_AAAAAA"
run 5 pc detect && has "held by other processes: Quon_PCap_06 \(the board is held by another process \(pid [0-9]+\)" &&
  [ ! -e "$locks/Quon_PCap_A.lock" ]
verdict "the search's probe names the holder and makes no file of a planted name"
rm -f "$locks/Quon_PCap_AAAAAA"
kill -INT "$holder"; wait "$holder"; fast
for what in "a FIFO" "a folder" "a symbolic link"; do
  rm -rf "$claimfile"
  case $what in
    "a FIFO") mkfifo "$claimfile" ;;
    "a folder") mkdir "$claimfile" ;;
    *) ln -s /etc/passwd "$claimfile" ;;
  esac
  run 6 pc detect -i "${tag}2" && has "remove $claimfile: it is $what, not a claim$" && ! has "held"; verdict "$what under the claim's name: told, exit 6"
  [ "$what" = "a FIFO" ] && { run 6 pc detect && has "Quon_PCap_06 cannot be claimed \(remove $claimfile: it is a FIFO, not a claim\)"; verdict "the search tells what blocks the claim, exit 6"; }
done
rm -rf "$claimfile"
: >"$claimfile" && chmod 000 "$claimfile"
run 6 ip netns exec "$LINK_PC" "${member[@]}" detect -i "${tag}2" && has "remove $claimfile: it is a file this user may not read \(user 0, mode 0000\), not a claim"
verdict "a mode-000 file: told, exit 6"
rm -f "$claimfile"
run 7 in_run 'mount -t tmpfs -o nr_inodes=2 flkfull "$FERROLINK_LOCK_DIR" && touch "$FERROLINK_LOCK_DIR/f"' "$cli" detect -i "${tag}2" &&
  has "no room for the claim $claimfile: No space left on device; free some space there"
verdict "a full claim folder: told, exit 7"
run 0 in_run "$installed" env -u FERROLINK_LOCK_DIR "${member[@]}" detect -i "${tag}2"; verdict "a member of the claim folder's group claims in /run/ferrolink"
run 8 in_run "$installed" env -u FERROLINK_LOCK_DIR "${outsider[@]}" detect -i "${tag}2" &&
  has "this user may not take claims in /run/ferrolink: it is open to root and the group nogroup only"
verdict "a user outside the group: told, exit 8"
cp "$cli" "$work/u/ferrolink-cap" && setcap cap_net_raw+ep "$work/u/ferrolink-cap"
run 8 in_run "$installed" "${user[@]}" --regid=65533 "$work/u/ferrolink-cap" detect -i "${tag}2" && has "may not take claims in /run/ferrolink"
verdict "FERROLINK_LOCK_DIR ignored by a program with file capabilities"
run 0 in_run true env -u FERROLINK_LOCK_DIR "$cli" detect -i "${tag}2" --log-level notice && has "claim folder /run/ferrolink does not exist .* /run/lock"
verdict "without the installed folder: /run/lock, with a notice"
board_stop
# ---- The board claim: end ----
# ---- toola: detect, reset, monitor, dump, --json, arguments, logs -------------------------------
# (the board is on ${tag}2; ${tag}0 has none)
pcj() { pc "$@" >"$work/json" 2>"$work/out"; }  # stdout (JSON) apart from the messages
each_json() { python3 -c "import json,sys; ls=[json.loads(l) for l in open(sys.argv[1])]; sys.exit(0 if ls and all(eval(sys.argv[2]) for d in ls) else 1)" "$@"; }
zoned='__import__("re").match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d\d:\d\d$", d["time"])'
# Arguments are checked before anything touches a board: negative counts, sizes, durations.
for args in "monitor -c -5" "dump -c -1" "dump --seconds -2" "dump -s -1" "dump -Q both" "reset --tries 0"; do
  run 2 pc $args -i "${tag}2" && ! has "capturing on"; verdict "refused with exit 2: $args"
done
run 0 "$cli" --version && has "^ferrolink [0-9.]+ on libpcap version [0-9]"; verdict "--version names libpcap"
# Only a board it heard: nothing behind ${tag}0; an early failure is a JSON object with --json.
run 1 pc detect -i "${tag}0" && has "no board was heard on rpcap://${tag}0" && ! has "board MAC"; verdict "detect -i: no board, no invention"
pcj detect -i "${tag}0" --json; [ $? -eq 1 ] && each_json "$work/json" "d['event'] == 'error' and d['exit_status'] == 1 and $zoned"; verdict "detect --json: error object"
pcj detect -i nosuchif0 --json; [ $? -eq 3 ] && each_json "$work/json" "'no interface nosuchif0' in d['error']"; verdict "unknown interface: JSON error object"
pcj monitor -c -5 --json; [ $? -eq 2 ] && each_json "$work/json" "d['event'] == 'error' and d['exit_status'] == 2"; verdict "usage error: JSON error object"
# An interface set down is told as such, with the way to bring it up; a permission as libpcap says it.
ip -n "$LINK_PC" link set "${tag}0" down
for command in detect monitor dump; do
  run 3 pc $command -i "${tag}0" && has "interface ${tag}0 is down: bring it up with \`ip link set ${tag}0 up\`" && ! has "CAP_NET_RAW"
  verdict "$command on a down interface: said so"
done
ip -n "$LINK_PC" link set "${tag}0" up
nobody=$(mktemp -d) && chown nobody "$nobody"
FERROLINK_CONFIG="$nobody/network.ini" run 3 ip netns exec "$LINK_PC" setpriv --reuid=nobody --regid=nogroup --clear-groups "$cli" monitor -i "${tag}0" &&
  has "cannot open rpcap://${tag}0: .*(Operation not permitted|[Pp]ermission).*\(capturing needs root or CAP_NET_RAW\)"; verdict "no permission: libpcap's text, then the capability"
rm -rf "$nobody"
# A latched fault: reset clears it; monitor shows none after.
board --fatal-bits 0x04 --report-interval-ms 200
run 0 pc reset -i "${tag}2" && has "errors before: bit 2 \(the board's memory overflowed" && has "errors now: none"; verdict "reset clears a latched fault"
pcj monitor -i "${tag}2" -c 2 --json; [ $? -eq 0 ] && each_json "$work/json" "d['event'] in ('report', 'reply') and not d['fatal'] and $zoned"; verdict "monitor --json after reset: no fault, zoned times"
# dump in tcpdump's habits: one line per frame, -x/-X, -s, -Q; --json one object per frame.
run 0 pc dump -i "${tag}2" -c 2 -Q in && [ "$(grep -c '^20.* board > PC ' "$work/out")" -eq 2 ] && ! has "^  0x0000:"; verdict "dump: one line per frame, -Q in"
run 0 pc dump -i "${tag}2" -c 1 -X -s 40 && has "length 88 \(40 captured\)" && has "^  0x0020: .{40} +\.\.\.\.\.\.\.\.$" && has "^0 frames failed checksum"; verdict "dump -X -s 40: cut, hex and text"
pcj dump -i "${tag}2" -c 3 --json; [ $? -eq 0 ] && each_json "$work/json" "d['event'] in ('frame', 'summary') and $zoned" && tail -1 "$work/json" | grep -q '"frames_captured":3'; verdict "dump --json: frames and a summary line"
# Ctrl-C ends a capture or a monitor with 0.
for command in "dump -i ${tag}2 -w $work/int.pcap" "monitor -i ${tag}2"; do
  run 0 timeout --preserve-status -s INT 1.5 ip netns exec "$LINK_PC" "$cli" $command; verdict "Ctrl-C ends $command with 0"
done
# A write that fails ends the capture, named; what was written stays readable.
run 1 pc dump -i "${tag}2" -c 50 -w /dev/full && has "cannot write /dev/full: No space left on device"; verdict "dump -w /dev/full fails, named"
mkdir "$work/small" && mount -t tmpfs -o size=16k tmpfs "$work/small"
run 1 pc dump -i "${tag}2" -c 3000 -w "$work/small/cap.pcap" && has "cannot write $work/small/cap.pcap: No space left on device \(([0-9]+) frames written"
verdict "dump -w on a full disk fails, named"
written=$(grep -oE '\(([0-9]+) frames written' "$work/out" | grep -oE '[0-9]+')
run 0 "$cli" dump -r "$work/small/cap.pcap" && has "^${written:-x} frames captured"; verdict "the frames written before a full disk are readable"
umount "$work/small"
board_stop
# The board's side loses its carrier: monitor says the link is down, not that the board is silent.
board --report-interval-ms 200
background mon.log monitor -i "${tag}2" --seconds 5
sleep 1.5; down; sleep 2.5; up; finish $bg mon.log
[ $rc -eq 0 ] && has "link on ${tag}2 is down \(no carrier\)" && has "link on ${tag}2 is up again" && ! has "every 0\.0 s"; verdict "monitor: carrier lost told as the link"
board_stop
# A flood of bad-checksum frames: the library's records are off by default, and rate-limited when shown.
flood() { ip netns exec "$LINK_BOARD" python3 "$here/fake_board.py" "${tag}b2" flood 3 >"$work/flood" & }
flood; run 0 pc monitor -i "${tag}2" --seconds 3.5; wait
! has "check sum error" && [ "$(wc -l <"$work/out")" -lt 20 ]; verdict "flood: no library records by default"
flood; run 0 pc monitor -i "${tag}2" --seconds 3.5 --log-level notice; wait
lines=$(wc -l <"$work/out"); echo "flood of $(tail -n 1 "$work/flood"): $lines lines of monitor output"
has "check sum error" && has "and [0-9,]+ more like it in [0-9.]+ s \(check sum error" && [ "$lines" -lt 200 ]; verdict "flood: records rate-limited and summarised"
# ---- end of toola -----------------------------------------------------------------------------

# ---- send: arguments first, the board that answers, counts, JSON lines, timeline, memory ----
# Arguments are checked before anything touches the board: an interface that does not exist is
# never reached.
run 2 "$cli" send "$work/small.bin" -i nosuchif0 --from-band -1 && has "must be a band number"
verdict "send --from-band -1 refused, exit 2"
run 2 "$cli" send "$work/job.bin" -i nosuchif0 --packet-size 1 && has "more than the board numbers \(1048575\)"
verdict "send --packet-size 1 refused before the adapter is opened"
# The board that answers the status query is claimed, not a board (or forger) heard first, and
# both are named. The configuration names the board and the adapter: the board is asked at once.
printf '[Network]\nPreviousPCapDeviceName=rpcap://%s\n[SoftwareMac]\nAddress=0x06\n' "${tag}2" >"$FERROLINK_CONFIG"
board --report-interval-ms 0
ip netns exec "$LINK_BOARD" "$sim" -i "${tag}b2" --first-byte 0x33 --report-interval-ms 5 >"$work/forger.log" 2>&1 &
forger=$!
# Its reports reach the PC's side before the job starts (a fixed pause was too short on a busy machine).
run 0 pc dump -i "${tag}2" -c 1 --seconds 10 "ether[6] == 0x33" && has "^1 frames captured"; verdict "the other board reports on the link"
run 0 pc dump -i "${tag}2" --seconds 1 "ether[6] == 0x44" && has "^0 frames captured"; verdict "dump --seconds ends while nothing passes the filter"
# (a job long enough for the forger's reports to be heard during it, if not before)
run 0 pc send "$work/job.bin" -v && has "boards heard on ${tag}2 \(first MAC byte\): 06, 33; this job (goes|went) to 06" &&
  has "^start-up: .* first print frame [0-9.]+ ms after the start"
verdict "the answering board is claimed, the other named; start-up told" || tail -n 5 "$work/forger.log"
kill -INT "$forger"; wait "$forger" 2>/dev/null
grep -q "^band 0 complete" "$work/board.log" && ! grep -q "^band 0 complete" "$work/forger.log"; verdict "the job went to the board that answered"
# Frames sent and resent, not rounds; a line per band with its digest, the summary last; the
# course of the job in a timeline.
run 0 pc send "$work/job.bin" --json --timeline "$work/timeline.csv" && grep '^{' "$work/out" >"$work/send.json" &&
  python3 - "$work/send.json" "$work/timeline.csv" <<'PY'
import csv, json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
bands, summary = [l for l in lines if l["event"] == "band"], lines[-1]
assert summary["event"] == "summary" and summary["ok"] and summary["bands"] == 64, summary
assert [b["band"] for b in bands] == list(range(64)) and all(len(b["sha256"]) == 64 for b in bands)
assert summary["frames_sent"] == summary["packets"] + summary["frames_resent"], summary
assert summary["link_outages"] == 0 and summary["peak_memory_mb"] > 0
rows = list(csv.DictReader(open(sys.argv[2])))
assert int(rows[-1]["bytes_acked"]) == 64 << 20 and sum(r["event"] == "band" for r in rows) == 64
PY
verdict "send --json: band lines with digests, frames sent = packets + resent; timeline"
run 0 pc send "$work/small.bin" --no-digest && has "^band 0 sha256 -$"; verdict "send --no-digest"
board_stop
# A job that fails on an outage counts it.
slow; board
midjob down --link-wait-ms 1000 --json; up; board_stop; fast
[ $rc -eq 3 ] && json_ok <(grep '"summary"' "$work/out") "d['link_outages'] == 1 and d['exit_status'] == 3 and d['resume_from_band'] >= 0"
verdict "an outage the job failed on is counted"
# 8 MiB bands through impairment stay within 64 MiB + 3 bands too.
head -c $((512 << 20)) /dev/urandom >"$work/big.bin"
board --seed 7 --drop 0.01 --corrupt 0.001 --duplicate 0.01 --reorder 0.01
/usr/bin/time -f "peak %M KiB" -o "$work/time" ip netns exec "$LINK_PC" "$cli" send "$work/big.bin" \
  --band-size $((8 << 20)) >"$work/send.log" 2>"$work/out"
rc=$?
board_stop
grep -E '^(sent|statistics)' "$work/send.log"; cat "$work/time"
[ $rc -eq 0 ] && bands_byte_exact "$work/send.log" "$work/board.log"; verdict "512 MiB at 8 MiB bands byte-exact through impairment"
peak=$(awk '{print $2}' "$work/time")
ldd "$cli" | grep -qE 'lib(a|t)san' || { [ "${peak:-999999}" -lt $(((64 + 24) * 1024)) ]; verdict "8 MiB bands: peak memory ${peak} KiB < 64 MiB + 3 bands"; }
rm -f "$work/big.bin"
# ---- end of the send block ----

echo "end-to-end: $passed passed, $failures failed"
[ $failures -eq 0 ]
