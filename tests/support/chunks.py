"""Builds test audio files chunk by chunk: what chunkbuilder.h is to the C++
tests, for the Python scripts (the kill test, the demo folder, the
benchmark's recordings). They import it by its path beside them."""
import struct


def head(cid, size, order="<"):
    """A chunk header without its body (the body follows raw)."""
    return cid + struct.pack(order + "I", size)


def chunk(cid, body, order="<", pad=True):
    """A chunk declaring its body's length, and a pad byte after an odd body."""
    return head(cid, len(body), order) + body + (b"\0" if pad and len(body) & 1 else b"")


def fmt_chunk(channels, rate, bits):
    """An integer PCM fmt chunk."""
    align = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits))


def riff(chunks, size=None, form=b"RIFF"):
    """A WAVE file of the given chunks (or raw bytes); size None: the true size."""
    body = b"WAVE" + b"".join(chunks)
    return form + struct.pack("<I", len(body) if size is None else size) + body


def extended80(rate):
    """AIFF's 80-bit sample rate for a whole, positive rate."""
    exponent = rate.bit_length() - 1
    return struct.pack(">HQ", 16383 + exponent, rate << (63 - exponent))


def comm_chunk(channels, frames, bits, rate):
    return chunk(b"COMM", struct.pack(">hIh", channels, frames, bits) + extended80(rate), ">")


def form(chunks, size=None):
    """A FORM AIFF file of the given chunks (or raw bytes); size None: the true size."""
    body = b"AIFF" + b"".join(chunks)
    return b"FORM" + struct.pack(">I", len(body) if size is None else size) + body


WAVE64_TAIL = bytes([0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A])
WAVE64_RIFF = b"riff" + bytes([0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])
WAVE64_LIST = b"list" + bytes([0x2F, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00])


def w64_guid(cid):
    """A Wave64 chunk GUID: riff and list of their own family, the others
    the id followed by the tail they share."""
    return {b"riff": WAVE64_RIFF, b"list": WAVE64_LIST}.get(cid, cid + WAVE64_TAIL)


def w64_chunk(cid, body, size=None):
    """A Wave64 chunk: its size counts the 24-byte header; zeros to 8 bytes."""
    return w64_guid(cid) + struct.pack("<Q", len(body) + 24 if size is None else size) + body + bytes(-len(body) % 8)


def w64_chunks(data):
    """(name, offset, declared size) of each chunk of a Wave64 file, up to data."""
    pos = 40
    while pos + 24 <= len(data):
        guid = data[pos:pos + 16]
        size = struct.unpack_from("<Q", data, pos + 16)[0]
        cid = guid[:4] if guid[4:] == WAVE64_TAIL or guid == WAVE64_LIST else guid
        yield cid, pos, size
        if cid == b"data" or size < 24:
            return
        pos += size + (-size % 8)


def w64_layout(data):
    """(offset of the fmt chunk, offset of the data chunk) of a Wave64 file."""
    found = {cid: pos for cid, pos, _size in w64_chunks(data)}
    return found[b"fmt "], found[b"data"]
