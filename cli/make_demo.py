#!/usr/bin/env python3
"""Makes a folder of recordings as interrupted recorders leave them, for a
first run of tessmark: a WAV take whose header was never set and whose last
frame is half written, a Broadcast Wave take whose header stopped being
updated, an RF64 take, an AIFF take, and a healthy take with notes behind its
samples that must stay untouched.

Usage: make_demo.py FOLDER   (FOLDER is emptied and filled anew)
"""
import math
import os
import shutil
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from chunks import chunk, comm_chunk, fmt_chunk, form, head, riff  # noqa: E402


def tone(rate, channels, bits, seconds, freq):
    """Signed little-endian PCM of a fading sine, one frequency per channel."""
    width = bits // 8
    peak = (1 << (bits - 1)) - 1
    out = bytearray()
    frames = int(rate * seconds)
    for i in range(frames):
        env = 0.5 * (1.0 - i / frames)
        for c in range(channels):
            v = int(peak * env * math.sin(2 * math.pi * freq * (1 + 0.5 * c) * i / rate))
            out += v.to_bytes(width, "little", signed=True)
    return bytes(out)


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    folder = sys.argv[1]
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)

    def write(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

    # A recorder that lost power before it ever wrote the sizes: both are 0,
    # and the last frame is only half on the card.
    samples = tone(48000, 2, 16, 3.0, 440)
    write("interview_take1.wav",
          riff([fmt_chunk(2, 48000, 16), head(b"data", 0), samples, b"\x12\x34"], 0))

    # Broadcast Wave whose header was last updated after one second.
    samples = tone(48000, 2, 24, 4.0, 330)
    bext = (b"Interview, take 2".ljust(256, b"\0") + b"Field recorder".ljust(32, b"\0") + bytes(32) +
            b"2024-05-01" + b"10:11:12" + struct.pack("<IIH", 0, 0, 1) + bytes(254) +
            b"A=PCM,F=48000,W=24,M=stereo,T=demo\r\n")
    declared = 48000 * 6
    write("interview_take2.wav",
          riff([chunk(b"bext", bext), fmt_chunk(2, 48000, 24), head(b"data", declared), samples],
               4 + 8 + len(bext) + 24 + 8 + declared))

    # RF64 as a recorder opens it: the 64-bit sizes in ds64 are still zero.
    samples = tone(96000, 1, 24, 2.5, 880)
    ds64 = struct.pack("<QQQI", 0, 0, 0, 0)
    write("concert_rf64.wav",
          riff([chunk(b"ds64", ds64), fmt_chunk(1, 96000, 24), head(b"data", 0xFFFFFFFF), samples], 0xFFFFFFFF,
               b"RF64"))

    # AIFF with no frame count and an empty sound data chunk declared, the
    # last frame cut.
    pcm = tone(44100, 2, 16, 2.0, 262)
    big = b"".join(pcm[i:i + 2][::-1] for i in range(0, len(pcm), 2))
    write("ambience.aif",
          form([comm_chunk(2, 0, 16, 44100), head(b"SSND", 8, ">"), struct.pack(">II", 0, 0), big[:-1]], 0))

    # A healthy take with the recordist's notes behind its samples.
    samples = tone(44100, 1, 16, 1.5, 523)
    info = b"INFO" + chunk(b"ICMT", b"Healthy take: tessmark leaves it as it is\0")
    write("healthy_with_notes.wav",
          riff([fmt_chunk(1, 44100, 16), chunk(b"data", samples), chunk(b"LIST", info)]))

    write("readme.txt", b"Demo recordings made by make_demo.py; every run makes them anew.\n")
    # Recorded yesterday: takes long quiet, whose partial last frames a
    # repair cuts (a take changed in the last seconds keeps it).
    yesterday = time.time() - 86400
    for name in os.listdir(folder):
        os.utime(os.path.join(folder, name), (yesterday, yesterday))
    return 0


if __name__ == "__main__":
    sys.exit(main())
