#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into fuzz/corpus/<target>/.

The seeds are the protocol's test vectors (the three request frames, a frame
split one byte per event, stray bytes, a broken sync word, bad checks, a
header-only frame, identification answers of both generations) encoded in each
target's input layout (see the target's source). Run it again after changing a
layout; the files are small and kept in the repository.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def xor(data):
    x = 0
    for b in data:
        x ^= b
    return x


def frame(msg_id, payload=b"", status=0, word=0):
    head = b"BRNO" + struct.pack("<HHHB", msg_id, len(payload) + 1, word, status)
    head += bytes([xor(head)])
    return head + payload + bytes([xor(payload)])


def header_only(msg_id, status=0):
    head = b"BRNO" + struct.pack("<HHHB", msg_id, 0, 0, status)
    return head + bytes([xor(head)])


REQ_8007 = bytes.fromhex("42524E4F471F0100640000" "2C00")
REQ_8101 = bytes.fromhex("42524E4FA51F0300E8030043100010")
REQ_8206 = bytes.fromhex("42524E4F0E200500E093004901000000" "01")
assert REQ_8007 == frame(8007, word=100)
assert REQ_8101 == frame(8101, b"\x10\x00", word=1000)
assert REQ_8206 == frame(8206, b"\x01\x00\x00\x00", word=300000 & 0xFFFF)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# fuzz_receive: registrations, then operations. A data operation of n bytes
# (1 to 32) is the op byte ((n-1) % 8) << 5 | (n-1) // 8; 5 is a time-out.
def data_ops(stream, piece=32):
    out = b""
    for at in range(0, len(stream), piece):
        chunk = stream[at:at + piece]
        n = len(chunk) - 1
        out += bytes([((n % 8) << 5) | (n // 8)]) + chunk
    return out


def hooks(*pairs):
    out = bytes([len(pairs)])
    for msg_id, fn in pairs:
        out += struct.pack("<HB", msg_id, fn)
    return out


LIVE = frame(9302, struct.pack("<iiff", 256, 7, 1.5, 2.5))
V1_ID = frame(9007, b"51234567")
V2_ID = frame(9007, b"A1234567")
receive = {
    "requests": hooks() + data_ops(REQ_8007 + REQ_8101 + REQ_8206),
    "one_byte_events": hooks() + data_ops(REQ_8101, 1),
    "stray_bytes": hooks() + data_ops(b"\x00\x42" + REQ_8007),
    "stray_B": hooks() + data_ops(b"B" + REQ_8007 + REQ_8101),
    "bad_header_then_good": hooks()
    + data_ops(REQ_8007[:11] + bytes([REQ_8007[11] ^ 1]) + REQ_8007[12:] + REQ_8101),
    "bad_body": hooks() + data_ops(REQ_8101[:-1] + b"\x11" + REQ_8007),
    "header_only": hooks() + data_ops(header_only(9201)),
    "length_one_nonzero": hooks() + data_ops(frame(9003)[:-1] + b"\x05"),
    "identify_v1_then_live": hooks((9302, 0), (0xFFFF, 4))
    + data_ops(V1_ID + LIVE + frame(9201, b"xyz")),
    "identify_v2_hooks": hooks((9302, 1), (9302, 2), (9201, 3), (0xFFFF, 4))
    + data_ops(frame(9201, b"z") + V2_ID + LIVE),
    "probing_gives_up": hooks() + bytes([5] * 9) + data_ops(V2_ID),
    "timeout_mid_frame": hooks() + data_ops(V1_ID) + data_ops(REQ_8101[:7]) + b"\x05"
    + data_ops(REQ_8101[7:] + REQ_8007),
    "brno_in_payload": hooks() + data_ops(frame(9100, b"BRNOBRNO" + REQ_8007)),
}
for name, data in receive.items():
    write("fuzz_receive", name, data)


# fuzz_transaction: flags, command, cap, request length and bytes, time-out,
# then one turn per attempt: how, split, frames, junk.
def txn(flags, command, cap, request, timeout, turns):
    out = bytes([flags]) + struct.pack("<HH", command, cap)
    out += bytes([len(request)]) + request + struct.pack("<i", timeout)
    for t in turns:
        out += t
    return out


def turn(frames, split=255, error=None):
    how = (len(frames) << 2) | (0x80 | error if error is not None else 0)
    return bytes([how, split]) + b"".join(frames)


def tframe(kind, payload=b"", status=0, word=0):
    # kind: 0 answer, 1 error, 2 resend, 3 another answer, 4 live data
    k = kind | (0x80 if status else 0) | (0x40 if len(payload) > 255 else 0)
    out = bytes([k]) + (bytes([status]) if status else b"") + struct.pack("<H", word)
    if len(payload) > 255:
        out += bytes([len(payload) // 32, len(payload) % 32])
    else:
        out += bytes([len(payload)])
    return out + payload


transaction = {
    "answer": txn(0, 8201, 16, b"", 800, [turn([tframe(0, b"\x01\x02\x03\x04", word=0x1234)])]),
    "answer_exactly_cap": txn(0, 8201, 4, b"", 800, [turn([tframe(0, b"abcd")])]),
    "answer_one_over_cap": txn(0, 8201, 4, b"", 800, [turn([tframe(0, b"abcde")])]),
    "failed_status": txn(0, 8201, 16, b"", 800, [turn([tframe(0, b"abcd", status=3)])]),
    "error_beats_nothing": txn(2, 8101, 16, b"\x10\x00", 1000, [turn([tframe(1, status=1)])]),
    "resend_then_answer": txn(1, 8007, 9, b"", 100,
                              [turn([tframe(2)]), turn([tframe(0, b"A1234567")])]),
    "silence_three": txn(2, 8201, 16, b"", 800, [turn([]), turn([]), turn([])]),
    "answer_beats_error": txn(0, 8201, 16, b"", 800, [turn([tframe(1, status=1), tframe(0, b"ok")])]),
    "write_refused": txn(1, 8201, 16, b"", 800, [turn([], error=1), turn([tframe(0, b"ok")])]),
    "no_wait": txn(4 | 3, 8206, 0, b"\x01\x00\x00\x00", 300000, [turn([tframe(0, b"late")])]),
    "big_answer": txn(0, 8201, 8999, b"", 800, [turn([tframe(0, bytes(range(256)) * 17)], split=1)]),
}
# Flags 0x80 with attempts bits 0: the next byte sets attempts below 1.
transaction["no_attempts"] = (bytes([0x80, 0]) + struct.pack("<HH", 8201, 16) + bytes([0])
                              + struct.pack("<i", 800) + turn([tframe(0, b"ok")]))
for name, data in transaction.items():
    write("fuzz_transaction", name, data)


# fuzz_chunks: flags (op in flags % 5), length, text size, how, [status], n, payload.
def chunk(op, length, text_size, payload, status=None, silent=False):
    how = (0x80 if silent else 0) | (0x40 if status is not None else 0)
    out = bytes([op]) + struct.pack("<HH", length, text_size) + bytes([how])
    if status is not None:
        out += bytes([status])
    return out + struct.pack("<H", len(payload)) + payload


body = bytes(range(200))
chunks = {
    "read_v1": chunk(0, 100, 0, struct.pack("<i", 100) + body[:100]),
    "read_v2_count_beyond_length": chunk(1, 10, 0, struct.pack("<i", 4000) + body),
    "read_v1_count_beyond_arrived": chunk(0, 300, 0, struct.pack("<i", 3996) + body[:20]),
    "read_negative_count": chunk(1, 50, 0, struct.pack("<i", -3) + body[:8]),
    "read_failed": chunk(0, 50, 0, struct.pack("<i", 8) + body[:8], status=2),
    "read_silent": chunk(1, 50, 0, b"", silent=True),
    "note_full": chunk(2, 0, 0, struct.pack("<i", 3996) + bytes(3996)),
    "memory_v1": chunk(3, 0, 16, struct.pack("<i", 1234) + b"1234 of 65536 used\x00"),
    "memory_v2_unterminated": chunk(4, 0, 4, struct.pack("<i", 7) + b"abcdefgh"),
}
for name, data in chunks.items():
    write("fuzz_chunks", name, data)


# fuzz_printers: generation byte (bit 0: second), then the record.
def record(size, fields):
    r = bytearray(size)
    for off, fmt, value in fields:
        struct.pack_into(fmt, r, off, value)
    return bytes(r)


printers = {
    "v1_zero": b"\x00" + bytes(832),
    "v1_scan_full": b"\x00" + record(832, [(19, "<B", 0xFF), (76, "<i", 0), (80, "<i", 180)]),
    "v1_scan_huge_count": b"\x00" + record(832, [(19, "<B", 0x02), (80, "<i", 0x7FFFFFFF)]),
    "v1_ff": b"\x00" + b"\xff" * 832,
    "v2_zero": b"\x01" + bytes(4064),
    "v2_scan_full": b"\x01" + record(4064, [(19, "<B", 0x02), (87, "<i", 0), (91, "<i", 480)]),
    "v2_negative_count": b"\x01" + record(4064, [(19, "<B", 0x02), (91, "<i", -5)]),
    "v2_ff": b"\x01" + b"\xff" * 4064,
}
for name, data in printers.items():
    write("fuzz_printers", name, data)


# fuzz_transport: attempts, command count, flags; per command number byte
# (8000 + b % 64), wait, time-out, capacity; then pieces: length, pause, bytes.
def command(number, wait=1, timeout=10, cap=64):
    return bytes([number - 8000, wait, timeout - 1]) + struct.pack("<H", cap)


def pieces(stream, size=255, pause=0):
    out = b""
    for at in range(0, len(stream), size):
        chunk = stream[at:at + size]
        out += bytes([len(chunk), pause]) + chunk
    return out


FLASH = bytes(range(64))
transport = {
    "answers_in_time": bytes([0, 1, 0]) + command(8001, cap=8)
    + command(8007, cap=8) + pieces(frame(9001, b"V2.11.05") + frame(9007, b"A2000456")),
    "late_then_next": bytes([1, 1, 0]) + command(8001, timeout=2, cap=8) + command(8001, cap=8)
    + pieces(frame(9001, b"V1.07.03"), pause=3) + pieces(frame(9001, b"V1.07.04"), pause=3),
    "resend_error_split": bytes([2, 2, 1]) + command(8001, cap=8) + command(8002, cap=24)
    + pieces(frame(12289) + frame(9001, b"12345678") + frame(12290, status=1), size=3),
    "flash_block_no_wait": bytes([0, 0, 2]) + command(8037, wait=0) + pieces(frame(9037, FLASH)),
    "hang_up_mid_frame": bytes([0, 0, 1]) + command(8002, cap=24)
    + pieces(frame(9002, bytes(24))[:20]),
}
for name, data in transport.items():
    write("fuzz_transport", name, data)
