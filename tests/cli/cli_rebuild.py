#!/usr/bin/env python3
"""End-to-end test of tessmark --template: takes recorded by sox and ffmpeg,
their header destroyed (zeroed, overwritten with random bytes, only a
fragment left), rebuilt with a sibling of the same settings and read back by
sox, ffprobe, ffmpeg and sndfile-info, sample for sample.

Usage: cli_rebuild.py TESSMARK
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
from checks import check, outcome, sha  # noqa: E402
from hostfs import SmallDisk  # noqa: E402

EXE = None
CLUSTER = 32768


def run(*args):
    p = subprocess.run([EXE] + [str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def sox_take(path, rate, channels, bits, seconds, base=220):
    """Every channel its own mixture of sines, so that channels differ."""
    synth = []
    for c in range(channels):
        synth += ["sine", str(base + 90 * c)]
    subprocess.run(["sox", "-V1", "-n", "-r", str(rate), "-c", str(channels), "-b", str(bits), path, "synth",
                    str(seconds)] + synth + ["vol", "0.4"], check=True)


def ffmpeg_take(path, channels, codec, seconds, container, base=330):
    expr = "|".join("0.4*sin(2*PI*%d*t)" % (base + 110 * c) for c in range(channels))
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "aevalsrc=%s:s=48000:d=%s" % (expr, seconds),
                    "-c:a", codec, "-f", container, path], check=True)


def riff_chunks(data, order="<", start=12):
    pos = start
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack_from(order + "I", data, pos + 4)[0]
        yield cid, pos, size
        if cid in (b"data", b"SSND"):
            return
        pos += 8 + size + (size & 1)


def layout(path):
    """(data offset, frame bytes, channels, sample bytes) as the file's header says."""
    data = open(path, "rb").read(1 << 16)
    if data[:4] == b"FORM":
        for cid, pos, size in riff_chunks(data, ">"):
            if cid == b"COMM":
                ch, _f, bits = struct.unpack_from(">hIh", data, pos + 8)
            if cid == b"SSND":
                off = struct.unpack_from(">I", data, pos + 8)[0]
                return pos + 16 + off, ch * ((bits + 7) // 8), ch, (bits + 7) // 8
    for cid, pos, size in riff_chunks(data):
        if cid == b"fmt ":
            ch, _r, _b, align = struct.unpack_from("<HIIH", data, pos + 10)
        if cid == b"data":
            return pos + 8, align, ch, align // ch
    raise RuntimeError("no samples in " + path)


def decoded(path):
    """Interleaved samples as 32-bit integers, by sox where it reads the file, else by ffmpeg."""
    r = subprocess.run(["sox", "-V1", path, "-t", "raw", "-e", "signed-integer", "-b", "32", "-"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if r.returncode == 0:
        return r.stdout
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s32le", "-"], stdout=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


def readers_agree(path, rate, channels, what):
    """ffprobe and sndfile-info read the format back."""
    p = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels", "-of", "json", path],
                       stdout=subprocess.PIPE)
    ok = p.returncode == 0
    if ok:
        s = json.loads(p.stdout)["streams"][0]
        ok = int(s["sample_rate"]) == rate and int(s["channels"]) == channels
    check(ok, "%s: ffprobe reads %d Hz, %d ch" % (what, rate, channels))
    if shutil.which("sndfile-info"):
        p = subprocess.run(["sndfile-info", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        text = p.stdout.decode("latin-1")
        check("Channels    : %d" % channels in text and "Sample Rate : %d" % rate in text,
              "%s: sndfile-info reads it: %s" % (what, text[-300:]))


def one_json(out):
    lines = [json.loads(line) for line in out.splitlines() if line.strip()]
    return [x for x in lines if x["type"] == "rebuild"], [x for x in lines if x["type"] == "summary"]


# ---------------------------------------------------------------- takes

def make(folder, kind, seconds, base):
    """A take of one kind, its settings, and whether sox reads the container."""
    p = os.path.join(folder, "%s-%d.%s" % (kind, base, "aifc" if kind.startswith("aif") else "wav"))
    if kind == "wav16":
        sox_take(p, 48000, 2, 16, seconds, base)
    elif kind == "mono16":
        sox_take(p, 44100, 1, 16, seconds, base)
    elif kind == "wav24x6":
        sox_take(p, 48000, 6, 24, seconds, base)
    elif kind == "aiff16":
        p = p[:-5] + ".aif"
        sox_take(p, 44100, 2, 16, seconds, base)
    elif kind == "aifc_sowt":
        ffmpeg_take(p, 2, "pcm_s16le", seconds, "aiff", base)
    elif kind == "ff24mono":
        ffmpeg_take(p, 1, "pcm_s24le", seconds, "wav", base)
    elif kind == "bwf24":
        tmp = p + ".src.wav"
        sox_take(tmp, 48000, 2, 24, seconds, base)
        off, _a, _c, _s = layout(tmp)
        samples = open(tmp, "rb").read()[off:]
        os.remove(tmp)
        bext = b"Interview, take 4".ljust(602, b"\0")
        ixml = b"<BWFXML><PROJECT>field</PROJECT></BWFXML>"
        fmt = struct.pack("<HHIIHH", 1, 2, 48000, 48000 * 6, 6, 24)
        body = [chunks.chunk(b"bext", bext), chunks.chunk(b"fmt ", fmt), chunks.chunk(b"iXML", ixml),
                chunks.head(b"data", len(samples)) + samples]
        open(p, "wb").write(chunks.riff(body))
    return p


def destroy(path, how):
    data = bytearray(open(path, "rb").read())
    if how == "zero4k":
        data[:4096] = bytes(4096)
    elif how == "zero32k":
        data[:CLUSTER] = bytes(CLUSTER)
    elif how == "random":
        data[:153605] = os.urandom(153605)
    open(path, "wb").write(bytes(data))


def test_destroyed(work):
    """A take whose first bytes are gone, rebuilt without --offset: every
    sample behind the damage exact, the take's length and timing kept."""
    cases = [("wav16", "zero4k"), ("bwf24", "zero4k"), ("aiff16", "zero4k"), ("wav24x6", "zero32k"),
             ("aifc_sowt", "zero32k"), ("mono16", "zero32k"), ("wav16", "random"), ("ff24mono", "random")]
    for kind, how in cases:
        what = "%s %s" % (kind, how)
        folder = os.path.join(work, "%s-%s" % (kind, how))
        os.makedirs(folder)
        orig = make(folder, kind, 2.0, 220)
        sibling = make(folder, kind, 0.3, 500)
        off, align, ch, size = layout(orig)
        take = os.path.join(folder, "TAKE7" + os.path.splitext(orig)[1])
        shutil.copyfile(orig, take)
        destroy(take, how)
        before = sha(take)
        rc, out, err = run("--template", sibling, take)
        check(sha(take) == before, "%s: the take is unchanged" % what)
        rebuilt = os.path.join(folder, "TAKE7-rebuilt" + os.path.splitext(sibling)[1])
        if not check(rc == 0 and os.path.exists(rebuilt), "%s: rebuilt (rc %d): %s %s" % (what, rc, out, err)):
            continue
        check("TAKE7%s rebuilt as TAKE7-rebuilt" % os.path.splitext(orig)[1] in out and
              "samples from byte %d" % off in out, "%s: the line names the start: %s" % (what, out))
        check(os.path.getsize(rebuilt) - layout(rebuilt)[0] >= (os.path.getsize(orig) - off) // align * align,
              "%s: every whole frame kept" % what)
        a, b = decoded(orig), decoded(rebuilt)
        lost = {"zero4k": 4096, "zero32k": CLUSTER, "random": 153605}[how]
        first = -(-(lost - off) // align) * ch * 4  # the first sample wholly behind the damage
        if check(a is not None and b is not None, "%s: decoded" % what):
            check(len(a) == len(b), "%s: the same length (%d, %d)" % (what, len(a), len(b)))
            check(a[first:] == b[first:], "%s: every sample behind the damage exact" % what)
            if how != "random":
                check(b[:first] == bytes(first) or how == "zero4k", "%s: zeros where the cluster was" % what)
        readers_agree(rebuilt, 48000 if kind in ("wav16", "wav24x6", "bwf24", "aifc_sowt", "ff24mono") else 44100,
                      ch, what)
        if kind == "bwf24":
            head = open(rebuilt, "rb").read(layout(rebuilt)[0])
            check(b"bext" not in head and b"iXML" not in head, "%s: the sibling's metadata is not copied" % what)


def with_header(path, head_bytes, kind):
    """The take rewritten with its data at head_bytes: a JUNK chunk fills the room."""
    off, _a, _c, _s = layout(path)
    data = open(path, "rb").read()
    fmt_pos = [p for cid, p, s in riff_chunks(data) if cid == b"fmt "][0]
    fmt = data[fmt_pos:fmt_pos + 8 + struct.unpack_from("<I", data, fmt_pos + 4)[0]]
    samples = data[off:]
    if head_bytes == 44:  # the plain 16-byte fmt of the classic header
        fmt = fmt[:8] + struct.pack("<H", 1) + fmt[10:24]
        fmt = fmt[:4] + struct.pack("<I", 16) + fmt[8:]
    room = head_bytes - 12 - len(fmt) - 8 - 8
    pre = [chunks.chunk(b"bext", b"\0" * room)] if kind == "bwf" else [chunks.chunk(b"JUNK", b"\0" * room)]
    if head_bytes == 44:
        pre = []
    out = chunks.riff(pre + [fmt, chunks.head(b"data", len(samples)) + samples])
    assert layout_bytes(out) == head_bytes
    open(path, "wb").write(out)


def layout_bytes(data):
    for cid, pos, size in riff_chunks(data):
        if cid == b"data":
            return pos + 8
    return None


def test_fragments(work):
    """What a disk check leaves: the take from a cluster boundary on, no
    header, given with --offset 0. The byte within a sample is found; the
    channel order is right or named as a guess."""
    cases = [("mono16", 44, 1), ("mono16", 4096, 2), ("wav16", 44, 3), ("wav24x6", 4096, 1), ("wav24x6", 44, 2),
             ("bwf", 1264, 1), ("bwf", 1264, 2)]
    for kind, head, k in cases:
        what = "fragment %s behind %d bytes, cluster %d" % (kind, head, k)
        folder = os.path.join(work, "frag-%s-%d-%d" % (kind, head, k))
        os.makedirs(folder)
        base = "wav24x6" if kind == "bwf" else kind
        orig = make(folder, base, 2.0, 220)
        with_header(orig, head, kind)
        sibling = make(folder, base, 0.3, 600)
        off, align, ch, size = layout(orig)
        frag = os.path.join(folder, "FILE0000.CHK")
        open(frag, "wb").write(open(orig, "rb").read()[CLUSTER * k:])
        before = sha(frag)
        rc, out, err = run("--template", sibling, "--offset", 0, "--json", frag)
        check(sha(frag) == before, "%s: the fragment is unchanged" % what)
        rebuilt = os.path.join(folder, "FILE0000-rebuilt.wav")
        lines, _ = one_json(out)
        if not check(rc == 0 and os.path.exists(rebuilt) and len(lines) == 1, "%s: rebuilt: %s" % (what, err)):
            continue
        start = lines[0]["start"]
        at = CLUSTER * k + start - off  # where the copied bytes were in the take's samples
        check(at % size == 0, "%s: starts at a whole sample (byte %d)" % (what, start))
        rotated = at % align != 0
        check(not rotated or lines[0]["channel_order_guess"], "%s: a rotated channel order is named a guess" % what)
        check(ch > 1 or not lines[0]["channel_order_guess"], "%s: mono is no guess" % what)
        if ch > 1 and lines[0]["channel_order_guess"]:
            check("channel order is a guess" in err, "%s: the line says the order is a guess" % what)
        a, b = decoded(orig), decoded(rebuilt)
        first = at // size * 4
        if check(a is not None and b is not None, "%s: decoded" % what):
            check(b == a[first:first + len(b)] and len(b) >= len(a) - first - align * 4,
                  "%s: every sample exact and in order" % what)
        readers_agree(rebuilt, 48000 if base != "mono16" else 44100, ch, what)


def test_refused(work):
    """The wrong sibling, random bytes, zeros, a take that has a header:
    refused and named, nothing written, the take unchanged."""
    folder = os.path.join(work, "refused")
    os.makedirs(folder)
    stereo = make(folder, "wav16", 1.0, 220)
    mono_sib = make(folder, "mono16", 0.3, 400)
    t24 = make(folder, "wav24x6", 1.0, 300)
    t16 = make(folder, "wav16", 0.3, 700)
    sib24 = make(folder, "wav24x6", 0.3, 800)
    for p in (stereo, t24):
        destroy(p, "zero4k")
    noise = os.path.join(folder, "noise.wav")
    open(noise, "wb").write(os.urandom(300000))
    zeros = os.path.join(folder, "zeros.wav")
    open(zeros, "wb").write(bytes(300000))
    healthy = make(folder, "wav16", 0.3, 900)
    cases = [(stereo, mono_sib, "read as 16-bit 2 ch"), (t24, t16, "read as 24-bit"),
             (noise, t16, "no alignment reads like audio"), (zeros, sib24, "no alignment reads like audio"),
             (healthy, t16, "has a header: scan it")]
    for take, sibling, reason in cases:
        what = "%s with %s" % (os.path.basename(take), os.path.basename(sibling))
        before = set(os.listdir(folder))
        digest = sha(take)
        rc, out, err = run("--template", sibling, take)
        check(rc == 1, "%s: exit 1 (%d)" % (what, rc))
        check("tessmark: %s: not rebuilt: " % take in err and reason in err, "%s: named with %r: %s" % (what, reason, err))
        check(set(os.listdir(folder)) == before, "%s: nothing written" % what)
        check(sha(take) == digest, "%s: unchanged" % what)
    # --force rebuilds what the score refused, and says so.
    rc, out, err = run("--template", mono_sib, "--force", stereo)
    check(rc == 0 and "forced:" in out, "--force: rebuilt, the verdict named: %s" % out)


def test_statuses(work):
    folder = os.path.join(work, "statuses")
    os.makedirs(folder)
    take = make(folder, "wav16", 0.5, 220)
    sib = make(folder, "wav16", 0.3, 400)
    destroy(take, "zero4k")
    out_dir = os.path.join(folder, "out")
    os.makedirs(out_dir)
    rc, out, err = run("--template", sib, "--out", out_dir, "--json", take)
    lines, summary = one_json(out)
    check(rc == 0 and len(lines) == 1 and lines[0]["action"] == "rebuilt", "--json: rebuilt: %s %s" % (out, err))
    keys = {"type", "path", "output", "action", "reason", "start", "score", "channel_order_guess", "rate", "channels",
            "bits", "frames"}
    check(lines and keys <= set(lines[0]), "--json keys: %s" % (lines and sorted(lines[0])))
    check(summary and summary[0]["rebuilt"] == 1 and summary[0]["exit_status"] == 0, "--json summary: %s" % summary)
    rebuilt = os.path.join(out_dir, os.path.basename(take)[:-4] + "-rebuilt.wav")
    check(lines and lines[0]["output"] == rebuilt and os.path.exists(rebuilt), "--out: the new file in FOLDER")
    digest = sha(rebuilt)
    rc, out, err = run("--template", sib, "--out", out_dir, take)
    check(rc == 1 and "exists" in err and sha(rebuilt) == digest, "an existing output refused, unchanged: %s" % err)
    compressed = os.path.join(folder, "ulaw.wav")
    subprocess.run(["sox", "-V1", "-n", "-r", "8000", "-e", "u-law", compressed, "synth", "0.2", "sine", "300"],
                   check=True)
    for args in (["--template", sib], ["--template", sib, "--check", take], ["--template", sib, "--jobs", "2", take],
                 ["--template", sib, "--recursive", take], ["--template", sib, "--journal", "j", take],
                 ["--template", sib, "--undo", "j", take], ["--template", sib, "--offset", "x", take],
                 ["--template", os.path.join(folder, "gone.wav"), take], ["--template", compressed, take],
                 ["--template", take, take], ["--offset", "0", folder], ["--template", sib, "--bogus", take]):
        rc, out, err = run(*args)
        check(rc == 2 and err.startswith("tessmark: "), "exit 2 for %s: %d %s" % (args, rc, err))


def test_full_disk(work):
    """The disk fills during the copy: no file under the final name, no
    temporary file, the take unchanged."""
    folder = os.path.join(work, "full")
    disk = SmallDisk(os.path.join(folder, "small"))
    mount = disk.path
    if not disk.mounted:
        print("full disk: a tmpfs cannot be mounted here (not root?): not tested")
        return
    try:
        take = make(folder, "wav16", 3.0, 220)
        sib = make(folder, "wav16", 0.3, 400)
        destroy(take, "zero4k")
        digest = sha(take)
        rc, out, err = run("--template", sib, "--out", mount, take)
        check(rc == 1 and "not rebuilt" in err, "full disk: refused: %s" % err)
        check(os.listdir(mount) == [], "full disk: nothing left: %s" % os.listdir(mount))
        check(sha(take) == digest, "full disk: the take unchanged")
    finally:
        disk.close()


def test_rf64_sparse(work):
    """An RF64 take past 4 GiB, a sparse file: rebuilt as RF64 with ds64,
    its holes kept, sample-exact where it holds sound."""
    folder = os.path.join(work, "rf64")
    os.makedirs(folder)
    src = make(folder, "wav24x6", 1.0, 220)
    off, align, ch, _s = layout(src)
    sound = open(src, "rb").read()[off:]
    sound = sound[:len(sound) // align * align]
    fmt = struct.pack("<HHIIHH", 1, 6, 48000, 48000 * 18, 18, 24)
    frames = (4 * (1 << 30) + 700 * (1 << 20)) // align
    size = frames * align
    head = (b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + chunks.chunk(b"ds64", struct.pack("<QQQI", 0, 0, 0, 0)) +
            chunks.chunk(b"fmt ", fmt) + chunks.head(b"data", 0xFFFFFFFF))
    take = os.path.join(folder, "BIG.WAV")
    places = [i * (size // 8) // align * align for i in range(8)]
    with open(take, "wb") as f:
        f.write(bytes(len(head)))  # the header, lost
        for p in places:
            f.seek(len(head) + p)
            f.write(sound)
        f.truncate(len(head) + size)
    sib = os.path.join(folder, "sib.wav")
    open(sib, "wb").write(head[:len(head) - 4] + struct.pack("<I", 0xFFFFFFFF) + sound[:align * 1000])
    digest_size = os.path.getsize(take)
    rc, out, err = run("--template", sib, "--json", take)
    rebuilt = os.path.join(folder, "BIG-rebuilt.wav")
    if not check(rc == 0 and os.path.exists(rebuilt), "rf64: rebuilt: %s %s" % (out, err)):
        return
    check(os.path.getsize(take) == digest_size, "rf64: the take keeps its length")
    data = open(rebuilt, "rb").read(4096)
    check(data[:4] == b"RF64" and data[12:16] == b"ds64", "rf64: RF64 with ds64")
    riff, dsize, count = struct.unpack_from("<QQQ", data, 20)
    roff = layout_bytes(data)
    check(dsize == size and count == frames and riff == os.path.getsize(rebuilt) - 8,
          "rf64: ds64 sizes %d %d %d" % (riff, dsize, count))
    check(os.stat(rebuilt).st_blocks * 512 < 64 << 20, "rf64: the holes are kept (%d bytes allocated)" %
          (os.stat(rebuilt).st_blocks * 512))
    readers_agree(rebuilt, 48000, 6, "rf64")
    p = places[5]
    second = p // align / 48000.0
    r = subprocess.run(["ffmpeg", "-v", "error", "-ss", "%.6f" % second, "-i", rebuilt, "-frames:a", "1", "-t", "0.2",
                        "-f", "s24le", "-"], stdout=subprocess.PIPE)
    got = r.stdout
    with open(rebuilt, "rb") as f:
        f.seek(roff + p)
        direct = f.read(align * 100)
    check(direct == sound[:align * 100], "rf64: the samples at 3 GiB are where they were")
    check(r.returncode == 0 and len(got) > 0, "rf64: ffmpeg decodes past 4 GiB")


def main():
    global EXE
    EXE = os.path.abspath(sys.argv[1])
    for tool in ("sox", "ffmpeg", "ffprobe"):
        if not shutil.which(tool):
            print("%s missing: the rebuild end-to-end test needs it" % tool)
            return 1
    work = tempfile.mkdtemp(prefix="tessmark-rebuild-", dir=os.environ.get("TMPDIR"))
    try:
        for test in (test_destroyed, test_fragments, test_refused, test_statuses, test_full_disk, test_rf64_sparse):
            test(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return outcome()


if __name__ == "__main__":
    sys.exit(main())
