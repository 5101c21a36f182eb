#!/usr/bin/env python3
"""Builds the benchmark's recordings. Nothing here is committed: run.sh puts
everything under build/.

  gendata.py folder DIR COUNT   a card's worth of small takes, healthy and damaged
  gendata.py healthy PATH       one healthy 16-bit stereo WAV of one second
  gendata.py take PATH BYTES    one damaged take of BYTES bytes (sparse above 64 MiB)
  gendata.py damage PATH BYTES  puts the damage back after a repair
  gendata.py rebuild DIR BYTES  DIR/take.wav of BYTES bytes whose header is gone, DIR/sibling.wav

A damaged take is what a recorder leaves when its power fails: the header
declares 0 data bytes, every sample is in the file, and the last frame is cut.
"""
import math
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from chunks import chunk, comm_chunk, fmt_chunk, form, head, riff  # noqa: E402


def bext_chunk(rng):
    desc = b"field take".ljust(256, b"\0")
    originator = b"bench".ljust(32, b"\0")
    ref = b"".ljust(32, b"\0")
    date = b"2024-05-01"
    time = b"10:%02d:%02d" % (rng.randrange(60), rng.randrange(60))
    body = desc + originator + ref + date + time + struct.pack("<QH", rng.randrange(1 << 32), 1)
    body += b"\0" * 64 + b"\0" * 10 + b"\0" * 180  # UMID, loudness, reserved
    return chunk(b"bext", body)


def list_chunk():
    isft = chunk(b"ISFT", b"bench recorder 2.1\0")
    return chunk(b"LIST", b"INFO" + isft)


def ixml_chunk():
    return chunk(b"iXML", b"<?xml version=\"1.0\"?><BWFXML><SCENE>12</SCENE><TAKE>3</TAKE></BWFXML>")


def wav(samples, channels, rate, bits, rng, declared=None, bext=False, junk=False, trailer=b"", riff_size=None):
    """A RIFF WAVE file. declared overrides the data size; riff_size the RIFF size."""
    chunks = []
    if junk:
        chunks.append(chunk(b"JUNK", b"\0" * 28))
    if bext:
        chunks.append(bext_chunk(rng))
    chunks.append(fmt_chunk(channels, rate, bits))
    size = len(samples) if declared is None else declared
    data = head(b"data", size) + samples
    if declared is None and len(samples) % 2:
        data += b"\0"
    return riff(chunks + [data, trailer], riff_size)


def rf64(samples, channels, rate, bits, declared=None):
    fmt = fmt_chunk(channels, rate, bits)
    align = channels * bits // 8
    size = len(samples) if declared is None else declared
    total = 4 + 36 + len(fmt) + 8 + len(samples)
    ds64 = chunk(b"ds64", struct.pack("<QQQI", total if declared is None else 0, size, size // align, 0))
    return riff([ds64, fmt, head(b"data", 0xFFFFFFFF), samples], 0xFFFFFFFF, b"RF64")


def aiff(samples, channels, rate, bits, frames_declared=None, trailer=b""):
    align = channels * bits // 8
    frames = len(samples) // align if frames_declared is None else frames_declared
    comm = comm_chunk(channels, frames, bits, rate)
    ssnd_size = 8 + (len(samples) if frames_declared is None else frames_declared * align)
    ssnd = head(b"SSND", ssnd_size, ">") + struct.pack(">II", 0, 0) + samples
    if frames_declared is None and len(samples) % 2:
        ssnd += b"\0"
    return form([comm, ssnd, trailer], None if frames_declared is None else 4 + len(comm) + 16)


def make_folder(folder, count):
    rng = random.Random(9)
    os.makedirs(folder, exist_ok=True)
    # A card's mix: mostly healthy takes, a fifth cut short by a failed
    # recorder, some RF64 and a share of AIFF from the editing room.
    kinds = (
        [("wav", 0.40), ("bwf", 0.15), ("wav-trailer", 0.05), ("wav-notset", 0.12), ("wav-missing", 0.03),
         ("rf64", 0.04), ("rf64-notset", 0.02), ("aiff", 0.14), ("aiff-notset", 0.05)]
    )
    plan = []
    for kind, share in kinds:
        plan += [kind] * int(round(share * count))
    plan = (plan + ["wav"] * count)[:count]
    rng.shuffle(plan)
    noise = os.urandom(48000)
    manifest = []
    for i, kind in enumerate(plan):
        channels = rng.choice((1, 2, 2, 2))
        bits = rng.choice((16, 24, 24))
        rate = rng.choice((44100, 48000, 48000, 96000))
        align = channels * bits // 8
        frames = rng.randrange(512, 32768) // align
        if kind == "wav-trailer":
            frames |= 1  # odd frame counts of 24-bit mono need a pad byte
            channels, bits, align = 1, 24, 3
        start = rng.randrange(0, 8000)
        samples = noise[start:start + frames * align]
        ext = ".wav"
        if kind == "wav":
            data = wav(samples, channels, rate, bits, rng)
            ext = rng.choice((".wav", ".wav", ".WAV"))
        elif kind == "bwf":
            data = wav(samples, channels, rate, bits, rng, bext=True, junk=True,
                       trailer=ixml_chunk() if rng.random() < 0.5 else b"")
            ext = rng.choice((".wav", ".wav", ".bwf"))
        elif kind == "wav-trailer":
            data = wav(samples, channels, rate, bits, rng, trailer=list_chunk())
        elif kind == "wav-notset":
            bext = rng.random() < 0.6
            probe = wav(b"", channels, rate, bits, rng, bext=bext, junk=bext)
            data = wav(samples + noise[:rng.randrange(align)], channels, rate, bits, rng, declared=0, bext=bext,
                       junk=bext, riff_size=len(probe) - 8)
        elif kind == "wav-missing":
            written = (frames // 2) * align  # the header was last updated halfway
            data = wav(samples, channels, rate, bits, rng, declared=written, riff_size=36 + written)
        elif kind == "rf64":
            data = rf64(samples, channels, rate, bits)
        elif kind == "rf64-notset":
            data = rf64(samples, channels, rate, bits, declared=0)
        elif kind == "aiff":
            data = aiff(samples, channels, rate, bits,
                        trailer=chunk(b"ANNO", b"take notes", order=">") if rng.random() < 0.2 else b"")
            ext = rng.choice((".aif", ".aiff"))
        else:  # aiff-notset
            data = aiff(samples, channels, rate, bits, frames_declared=0)
            ext = ".aif"
        name = "%s%05d%s" % (rng.choice(("take_", "T", "REC_")), i + 1, ext)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        manifest.append("%s %s\n" % (name, kind))
    # Beside the folder, not in it: which take is which, to check verdicts by.
    with open(folder.rstrip("/") + ".kinds", "w") as f:
        f.writelines(manifest)


# The damaged take: RIFF with a JUNK reservation for a ds64 chunk, as
# broadcast recorders write it, 24-bit stereo at 48 kHz, data size 0.
TAKE_CHANNELS, TAKE_BITS, TAKE_RATE = 2, 24, 48000


def take_header():
    chunks = [chunk(b"JUNK", b"\0" * 28), fmt_chunk(TAKE_CHANNELS, TAKE_RATE, TAKE_BITS), head(b"data", 0)]
    return riff(chunks, len(b"".join(chunks)))


def damage(path, size):
    """Writes the damaged header again and gives the file back its cut bytes."""
    with open(path, "r+b") as f:
        f.write(take_header())
        f.truncate(size)
        os.fsync(f.fileno())  # the next repair must not pay for this write


def make_take(path, size):
    header = take_header()
    with open(path, "wb") as f:
        f.write(header)
        if size <= 64 << 20:
            left = size - len(header)
            block = os.urandom(1 << 20)
            while left > 0:
                f.write(block[:min(left, len(block))])
                left -= len(block)
        f.truncate(size)  # beyond 64 MiB a hole: sparse, no disk used
        os.fsync(f.fileno())


def make_healthy(path):
    rng = random.Random(1)
    with open(path, "wb") as f:
        f.write(wav(os.urandom(48000 * 4), 2, 48000, 16, rng))


def make_rebuild(folder, size):
    """A take of size bytes whose header is gone (its first 4 KiB zeroed),
    24-bit stereo sound throughout, and a short sibling with its header."""
    frames = (4 << 20) // 6
    block = bytearray(frames * 6)
    for n in range(frames):
        t = n / TAKE_RATE
        for c, f in enumerate((220.0, 330.0)):
            v = int(0.4 * 8388607 * math.sin(2 * math.pi * f * t + c))
            block[n * 6 + c * 3:n * 6 + c * 3 + 3] = (v & 0xFFFFFF).to_bytes(3, "little")
    header = take_header()
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "sibling.wav"), "wb") as f:
        chunks = [chunk(b"JUNK", b"\0" * 28), fmt_chunk(TAKE_CHANNELS, TAKE_RATE, TAKE_BITS),
                  head(b"data", len(block) // 8 // 6 * 6)]
        f.write(riff(chunks + [block[:len(block) // 8 // 6 * 6]]))
    with open(os.path.join(folder, "take.wav"), "wb") as f:
        f.write(header)
        left = size - len(header)
        while left > 0:
            f.write(block[:min(left, len(block))])
            left -= len(block)
        f.seek(0)
        f.write(bytes(4096))
        os.fsync(f.fileno())


def main(argv):
    if len(argv) == 3 and argv[1] == "healthy":
        make_healthy(argv[2])
    elif len(argv) == 4 and argv[1] == "folder":
        make_folder(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "take":
        make_take(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "rebuild":
        make_rebuild(argv[2], int(argv[3]))
    elif len(argv) == 4 and argv[1] == "damage":
        damage(argv[2], int(argv[3]))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
