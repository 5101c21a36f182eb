#!/usr/bin/env python3
"""Where the samples end, and what a file is, end to end.

One folder of takes written by sox and ffmpeg (placeholders from writing to
a pipe, compressed encodings, Wave64 from both, BW64 made from ffmpeg's
RF64) and by hand (metadata of every id behind the
samples, odd sizes, pad bytes present and missing, audio holding chunk-like
bytes, headers the readers refuse), damaged as an interrupted recorder
leaves them. One scan with --json; each file's report, its note on standard
error and its bytes afterwards are checked against a table, and every
repaired or healthy take is read back by sox, sndfile-info, ffprobe and
Python's wave and aifc: every whole frame sample-exact, the metadata byte
for byte.

Usage: cli_verdicts.py TESSMARK
"""
import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
from checks import check, checks, failures, settle, sha  # noqa: E402,F401

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import aifc
    except ImportError:
        aifc = None

RIFF_TRAILER_IDS = [b"LIST", b"id3 ", b"ID3 ", b"iXML", b"cue ", b"bext", b"smpl", b"inst", b"acid", b"cart",
                    b"_PMX", b"levl", b"axml", b"umid", b"PAD ", b"JUNK", b"PEAK", b"DISP", b"fact", b"plst"]
AIFF_TRAILER_IDS = [b"COMT", b"MARK", b"ID3 ", b"NAME", b"AUTH", b"ANNO", b"(c) ", b"APPL", b"INST", b"MIDI",
                    b"AESD", b"FVER", b"CHAN", b"basc"]


def have(tool):
    return shutil.which(tool) is not None


def sox_take(fmt, rate, channels, bits, seconds, encoding="signed-integer", freq=440):
    fd, path = tempfile.mkstemp(suffix="." + fmt)
    os.close(fd)
    subprocess.run(["sox", "-V1", "-n", "-r", str(rate), "-c", str(channels), "-b", str(bits), "-e", encoding, path,
                    "synth", str(seconds), "sine", str(freq), "vol", "0.5"], check=True)
    data = open(path, "rb").read()
    os.remove(path)
    return data


def ffmpeg_take(codec, rate=8000, seconds=0.3, channels=1):
    """A finished take (into a file: to a pipe ffmpeg leaves sizes unset)."""
    fd, path = tempfile.mkstemp(suffix=".wav")
    os.close(fd)
    p = subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=%s:r=%d" % (seconds, rate),
                        "-ac", str(channels), "-c:a", codec, path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    data = open(path, "rb").read() if p.returncode == 0 else None
    os.remove(path)
    return data


def riff_layout(data):
    """(offset of the data chunk's header, its declared size)."""
    pos = 12
    if data[:4] == b"RF64":
        pos = 20 + struct.unpack_from("<I", data, 16)[0]
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if cid == b"data":
            return pos, size
        pos += 8 + size + (size & 1)
    raise RuntimeError("no data chunk")


def aiff_layout(data):
    """(COMM body offset, SSND header offset)."""
    pos, comm = 12, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from(">I", data, pos + 4)[0]
        if cid == b"COMM":
            comm = pos + 8
        if cid == b"SSND":
            return comm, pos
        pos += 8 + size + (size & 1)
    raise RuntimeError("no SSND chunk")


def wav_samples(data):
    pos, size = riff_layout(data)
    return data[:pos + 8], data[pos + 8:pos + 8 + size]


def unfinished_wav(head, samples, declared=0, riff=0):
    """A WAV take as a recorder leaves it: header sizes as of its last update."""
    data = bytearray(head + samples)
    pos, _ = riff_layout(bytes(data))
    struct.pack_into("<I", data, 4, riff)
    struct.pack_into("<I", data, pos + 4, declared)
    return bytes(data)


def riff_body(cid, n):
    """A body other readers take as what the id says, n bytes long where its
    kind allows (text), so that odd sizes occur."""
    text = (b"take 7, field notes" * 4)[:n]
    fixed = {b"LIST": b"INFO" + chunks.chunk(b"ICMT", text), b"id3 ": b"ID3\x03\0" + bytes(27),
             b"ID3 ": b"ID3\x03\0" + bytes(27), b"iXML": b"<BWFXML>" + text + b"</BWFXML>",
             b"cue ": struct.pack("<I", 0), b"bext": b"Interview".ljust(602, b"\0"), b"smpl": bytes(36),
             b"inst": bytes(7), b"acid": bytes(24), b"levl": bytes(128), b"umid": bytes(64),
             b"PEAK": struct.pack("<II", 1, 0) + struct.pack("<fI", 0.5, 10) * 2, b"DISP": struct.pack("<I", 1) + text,
             b"fact": struct.pack("<I", 0), b"plst": struct.pack("<I", 0)}
    return fixed.get(cid, text)


def aiff_body(cid, n):
    text = (b"take 7, field notes" * 4)[:n]
    fixed = {b"COMT": struct.pack(">HIhH", 1, 0, 0, len(text)) + text,
             b"MARK": struct.pack(">HhI", 1, 1, 0) + bytes([len(text)]) + text,
             b"ID3 ": b"ID3\x03\0" + bytes(27), b"APPL": b"pdos" + text, b"INST": bytes(20), b"MIDI": bytes(8),
             b"AESD": bytes(24), b"FVER": struct.pack(">I", 0xA2805140), b"CHAN": bytes(12), b"basc": bytes(54)}
    return fixed.get(cid, text)


def chunk(cid, body, order="<", pad=True):
    return chunks.chunk(cid, body, order, pad)


def body_of(n, seed):
    return bytes(((i * 37 + seed * 11) % 251) for i in range(n))


# ---------------------------------------------------------------- the table

NO_FRAMES = -1  # --json frames_after must be null

class Case:
    def __init__(self, name, data, action, note=None, reason=None, encoding=None, frames=None, samples=None,
                 trailer=b"", missing=None, declared_after=None, container=None):
        self.name, self.data, self.action = name, data, action
        self.note = note            # the words on standard error after "tessmark: NAME: "; None: none
        self.reason = reason        # --json reason (defaults to the note's reason for a file not examined)
        self.encoding = encoding    # --json encoding
        self.frames = frames        # --json frames_after
        self.samples = samples      # the sample bytes every reader must give back (repaired or healthy)
        self.trailer = trailer      # bytes that must end the file afterwards
        self.missing = missing      # --json missing_bytes
        self.declared_after = declared_after
        self.container = container  # --json container, where the case says


def wav_cases(cases):
    head, s16 = wav_samples(sox_take("wav", 48000, 2, 16, 0.25))
    # Metadata of every id written behind the samples before the recorder
    # stopped: the header declares nothing, odd bodies with and without
    # their pad byte.
    for i, cid in enumerate(RIFF_TRAILER_IDS):
        tail = chunk(cid, riff_body(cid, 20 + i), pad=(i % 3 != 0))
        if i % 2:
            tail += chunk(b"LIST", b"INFO" + chunk(b"ICMT", b"take %d" % i))
        cases.append(Case("trail_%02d.wav" % i, unfinished_wav(head, s16) + tail, "repaired",
                          reason="header not set", samples=s16, trailer=tail, frames=len(s16) // 4))
        if i < 4:
            # The same take, finished: untouched.
            finished = bytearray(head + s16 + tail)
            struct.pack_into("<I", finished, 4, len(finished) - 8)
            cases.append(Case("done_%02d.wav" % i, bytes(finished), "ok", reason="metadata behind the samples",
                              samples=s16, trailer=tail))
    # A header that declares a part, metadata behind the rest.
    tail = chunk(b"iXML", b"<BWFXML><NOTE>take 9</NOTE></BWFXML>")
    cases.append(Case("stale_ixml.wav", unfinished_wav(head, s16, declared=4000, riff=4036) + tail, "repaired",
                      reason="header missing %d bytes" % (len(s16) - 4000), samples=s16, trailer=tail))
    # Odd sample bytes, their pad byte, then metadata: 8-bit mono, 24-bit mono.
    for bits, frames in ((8, 1001), (24, 1001)):
        encoding = "unsigned-integer" if bits == 8 else "signed-integer"
        h, s = wav_samples(sox_take("wav", 8000, 1, bits, frames / 8000.0, encoding=encoding))
        check(len(s) == frames * bits // 8, "sox made %d frames of %d bits (%d bytes)" % (frames, bits, len(s)))
        tail = b"\0" + chunk(b"LIST", b"INFO" + chunk(b"ISFT", b"odd"))
        cases.append(Case("odd%d.wav" % bits, unfinished_wav(h, s) + tail, "repaired", samples=s, trailer=tail))
    # Healthy: a LIST and a tag stub without its size behind the samples.
    stub = bytearray(head + s16 + chunk(b"LIST", b"INFO" + chunk(b"INAM", b"x")) + b"id3 ")
    struct.pack_into("<I", stub, 4, len(stub) - 8)
    cases.append(Case("stub.wav", bytes(stub), "ok", samples=s16, trailer=bytes(stub[len(head) + len(s16):])))
    # Audio that holds chunk-like bytes: an id at a frame boundary whose size
    # does not reach the end, and one whose size does but off the frames.
    fake = bytearray(s16)
    fake[400:408] = b"LIST" + struct.pack("<I", 40)
    cases.append(Case("fake_list.wav", unfinished_wav(head, bytes(fake)), "repaired", samples=bytes(fake)))
    fake = bytearray(s16)
    at = len(fake) - 102  # 2 bytes off a frame boundary
    fake[at:at + 8] = b"LIST" + struct.pack("<I", len(fake) - at - 8)
    cases.append(Case("fake_off.wav", unfinished_wav(head, bytes(fake)), "repaired", samples=bytes(fake)))
    # Placeholders sox writes to a pipe, and others'.
    raw = body_of(48000 * 6 // 10, 5)
    for bits, channels in ((16, 2), (24, 2), (24, 1)):
        # Written to a pipe, sox cannot seek back: its placeholder sizes stay.
        p = subprocess.run(["sox", "-V1", "-t", "raw", "-r", "48000", "-c", str(channels), "-b", str(bits), "-e",
                            "signed", "-", "-t", "wav", "-"], input=raw, stdout=subprocess.PIPE, check=True)
        data = p.stdout
        h, s = data[:riff_layout(data)[0] + 8], data[riff_layout(data)[0] + 8:]
        check(riff_layout(data)[1] >= 0x7FFFEFF0, "sox wrote a placeholder (%x)" % riff_layout(data)[1])
        cases.append(Case("pipe%d_%d.wav" % (bits, channels), data, "repaired",
                          reason="header not set (a placeholder size)", samples=s[:len(s) // (channels * bits // 8) *
                                                                              (channels * bits // 8)]))
    p = subprocess.run(["sox", "-V1", "-t", "raw", "-r", "48000", "-c", "2", "-b", "32", "-e", "float", "-", "-t",
                        "wav", "-"], input=struct.pack("<f", 0.25) * 4000, stdout=subprocess.PIPE, check=True)
    cases.append(Case("pipe_float.wav", p.stdout, "repaired", reason="header not set (a placeholder size)",
                      samples=struct.pack("<f", 0.25) * 4000))
    for value in (0x7FFFFFFF, 0xFFFFFFFF):
        cases.append(Case("max%x.wav" % value, unfinished_wav(head, s16, declared=value, riff=value), "repaired",
                          samples=s16))
    # A recording cut short: named, left alone.
    short = bytearray(head + s16[:-1000])
    cases.append(Case("cut_short.wav", bytes(short), "ok", note="cut short: 1000 declared bytes are missing",
                      reason="cut short: 1000 declared bytes are missing", missing=1000))


def compressed_cases(cases):
    named = [("adpcm_ima_wav", "ima-adpcm", "IMA ADPCM"), ("adpcm_ms", "ms-adpcm", "MS ADPCM"),
             ("libgsm_ms", "gsm610", "GSM 6.10"), ("libmp3lame", "mpeg", "MP3")]
    for codec, encoding, words in named:
        data = ffmpeg_take(codec)
        if data is None:
            print("note: ffmpeg cannot encode %s here; its cases are left out" % codec)
            continue
        note = "not examined: compressed (%s): not repaired" % words
        frames = struct.unpack_from("<I", data, data.index(b"fact") + 8)[0]
        cases.append(Case("c_%s.wav" % encoding, data, "not-examined", note=note, encoding=encoding, frames=frames))
        tagged = bytearray(data + chunk(b"LIST", b"INFO" + chunk(b"ICMT", b"tagged")) + chunk(b"id3 ", body_of(31, 2)))
        struct.pack_into("<I", tagged, 4, len(tagged) - 8)
        cases.append(Case("c_%s_tags.wav" % encoding, bytes(tagged), "not-examined", note=note, encoding=encoding,
                          frames=frames))
        pos, _ = riff_layout(data)
        damaged = bytearray(data)
        struct.pack_into("<I", damaged, pos + 4, 0)
        # The header was never finished: its fact count says nothing.
        cases.append(Case("c_%s_unset.wav" % encoding, bytes(damaged), "not-examined", note=note, encoding=encoding,
                          frames=NO_FRAMES))
        check(frames > 0, "%s: ffmpeg counts frames in fact" % codec)
    for codec, encoding in (("pcm_alaw", "alaw"), ("pcm_mulaw", "mulaw")):
        data = ffmpeg_take(codec)
        h, s = wav_samples(data)
        cases.append(Case("g711_%s.wav" % encoding, unfinished_wav(h, s + b"\x55"), "repaired", encoding=encoding,
                          samples=s + b"\x55"))


def aiff_cases(cases):
    data = sox_take("aiff", 44100, 2, 16, 0.2)
    comm, ssnd = aiff_layout(data)
    head, samples = data[:ssnd + 16], data[ssnd + 16:]
    for i, cid in enumerate(AIFF_TRAILER_IDS):
        tail = chunk(cid, aiff_body(cid, 9 + i), ">", pad=(i % 3 != 0))
        # As ffmpeg starts a take: FORM, COMM count and SSND size all 0.
        unfinished = bytearray(head + samples + tail)
        struct.pack_into(">I", unfinished, 4, 0)
        struct.pack_into(">I", unfinished, comm + 2, 0)
        struct.pack_into(">I", unfinished, ssnd + 4, 0)
        cases.append(Case("trail_%02d.aif" % i, bytes(unfinished), "repaired", samples=samples, trailer=tail,
                          reason="header not set"))
    raw = body_of(44100 * 6 // 10, 7)
    for bits in (16, 24):
        p = subprocess.run(["sox", "-V1", "-t", "raw", "-r", "44100", "-c", "2", "-b", str(bits), "-e", "signed", "-",
                            "-t", "aiff", "-"], input=raw, stdout=subprocess.PIPE, check=True)
        c, s = aiff_layout(p.stdout)
        align = 2 * bits // 8
        body = p.stdout[s + 16:]
        cases.append(Case("pipe%d.aif" % bits, p.stdout, "repaired", reason="header not set (a placeholder size)",
                          samples=body[:len(body) // align * align]))


def w64_parts(data):
    """(everything before the first sample, the samples) of a Wave64 take."""
    _fmt, pos = chunks.w64_layout(data)
    size = struct.unpack_from("<Q", data, pos + 16)[0]
    return data[:pos + 24], data[pos + 24:pos + size]


def unfinished_w64(head, samples, data_size=24, riff=0):
    """A Wave64 take as a writer leaves it that wrote its header at the
    start and never came back: sox's riff 0 and data 24 (nothing written
    yet), ffmpeg's placeholders."""
    out = bytearray(head + samples)
    _fmt, pos = chunks.w64_layout(bytes(out))
    struct.pack_into("<Q", out, 16, riff)
    struct.pack_into("<Q", out, pos + 16, data_size)
    return bytes(out)


def block_align(data):
    """The frame size a Wave64 take's fmt chunk states."""
    fmt, _data = chunks.w64_layout(data)
    return struct.unpack_from("<H", data, fmt + 24 + 12)[0]


def ffmpeg_to(fmt, codec, channels, seconds, *options):
    fd, path = tempfile.mkstemp(suffix="." + fmt)
    os.close(fd)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=330:d=%s:r=48000" % seconds,
                    "-ac", str(channels), "-c:a", codec] + list(options) + ["-f", fmt, path], check=True)
    data = open(path, "rb").read()
    os.remove(path)
    return data


def bw64_take(samples_from, chna, axml=b"", unset=False, extra=b""):
    """A BW64 take: ffmpeg's RF64 layout under the id BW64, chna before fmt;
    unset: as a writer leaves it before its first size update."""
    pos, size = riff_layout(samples_from)
    fmt = samples_from[samples_from.index(b"fmt "):pos]
    samples = samples_from[pos + 8:pos + 8 + struct.unpack_from("<Q", samples_from, 28)[0]]
    ds64 = struct.pack("<QQQI", 0, 0 if unset else len(samples), 0xDEADBEEF, 0)
    body = b"WAVE" + chunks.chunk(b"ds64", ds64) + chunks.chunk(b"chna", chna) + fmt + \
        chunks.head(b"data", 0xFFFFFFFF) + samples + extra + axml
    out = bytearray(b"BW64" + struct.pack("<I", 0xFFFFFFFF) + body)
    if not unset:
        struct.pack_into("<Q", out, 20, len(out) - 8)
    return bytes(out), samples


def container_cases(cases):
    """Wave64 from sox and ffmpeg, BW64 from ffmpeg's RF64: healthy, as an
    interrupted writer leaves them, a partial frame, metadata behind."""
    listed = chunks.w64_chunk(b"list", b"INFO" + chunk(b"ICMT", b"take 5, the long one"))
    for name, data in (("sox16.w64", sox_take("w64", 48000, 2, 16, 0.3)),
                       ("sox24.w64", sox_take("w64", 96000, 1, 24, 0.2)),
                       ("ffmpeg_float.w64", ffmpeg_to("w64", "pcm_f32le", 2, 0.2)),
                       ("ffmpeg_six.w64", ffmpeg_to("w64", "pcm_s16le", 6, 0.2))):
        head, samples = w64_parts(data)
        stem = name[:-4]
        cases.append(Case(name, data, "ok", samples=samples, container="w64"))
        cases.append(Case(stem + "_unset.w64", unfinished_w64(head, samples), "repaired", reason="header not set",
                          samples=samples, container="w64"))
        cases.append(Case(stem + "_cut.w64", unfinished_w64(head, samples + b"\x01"), "repaired",
                          reason="header not set", samples=samples, container="w64"))
        tail = bytes(-len(samples) % 8) + listed
        done = bytearray(data + tail[:-len(listed)] + listed)
        struct.pack_into("<Q", done, 16, len(done))
        frames = len(samples) // block_align(data)
        cases.append(Case(stem + "_list.w64", bytes(done), "ok", reason="metadata behind the samples",
                          samples=samples, trailer=listed, container="w64", frames=frames))
        cases.append(Case(stem + "_unset_list.w64", unfinished_w64(head, samples) + tail, "repaired",
                          reason="header not set", samples=samples, trailer=listed, container="w64", frames=frames))
    # To a pipe ffmpeg never comes back to its placeholders.
    pipe = subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=330:d=0.2:r=48000", "-ac", "2",
                           "-c:a", "pcm_s24le", "-f", "w64", "pipe:1"], stdout=subprocess.PIPE, check=True).stdout
    _fmt, pos = chunks.w64_layout(pipe)
    cases.append(Case("ffmpeg_pipe.w64", pipe, "repaired", reason="header not set (a placeholder size)",
                      samples=pipe[pos + 24:], container="w64"))
    rf64 = ffmpeg_to("wav", "pcm_s24le", 2, 0.2, "-rf64", "always")
    chna = struct.pack("<HH", 2, 2) + (b"ATU_00000001" + b"AT_00010001_01" + bytes(19)) * 2
    axml = chunk(b"axml", b"<ebuCoreMain><coreMetadata/></ebuCoreMain>")
    data, samples = bw64_take(rf64, chna, axml)
    cases.append(Case("healthy.bw64", data, "ok", reason="metadata behind the samples", samples=samples,
                      trailer=axml, container="bw64"))
    data, samples = bw64_take(rf64, chna, unset=True, extra=b"\x01\x02")
    cases.append(Case("take.bw64", data, "repaired", reason="header not set", samples=samples, container="bw64"))
    data, samples = bw64_take(rf64, chna, axml, unset=True)
    cases.append(Case("axml.bw64", data, "repaired", reason="header not set", samples=samples, trailer=axml,
                      container="bw64"))


def refusal_cases(cases, folder):
    """What a file is when it is no recording read here."""
    fmt = chunks.fmt_chunk(2, 48000, 16)
    rows = [
        ("empty.wav", b"", "empty (0 bytes)"),
        ("notes.wav", b"a text file named like a recording", "not a WAV or RF64 file: it begins with 'a te'"),
        ("aiff_named.wav", chunks.form([chunks.comm_chunk(1, 0, 16, 8000)]),
         "not a WAV or RF64 file: it begins with 'FORM'"),
        ("tiny.wav", b"RIFF\0", "only 5 bytes ('RIFF'): too short for a WAV or RF64 header"),
        ("movie.wav", b"RIFF" + struct.pack("<I", 4) + b"AVI ", "not a WAV file: a RIFF form of type 'AVI '"),
        ("nofmt.wav", chunks.riff([chunks.head(b"data", 4) + bytes(4)]), "no fmt chunk before the samples at offset 20"),
        ("shortfmt.wav", chunks.riff([chunks.chunk(b"fmt ", bytes(14)), chunks.head(b"data", 0)]),
         "fmt chunk of 14 bytes, too short (16 needed)"),
        ("nochannels.wav", chunks.riff([chunks.chunk(b"fmt ", struct.pack("<HHIIHH", 1, 0, 8000, 0, 0, 16))]),
         "a channel count of 0"),
        ("zeros.wav", chunks.riff([fmt]) + bytes(4096), "no data chunk; zeros from offset 36"),
        ("torn.wav", chunks.riff([fmt, chunks.head(b"LIST", 5000) + bytes(40)]),
         "no data chunk; chunk 'LIST' at offset 36 runs past the end of the file"),
        ("nossnd.aif", chunks.form([chunks.comm_chunk(1, 0, 16, 8000)]),
         "no SSND chunk; the chunks end at the end of the file (offset 38)"),
        ("shortcomm.aif", chunks.form([chunks.chunk(b"COMM", bytes(16), ">")]), "COMM chunk of 16 bytes, too short"),
        ("nochannels.aif", chunks.form([chunks.comm_chunk(0, 0, 16, 8000)]), "a channel count of 0"),
        ("notes.w64", b"a text file named like a recording", "not a Wave64 file: it begins with 'a te'"),
        ("tiny.w64", chunks.WAVE64_RIFF + bytes(4), "only 20 bytes ('riff'): too short for a Wave64 header"),
        ("zeros.w64", chunks.WAVE64_RIFF + struct.pack("<Q", 0) + chunks.w64_guid(b"wave") +
         chunks.w64_chunk(b"fmt ", fmt[8:]) + bytes(256), "no data chunk; zeros from offset 80"),
        ("undersized.w64", chunks.WAVE64_RIFF + struct.pack("<Q", 0) + chunks.w64_guid(b"wave") +
         chunks.w64_chunk(b"junk", bytes(16), size=8), "chunk 'junk' at offset 40 declares a size below its own header"),
        ("nods64.bw64", chunks.riff([fmt, chunks.head(b"data", 0)], form=b"BW64"), "a BW64 file without its ds64 chunk"),
        ("aiff_named.rf64", chunks.form([chunks.comm_chunk(1, 0, 16, 8000)]), "not an RF64 file: it begins with 'FORM'"),
    ]
    for name, data, words in rows:
        cases.append(Case(name, data, "not-examined", note="not examined: " + words))
    comm = struct.pack(">hIh", 1, 0, 16) + chunks.extended80(8000) + b"ima4" + b"\0\0"
    ima4 = b"FORM" + struct.pack(">I", 4 + 8 + len(comm) + 16 + 64) + b"AIFC" + chunks.chunk(b"COMM", comm, ">") + \
        chunks.head(b"SSND", 8 + 64, ">") + bytes(8) + body_of(64, 3)
    cases.append(Case("ima4.aifc", ima4, "not-examined",
                      note="not examined: compressed (IMA ADPCM, AIFF-C 'ima4'): not repaired", encoding="ima-adpcm"))
    # 16 MiB of zeros behind fmt: refused at once (sparse where it can be).
    path = os.path.join(folder, "huge_zeros.wav")
    with open(path, "wb") as f:
        f.write(chunks.riff([fmt], size=0))
        f.truncate(16 << 20)
    cases.append(Case("huge_zeros.wav", None, "not-examined", note="not examined: no data chunk; zeros from offset 36"))


# ---------------------------------------------------------------- reading back

def sox_frames(path):
    r = subprocess.run(["sox", "-V1", path, "-t", "raw", "-e", "signed-integer", "-b", "32", "-"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


def ffmpeg_frames(path):
    """As sox_frames, for what sox does not read (BW64)."""
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s32le", "-c:a", "pcm_s32le", "-"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


def read_back(path, case, reference):
    """Independent readers on a repaired or healthy take: as many frames as
    reference holds, the same samples."""
    bw64 = open(path, "rb").read(4) == b"BW64"
    got = (ffmpeg_frames if bw64 else sox_frames)(path)
    check(got is not None and got == reference, "%s: %s reads every frame as the original" %
          (case.name, "ffmpeg" if bw64 else "sox"))
    if have("sndfile-info") and not bw64:
        info = subprocess.run(["sndfile-info", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
        m = re.search(rb"Frames\s*:\s*(\d+)", info)
        frames = len(reference) // 4 // channels_of(path)
        check(m is not None and int(m.group(1)) == frames, "%s: sndfile-info frames %r, want %d" %
              (case.name, m.group(1) if m else None, frames))
    if have("ffprobe"):
        r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=duration_ts",
                            "-of", "csv=p=0", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        frames = len(reference) // 4 // channels_of(path)
        check(r.stdout.decode().strip() == str(frames), "%s: ffprobe frames %r, want %d" %
              (case.name, r.stdout.decode().strip(), frames))
    if path.endswith(".wav") and case.encoding is None and case.samples is not None:
        try:
            with wave.open(path, "rb") as w:
                check(w.readframes(w.getnframes()) == case.samples, "%s: wave reads the samples exactly" % case.name)
        except wave.Error as ex:
            if "unknown format: 3" not in str(ex) and "65534" not in str(ex):
                check(False, "%s: wave: %s" % (case.name, ex))
    if path.endswith(".aif") and aifc is not None and case.samples is not None:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            a = aifc.open(path, "rb")
            check(a.readframes(a.getnframes()) == case.samples, "%s: aifc reads the samples exactly" % case.name)
            a.close()


def channels_of(path):
    data = open(path, "rb").read(4096)
    if data[:4] == b"FORM":
        comm, _ = aiff_layout(open(path, "rb").read())
        return struct.unpack_from(">h", open(path, "rb").read(comm + 2), comm)[0]
    fmt = data.index(b"fmt ")
    return struct.unpack_from("<H", data, fmt + (26 if data[:4] == b"riff" else 10))[0]


def main():
    exe = sys.argv[1]
    work = tempfile.mkdtemp(prefix="tessmark-verdicts-")
    folder = os.path.join(work, "takes")
    refs = os.path.join(work, "refs")
    os.makedirs(folder)
    os.makedirs(refs)
    cases = []
    wav_cases(cases)
    compressed_cases(cases)
    aiff_cases(cases)
    container_cases(cases)
    refusal_cases(cases, folder)
    for c in cases:
        if c.data is not None:
            open(os.path.join(folder, c.name), "wb").write(c.data)
    before = {c.name: sha(os.path.join(folder, c.name)) for c in cases}
    # What sox reads from a take built as the original, header finished.
    for c in cases:
        if c.samples is not None and c.action in ("repaired", "ok"):
            open(os.path.join(refs, c.name), "wb").write(finished(c))

    settle(folder)
    p = subprocess.run([exe, "--json", folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    reports = {}
    for raw in p.stdout.decode("utf-8").splitlines():
        line = json.loads(raw)
        if line["type"] == "file":
            reports[line["name"]] = line
        else:
            summary = line
    notes = {}
    for raw in p.stderr.decode("utf-8", "replace").splitlines():
        m = re.match(r"tessmark: (\S+): (.*)$", raw)
        if m:
            notes.setdefault(m.group(1), []).append(m.group(2))
    check(p.returncode == 3, "a folder with files left unexamined exits 3 (rc %d)" % p.returncode)

    for c in cases:
        path = os.path.join(folder, c.name)
        r = reports.get(c.name)
        if not check(r is not None, "%s: reported" % c.name):
            continue
        check(r["action"] == c.action, "%s: action %r, want %r (%r)" % (c.name, r["action"], c.action, r["reason"]))
        want_notes = [c.note] if c.note else []
        check(notes.get(c.name, []) == want_notes, "%s: notes %r, want %r" % (c.name, notes.get(c.name), want_notes))
        reason = c.reason
        if reason is None and c.action == "not-examined":
            reason = c.note[len("not examined: "):]
        if reason is not None:
            check(r["reason"] == reason, "%s: reason %r, want %r" % (c.name, r["reason"], reason))
        if c.container is not None:
            check(r["container"] == c.container, "%s: container %r, want %r" % (c.name, r["container"], c.container))
        if c.encoding is not None:
            check(r["encoding"] == c.encoding, "%s: encoding %r, want %r" % (c.name, r["encoding"], c.encoding))
        if c.missing is not None:
            check(r["missing_bytes"] == c.missing, "%s: missing_bytes %r" % (c.name, r["missing_bytes"]))
        if c.frames is not None:
            want = None if c.frames == NO_FRAMES else c.frames
            check(r["frames_after"] == want, "%s: frames_after %r, want %r" % (c.name, r["frames_after"], want))
        if c.action != "repaired":
            check(sha(path) == before[c.name], "%s: not a byte changed" % c.name)
        if c.trailer and c.samples is not None:
            check(r["present_bytes"] == len(c.samples), "%s: present_bytes %r counts the samples only (%d)" %
                  (c.name, r["present_bytes"], len(c.samples)))
        data = open(path, "rb").read()
        if c.trailer:
            check(data.endswith(c.trailer), "%s: the metadata behind the samples kept byte for byte" % c.name)
        if c.samples is not None and c.action in ("repaired", "ok"):
            check(c.samples in data, "%s: every sample byte where it was" % c.name)
            reference = (ffmpeg_frames if c.container == "bw64" else sox_frames)(os.path.join(refs, c.name))
            if data[:4] == b"FORM" and c.trailer and c.trailer[-1:] != b"\0" and len(data) % 2:
                # sox refuses an AIFF whose last chunk lacks its pad byte,
                # as the recorder wrote it: read a copy with the pad.
                padded = bytearray(data + b"\0")
                struct.pack_into(">I", padded, 4, len(padded) - 8)
                path = os.path.join(refs, "padded_" + c.name)
                open(path, "wb").write(bytes(padded))
            if data[:4] == b"riff" and c.trailer:
                # sox, libsndfile and ffmpeg take what follows Wave64 samples
                # for more samples, whatever the data size says (frames_after
                # above checks that): they read a copy without it.
                _fmt, pos = chunks.w64_layout(data)
                bare = bytearray(data[:pos + 24 + len(c.samples)])
                struct.pack_into("<Q", bare, 16, len(bare))
                path = os.path.join(refs, "bare_" + c.name)
                open(path, "wb").write(bytes(bare))
            read_back(path, c, reference)
    check(summary["not_opened"] == 0 and summary["not_recordings"] == sum(1 for c in cases if c.action == "not-examined"),
          "summary counts the files that are no recording apart: %r" % summary)

    # A second scan changes nothing.
    after = {c.name: sha(os.path.join(folder, c.name)) for c in cases}
    subprocess.run([exe, folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    check(all(sha(os.path.join(folder, c.name)) == after[c.name] for c in cases), "a second scan changes no byte")

    # A file that cannot be opened is counted apart from those that are no
    # recording: one another program holds.
    held = open(os.path.join(folder, "stereo_held.wav"), "wb+")
    held.write(unfinished_wav(*wav_samples(sox_take("wav", 8000, 2, 16, 0.1))))
    held.flush()
    fcntl.flock(held.fileno(), fcntl.LOCK_EX)
    p = subprocess.run([exe, "--check", "--json", folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=300)
    held.close()
    err = p.stderr.decode("utf-8", "replace")
    check("tessmark: stereo_held.wav: not examined: cannot open (in use by another program)" in err,
          "a take another program holds: %r" % err)
    last = json.loads(p.stdout.decode("utf-8").splitlines()[-1])
    check(last["not_opened"] == 1, "the summary counts it as not opened: %r" % last)
    human = [l for l in err.splitlines() if " files examined: " in l]
    check(len(human) == 1 and ", 1 could not be opened, " in human[0] and "are no recording Tessmark reads" in human[0],
          "the summary line says both: %r" % human)

    shutil.rmtree(work)
    print("%d of %d checks failed" % (len(failures), checks[0]))
    return 1 if failures else 0


def finished(case):
    """The original take with a finished header, for sox to read."""
    data = case.data
    if data[:4] == b"FORM":
        comm, ssnd = aiff_layout(data)
        channels, _f, bits = struct.unpack_from(">hIh", data, comm)
        align = channels * ((bits + 7) // 8)
        frames = len(case.samples) // align
        out = bytearray(data[:ssnd + 16] + case.samples)
        struct.pack_into(">I", out, comm + 2, frames)
        struct.pack_into(">I", out, ssnd + 4, 8 + len(case.samples))
        struct.pack_into(">I", out, 4, len(out) - 8)
        return bytes(out)
    if data[:4] == b"riff":
        _fmt, pos = chunks.w64_layout(data)
        out = bytearray(data[:pos + 24] + case.samples)
        struct.pack_into("<Q", out, 16, len(out))
        struct.pack_into("<Q", out, pos + 16, 24 + len(case.samples))
        return bytes(out)
    if data[:4] == b"BW64":
        # A RIFF take of the same chunks: ds64 and chna are skipped.
        data = b"RIFF" + data[4:]
    pos, _ = riff_layout(data)
    out = bytearray(data[:pos + 8] + case.samples)
    if out[:4] == b"RIFF":
        struct.pack_into("<I", out, 4, len(out) - 8)
    struct.pack_into("<I", out, pos + 4, len(case.samples))
    return bytes(out)


if __name__ == "__main__":
    sys.exit(main())
