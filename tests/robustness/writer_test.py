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

Then takes that grow by 4096-byte buffers, which end inside a 24-bit frame,
on exFAT through FUSE with the scans run as another user, so that no lease
keeps the recorder and the scan apart: a scan while the take changes keeps
its partial frame, and a scan once it is quiet cuts it; not one byte the
recorder wrote is lost or moved.

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
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
import hostfs  # noqa: E402

def wav_take(bits):
    """A WAV take as a recorder starts it: every size still 0."""
    return chunks.riff([chunks.fmt_chunk(2, 48000, bits), chunks.head(b"data", 0)], size=0)


def aiff_take(bits):
    """An AIFF take as a recorder starts it: no frames, SSND of 8 bytes, FORM 0."""
    ssnd = chunks.head(b"SSND", 8, ">") + struct.pack(">II", 0, 0)
    return chunks.form([chunks.comm_chunk(2, 0, bits, 48000), ssnd], size=0)


# Each kind of take: its container and bits per sample (stereo).
KINDS = {"wav": ("wav", 16), "aiff": ("aiff", 16), "wav24": ("wav", 24), "aiff24": ("aiff", 24)}


def take_of(kind):
    container, bits = KINDS[kind]
    return (wav_take if container == "wav" else aiff_take)(bits)


def frame_bytes(kind):
    return 2 * KINDS[kind][1] // 8


def stream(count):
    """The first count bytes the recorder writes: frame i holds i."""
    return b"".join(struct.pack("<I", i) for i in range((count + 3) // 4))[:count]


def declared_frames(data, kind):
    """Frames the header declares, and the offset of the first sample byte."""
    if KINDS[kind][0] == "wav":
        return struct.unpack_from("<I", data, 40)[0] // frame_bytes(kind), 44
    return struct.unpack_from(">I", data, 22)[0], 54


class Runner:
    def __init__(self, args, scan_as=()):
        self.scan_as = list(scan_as)  # a command that runs the scan as another user
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
        r = subprocess.run(self.scan_as + self.command(exe, self.path(folder)), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=self.env, timeout=120)
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


def run_batch(runner, args, work, batch, plan, stats, failures, buffer=4, writes=None):
    """Recorders of the plan's kinds at once, scans while they write; then
    every byte they wrote must be in their takes. writes: the writes each
    recorder makes (default: --frames)."""
    writes = writes or args.frames
    folder = os.path.join(work, "batch%02d" % batch)
    os.makedirs(folder)
    os.chmod(folder, 0o777)
    takes = []
    for i, (kind, mode) in enumerate(plan):
        name = "take%d.%s" % (i, "wav" if KINDS[kind][0] == "wav" else "aif")
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(take_of(kind))
        os.chmod(path, 0o666)
        takes.append((name, path, kind, mode))
    writers = [runner.start(args.writer, runner.path(path), str(writes), str(args.interval), mode, str(buffer))
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
    written = stream(writes * buffer)
    if any(len(written) % frame_bytes(kind) for _name, _path, kind, _mode in takes):
        # Quiet now: a scan cuts the partial last frame, and only now.
        for (_name, path, kind, _mode) in takes:
            data = open(path, "rb").read()
            if data[declared_frames(data, kind)[1]:] != written:
                failures.append("batch %d, %s: changed just now, yet not every byte kept" % (batch, path))
            os.utime(path, (time.time() - 3600, time.time() - 3600))
        rc, out, err = runner.scan(args.tessmark, folder)
        if rc != 0:
            failures.append("batch %d: the scan once quiet exits %d: %s %s" % (batch, rc, out, err))
    for (name, path, kind, mode), w, (wout, werr) in zip(takes, writers, results):
        want = written[:len(written) // frame_bytes(kind) * frame_bytes(kind)]
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
            lost = sorted(set(range(len(want) // 4)) - set(have))
            failures.append("%s: %d bytes of samples, want %d; %d frames lost (first %s), %d bytes out of order"
                            % (what, len(got), len(want), len(lost), lost[:5],
                               sum(1 for a, b in zip(got, want) if a != b)))
        elif frames != len(want) // frame_bytes(kind):
            failures.append("%s: the header declares %d frames, want %d" % (what, frames,
                                                                           len(want) // frame_bytes(kind)))
    return scans


def busy_cpus():
    """One busy process per CPU, for the length of the test."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 2)]


def run_rounds(runner, args, work, kinds, rounds, stats, failures, **batch):
    scans = 0
    done = 0
    while done < rounds:
        count = min(args.parallel, rounds - done)
        plan = [kinds[(done + i) % len(kinds)] for i in range(count)]
        scans += run_batch(runner, args, work, done // args.parallel, plan, stats, failures, **batch)
        done += count
    return scans


class ExfatDisk:
    """An exFAT image on a loop device, mounted through FUSE for every user."""

    def __init__(self, work):
        self.work = work
        self.path = os.path.join(work, "mnt")
        self.device = None
        self.mounted = False

    def mount(self):
        """None when mounted, else why not."""
        tools = ("mkfs.exfat", "mount.exfat-fuse", "losetup")
        if os.geteuid() != 0 or not all(shutil.which(t) for t in tools):
            return "needs root and %s" % ", ".join(tools)
        if not os.path.exists("/dev/fuse"):
            return "the kernel offers no FUSE"
        os.makedirs(self.path)
        image = os.path.join(self.work, "exfat.img")
        with open(image, "wb") as f:
            f.truncate(128 << 20)
        subprocess.run(["mkfs.exfat", image], stdout=subprocess.DEVNULL, check=True)
        r = subprocess.run(["losetup", "-f", "--show", image], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if r.returncode != 0:
            return "no loop device: %s" % r.stderr.decode().strip()
        self.device = r.stdout.decode().strip()
        r = subprocess.run(["mount.exfat-fuse", "-o", "allow_other,umask=0", self.device, self.path],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0:
            return "the FUSE mount failed: %s" % r.stdout.decode().strip()
        self.mounted = True
        return None

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.path])
        if self.device:
            subprocess.run(["losetup", "-d", self.device])


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
    ap.add_argument("--growing-rounds", type=int, default=20, help="24-bit takes on exFAT through FUSE")
    ap.add_argument("--buffers", type=int, default=150, help="4096-byte buffers each of those recorders writes")
    args = ap.parse_args()
    if args.emulator and not shutil.which(args.emulator) and not os.path.exists(args.emulator):
        print("SKIPPED: the emulator %s is missing" % args.emulator)
        return 0
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failures = []
    load = busy_cpus()
    try:
        if args.emulator or hostfs.leases_granted(args.work):
            stats = collections.Counter()
            start = time.time()
            kinds = [("wav", "hold"), ("wav", "reopen"), ("aiff", "reopen"), ("aiff", "hold")]
            scans = run_rounds(Runner(args), args, args.work, kinds, args.rounds, stats, failures)
            print("%d recorders of %d frames every %d ms, %d scans while they wrote, in %.1f s"
                  % (args.rounds, args.frames, args.interval, scans, time.time() - start))
            print("while writing: %s" % ", ".join("%s %d" % kv for kv in sorted(stats.items())))
            if stats["in use"] == 0:
                failures.append("no scan found a take in use: the recorders that keep theirs open were never met")
        else:
            print("SKIPPED: %s grants no write lease: there the scan compares length and time only" % args.work)
        if not args.emulator:
            growing(args, failures)
    finally:
        for p in load:
            p.kill()
            p.wait()
    for f in failures:
        print("FAIL: " + f)
    if failures:
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    print("every frame of every take is there, in order")
    return 0


def growing(args, failures):
    """24-bit takes grown by 4096-byte buffers on exFAT through FUSE, the
    scans run as another user: no lease holds the recorder off."""
    disk = ExfatDisk(tempfile.mkdtemp(prefix="exfat-", dir=args.work))
    os.chmod(disk.work, 0o755)  # the scans' user passes through
    try:
        why = disk.mount()
        if why is not None:
            print("SKIPPED: takes on exFAT: %s" % why)
            return
        scan_as = []
        if shutil.which("setpriv"):
            scan_as = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        stats = collections.Counter()
        start = time.time()
        kinds = [("wav24", "reopen"), ("wav24", "hold"), ("aiff24", "hold"), ("aiff24", "reopen")]
        scans = run_rounds(Runner(args, scan_as), args, disk.path, kinds, args.growing_rounds, stats, failures,
                           buffer=4096, writes=args.buffers)
        print("exFAT: %d recorders of %d buffers of 4096 bytes every %d ms%s, %d scans while they wrote, in %.1f s"
              % (args.growing_rounds, args.buffers, args.interval, " (scans as nobody)" if scan_as else "", scans,
                 time.time() - start))
        print("while writing: %s" % ", ".join("%s %d" % kv for kv in sorted(stats.items())))
    finally:
        disk.close()


if __name__ == "__main__":
    sys.exit(main())
