#!/usr/bin/env python3
"""End-to-end test of the command-line scanner.

Makes real recordings with writers that are not ours (sox, Python's wave),
damages them the way an interrupted recorder leaves them, runs tessmark on
them and checks with readers that are not ours (sox, sndfile-info, Python's
wave and aifc) that every whole frame reads back sample-exact, that healthy
files (metadata behind the samples included) keep every byte, and that a
second scan changes nothing.

Usage: cli_e2e.py TESSMARK [--emulator WINE] [--smoke]
With an emulator the Windows build runs under it, on the same files (Z:);
the whole suite passes there too, --smoke keeps it to one short scan.
"""
import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import warnings
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import hostfs  # noqa: E402
from checks import check, checks, failures, settle, sha  # noqa: E402,F401

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import aifc
    except ImportError:  # gone from newer Pythons: sox still reads AIFF
        aifc = None

tools = {}


def tree_hashes(folder):
    out = {}
    for root, _dirs, files in os.walk(folder):
        for n in files:
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                out[os.path.relpath(p, folder)] = sha(p)
    return out


# ---------------------------------------------------------------- writers

def sox_make(path, rate, channels, bits, seconds, encoding="signed-integer", freq=440):
    subprocess.run(["sox", "-V1", "-n", "-r", str(rate), "-c", str(channels), "-b", str(bits), "-e", encoding,
                    path, "synth", str(seconds), "sine", str(freq), "vol", "0.5"], check=True)


def wave_make(path, rate, channels, width, frames, seed=1):
    data = bytes((i * 7919 + seed * 104729 + (i >> 3)) & 0xFF for i in range(frames * channels * width))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(data)


def sox_raw(path):
    """Samples as 32-bit integers, read by sox from the header it finds."""
    r = subprocess.run(["sox", "-V1", path, "-t", "raw", "-e", "signed-integer", "-b", "32", "-"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


def riff_chunks(data):
    pos = 12
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        yield cid, pos, size
        if cid == b"data":
            return
        pos += 8 + size + (size & 1)


def aiff_chunks(data):
    pos = 12
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack_from(">I", data, pos + 4)[0]
        yield cid, pos, size
        pos += 8 + size + (size & 1)


def wav_data_chunk(path):
    data = open(path, "rb").read()
    for cid, pos, size in riff_chunks(data):
        if cid == b"data":
            return pos, size
    raise RuntimeError("no data chunk in " + path)


def wav_fmt(path):
    data = open(path, "rb").read()
    for cid, pos, size in riff_chunks(data):
        if cid == b"fmt ":
            ch, rate, _bps, align = struct.unpack_from("<HIIH", data, pos + 10)
            return ch, rate, align
    raise RuntimeError("no fmt chunk in " + path)


def append_riff_chunk(path, cid, body):
    data = bytearray(open(path, "rb").read())
    pos, size = wav_data_chunk(path)
    assert pos + 8 + size == len(data), "samples must end the file before a trailer is added"
    if size & 1:
        data += b"\0"
    data += cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")
    struct.pack_into("<I", data, 4, len(data) - 8)
    open(path, "wb").write(bytes(data))


def append_aiff_chunk(path, cid, body):
    data = bytearray(open(path, "rb").read())
    data += cid + struct.pack(">I", len(body)) + body + (b"\0" if len(body) & 1 else b"")
    struct.pack_into(">I", data, 4, len(data) - 8)
    open(path, "wb").write(bytes(data))


def list_info(comment):
    text = comment.encode() + b"\0"
    sub = b"ICMT" + struct.pack("<I", len(text)) + text + (b"\0" if len(text) & 1 else b"")
    return b"INFO" + sub


def build_wav(path, head_chunks, fmt_body, samples, form=b"RIFF"):
    """A WAV file of our own layout (BWF, RF64, JUNK reservation), its
    samples taken from a sox recording."""
    body = b"WAVE"
    for cid, cbody in head_chunks:
        body += cid + struct.pack("<I", len(cbody)) + cbody + (b"\0" if len(cbody) & 1 else b"")
    body += b"fmt " + struct.pack("<I", len(fmt_body)) + fmt_body
    body += b"data" + struct.pack("<I", len(samples)) + samples
    riff = 0xFFFFFFFF if form == b"RF64" else len(body)
    open(path, "wb").write(form + struct.pack("<I", riff) + body)


# ---------------------------------------------------------------- damage

def damage_wav(path, data_size=0, riff_size=0, cut=0):
    """As a recorder leaves a take when it stops before its final header
    update: sizes as of its last update (0 when it never did one), and
    possibly a frame half written."""
    data = bytearray(open(path, "rb").read())
    pos, _ = wav_data_chunk(path)
    struct.pack_into("<I", data, 4, riff_size)
    struct.pack_into("<I", data, pos + 4, data_size)
    for cid, cpos, _size in riff_chunks(bytes(data)):
        if cid == b"ds64" and data[:4] == b"RF64":
            struct.pack_into("<QQQ", data, cpos + 8, 0, 0, 0)
        if cid == b"fact":
            struct.pack_into("<I", data, cpos + 8, 0)  # the frame count is never written either
    if cut:
        del data[len(data) - cut:]
    open(path, "wb").write(bytes(data))


def ffmpeg_make(path, channels, codec, seconds):
    """An AIFF-C file written by ffmpeg ('sowt' for pcm_s16le, 'fl32' for pcm_f32be)."""
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=330:d=%s:r=48000" % seconds,
                    "-ac", str(channels), "-c:a", codec, "-f", "aiff", path], check=True)


def aifc_make(path, rate, channels, width, frames):
    """An AIFF-C 'NONE' file written by Python's aifc module."""
    data = bytes((i * 31 + 7) & 0xFF for i in range(frames * channels * width))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        w = aifc.open(path, "wb")
        w.aifc()
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(data)
        w.close()


def damage_aiff(path, frames=0, cut=0, ssnd_size=None):
    data = bytearray(open(path, "rb").read())
    comm = ssnd = None
    for cid, pos, size in aiff_chunks(bytes(data)):
        if cid == b"COMM":
            comm = pos
        if cid == b"SSND":
            ssnd = pos
    channels, _f, bits = struct.unpack_from(">hIh", data, comm + 8)
    align = channels * ((bits + 7) // 8)
    struct.pack_into(">I", data, comm + 10, frames)
    struct.pack_into(">I", data, ssnd + 4, 8 + frames * align if ssnd_size is None else ssnd_size)
    struct.pack_into(">I", data, 4, 0 if frames == 0 else ssnd + 16 + frames * align - 8)
    if cut:
        del data[len(data) - cut:]
    open(path, "wb").write(bytes(data))


# ---------------------------------------------------------------- running

class Runner:
    def __init__(self, exe, emulator):
        self.exe = exe
        self.emulator = emulator
        self.sep = "\\" if emulator else "/"

    def path(self, p):
        return "Z:" + os.path.abspath(p).replace("/", "\\") if self.emulator else p

    def run(self, *args, timeout=300):
        cmd = ([self.emulator] if self.emulator else []) + [self.exe] + list(args)
        env = dict(os.environ)
        if self.emulator:
            env.setdefault("WINEDEBUG", "-all")
            env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, env=env)
        out = r.stdout.decode("latin-1").splitlines()
        err = r.stderr.decode("latin-1").splitlines()
        return r.returncode, out, err

    def scan(self, folder, *options, timeout=300, settled=True):
        if settled:
            settle(folder)
        return self.run(*options, self.path(folder), timeout=timeout)


def parse(out, folder_arg):
    """Checks the numbering and the first line; returns {name: [messages]}
    and the summary line."""
    per = {}
    check(len(out) >= 2, "scan printed its lines and a summary: %r" % out)
    if len(out) < 2:
        return per, ""
    check(out[0] == "#0001 Scanning " + folder_arg.rstrip("/\\"), "first line names the folder: %r" % out[0])
    for i, line in enumerate(out[1:-1], start=2):
        m = re.match(r"#(\d{4,}) (\S+) (.*)$", line)
        if not check(m is not None and int(m.group(1)) == i, "line %d numbered in order: %r" % (i, line)):
            continue
        per.setdefault(m.group(2), []).append(m.group(3))
    return per, out[-1]


def format_line_ok(msg, rate, channels):
    return re.fullmatch(r"\(%dHz / %d ch\) Length:\d\d+:\d\d:\d\d" % (rate, channels), msg) is not None


# ---------------------------------------------------------------- the suite

def make_takes(src):
    """The originals, each with how it is damaged and what must come back.
    Every entry: name -> dict(kind, damage, expect)."""
    takes = {}

    def add(name, container, damage, expect, ref=None):
        # ref: a file that sox reads with the same samples (sox reads no RF64).
        takes[name] = dict(container=container, damage=damage, expect=expect, ref=ref)

    p = os.path.join(src, "stereo16.wav")
    sox_make(p, 48000, 2, 16, 1.5)
    add("stereo16.wav", "wav", dict(data_size=0, riff_size=0), "not set")

    p = os.path.join(src, "mono24_cut.wav")
    sox_make(p, 96000, 1, 24, 0.7, freq=1000)
    add("mono24_cut.wav", "wav", dict(data_size=0, riff_size=0, cut=1), "not set")

    p = os.path.join(src, "stale.wav")
    wave_make(p, 44100, 1, 2, 30001)
    add("stale.wav", "wav", dict(data_size=2 * 10000, riff_size=36 + 2 * 10000, cut=1), "missing")

    p = os.path.join(src, "float.wav")
    sox_make(p, 48000, 2, 32, 0.5, encoding="floating-point")
    add("float.wav", "wav", dict(data_size=0, riff_size=0, cut=5), "not set")

    p = os.path.join(src, "placeholder8.wav")
    wave_make(p, 22050, 2, 1, 5001, seed=3)
    add("placeholder8.wav", "wav", dict(data_size=0xFFFFFFFF, riff_size=0xFFFFFFFF), "not set")

    # Broadcast Wave: a bext description before fmt, samples from sox.
    os.makedirs(os.path.join(src, "ref"))
    base = os.path.join(src, "ref", "base2x24.wav")
    sox_make(base, 48000, 2, 24, 0.8, freq=330)
    pos, size = wav_data_chunk(base)
    samples = open(base, "rb").read()[pos + 8:pos + 8 + size]
    fmt = struct.pack("<HHIIHH", 1, 2, 48000, 48000 * 6, 6, 24)
    bext = (b"Interview, take 4".ljust(256, b"\0") + b"tessmark test".ljust(32, b"\0") + b"ref".ljust(32, b"\0") +
            b"2024-05-01" + b"10:11:12" + struct.pack("<IIH", 1234, 0, 1) + bytes(64 + 190) +
            b"A=PCM,F=48000,W=24,M=stereo\r\n")
    build_wav(os.path.join(src, "bwf.wav"), [(b"bext", bext)], fmt, samples)
    add("bwf.wav", "wav", dict(data_size=0, riff_size=0, cut=4), "not set", ref=base)

    # RF64 as a recorder starts it: ds64 sizes still zero, data 0xFFFFFFFF.
    ds64 = struct.pack("<QQQI", 0, 0, 0, 0)
    build_wav(os.path.join(src, "rf64.wav"), [(b"ds64", ds64)], fmt, samples, form=b"RF64")
    add("rf64.wav", "wav", dict(data_size=0xFFFFFFFF, riff_size=0xFFFFFFFF, cut=2), "not set", ref=base)

    # RIFF with the JUNK reservation that broadcast recorders leave for ds64.
    build_wav(os.path.join(src, "junk.wav"), [(b"JUNK", bytes(28))], fmt, samples)
    add("junk.wav", "wav", dict(data_size=0, riff_size=0), "not set", ref=base)

    p = os.path.join(src, "take.aif")
    sox_make(p, 44100, 2, 16, 0.6, freq=550)
    add("take.aif", "aiff", dict(frames=0, cut=3), "not set")

    # AIFF-C from three independent writers, and an SSND size never written.
    sox_make(os.path.join(src, "sox.aifc"), 44100, 2, 16, 0.5, freq=660)
    add("sox.aifc", "aiff", dict(frames=0, cut=3), "not set")
    if tools.get("ffmpeg"):
        ffmpeg_make(os.path.join(src, "sowt.aifc"), 2, "pcm_s16le", 0.4)
        add("sowt.aifc", "aiff", dict(frames=0, cut=1), "not set")
        ffmpeg_make(os.path.join(src, "float.aifc"), 1, "pcm_f32be", 0.3)
        add("float.aifc", "aiff", dict(frames=0, cut=2), "not set")
    if aifc is not None:
        aifc_make(os.path.join(src, "python.aifc"), 22050, 1, 2, 3001)
        add("python.aifc", "aiff", dict(frames=0), "not set")
    sox_make(os.path.join(src, "ssnd0.aif"), 32000, 1, 16, 0.3, freq=880)
    add("ssnd0.aif", "aiff", dict(frames=0, ssnd_size=0), "not set")
    p = os.path.join(src, "meta_after.aifc")
    sox_make(p, 44100, 1, 16, 0.2)
    for cid, body in ((b"ID3 ", b"ID3\x03\x00" + bytes(25)), (b"COMT", bytes(2)), (b"MARK", bytes(2))):
        append_aiff_chunk(p, cid, body)
    add("meta_after.aifc", "aiff", None, "ok")

    p = os.path.join(src, "stale.aiff")
    sox_make(p, 48000, 1, 24, 0.4, freq=220)
    add("stale.aiff", "aiff", dict(frames=4000), "missing")

    # Healthy files, metadata behind the samples included: never touched.
    sox_make(os.path.join(src, "healthy.wav"), 44100, 2, 16, 0.3)
    add("healthy.wav", "wav", None, "ok")
    wave_make(os.path.join(src, "list_after.wav"), 48000, 2, 2, 4000)
    append_riff_chunk(os.path.join(src, "list_after.wav"), b"LIST", list_info("field notes: take 3"))
    add("list_after.wav", "wav", None, "ok")
    sox_make(os.path.join(src, "id3_after.wav"), 32000, 1, 16, 0.2)
    append_riff_chunk(os.path.join(src, "id3_after.wav"), b"id3 ", b"ID3\x03\x00" + bytes(26))
    add("id3_after.wav", "wav", None, "ok")
    wave_make(os.path.join(src, "odd8.wav"), 8000, 1, 1, 1001, seed=5)
    append_riff_chunk(os.path.join(src, "odd8.wav"), b"LIST", list_info("odd"))
    add("odd8.wav", "wav", None, "ok")
    sox_make(os.path.join(src, "anno_after.aif"), 22050, 1, 16, 0.25)
    append_aiff_chunk(os.path.join(src, "anno_after.aif"), b"ANNO", b"recorded in the field")
    add("anno_after.aif", "aiff", None, "ok")
    # A file cut short of what its header declares: reported OK, untouched.
    sox_make(os.path.join(src, "cut_short.wav"), 44100, 1, 16, 0.3)
    with open(os.path.join(src, "cut_short.wav"), "r+b") as f:
        f.truncate(os.path.getsize(os.path.join(src, "cut_short.wav")) - 1000)
    add("cut_short.wav", "wav", None, "ok")
    return takes


def place(src, dst, takes, names=None):
    os.makedirs(dst, exist_ok=True)
    for name, t in takes.items():
        if names is not None and name not in names:
            continue
        p = os.path.join(dst, name)
        shutil.copyfile(os.path.join(src, name), p)
        if t["damage"] is not None:
            (damage_wav if t["container"] == "wav" else damage_aiff)(p, **t["damage"])


def frame_info(path, container):
    if container == "wav":
        ch, rate, align = wav_fmt(path)
        pos, _ = wav_data_chunk(path)
        return ch, rate, align, pos + 8
    data = open(path, "rb").read()
    for cid, pos, size in aiff_chunks(data):
        if cid == b"COMM":
            ch, _f, bits = struct.unpack_from(">hIh", data, pos + 8)
            rate = int(round(aifc_rate(data[pos + 16:pos + 26])))
        if cid == b"SSND":
            offset = struct.unpack_from(">I", data, pos + 8)[0]
            return ch, rate, ch * ((bits + 7) // 8), pos + 16 + offset
    raise RuntimeError("no SSND in " + path)


def aiff_compression(path):
    data = open(path, "rb").read()
    for cid, pos, size in aiff_chunks(data):
        if cid == b"COMM":
            return data[pos + 26:pos + 30]
    return None


def aifc_rate(ext):
    exp = ((ext[0] & 0x7F) << 8) | ext[1]
    mant = int.from_bytes(ext[2:10], "big")
    return mant * 2.0 ** (exp - 16383 - 63)


def verify_repaired(name, t, src, folder, msgs, runner):
    orig = os.path.join(src, name)
    got = os.path.join(folder, name)
    ch, rate, align, offset = frame_info(orig, t["container"])
    present = os.path.getsize(os.path.join(folder + ".damaged", name)) - offset
    whole = present // align
    kind = "header not set : repair" if t["expect"] == "not set" else "header missing "
    check(len(msgs) == 2 and msgs[0].startswith(kind), "%s: %r" % (name, msgs))
    if t["expect"] == "missing" and len(msgs) == 2:
        declared = t["damage"].get("data_size", None)
        if t["container"] == "aiff":
            declared = t["damage"]["frames"] * align
        check(msgs[0] == "header missing %d bytes : repair" % (present - declared),
              "%s: missing count %r (present %d, declared %d)" % (name, msgs[0], present, declared))
    if len(msgs) == 2:
        check(format_line_ok(msgs[1], rate, ch), "%s: format line %r" % (name, msgs[1]))
    check(os.path.getsize(got) == offset + whole * align,
          "%s: cut after the last whole frame (%d, want %d)" % (name, os.path.getsize(got), offset + whole * align))

    ref = sox_raw(t["ref"] or orig)
    back = sox_raw(got)
    if check(ref is not None and back is not None, "%s: sox reads the repaired file" % name):
        check(len(back) == whole * ch * 4, "%s: sox reads %d frames, want %d" % (name, len(back) // (4 * ch), whole))
        check(back == ref[:len(back)], "%s: sox reads every whole frame sample-exact" % name)
    if tools.get("sndfile-info"):
        info = subprocess.run(["sndfile-info", got], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode("latin-1")
        m = re.search(r"Frames\s*:\s*(\d+)", info)
        check(m is not None and int(m.group(1)) == whole, "%s: sndfile-info frames %s, want %d" %
              (name, m.group(1) if m else None, whole))
    if t["container"] == "wav":
        data = open(got, "rb").read(offset)
        facts = [struct.unpack_from("<I", data, pos + 8)[0] for cid, pos, _s in riff_chunks(data) if cid == b"fact"]
        check(all(f == whole for f in facts), "%s: the fact chunk counts %r frames, want %d" % (name, facts, whole))
        if tools.get("ffprobe") and data[:4] == b"RIFF":
            r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=duration_ts",
                                "-of", "csv=p=0", got], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            check(r.stdout.decode().strip() == str(whole), "%s: ffprobe counts %r frames, want %d" %
                  (name, r.stdout.decode().strip(), whole))
    raw_orig = open(orig, "rb").read()[offset:offset + whole * align]
    if t["container"] == "wav" and name in ("stereo16.wav", "stale.wav", "placeholder8.wav"):
        with wave.open(got, "rb") as w:
            check(w.getnframes() == whole, "%s: wave frames %d, want %d" % (name, w.getnframes(), whole))
            check(w.readframes(w.getnframes()) == raw_orig, "%s: wave reads the samples exactly" % name)
    if t["container"] == "aiff" and tools.get("ffprobe"):
        r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=duration_ts",
                            "-of", "csv=p=0", got], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        check(r.stdout.decode().strip() == str(whole), "%s: ffprobe counts %r frames, want %d" %
              (name, r.stdout.decode().strip(), whole))
    compression = open(got, "rb").read(64)[8:12] == b"AIFC" and aiff_compression(got)
    if t["container"] == "aiff" and aifc is not None and compression in (False, b"NONE"):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            a = aifc.open(got, "rb")
            check(a.getnframes() == whole, "%s: aifc frames %d, want %d" % (name, a.getnframes(), whole))
            check(a.readframes(a.getnframes()) == raw_orig, "%s: aifc reads the samples exactly" % name)
            a.close()
    if name == "bwf.wav":
        check(open(got, "rb").read()[:offset - 8][20:37] == b"Interview, take 4", "bwf.wav: description kept")


def suite(runner, work):
    src = os.path.join(work, "src")
    os.makedirs(src)
    takes = make_takes(src)
    folder = os.path.join(work, "takes")
    place(src, folder, takes)
    for extra, content in (("notes.txt", b"not audio"), ("notes.wav", b"a text file named like a recording")):
        open(os.path.join(folder, extra), "wb").write(content)
    shutil.copytree(folder, folder + ".damaged")
    before = tree_hashes(folder)

    # --check first: it reports, exits 1 and changes nothing.
    rc, out, err = runner.scan(folder, "--check")
    per, summary = parse(out, runner.path(folder))
    check(rc == 1, "--check exits 1 when a file needs repair (rc %d, %r)" % (rc, err))
    check(tree_hashes(folder) == before, "--check changes no byte")
    for name, t in takes.items():
        msgs = per.get(name, [])
        if t["expect"] == "ok":
            check(msgs == ["HEADER OK !"], "--check %s: %r" % (name, msgs))
        else:
            check(len(msgs) == 1 and msgs[0].endswith(": needs repair (not repaired, --check)"),
                  "--check %s says it was not repaired: %r" % (name, msgs))
    check("not repaired" in summary, "--check summary says nothing was repaired: %r" % summary)

    # The scan repairs the damaged takes and leaves the healthy ones alone.
    rc, out, err = runner.scan(folder)
    per, summary = parse(out, runner.path(folder))
    # notes.wav is a text file: named on stderr, and the exit status says a
    # recording was left unexamined.
    check(rc == 3, "scan exits 3 with a recording left unexamined (rc %d, %r)" % (rc, err))
    check("tessmark: notes.wav: not examined: not a WAV or RF64 file: it begins with 'a te'" in err,
          "the unexamined file is named with what it is: %r" % err)
    check(set(per) == set(takes), "a line for every sound file and no other: %r" % sorted(per))
    damaged = [n for n, t in takes.items() if t["expect"] != "ok"]
    healthy = [n for n, t in takes.items() if t["expect"] == "ok"]
    want = "%d files examined: %d OK, %d repaired, 0 failed, 1 is no recording Tessmark reads" % (
        len(takes), len(healthy), len(damaged))
    check(summary == want, "summary %r, want %r" % (summary, want))
    after = tree_hashes(folder)
    for name in healthy:
        check(per.get(name) == ["HEADER OK !"], "%s: %r" % (name, per.get(name)))
        check(after[name] == before[name], "%s is byte-for-byte unchanged" % name)
    for extra in ("notes.txt", "notes.wav"):
        check(after[extra] == before[extra], "%s is unchanged" % extra)
    for name in damaged:
        try:
            verify_repaired(name, takes[name], src, folder, per.get(name, []), runner)
        except Exception as ex:  # a reader refusing the file is a failure, not a crash
            check(False, "%s: read back failed: %r" % (name, ex))

    # A second scan finds every file complete and changes nothing.
    rc, out, err = runner.scan(folder)
    per, summary = parse(out, runner.path(folder))
    check(rc == 3, "second scan exits 3 (notes.wav)")
    check(all(per.get(n) == ["HEADER OK !"] for n in takes), "second scan: every file HEADER OK !: %r" % per)
    check(tree_hashes(folder) == after, "second scan changes no byte")
    rc, out, err = runner.scan(folder, "--check")
    check(rc == 3, "--check on a repaired folder exits 3 for notes.wav alone (rc %d)" % rc)
    os.remove(os.path.join(folder, "notes.wav"))
    rc, out, err = runner.scan(folder, "--check")
    check(rc == 0 and not any("not examined" in l for l in err),
          "--check on a folder of complete recordings exits 0 (rc %d, %r)" % (rc, err))


def suite_recursive(runner, work):
    src = os.path.join(work, "rsrc")
    os.makedirs(src)
    sox_make(os.path.join(src, "t.wav"), 48000, 2, 16, 0.2)
    top = os.path.join(work, "day")
    deep = os.path.join(top, "take1", "inner")
    os.makedirs(deep)
    for d in (top, os.path.join(top, "take1"), deep):
        shutil.copyfile(os.path.join(src, "t.wav"), os.path.join(d, "t.wav"))
        damage_wav(os.path.join(d, "t.wav"))
    before = tree_hashes(top)
    rc, out, _ = runner.scan(top)
    per, _s = parse(out, runner.path(top))
    check(rc == 0 and list(per) == ["t.wav"], "without --recursive only the folder itself: %r" % per)
    inner = tree_hashes(top)
    check(all(inner[k] == before[k] for k in before if os.sep in k), "subfolders untouched without --recursive")
    rc, out, _ = runner.scan(top, "--recursive")
    per, summary = parse(out, runner.path(top))
    s = runner.sep
    want = {"t.wav": ["HEADER OK !"]}
    for rel in ("take1" + s + "t.wav", "take1" + s + "inner" + s + "t.wav"):
        want[rel] = per.get(rel, [])
        check(len(per.get(rel, [])) == 2 and per[rel][0] == "header not set : repair", "--recursive repairs %s: %r" % (rel, per))
    check(set(per) == set(want), "--recursive names files by their path below the folder: %r" % sorted(per))
    check(summary.startswith("3 files examined: 1 OK, 2 repaired"), "--recursive summary %r" % summary)


def suite_jobs(runner, work):
    """--jobs: the lines, their numbers, the summary, the JSON lines, the
    exit status and every byte of the repaired files are those of --jobs 1,
    on a folder of every kind of take, with more files than jobs."""
    src = os.path.join(work, "jsrc")
    os.makedirs(src)
    takes = make_takes(src)
    folder = os.path.join(work, "jobs")
    for sub in ("", "a", "b" + os.sep + "c"):
        place(src, os.path.join(folder, sub), takes)
        open(os.path.join(folder, sub, "notes.wav"), "wb").write(b"a text file named like a recording")
        open(os.path.join(folder, sub, "notes.txt"), "wb").write(b"not audio")
    if os.name == "posix" and not runner.emulator:
        os.symlink(os.path.join(src, sorted(takes)[0]), os.path.join(folder, "a", "linked.wav"))
    before = tree_hashes(folder)
    variants = (["--jobs", "1"], ["--jobs", "3"], ["--jobs", "64"], [])
    for mode in (["--check"], ["--check", "--json"], ["--recursive", "--check"], ["--recursive", "--json"],
                 ["--recursive", "--follow-links", "--json"]):
        results = []
        for jobs in variants:
            copy = folder if "--check" in mode else os.path.join(work, "jobs-copy")
            if copy != folder:
                shutil.rmtree(copy, ignore_errors=True)
                shutil.copytree(folder, copy, symlinks=True)
            rc, out, err = runner.scan(copy, *(mode + jobs))
            # The folder's own name is in the first line: the copies share one.
            results.append((rc, out, err, tree_hashes(copy)))
        first = results[0]
        check(len(first[1]) > len(takes), "%s: a line for each take: %r" % (mode, first[1][:3]))
        for jobs, got in zip(variants[1:], results[1:]):
            check(got[0] == first[0], "%s %s: exit %d, with --jobs 1 %d" % (mode, jobs, got[0], first[0]))
            check(got[1] == first[1], "%s %s: standard output as with --jobs 1" % (mode, jobs))
            check(got[2] == first[2], "%s %s: standard error as with --jobs 1: %r" % (mode, jobs, got[2][:5]))
            check(got[3] == first[3], "%s %s: every file as with --jobs 1" % (mode, jobs))
    check(tree_hashes(folder) == before, "--check --jobs changes no byte")

    # Journaled repairs in parallel undo as they do one by one.
    copy = os.path.join(work, "jobs-copy")
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(folder, copy, symlinks=True)
    journal = os.path.join(work, "jobs.journal")
    rc, out, err = runner.scan(copy, "--recursive", "--jobs", "5", "--journal", runner.path(journal))
    check(rc == 3 and any("repaired" in l for l in out[-1:]), "journaled --jobs 5 scan: rc %d, %r" % (rc, out[-1:]))
    rc, out, err = runner.run("--undo", runner.path(journal))
    check(rc == 0 and tree_hashes(copy) == before, "--undo puts back every file --jobs 5 repaired (rc %d, %r)" % (rc, out))

    for bad in ("0", "65", "two", "-3", ""):
        rc, out, err = runner.run("--jobs", bad, runner.path(folder))
        check(rc == 2 and out == [] and len(err) == 1 and "--jobs" in err[0], "--jobs %r: exit 2 (%d, %r)" % (bad, rc, err))
    rc, out, err = runner.run(runner.path(folder), "--jobs")
    check(rc == 2 and len(err) == 1, "--jobs without a number: exit 2 (%d, %r)" % (rc, err))
    rc, out, err = runner.run("--undo", runner.path(journal), "--jobs", "2")
    check(rc == 2 and len(err) == 1, "--undo takes no --jobs (%d, %r)" % (rc, err))


def suite_usage(runner, work):
    rc, out, err = runner.run()
    check(rc == 2 and out == [] and len(err) == 1, "no folder: exit 2, one stderr line (%d, %r, %r)" % (rc, out, err))
    rc, out, err = runner.run("--frobnicate", runner.path(work))
    check(rc == 2 and out == [] and len(err) == 1 and "--frobnicate" in err[0], "unknown option: exit 2 (%d, %r)" % (rc, err))
    rc, out, err = runner.run(runner.path(work), runner.path(work))
    check(rc == 2 and len(err) == 1, "two folders: exit 2 (%d, %r)" % (rc, err))
    rc, out, err = runner.scan(os.path.join(work, "no such folder"))
    check(rc == 2 and out == [] and len(err) == 1, "missing folder: exit 2, one stderr line (%d, %r, %r)" % (rc, out, err))
    f = os.path.join(work, "plain.wav")
    open(f, "wb").write(b"RIFF")
    rc, out, err = runner.scan(f)
    check(rc == 2 and len(err) == 1, "a file given as folder: exit 2 (%d, %r)" % (rc, err))
    rc, out, err = runner.run("--version")
    check(rc == 0 and out == ["tessmark 1.0.0.2"], "--version: %r" % out)
    rc, out, err = runner.run("--help")
    check(rc == 0 and out and out[0].startswith("Usage: tessmark") and any("--check" in l for l in out), "--help")
    check(any(l.strip().startswith("--follow-links") for l in out), "--help names --follow-links: %r" % out)
    empty = os.path.join(work, "empty")
    os.makedirs(empty)
    rc, out, err = runner.scan(empty)
    check(rc == 0 and out == ["#0001 Scanning " + runner.path(empty), "0 files examined: 0 OK, 0 repaired, 0 failed"],
          "empty folder: %r" % out)


def suite_posix_only(runner, work):
    """A FIFO named like a recording must not hang the scan, and Ctrl-C ends
    a scan only between files."""
    folder = os.path.join(work, "odd")
    os.makedirs(folder)
    os.mkfifo(os.path.join(folder, "take.wav"))
    sox_make(os.path.join(folder, "real.wav"), 8000, 1, 16, 0.1)
    try:
        rc, out, err = runner.scan(folder, timeout=60)
        check(rc == 3 and len(out) == 3 and out[1].endswith("real.wav HEADER OK !"), "FIFO not opened: %r" % out)
        check(err == ["tessmark: take.wav: not examined: not a regular file (a FIFO, device or socket)"],
              "FIFO named: %r" % err)
    except subprocess.TimeoutExpired:
        check(False, "a FIFO named take.wav hung the scan")

    many = os.path.join(work, "many")
    os.makedirs(many)
    sox_make(os.path.join(work, "one.wav"), 8000, 2, 16, 0.05)
    damage_wav(os.path.join(work, "one.wav"), cut=1)
    damaged = open(os.path.join(work, "one.wav"), "rb").read()
    count = 3000
    # One file in hand, and many: every one is finished.
    for jobs in (["--jobs", "1"], ["--jobs", "16"]):
        for i in range(count):
            open(os.path.join(many, "t%04d.wav" % i), "wb").write(damaged)
        settle(many)
        p = subprocess.Popen([runner.exe] + jobs + [many], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = [p.stdout.readline() for _ in range(41)]  # printed while the scan runs
        p.send_signal(signal.SIGINT)
        # Into a pipe the lines come in blocks: the rest of one may already sit
        # in p.stdout's buffer, which communicate() would pass by.
        rest = p.stdout.read()
        err = p.stderr.read()
        p.wait(timeout=120)
        lines = [l.decode("latin-1").rstrip("\n") for l in first] + rest.decode("latin-1").splitlines()
        repaired = 0
        whole_ok = True
        for i in range(count):
            data = open(os.path.join(many, "t%04d.wav" % i), "rb").read()
            if data != damaged:
                repaired += 1
                whole_ok &= struct.unpack_from("<I", data, 40)[0] == len(data) - 44
        check(whole_ok, "%s: after Ctrl-C every touched file is completely repaired" % jobs)
        if p.returncode == 0:
            print("note: the scan finished before the interrupt arrived")
            check(repaired == count, "finished scan repaired everything")
        else:
            print("note: Ctrl-C stopped the scan after %d of %d files" % (repaired, count))
            check(p.returncode == 130, "%s: Ctrl-C exits 130 (rc %d)" % (jobs, p.returncode))
            check(repaired < count, "Ctrl-C stopped the scan early")
            check(sum(1 for l in lines if l.endswith("Length:00:00:00")) == repaired,
                  "%s: every repaired file has its format line (%d repaired)" % (jobs, repaired))
            check(len(err.decode().splitlines()) == 1, "one stderr line on interrupt: %r" % err)


def suite_meta_behind_ssnd(runner, work):
    """COMM short of what SSND declares, metadata chunks behind SSND: the
    samples end with SSND, and the chunks behind keep every byte."""
    folder = os.path.join(work, "meta")
    os.makedirs(folder)
    ref = os.path.join(work, "meta-ref.aif")
    sox_make(ref, 44100, 2, 16, 0.5)
    tag = b"ID3 " + struct.pack(">I", 45) + b"ID3\x03\x00" + bytes(40) + b"\0"
    append_aiff_chunk(ref, b"ID3 ", b"ID3\x03\x00" + bytes(40))
    original = open(ref, "rb").read()
    check(original.endswith(tag), "the reference ends with its ID3 chunk")
    for name, frames in (("none.aif", 0), ("some.aif", 100)):
        p = os.path.join(folder, name)
        shutil.copyfile(ref, p)
        ssnd = [(pos, size) for cid, pos, size in aiff_chunks(original) if cid == b"SSND"][0]
        damage_aiff(p, frames=frames, ssnd_size=ssnd[1])
        rc, out, err = runner.scan(folder)
        per, _ = parse(out, runner.path(folder))
        check(per.get(name, [""])[0].endswith(": repair"), "%s: repaired: %r" % (name, per))
        after = open(p, "rb").read()
        check(len(after) == len(original) and after.endswith(tag), "%s: the ID3 chunk stays byte for byte" % name)
        check(sox_raw(p) == sox_raw(ref), "%s: sox reads every frame sample-exact" % name)
        rc, out, err = runner.scan(folder)
        per, _ = parse(out, runner.path(folder))
        check(per.get(name) == ["HEADER OK !"] and open(p, "rb").read() == after, "%s: a second scan changes nothing" % name)
        os.remove(p)


def suite_big(runner, work):
    """Plain RIFF takes past the 64-bit margin, sparse: repaired once, then
    left alone by every later scan, and read to their last frame."""
    folder = os.path.join(work, "big")
    os.makedirs(folder)
    last = bytes(range(1, 17))  # the last four frames
    for name, data_bytes in (("under4g.wav", 0xF0000000), ("over4g.wav", 4 * 2**30 + 2**29)):
        p = os.path.join(folder, name)
        with open(p, "wb") as f:
            f.write(b"RIFF" + struct.pack("<I", 0) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 48000, 192000, 4, 16))
            f.write(b"data" + struct.pack("<I", 0))
            f.seek(44 + data_bytes - len(last))
            f.write(last + b"\x55\x55")  # and half a frame behind
        rc, out, err = runner.scan(folder)
        per, _ = parse(out, runner.path(folder))
        check(per.get(name, [""])[0] == "header not set : repair", "%s: repaired: %r" % (name, per))
        check(os.path.getsize(p) == 44 + data_bytes, "%s: cut after the last whole frame" % name)
        beyond = [l for l in err if l.startswith("tessmark: %s: more than 4 GiB" % name)]
        check(len(beyond) == (1 if data_bytes > 0xFFFFFFFF else 0), "%s: a word on 4 GiB readers: %r" % (name, err))
        head = open(p, "rb").read(44)
        for again in range(3):
            rc, out, err = runner.scan(folder)
            per, _ = parse(out, runner.path(folder))
            check(rc == 0 and per.get(name) == ["HEADER OK !"], "%s: scan %d leaves it alone: %r" % (name, again + 2, per))
            check(open(p, "rb").read(44) == head and os.path.getsize(p) == 44 + data_bytes, "%s: no byte changes" % name)
        rc, out, err = runner.scan(folder, "--check")
        check(rc == 0, "%s: --check exits 0 (rc %d)" % (name, rc))
        if data_bytes <= 0xFFFFFFFF:
            frames = data_bytes // 4
            r = subprocess.run(["sox", "--i", "-s", p], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            check(r.stdout.decode().strip() == str(frames), "%s: sox counts %r frames" % (name, r.stdout))
            r = subprocess.run(["sox", p, "-t", "raw", "-", "trim", "%ds" % (frames - 4)], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
            check(r.stdout == last, "%s: sox reads the last frames: %r" % (name, r.stdout))
            if tools.get("sndfile-info"):
                info = subprocess.run(["sndfile-info", p], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
                check(re.search(rb"Frames\s*:\s*%d\b" % frames, info) is not None, "%s: sndfile-info frames" % name)
        os.remove(p)


def suite_held_take(runner, folder, take, before):
    """A take a recorder keeps open for writing: not examined, not changed."""
    with open(take, "ab") as recorder:  # open for writing, as a capture program keeps it
        rc, out, err = runner.scan(folder)
        check(rc == 3, "a take held open by a recorder exits 3 (rc %d, %r)" % (rc, err))
        check("#0002 take.wav ERR:Can't Access File" in out, "the held take is logged as not accessible: %r" % out)
        check("tessmark: take.wav: not examined: cannot open (in use by another program)" in err,
              "the held take is named in use: %r" % err)
        check(sha(take) == before, "the held take keeps every byte")
        recorder.write(bytes(400))
    rc, out, err = runner.scan(folder)
    check(rc == 0 and out[1] == "#0002 take.wav header not set : repair", "released, the take is repaired: %r" % out)


def suite_holding(runner, work):
    """Files the scan must not change: a take a recorder has open, a take
    outside the folder that a link in it leads to, and every take when
    Ctrl-C comes before the scan has started."""
    folder = os.path.join(work, "holding")
    os.makedirs(folder)
    take = os.path.join(folder, "take.wav")
    sox_make(take, 48000, 2, 16, 0.3)
    damage_wav(take)
    before = sha(take)
    if not hostfs.leases_granted(folder):
        print("note: %s grants no write lease: a take held open is not tried" % folder)
    else:
        suite_held_take(runner, folder, take, before)
    os.remove(take)

    outside = os.path.join(work, "elsewhere")
    os.makedirs(outside)
    target = os.path.join(outside, "kept.aiff")
    sox_make(target, 44100, 2, 16, 0.3)
    damage_aiff(target, cut=1)
    before = sha(target)
    os.symlink(target, os.path.join(folder, "take.aif"))
    rc, out, err = runner.scan(folder)
    check(rc == 3, "a link left unexamined exits 3 (rc %d, %r)" % (rc, err))
    check(err == ["tessmark: take.aif: not examined: a link, not followed"], "the link is named: %r" % err)
    check(sha(target) == before, "the file outside the folder is not changed")
    rc, out, err = runner.scan(folder, "--follow-links")
    check(rc == 0 and len(out) == 4 and out[1] == "#0002 take.aif header not set : repair",
          "--follow-links repairs the file the link leads to: %r %r" % (out, err))
    check(sha(target) != before, "--follow-links changed the file outside the folder")
    os.remove(os.path.join(folder, "take.aif"))

    for i in range(3):
        p = os.path.join(folder, "t%d.wav" % i)
        sox_make(p, 8000, 1, 16, 0.1)
        damage_wav(p)
    hashes = tree_hashes(folder)

    def interrupted_before_start():
        # Blocked, the Ctrl-C waits until the program catches it, just
        # before its scan starts.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
        os.kill(os.getpid(), signal.SIGINT)

    r = subprocess.run([runner.exe, folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                       preexec_fn=interrupted_before_start)
    out = r.stdout.decode("latin-1").splitlines()
    check(r.returncode == 130, "Ctrl-C before the scan exits 130 (rc %d, %r)" % (r.returncode, out))
    check(out[1:] == ["0 files examined: 0 OK, 0 repaired, 0 failed"], "nothing examined after Ctrl-C: %r" % out)
    check(tree_hashes(folder) == hashes, "Ctrl-C before the scan: no take changed")


def suite_smoke(runner, work):
    """One damaged and one healthy take: enough to show that the program
    lists, repairs and prints on this platform."""
    folder = os.path.join(work, "smoke")
    os.makedirs(folder)
    sox_make(os.path.join(folder, "damaged.wav"), 48000, 2, 16, 0.5)
    damage_wav(os.path.join(folder, "damaged.wav"), cut=3)
    wave_make(os.path.join(folder, "notes.wav"), 44100, 1, 2, 3000)
    append_riff_chunk(os.path.join(folder, "notes.wav"), b"LIST", list_info("keep me"))
    healthy = sha(os.path.join(folder, "notes.wav"))
    rc, out, err = runner.scan(folder)
    per, summary = parse(out, runner.path(folder))
    check(rc == 0, "smoke scan exits 0 (rc %d, %r)" % (rc, err))
    check(per.get("notes.wav") == ["HEADER OK !"], "smoke: healthy take OK: %r" % per)
    check(per.get("damaged.wav", [""])[0] == "header not set : repair", "smoke: damaged take repaired: %r" % per)
    check(summary == "2 files examined: 1 OK, 1 repaired, 0 failed", "smoke summary %r" % summary)
    check(sha(os.path.join(folder, "notes.wav")) == healthy, "smoke: healthy take unchanged")
    back = sox_raw(os.path.join(folder, "damaged.wav"))
    check(back is not None and len(back) == 23999 * 2 * 4, "smoke: sox reads every whole frame")
    rc, out, err = runner.run("--version")
    check(rc == 0 and out == ["tessmark 1.0.0.2"], "--version: %r" % out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tessmark")
    ap.add_argument("--emulator", default="")
    ap.add_argument("--smoke", action="store_true", help="one short scan only")
    args = ap.parse_args()
    for tool in ("sox", "sndfile-info", "ffprobe", "ffmpeg"):
        tools[tool] = shutil.which(tool) is not None
    if not tools["sox"]:
        print("SKIPPED: sox is missing (scripts/install-deps.sh installs it); nothing can be written or read back")
        return 0
    if not tools["sndfile-info"]:
        print("note: sndfile-info is missing: its checks are skipped")
    if aifc is None:
        print("note: this Python has no aifc module: AIFF is read back by sox only")
    if args.emulator and not shutil.which(args.emulator) and not os.path.exists(args.emulator):
        print("SKIPPED: the emulator %s is missing" % args.emulator)
        return 0
    runner = Runner(os.path.abspath(args.tessmark), args.emulator)
    work = tempfile.mkdtemp(prefix="tessmark-e2e-")
    try:
        start = time.time()
        if args.smoke:
            suite_smoke(runner, work)
        else:
            suite_usage(runner, work)
            suite(runner, work)
            suite_recursive(runner, work)
            suite_jobs(runner, work)
            suite_big(runner, work)
            suite_meta_behind_ssnd(runner, work)
            if not runner.emulator and os.name == "posix":
                suite_posix_only(runner, work)
                suite_holding(runner, work)
        print("ran in %.1f s" % (time.time() - start))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d of %d checks failed" % (len(failures), checks[0]))
        return 1
    print("all %d checks passed" % checks[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
