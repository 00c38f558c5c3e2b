#!/usr/bin/env python3
"""Writes board frames to the pcap file given: print data good, bad and resent, EndOfBand and its
reply, SetErrors, an AutoReport, a Reset; for the dissector check and the docs' tshark commands."""
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
reset = frame(BOARD, PC, 0x12, 0, 7)
with open(sys.argv[1], 'wb') as out:
    out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
    # The print frame again (resent), a Reset, and again (a new job: not resent).
    for usec, f in ((0, good), (100, bad), (1000, end_of_band), (3500, reply), (5000, set_errors),
                    (9000, report), (10000, good), (11000, reset), (12000, good)):
        out.write(struct.pack('<IIII', 1700000000, usec, len(f), len(f)) + f)
