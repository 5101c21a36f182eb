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
