#!/usr/bin/env bash
# Feeds captures made here to tshark with the dissector loaded and checks the decoded fields one
# by one: the Ethernet layer as without the dissector, the header by its own names, a bad
# checksum (expert info and Info column), a command's arguments, a status reply's error bits,
# indices, version and band words, and the pairing of command and reply with the response time.
# Exits 77 (skipped) without tshark.
set -euo pipefail
lua=$1
if ! command -v tshark >/dev/null; then echo "tshark missing: skipped"; exit 77; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/board.pcap" <<'PY'
import struct, sys
PC, BOARD = bytes.fromhex('7b23fc981099'), bytes.fromhex('123456789abc')
def frame(dst, src, symbol, band, packet, words=(), data=b''):
    body = data or b''.join(struct.pack('>I', w) for w in words)
    area = body + bytes(60 - len(body))
    head = dst + src + struct.pack('>HHII', 88, symbol, band, packet)
    f = head + area
    total = sum(struct.unpack('>%dI' % (len(f) // 4), f)) % 2**32
    return f + struct.pack('>I', (-total) % 2**32)
good = frame(BOARD, PC, 0, 1, 0, data=b'abc')
assert good[-4:] == bytes.fromhex('f4bcbacb')          # the worked example
bad = good[:84] + bytes.fromhex('f5bcbacb')
end_of_band = frame(BOARD, PC, 0x10, 3, 5, (2, 100, 60))
reply = frame(PC, BOARD, 0x0101, 3, 5, (0x00000103, 1, 0, 0x00010002, 3, 1, 7, 5))
set_errors = frame(BOARD, PC, 0x13, 0, 6, (0x0004,))
report = frame(PC, BOARD, 3, 3, 42, (0x4, 2, 1, 0x00010002, 3, 2, 7, 6))
with open(sys.argv[1], 'wb') as out:
    out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
    for usec, f in ((0, good), (100, bad), (1000, end_of_band), (3500, reply), (5000, set_errors),
                    (9000, report)):
        out.write(struct.pack('<IIII', 1700000000, usec, len(f), len(f)) + f)
PY
failures=0
shark() { tshark -2 -X "lua_script:$lua" -r "$work/board.pcap" -T fields "$@" 2>/dev/null; }
# differ NAME GOT EXPECTED: counts a failure, showing both, when they differ.
differ() { [ "$2" = "$3" ] || { printf 'dissector: %s differ:\n%s\nexpected:\n%s\n' "$@"; failures=$((failures + 1)); }; }
# check NAME FIELDS EXPECTED: one line per frame, fields separated by '|'.
check() {
  local args=()
  for field in $2; do args+=(-e "$field"); done
  differ "$1" "$(shark -E separator='|' -E occurrence=f "${args[@]}")" "$3"
}
check "Ethernet layer" "eth.dst eth.src eth.len" \
'12:34:56:78:9a:bc|7b:23:fc:98:10:99|88
12:34:56:78:9a:bc|7b:23:fc:98:10:99|88
12:34:56:78:9a:bc|7b:23:fc:98:10:99|88
7b:23:fc:98:10:99|12:34:56:78:9a:bc|88
12:34:56:78:9a:bc|7b:23:fc:98:10:99|88
7b:23:fc:98:10:99|12:34:56:78:9a:bc|88'
check "header" "ferrolink.frame_length ferrolink.data_symbol ferrolink.frame_index ferrolink.packet_index ferrolink.checksum ferrolink.checksum.status" \
'88|0x0000|1|0|0xf4bcbacb|1
88|0x0000|1|0|0xf5bcbacb|0
88|0x0010|3|5|0x561f1d12|1
88|0x0101|3|5|0x1d715459|1
88|0x0013|0|6|0x561f1daf|1
88|0x0003|3|42|0x1d71562d|1'
# Expert info: the frames that carry each (a command without a reply only in two passes).
for expert in ferrolink.checksum.bad:2 ferrolink.status.resend:4 ferrolink.response_missing:5 \
              ferrolink.status.fatal:6; do
  differ "frames with ${expert%%:*}" "$(shark -Y "${expert%%:*}" -e frame.number)" "${expert##*:}"
done
check "EndOfBand and SetErrors arguments" "ferrolink.sequence ferrolink.end_of_band.packets ferrolink.end_of_band.band_bytes ferrolink.end_of_band.packet_size ferrolink.set_errors.bits" \
'||||
||||
5|2|100|60|
5||||
6||||0x00000004
||||'
check "status" "ferrolink.status.error ferrolink.status.error.b0_re_frame_ver_err ferrolink.status.error.b1_re_frame_lose_err ferrolink.status.error.b2_l2_wr_ddr2_over ferrolink.status.error.b8_hb_fiber_redata_zhentou ferrolink.status.resend_index ferrolink.status.current_maximum ferrolink.status.version_high ferrolink.status.version_low ferrolink.status.band ferrolink.status.packets_held ferrolink.status.bands_completed ferrolink.status.sequence_answered ferrolink.report_number" \
'|||||||||||||
|||||||||||||
|||||||||||||
0x00000103|1|1|0|1|1|0|1|2|3|1|7|5|
|||||||||||||
0x00000004|0|0|1|0|2|1|1|2|3|2|7|6|42'
check "pairing" "ferrolink.response_in ferrolink.response_to ferrolink.response_time" \
'||
||
4||
|3|0.002500000
||
||'
check "Info column" "_ws.col.Info" \
'PrintData band 1, packet 0
PrintData band 1, packet 0 [BAD CHECKSUM]
EndOfBand band 3, seq 5: 2 packets, 100 bytes, packet size 60
StatusReply band 3, seq 5: errors b0,b1,b8, resend 1, current max 0, version 1.2
SetErrors band 0, seq 6: bits 0x0004
AutoReport 42, band 3: errors b2, resend 2, current max 1, version 1.2'
[ "$failures" -eq 0 ] || exit 1
echo "dissector: Ethernet layer, fields, expert info and pairing decoded as expected"
