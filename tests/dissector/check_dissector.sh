#!/usr/bin/env bash
# Feeds the worked-example print frame (and a copy with one altered checksum byte) to tshark with
# the dissector loaded and checks the decoded fields.
set -euo pipefail
lua=$1
if ! command -v tshark >/dev/null; then echo "tshark missing: skipped"; exit 77; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/board.pcap" <<'PY'
import struct, sys
head = bytes.fromhex('123456789abc7b23fc981099') + struct.pack('>HHII', 88, 0, 1, 0)
good = head + b'abc' + bytes(57) + bytes.fromhex('f4bcbacb')
bad = good[:84] + bytes.fromhex('f5bcbacb')
with open(sys.argv[1], 'wb') as out:
    out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
    for f in (good, bad):
        out.write(struct.pack('<IIII', 0, 0, len(f), len(f)) + f)
PY
fields=$(tshark -X "lua_script:$lua" -r "$work/board.pcap" -T fields -e ferrolink.length \
  -e ferrolink.symbol -e ferrolink.frame_index -e ferrolink.packet_index -e ferrolink.checksum \
  -e ferrolink.checksum_ok 2>/dev/null | tr '\t' ' ')
expected=$'88 0x0000 1 0 0xf4bcbacb 1\n88 0x0000 1 0 0xf5bcbacb 0'
if [ "$fields" != "$expected" ]; then
  printf 'dissector fields differ:\n%s\nexpected:\n%s\n' "$fields" "$expected"
  exit 1
fi
echo "dissector: fields decoded as expected"
