#!/usr/bin/env bash
# Feeds board frames to tshark with the dissector and checks field by field: Ethernet with no LLC
# layer, the header, a bad checksum (one expert error), command arguments, a status reply's bits
# and words, command-reply pairing with the response time, a resent print frame (none after a
# Reset), the expert summary, the per-band tap and the I/O graph's columns as the docs give them.
# Exits 77 (skipped) without tshark.
set -euo pipefail
lua=$1
if ! command -v tshark >/dev/null; then echo "tshark missing: skipped"; exit 77; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$(dirname "$0")/board_capture.py" "$work/board.pcap"
failures=0
shark() { tshark -2 -X "lua_script:$lua" -r "$work/board.pcap" "$@" 2>/dev/null; }
# differ NAME GOT EXPECTED: counts a failure, showing both, when they differ.
differ() { [ "$2" = "$3" ] || { printf 'dissector: %s differ:\n%s\nexpected:\n%s\n' "$@"; failures=$((failures + 1)); }; }
# check NAME FIELDS EXPECTED: a line per frame that has any of the fields: its number, then the
# fields, separated by '|'.
check() {
  local args=()
  for field in $2; do args+=(-e "$field"); done
  differ "$1" "$(shark -T fields -E separator='|' -E occurrence=f -e frame.number "${args[@]}" |
    grep -vE '^[0-9]+[|]*$')" "$3"
}
# Every frame is Ethernet then the board frame, nothing between; the addresses keep their fields.
differ "protocols" "$(shark -T fields -e frame.protocols | sort -u)" "eth:ferrolink"
differ "Ethernet addresses" "$(shark -T fields -E separator='|' -e eth.dst -e eth.src | LC_ALL=C sort | uniq -c)" \
'      7 12:34:56:78:9a:bc|7b:23:fc:98:10:99
      2 7b:23:fc:98:10:99|12:34:56:78:9a:bc'
check "header" "ferrolink.frame_length ferrolink.data_symbol ferrolink.frame_index ferrolink.packet_index ferrolink.checksum ferrolink.checksum.status" \
'1|88|0x0000|1|0|0xf4bcbacb|1
2|88|0x0000|1|0|0xf5bcbacb|0
3|88|0x0010|3|5|0x561f1d12|1
4|88|0x0101|3|5|0x1d715459|1
5|88|0x0013|0|6|0x561f1daf|1
6|88|0x0003|3|42|0x1d71562d|1
7|88|0x0000|1|0|0xf4bcbacb|1
8|88|0x0012|0|7|0x561f1db3|1
9|88|0x0000|1|0|0xf4bcbacb|1'
# Expert info: the frames that carry each (a command without a reply only in two passes).
for expert in ferrolink.checksum.bad:2 ferrolink.status.resend:4 ferrolink.response_missing:5,8 \
              ferrolink.status.fatal:6 ferrolink.analysis.resent:7; do
  differ "frames with ${expert%%:*}" "$(shark -T fields -Y "${expert%%:*}" -e frame.number | paste -sd,)" \
    "${expert##*:}"
done
# The whole expert view: real findings only, one error for the one bad checksum, nothing malformed.
differ "expert summary" "$(shark -q -z expert | grep -E '^ +[0-9]+ ')" \
'           1   Checksum          FERROLINK  Bad checksum
           1   Response          FERROLINK  The board reports a fatal error
           1   Sequence          FERROLINK  The board asks for a resend
           2   Sequence          FERROLINK  No reply to this command
           1   Sequence          FERROLINK  Resent print frame'
check "EndOfBand and SetErrors arguments" "ferrolink.sequence ferrolink.end_of_band.packets ferrolink.end_of_band.band_bytes ferrolink.end_of_band.packet_size ferrolink.set_errors.bits" \
'3|5|2|100|60|
4|5||||
5|6||||0x00000004
8|7||||'
check "status" "ferrolink.status.error ferrolink.status.error.b0_re_frame_ver_err ferrolink.status.error.b1_re_frame_lose_err ferrolink.status.error.b2_l2_wr_ddr2_over ferrolink.status.error.b8_hb_fiber_redata_zhentou ferrolink.status.resend_index ferrolink.status.current_maximum ferrolink.status.version_high ferrolink.status.version_low ferrolink.status.band ferrolink.status.packets_held ferrolink.status.bands_completed ferrolink.status.sequence_answered ferrolink.report_number" \
'4|0x00000103|1|1|0|1|1|0|1|2|3|1|7|5|
6|0x00000004|0|0|1|0|2|1|1|2|3|2|7|6|42'
check "pairing and resends" "ferrolink.response_in ferrolink.response_to ferrolink.response_time ferrolink.analysis.first_sent" \
'3|4|||
4||3|0.002500000|
7||||1'
check "Info column" "_ws.col.Info" \
'1|PrintData band 1, packet 0
2|PrintData band 1, packet 0 [BAD CHECKSUM]
3|EndOfBand band 3, seq 5: 2 packets, 100 bytes, packet size 60
4|StatusReply band 3, seq 5: errors b0,b1,b8, resend 1, current max 0, version 1.2
5|SetErrors band 0, seq 6: bits 0x0004
6|AutoReport 42, band 3: errors b2, resend 2, current max 1, version 1.2
7|PrintData band 1, packet 0 [RESENT]
8|Reset band 0, seq 7
9|PrintData band 1, packet 0'
# The statistics tap, whole and with a filter.
differ "band statistics" "$(shark -q -z ferrolink,bands | grep -E '^ +([0-9]+|all) ')" \
'         1          3        1        1        0          -          -          -
         3          0        0        0        1      2.500      2.500      2.500
       all          3        1        1        1'
differ "band statistics, filtered" "$(shark -q -z ferrolink,bands,ferrolink.frame_index==1 | grep -E '^ +([0-9]+|all) ')" \
'         1          3        1        1        0          -          -          -
       all          3        1        1        0'
# The I/O graph's columns as docs/board-protocol.md gives them: resent frames, the average reply
# time, print frames and their bytes.
differ "I/O graph columns" "$(shark -q -z io,stat,0,'COUNT(ferrolink.analysis.resent)ferrolink.analysis.resent','AVG(ferrolink.response_time)ferrolink.response_time','ferrolink.data_symbol == 0' | grep '<>')" \
'| 0.000 <> 0.012 |     1 | 0.002500 |      4 |   352 |             |'
[ "$failures" -eq 0 ] || exit 1
echo "dissector: Ethernet layer, fields, expert info, pairing, resends, statistics and I/O graph columns decoded as expected"
