#!/usr/bin/env python3
"""Kills a real scan with SIGKILL in the middle of its repairs, again and
again, then lets one run to its end, and checks with readers we did not write
(Python's wave and aifc) that every file holds every whole frame it held
before, and that a further scan finds nothing to do.

Usage: kill_test.py --tessmark PATH --work DIR [--files N] [--megabytes M]
"""
import argparse
import hashlib
import os
import pty
import random
import select
import shutil
import signal
import struct
import subprocess
import sys
import time
import warnings
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import settle  # noqa: E402
from chunks import chunk, comm_chunk, fmt_chunk, form, head, riff  # noqa: E402

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import aifc
    except ImportError:  # gone from newer Pythons
        aifc = None


def samples(rng, n):
    # A zero first byte: sample data never reads as a chunk header.
    data = bytearray(rng.randbytes(n))
    data[0] = 0
    return bytes(data)


def make_files(folder, count, size, rng):
    """Writes unfinished recordings; returns {name: expectation}."""
    expected = {}
    kinds = ["wav", "bwf", "rf64", "aiff"] if aifc else ["wav", "bwf", "rf64"]
    for i in range(count):
        kind = kinds[i % len(kinds)]
        if kind == "wav":  # header never finalised: sizes 0
            align = 4
            header = riff([fmt_chunk(2, 48000, 16), head(b"data", 0)], 0)
            name = "take%02d.wav" % i
        elif kind == "bwf":  # last update of the header long before the end
            align = 6
            bext = chunk(b"bext", b"field recording".ljust(602, b"\0"))
            info = chunk(b"LIST", b"INFO" + chunk(b"ICMT", b"night, wind\0"))
            declared = (size // 3) // align * align
            header = riff([bext, fmt_chunk(2, 96000, 24), info, head(b"data", declared)], 0)
            name = "take%02d.bwf" % i
        elif kind == "rf64":  # RF64 still at its placeholder sizes
            align = 2
            ds64 = chunk(b"ds64", struct.pack("<QQQI", 0, 0, 0, 0))
            header = riff([ds64, fmt_chunk(1, 48000, 16), head(b"data", 0xFFFFFFFF)], 0xFFFFFFFF, b"RF64")
            name = "take%02d.wav" % i
        else:  # AIFF with no frames declared
            align = 4
            header = form([comm_chunk(2, 0, 16, 44100), head(b"SSND", 8, ">"), struct.pack(">II", 0, 0)], 0)
            name = "take%02d.aif" % i
        # A last partial frame: the recorder died in the middle of one.
        body = samples(rng, size // align * align + (align - 1 if align > 1 else 0))
        if kind == "bwf":
            body = body[:declared] + b"\0" + body[declared + 1:]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(header)
            f.write(body)
        whole = len(body) // align * align
        expected[name] = {
            "kind": kind,
            "length": len(header) + whole,
            "frames": whole // align,
            "digest": hashlib.sha256(body[:whole]).hexdigest(),
        }
    return expected


def read_back(path, kind):
    """Frame count and digest of the sample bytes, as an independent reader sees them."""
    if kind == "aiff":
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            f = aifc.open(path, "rb")
    else:
        f = wave.open(path, "rb")
    try:
        frames = f.getnframes()
        return frames, hashlib.sha256(f.readframes(frames)).hexdigest()
    finally:
        f.close()


def run_until_killed(tessmark, folder, delay):
    """Starts a scan, kills it delay seconds after its first file; 1 if it was killed, 0 if it ended first."""
    # A terminal, as a person watches it: the scan prints each line at once
    # there (into a pipe it prints in blocks).
    master, slave = pty.openpty()
    proc = subprocess.Popen([tessmark, folder], stdout=slave, stderr=subprocess.DEVNULL)
    os.close(slave)
    # Wait for the first file's line, then a little longer: into the middle
    # of one of the repairs that follow.
    deadline = time.monotonic() + 60
    seen = b""
    while b"\n#0002 " not in seen and time.monotonic() < deadline and proc.poll() is None:
        ready, _, _ = select.select([master], [], [], 0.5)
        if ready:
            try:
                part = os.read(master, 4096)
            except OSError:  # the terminal's other end is closed
                break
            if not part:
                break
            seen = (seen + part).replace(b"\r\n", b"\n")
    # Kept read meanwhile: a full terminal would hold the scan in a write.
    until = time.monotonic() + delay
    while time.monotonic() < until:
        ready, _, _ = select.select([master], [], [], max(0.0, until - time.monotonic()))
        if ready:
            try:
                if not os.read(master, 65536):
                    break
            except OSError:
                break
    killed = proc.poll() is None
    if killed:
        proc.send_signal(signal.SIGKILL)
    proc.wait()
    os.close(master)
    return 1 if killed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tessmark", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--files", type=int, default=16)
    parser.add_argument("--megabytes", type=int, default=6)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()

    print("seed", args.seed)
    rng = random.Random(args.seed)
    folder = os.path.join(args.work, "takes")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(folder)
    failures = []
    try:
        expected = make_files(folder, args.files, args.megabytes * 1024 * 1024, rng)

        def readable(name):
            try:
                read_back(os.path.join(folder, name), expected[name]["kind"])
                return True
            except Exception:  # noqa: BLE001 - any failure to read counts
                return False

        readable_before = {n for n in expected if readable(n)}
        kills = 0
        for round in range(args.rounds):
            # The first kill comes right after the first file, while most
            # are still to do; the others at random points.
            kills += run_until_killed(args.tessmark, folder, rng.uniform(0.0, 0.12) if round else 0.0)
            # A file that a reader we did not write could open stays so.
            for name in sorted(readable_before):
                if not readable(name):
                    failures.append("%s unreadable after a kill" % name)
            readable_before |= {n for n in expected if readable(n)}
        if kills == 0:
            failures.append("no scan was still running when killed: make the files larger")

        # The killed repairs changed the takes just now: settled, as a card
        # scanned again later, their partial frames are cut.
        settle(folder)
        done = subprocess.run([args.tessmark, folder], stdout=subprocess.PIPE, text=True)
        if done.returncode != 0:
            failures.append("the scan after the kills ended with %d:\n%s" % (done.returncode, done.stdout))

        for name, e in sorted(expected.items()):
            path = os.path.join(folder, name)
            length = os.path.getsize(path)
            if length != e["length"]:
                failures.append("%s: %d bytes, expected %d" % (name, length, e["length"]))
            try:
                frames, digest = read_back(path, e["kind"])
            except Exception as error:  # noqa: BLE001
                failures.append("%s: %s" % (name, error))
                continue
            if frames != e["frames"]:
                failures.append("%s: %d frames, expected %d" % (name, frames, e["frames"]))
            elif digest != e["digest"]:
                failures.append("%s: the samples differ" % name)

        before = {n: open(os.path.join(folder, n), "rb").read() for n in expected}
        again = subprocess.run([args.tessmark, folder], stdout=subprocess.PIPE, text=True)
        ok_lines = [l for l in again.stdout.splitlines() if l.endswith(" HEADER OK !")]
        if again.returncode != 0 or len(ok_lines) != len(expected):
            failures.append("a further scan found work:\n" + again.stdout)
        for n, content in before.items():
            if open(os.path.join(folder, n), "rb").read() != content:
                failures.append("%s changed in a further scan" % n)
        print("%d of %d runs killed during the scan; %d files checked" % (kills, args.rounds, len(expected)))
    finally:
        if not failures:
            shutil.rmtree(args.work, ignore_errors=True)

    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
