#!/usr/bin/env python3
# usage: fake_board.py IF foreign|flood [SECONDS]
# A board that answers every command at once, in a way a real one never would: "foreign" answers
# with another sequence number than the command's; "flood" sends status reports with a bad
# checksum as fast as it can for SECONDS. The end-to-end test runs it on the board side of a veth.
# (A board whose "no error" vouches for nothing is a case of the send path's unit tests.)
import socket
import struct
import sys
import time

ifname, mode = sys.argv[1], sys.argv[2]
pc = bytes.fromhex("7b23fc981099")
board = bytes.fromhex("123456789abc")
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
s.bind((ifname, 0))
print(f"fake board on {ifname}", flush=True)
if mode == "flood":
    words = [0, 0, 0xFFFFFFFF, 0x00010002] + [0] * 11
    frame = pc + board + struct.pack(">HHII", 88, 3, 0, 0) + struct.pack(">15I", *words) + b"\x00\x00\x00\x01"
    end = time.monotonic() + float(sys.argv[3])
    sent = 0
    while time.monotonic() < end:
        for _ in range(256):
            s.send(frame)
        sent += 256
    print(f"flood: {sent} frames")
    sys.exit(0)
while True:
    frame = s.recv(2048)
    if len(frame) < 88 or frame[0:6] != board:
        continue
    symbol, band, seq = struct.unpack(">HII", frame[14:24])
    if symbol not in (0x0010, 0x0011, 0x0012):  # EndOfBand, StatusQuery, Reset
        continue
    if mode == "foreign":
        seq = (seq + 1) & 0xFFFFFFFF
    # error word 0, resend index 0, current maximum -1, version 1.2, band words
    words = [0, 0, 0xFFFFFFFF, 0x00010002, band, 0, 0, seq] + [0] * 7
    body = pc + board + struct.pack(">HHII", 88, 0x0101, band, seq) + struct.pack(">15I", *words)
    total = sum(struct.unpack(">21I", body)) & 0xFFFFFFFF
    s.send(body + struct.pack(">I", (-total) & 0xFFFFFFFF))
