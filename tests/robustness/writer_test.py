#!/usr/bin/env python3
"""Recordings still being written while scans run: no frame may be lost.

Each round starts a recorder (framewriter) on a fresh WAV or AIFF take whose
header declares nothing, appending a numbered 4-byte frame every few
milliseconds for a few seconds, and runs tessmark on the take's folder again
and again meanwhile, with every CPU kept busy. Rounds run a few at a time,
each in a folder of its own. When the recorder is done, one more scan
completes the header; then every frame the recorder wrote must be in the
file, in order, with nothing between them, and the header must declare them
all. Recorders keep their file open for the whole take (hold) or open it
for every frame (reopen).

Usage: writer_test.py --tessmark EXE --writer EXE --work DIR [--emulator WINE]
With an emulator both programs are Windows builds run under it.
"""
import argparse
import collections
import os
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
import hostfs  # noqa: E402

FRAME = 4  # 16-bit stereo


def wav_take():
    """A WAV take as a recorder starts it: every size still 0."""
    return chunks.riff([chunks.fmt_chunk(2, 48000, 16), chunks.head(b"data", 0)], size=0)


def aiff_take():
    """An AIFF take as a recorder starts it: no frames, SSND of 8 bytes, FORM 0."""
    ssnd = chunks.head(b"SSND", 8, ">") + struct.pack(">II", 0, 0)
    return chunks.form([chunks.comm_chunk(2, 0, 16, 48000), ssnd], size=0)


def frames_of(count):
    return b"".join(struct.pack("<I", i) for i in range(count))


def declared_frames(data, kind):
    """Frames the header declares, and the offset of the first sample byte."""
    if kind == "wav":
        return struct.unpack_from("<I", data, 40)[0] // FRAME, 44
    return struct.unpack_from(">I", data, 22)[0], 54


class Runner:
    def __init__(self, args):
        self.emulator = args.emulator
        self.env = dict(os.environ)
        if self.emulator:
            self.env.setdefault("WINEDEBUG", "-all")
            self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")

    def path(self, p):
        return "Z:" + os.path.abspath(p).replace("/", "\\") if self.emulator else p

    def command(self, exe, *args):
        return ([self.emulator] if self.emulator else []) + [exe] + list(args)

    def start(self, exe, *args):
        return subprocess.Popen(self.command(exe, *args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=self.env)

    def scan(self, exe, folder):
        r = subprocess.run(self.command(exe, self.path(folder)), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=self.env, timeout=120)
        return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")


def tally(stats, out, err):
    """Counts what one scan said of the takes."""
    for line in out.splitlines():
        if " Length:" in line:
            stats["repaired"] += 1
        elif line.endswith("ERR:Can't Access File"):
            stats["refused"] += 1
    for line in err.splitlines():
        if "in use" in line:
            stats["in use"] += 1
        elif "still being written?" in line:
            stats["still being written"] += 1


def run_batch(runner, args, batch, plan, stats, failures):
    folder = os.path.join(args.work, "batch%02d" % batch)
    os.makedirs(folder)
    takes = []
    for i, (kind, mode) in enumerate(plan):
        name = "take%d.%s" % (i, "wav" if kind == "wav" else "aif")
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(wav_take() if kind == "wav" else aiff_take())
        takes.append((name, path, kind, mode))
    writers = [runner.start(args.writer, runner.path(path), str(args.frames), str(args.interval), mode)
               for _name, path, _kind, mode in takes]
    scans = 0
    while any(w.poll() is None for w in writers):
        _rc, out, err = runner.scan(args.tessmark, folder)
        tally(stats, out, err)
        scans += 1
    results = [w.communicate() for w in writers]
    rc, out, err = runner.scan(args.tessmark, folder)
    if rc != 0:
        failures.append("batch %d: the scan after the recorders exits %d: %s %s" % (batch, rc, out, err))
    want = frames_of(args.frames)
    for (name, path, kind, mode), w, (wout, werr) in zip(takes, writers, results):
        what = "batch %d, %s (%s, %s)" % (batch, name, kind, mode)
        if w.returncode != 0:
            failures.append("%s: the recorder failed: %s %s" % (what, wout.decode(), werr.decode()))
            continue
        stats["opens retried"] += int(wout.split()[3])
        data = open(path, "rb").read()
        frames, offset = declared_frames(data, kind)
        got = data[offset:]
        if got != want:
            have = [struct.unpack_from("<I", got, i)[0] for i in range(0, len(got) - len(got) % 4, 4)]
            lost = sorted(set(range(args.frames)) - set(have))
            failures.append("%s: %d bytes of samples, want %d; %d frames lost (first %s), %d bytes out of order"
                            % (what, len(got), len(want), len(lost), lost[:5],
                               sum(1 for a, b in zip(got, want) if a != b)))
        elif frames != args.frames:
            failures.append("%s: the header declares %d frames, want %d" % (what, frames, args.frames))
    return scans


def busy_cpus():
    """One busy process per CPU, for the length of the test."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 2)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tessmark", required=True)
    ap.add_argument("--writer", required=True)
    ap.add_argument("--work", required=True, help="folder for the takes (emptied first)")
    ap.add_argument("--emulator", default="")
    ap.add_argument("--rounds", type=int, default=24, help="recorders in all")
    ap.add_argument("--parallel", type=int, default=4, help="recorders at a time")
    ap.add_argument("--frames", type=int, default=600)
    ap.add_argument("--interval", type=int, default=5, help="milliseconds between two frames")
    args = ap.parse_args()
    if args.emulator and not shutil.which(args.emulator) and not os.path.exists(args.emulator):
        print("SKIPPED: the emulator %s is missing" % args.emulator)
        return 0
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    if not args.emulator and not hostfs.leases_granted(args.work):
        print("SKIPPED: %s grants no write lease: there the scan compares length and time only" % args.work)
        return 0
    runner = Runner(args)
    kinds = [("wav", "hold"), ("wav", "reopen"), ("aiff", "reopen"), ("aiff", "hold")]
    stats = collections.Counter()
    failures = []
    load = busy_cpus()
    start = time.time()
    scans = 0
    try:
        done = 0
        batch = 0
        while done < args.rounds:
            count = min(args.parallel, args.rounds - done)
            plan = [kinds[(done + i) % len(kinds)] for i in range(count)]
            scans += run_batch(runner, args, batch, plan, stats, failures)
            done += count
            batch += 1
    finally:
        for p in load:
            p.kill()
            p.wait()
    print("%d recorders of %d frames every %d ms, %d scans while they wrote, in %.1f s"
          % (args.rounds, args.frames, args.interval, scans, time.time() - start))
    print("while writing: %s" % ", ".join("%s %d" % kv for kv in sorted(stats.items())))
    if stats["in use"] == 0:
        failures.append("no scan found a take in use: the recorders that keep theirs open were never met")
    for f in failures:
        print("FAIL: " + f)
    if failures:
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    print("every frame of every take is there, in order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
