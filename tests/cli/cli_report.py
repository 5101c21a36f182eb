#!/usr/bin/env python3
"""The command-line scanner's --json report and its undo journal.

Builds a folder holding every outcome, reads tessmark --json with Python's
json module and checks each key of each line; repairs a batch with
--journal, checks the journal line by line, undoes it (every file back to its
sha256, healthy files untouched) and checks that a file changed since its
repair is refused and left as it is.

Usage: cli_report.py TESSMARK
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
from checks import check, checks, failures, settle, sha  # noqa: E402,F401



def samples(n, seed):
    return bytes((i * 31 + seed * 17 + (i >> 5)) & 0xFF for i in range(n))


def wav(channels, rate, bits, data, declared=None, extra=b""):
    """A WAV file whose data chunk declares declared bytes (None: all)."""
    size = len(data) if declared is None else declared
    body = chunks.fmt_chunk(channels, rate, bits) + extra + chunks.head(b"data", size) + data
    return chunks.riff([body], size=0 if declared is not None else None)


def aiff(channels, rate, bits, data, frames, block=0):
    """An AIFF file whose COMM declares frames and SSND's size 8 (never written)."""
    ssnd = chunks.head(b"SSND", 8, ">") + struct.pack(">II", 0, block) + data
    return chunks.form([chunks.comm_chunk(channels, frames, bits, rate), ssnd], size=4)


def write(folder, name, data):
    path = os.path.join(folder, os.fsdecode(name) if isinstance(name, bytes) else name)
    if isinstance(name, bytes):
        path = os.path.join(os.fsencode(folder), name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def run(exe, *args):
    for arg in args:
        if os.path.isdir(arg):
            settle(arg)
    p = subprocess.run([exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    return p.returncode, p.stdout, p.stderr


def readme_keys():
    """The keys the README's --json table promises, for file lines and for the summary."""
    readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
    keys = {"file": set(), "summary": set()}
    for row in open(readme, encoding="utf-8"):
        cells = [c.strip() for c in row.split("|")]
        if len(cells) < 4 or not cells[1].startswith("`"):
            continue
        names = set(re.findall(r"`([a-z_]+)`", cells[1]))
        for kind in ("file", "summary"):
            if cells[2] == kind or cells[2] == "every line":
                keys[kind] |= names
    keys["file"] -= {"path_bytes", "name_bytes"}
    return keys["file"], keys["summary"]


# The report's keys are those the README lists: every line checks against them.
FILE_KEYS, SUMMARY_KEYS = readme_keys()


def parse_lines(out, what):
    lines = []
    for raw in out.decode("utf-8", "strict").splitlines():
        try:
            lines.append(json.loads(raw))
        except ValueError as ex:
            check(False, "%s: not JSON: %r (%s)" % (what, raw, ex))
    return lines


def path_of(line):
    """The exact bytes of a reported path, as the README says to get them."""
    if "path_bytes" in line:
        return bytes.fromhex(line["path_bytes"])
    return line["path"].encode("utf-8")


def make_outcomes(folder):
    """Every outcome of a scan; name -> what the report must say."""
    expect = {}
    write(folder, "healthy.wav", wav(2, 48000, 16, samples(4000, 1)))
    expect["healthy.wav"] = dict(action="ok", container="wav", rate=48000, channels=2, bits=16, encoding="signed",
                                 declared_bytes=4000, present_bytes=4000, frames_before=1000, frames_after=1000,
                                 reason=None)
    write(folder, "short.wav", wav(2, 44100, 24, samples(6002, 2), declared=0))
    expect["short.wav"] = dict(action="repaired", container="wav", rate=44100, channels=2, bits=24,
                               encoding="signed", declared_bytes=0, present_bytes=6002, frames_before=0,
                               frames_after=1000, reason="header not set")
    write(folder, "float.wav", wav(1, 96000, 32, samples(800, 3), declared=400).replace(
        struct.pack("<HH", 1, 1), struct.pack("<HH", 3, 1), 1))
    expect["float.wav"] = dict(action="repaired", container="wav", rate=96000, channels=1, bits=32,
                               encoding="float", declared_bytes=400, present_bytes=800, frames_before=100,
                               frames_after=200, reason="header missing 400 bytes")
    write(folder, "take.aif", aiff(2, 48000, 16, samples(4003, 4), 0))
    expect["take.aif"] = dict(action="repaired", container="aiff", rate=48000, channels=2, bits=16,
                              encoding="signed", declared_bytes=0, present_bytes=4003, frames_before=0,
                              frames_after=1000, reason="header not set")
    write(folder, "garbage.wav", b"not a recording at all" * 10)
    expect["garbage.wav"] = dict(action="not-examined", container=None, rate=None, channels=None, bits=None,
                                 encoding=None, declared_bytes=None, present_bytes=None, frames_before=None,
                                 frames_after=None)
    # A header past what the journal keeps: the repair is refused, the file failed.
    huge = chunks.head(b"JUNK", 65 * 1024 * 1024)
    path = write(folder, "huge_header.wav", b"")
    with open(path, "wb") as f:
        f.write(chunks.riff([chunks.fmt_chunk(1, 8000, 8) + huge], size=0))
        f.seek(65 * 1024 * 1024, 1)  # a hole: sparse where the file system allows
        f.write(chunks.head(b"data", 0) + samples(100, 5))
    expect["huge_header.wav"] = dict(action="failed", container="wav", rate=8000, channels=1, bits=8,
                                     encoding="unsigned", declared_bytes=0, present_bytes=100, frames_before=0,
                                     frames_after=0, reason="not journaled")
    name = b"caf\xe9_latin1.wav"  # not UTF-8
    write(folder, name, wav(1, 8000, 16, samples(202, 6), declared=0))
    expect[name] = dict(action="repaired", container="wav", rate=8000, channels=1, bits=16, encoding="signed",
                        declared_bytes=0, present_bytes=202, frames_before=0, frames_after=101,
                        reason="header not set")
    write(folder, "readme.txt", b"not looked at")
    return expect


def check_report(lines, folder, expect, check_only, what):
    files = [l for l in lines if l.get("type") == "file"]
    check(len(lines) >= 1 and lines[-1].get("type") == "summary", "%s: the last line is the summary" % what)
    check(len(files) == len(lines) - 1, "%s: every other line is a file" % what)
    for l in files:
        check(set(l) - {"path_bytes", "name_bytes"} == FILE_KEYS, "%s: keys of %r" % (what, sorted(l)))
    seen = {}
    for l in files:
        raw = path_of(l)
        check(os.path.dirname(raw) == os.fsencode(folder), "%s: %r lies in the folder" % (what, raw))
        key = os.path.basename(raw)
        key = key.decode("utf-8") if "path_bytes" not in l else key
        seen[key] = l
        check(os.path.exists(raw), "%s: %r names a file" % (what, raw))
    check(set(seen) == set(expect), "%s: files reported %r" % (what, sorted(map(repr, seen))))
    for key, want in expect.items():
        got = seen.get(key)
        if not check(got is not None, "%s: %r reported" % (what, key)):
            continue
        want = dict(want)
        if check_only and want["action"] in ("repaired", "failed"):
            want["action"] = "needs-repair"
            want["frames_after"] = want["frames_before"]
            if key == "huge_header.wav":
                want["reason"] = "header not set"
        for k, v in want.items():
            check(got.get(k) == v, "%s: %r %s is %r, not %r" % (what, key, k, got.get(k), v))
        if got["action"] == "not-examined":
            check(isinstance(got["reason"], str) and got["reason"], "%s: %r has a reason" % (what, key))
        if isinstance(key, bytes):
            check("path_bytes" in got and "\ufffd" in got["path"], "%s: a name not UTF-8 comes in hex" % what)
        else:
            check("path_bytes" not in got, "%s: %r needs no hex" % (what, key))
    s = lines[-1]
    check(set(s) == SUMMARY_KEYS, "%s: summary keys %r" % (what, sorted(s)))
    return seen


def suite_json(exe, work):
    folder = os.path.join(work, "every")
    os.mkdir(folder)
    expect = make_outcomes(folder)

    rc, out, err = run(exe, "--check", "--json", folder)
    lines = parse_lines(out, "check")
    check_report(lines, folder, expect, True, "--check --json")
    s = lines[-1]
    check(s["check_only"] is True and s["examined"] == 6 and s["ok"] == 1 and s["needs_repair"] == 5 and
          s["not_examined"] == 1 and s["exit_status"] == 1 and rc == 1, "check summary %r rc %d" % (s, rc))
    check(b"#0001 Scanning " in err and b"files examined" in err, "the human lines go to stderr under --json")

    journal = os.path.join(work, "every.journal")
    rc, out, err = run(exe, "--json", "--journal", journal, folder)
    lines = parse_lines(out, "repair")
    check_report(lines, folder, expect, False, "--json")
    s = lines[-1]
    check(s["check_only"] is False and s["examined"] == 6 and s["ok"] == 1 and s["repaired"] == 4 and
          s["failed"] == 1 and s["not_examined"] == 1 and s["no_samples"] == 0 and s["interrupted"] is False and
          s["exit_status"] == 1 and rc == 1, "repair summary %r rc %d" % (s, rc))


def journal_records(path):
    with open(path, "rb") as f:
        raw = f.read()
    check(raw.endswith(b"\n"), "the journal ends with a whole line")
    return [json.loads(l) for l in raw.decode("ascii").splitlines()]


def make_batch(folder):
    takes = {
        "a.wav": wav(2, 48000, 16, samples(40003, 7), declared=0),
        "b.wav": wav(1, 44100, 24, samples(9000, 8), declared=3000,
                     extra=chunks.chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 5) + b"hello")),
        "c.aif": aiff(2, 48000, 16, samples(4001, 9), 0, block=512),  # the repair pads to 512
        "d.aif": aiff(1, 22050, 8, samples(777, 10), 100),
        "ok.wav": wav(2, 48000, 16, samples(4000, 11)),
        "ok.aif": chunks.form([chunks.comm_chunk(1, 100, 16, 8000),
                               chunks.chunk(b"SSND", struct.pack(">II", 0, 0) + samples(200, 12), ">")]),
    }
    for name, data in takes.items():
        write(folder, name, data)
    return takes


def suite_undo(exe, work):
    folder = os.path.join(work, "batch")
    os.mkdir(folder)
    takes = make_batch(folder)
    before = {n: sha(os.path.join(folder, n)) for n in takes}
    settle(folder)
    healthy_mtime = {n: os.stat(os.path.join(folder, n)).st_mtime_ns for n in ("ok.wav", "ok.aif")}
    journal = os.path.join(work, "batch.journal")
    rc, out, err = run(exe, "--journal", journal, folder)
    check(rc == 0 and b"6 files examined: 2 OK, 4 repaired, 0 failed" in out, "batch repaired: %r" % out)
    after = {n: sha(os.path.join(folder, n)) for n in takes}
    check(all(after[n] != before[n] for n in ("a.wav", "b.wav", "c.aif", "d.aif")), "the batch changed")

    records = journal_records(journal)
    repairs = [r for r in records if r["type"] == "repair"]
    done = [r for r in records if r["type"] == "repaired"]
    check(len(repairs) == 4 and len(done) == 4, "two lines per repair: %d, %d" % (len(repairs), len(done)))
    for r in repairs:
        check(set(r) >= {"path", "size", "mtime_ns", "header", "changes", "keep", "removed", "pad", "fingerprint"},
              "repair record keys %r" % sorted(r))
        name = os.path.basename(path_of(r)).decode()
        orig = takes[name]
        check(r["size"] == len(orig), "%s: size recorded" % name)
        header = bytes.fromhex(r["header"])
        check(orig.startswith(header), "%s: the header bytes are the original ones" % name)
        check(orig[r["keep"]:] == bytes.fromhex(r["removed"]), "%s: the removed bytes" % name)
        repaired = open(os.path.join(folder, name), "rb").read()
        for c in r["changes"]:
            if "bytes" in c:
                new = bytes.fromhex(c["bytes"])
                check(repaired[c["at"]:c["at"] + len(new)] == new or c["at"] == 4,
                      "%s: the change at %d is what the repair wrote" % (name, c["at"]))
    c = [r for r in repairs if r["path"].endswith("c.aif")][0]
    check(len({d["seq"] for d in done}) == 4, "each end of a repair names its record")
    check(c["pad"] > 0 and (c["keep"] + c["pad"]) == os.path.getsize(os.path.join(folder, "c.aif")),
          "c.aif: the padding recorded %r" % c["pad"])

    rc, out, err = run(exe, "--undo", journal)
    check(rc == 0 and b"4 restored, 0 already as before, 0 refused" in out, "undo: rc %d %r %r" % (rc, out, err))
    now = {n: sha(os.path.join(folder, n)) for n in takes}
    check(now == before, "every file back to its sha256: %r" % [n for n in takes if now[n] != before[n]])
    check({n: os.stat(os.path.join(folder, n)).st_mtime_ns for n in healthy_mtime} == healthy_mtime,
          "healthy files untouched")

    rc, out, err = run(exe, "--undo", journal)
    check(rc == 0 and b"0 restored, 4 already as before, 0 refused" in out, "a second undo changes nothing: %r" % out)

    # Repaired again, then one file changed behind the journal's back.
    os.remove(journal)
    rc, out, err = run(exe, "--journal", journal, folder)
    check(rc == 0, "second batch repaired")
    changed = os.path.join(folder, "b.wav")
    with open(changed, "r+b") as f:
        f.seek(200)
        f.write(b"\x55")
    changed_sha = sha(changed)
    rc, out, err = run(exe, "--undo", journal)
    check(rc == 1 and b"3 restored, 0 already as before, 1 refused" in out, "undo with a changed file: %r" % out)
    check(b"b.wav: not undone: changed since its repair" in err, "the changed file is named: %r" % err)
    check(sha(changed) == changed_sha, "the changed file is left as it is")
    now = {n: sha(os.path.join(folder, n)) for n in takes}
    check(all(now[n] == before[n] for n in takes if n != "b.wav"), "the others are back")

    # A journal that cannot be read, a torn last line, usage errors.
    rc, out, err = run(exe, "--undo", os.path.join(work, "missing.journal"))
    check(rc == 2 and b"cannot read journal" in err, "missing journal: %d %r" % (rc, err))
    torn = os.path.join(work, "torn.journal")
    with open(journal, "rb") as f, open(torn, "wb") as g:
        g.write(f.read() + b'{"type":"repair","pa')
    rc, out, err = run(exe, "--undo", torn)
    check(rc == 1 and b"torn.journal line 9: not undone: a record that cannot be read" in err and b"2 refused" in out,
          "a torn line is a refusal: %r %r" % (out, err))
    rc, out, err = run(exe, "--check", "--journal", journal, folder)
    check(rc == 2, "--check with --journal is a usage error")
    for extra in ([folder], ["--follow-links"], ["--jobs", "2"], ["--recursive"], ["--json"]):
        rc, out, err = run(exe, "--undo", journal, *extra)
        check(rc == 2 and b"--undo takes a journal and nothing else" in err, "--undo with %r: rc %d" % (extra, rc))


def suite_journal_trust(exe, work):
    """A journal that a full disk tore, a card mounted again, an undo that
    stopped: every file comes back byte for byte; a journal named like a
    recording, or a file that is no journal, is refused; a reader of the
    journal keeps no scan from it."""
    folder = os.path.join(work, "trust")
    os.mkdir(folder)
    takes = make_batch(folder)
    before = {n: sha(os.path.join(folder, n)) for n in takes}
    journal = os.path.join(work, "trust.journal")
    # A torn last record (a full disk stopped its write) ends the journal.
    open(journal, "wb").write(b'{"type":"repair","path":"/none/x.wav","si')
    reader = subprocess.Popen(["tail", "-f", journal], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        rc, out, err = run(exe, "--journal", journal, folder)
    finally:
        reader.kill()
        reader.wait()
    check(rc == 0 and b"4 repaired" in out, "a reader of the journal keeps no scan from it: rc %d %r" % (rc, err))
    lines = open(journal, "rb").read().split(b"\n")
    check(lines[0] == b'{"type":"repair","path":"/none/x.wav","si' and lines[1].startswith(b'{"type":"repair"'),
          "the next record starts on a line of its own: %r" % lines[:2])
    # Mounted again: the same content under other inode numbers.
    for name in takes:
        path = os.path.join(folder, name)
        data = open(path, "rb").read()
        os.remove(path)
        open(path, "wb").write(data)
    rc, out, err = run(exe, "--undo", journal)
    check(rc == 1 and b"4 restored" in out and b"1 refused" in out, "after a remount: rc %d %r %r" % (rc, out, err))
    check({n: sha(os.path.join(folder, n)) for n in takes} == before, "every file back, whatever its inode")

    # Journals that must not be written into.
    write(folder, "take.wav", wav(1, 8000, 16, samples(100, 3), declared=0))
    write(folder, "notes.txt", b"field notes, not a journal\n")
    cases = [(os.path.join(folder, "take.wav"), b"would be written into a recording"),
             (os.path.join(folder, "notes.txt"), b"not a journal")]
    for path, words in cases:
        kept = sha(path)
        rc, out, err = run(exe, "--journal", path, folder)
        check(rc == 2 and words in err and sha(path) == kept, "--journal %s: rc %d %r" % (path, rc, err))



def count_writes(exe, folder, terminal):
    """Lines tessmark prints on standard output and the write calls they took,
    into a pipe or a terminal, as strace counts them."""
    log = folder + ".strace"
    cmd = ["strace", "-f", "-qq", "-e", "trace=write", "-e", "signal=none", "-o", log, exe, folder]
    if terminal:
        import pty
        master, slave = pty.openpty()
        p = subprocess.Popen(cmd, stdout=slave, stderr=subprocess.DEVNULL)
        os.close(slave)
        out = b""
        while True:
            try:
                part = os.read(master, 65536)
            except OSError:
                break
            if not part:
                break
            out += part
        p.wait(timeout=300)
        os.close(master)
    else:
        out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300).stdout
    with open(log) as f:
        writes = sum(1 for l in f if "write(1," in l)
    return out.count(b"\n"), writes


def suite_buffering(exe, work):
    if not shutil.which("strace"):
        print("strace missing: the buffering is not checked")
        return
    folder = os.path.join(work, "buffering")
    os.mkdir(folder)
    for i in range(200):
        write(folder, "t%03d.wav" % i, wav(1, 8000, 16, samples(202, i), declared=0))
    lines, writes = count_writes(exe, folder, terminal=True)
    check(lines == 402 and writes == lines, "a terminal gets each line at once: %d lines, %d writes" % (lines, writes))
    for i in range(200):
        write(folder, "t%03d.wav" % i, wav(1, 8000, 16, samples(202, i), declared=0))
    lines, writes = count_writes(exe, folder, terminal=False)
    check(lines == 402 and 0 < writes <= lines // 20, "a pipe gets them in blocks: %d lines, %d writes" % (lines, writes))


def file_calls(trace, name):
    """The calls on the descriptor opened on name, from its open to its close."""
    calls, fd = [], None
    for line in open(trace):
        m = re.match(r"^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\w+)", line)
        if not m:
            continue
        call, args, result = m.groups()
        if fd is None:
            if call == "openat" and args.split(",")[1].strip().endswith('/%s"' % name):
                fd = result
                calls.append((call, args))
        elif re.match(r"^%s\b" % re.escape(fd), args):
            calls.append((call, args))
            if call == "close":
                break
    return calls


def suite_calls(exe, work):
    """The check of a healthy take makes the calls the benchmark's table
    describes, and no more than it allows."""
    if not shutil.which("strace"):
        print("strace missing: the calls of a check are not counted")
        return
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
    import syscalls
    folder = os.path.join(work, "calls")
    os.mkdir(folder)
    for name, data in (("take.wav", wav(2, 44100, 16, samples(4000, 7))), ("take.aif", aiff(2, 44100, 16, samples(4000, 8), 1000))):
        path = write(folder, name, data)
        trace = os.path.join(work, name + ".strace")
        subprocess.run(["strace", "-f", "-o", trace, exe, "--check", folder], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        calls = file_calls(trace, name)
        seen = {}
        for call, args in calls:
            kind = "stat" if call in ("newfstatat", "fstat") else call
            index = seen.get(kind, 0)
            seen[kind] = index + 1
            check(syscalls.describe(call, args, index) is not None, "%s: %s(%s) is in the table" % (name, call, args))
        check(0 < len(calls) <= syscalls.MOST_CALLS, "%s: %d calls on the file: %r" % (name, len(calls), calls))
        os.remove(path)


def main():
    exe = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="tessmark-report-")
    try:
        suite_json(exe, work)
        suite_undo(exe, work)
        suite_journal_trust(exe, work)
        suite_buffering(exe, work)
        suite_calls(exe, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d of %d checks failed" % (len(failures), checks[0]))
        return 1
    print("all %d checks passed" % checks[0])
    return 0


if __name__ == "__main__":
    sys.exit(main())
