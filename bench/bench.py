#!/usr/bin/env python3
"""Runs the benchmarks and prints the results as Markdown. Started by
bench/run.sh, which builds the programs first; see bench/RESULTS.md.

Every comparison is made side by side in this one run: the tools take turns
on the same files, and each figure is the median of several runs.
"""
import argparse
import concurrent.futures
import datetime
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GENDATA = os.path.join(HERE, "gendata.py")
sys.path.insert(0, HERE)
import syscalls  # noqa: E402

MiB = 1 << 20
GiB = 1 << 30


def log(msg):
    sys.stderr.write("[bench] %s\n" % msg)
    sys.stderr.flush()


def run_timed(cmd, env=None, stdout=subprocess.DEVNULL, cpu=None):
    """Runs cmd; returns (seconds, exit status). Appends the CPU seconds
    (user and system) it used to cpu when given."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=stdout, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if cpu is not None:
        cpu.append(usage.ru_utime + usage.ru_stime)
    return seconds, proc.returncode


def peak_rss(cmd, env=None):
    """Max RSS in KiB by /usr/bin/time -v (the rusage of a child forked
    from this interpreter would count the interpreter's pages too)."""
    tv = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                        env=env).stderr
    m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", tv)
    return int(m.group(1)) if m else None


def gendata(*args):
    subprocess.run([sys.executable, GENDATA] + [str(a) for a in args], check=True)


def fmt_time(seconds):
    if seconds is None:
        return "-"
    if seconds < 1e-6:
        return "%.0f ns" % (seconds * 1e9)
    if seconds < 1e-3:
        return "%.1f µs" % (seconds * 1e6)
    if seconds < 1:
        return "%.1f ms" % (seconds * 1e3)
    return "%.2f s" % seconds


def fmt_ratio(x):
    if x is None:
        return "-"
    if x >= 100:
        return "%.0f×" % x
    return "%.1f×" % x


def median(values):
    return statistics.median(values) if values else None


# ---------------------------------------------------------------- machine

def machine():
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = ""
    try:
        with open("/proc/meminfo") as f:
            kib = int(f.readline().split()[1])
            mem = "%.0f GiB" % (kib / (1 << 20))
    except (OSError, ValueError, IndexError):
        pass
    disk = "unknown"
    try:
        out = subprocess.run(["df", "--output=source,fstype", HERE], capture_output=True, text=True).stdout
        source, fstype = out.splitlines()[1].split()
        dev = os.path.basename(source)
        rot = ""
        try:
            with open("/sys/block/%s/queue/rotational" % dev) as f:
                rot = ", which the kernel reports %s" % (
                    "rotational" if f.read().strip() == "1" else "non-rotational")
        except OSError:
            pass
        disk = "%s (%s%s)" % (source, fstype, rot)
    except (OSError, ValueError, IndexError):
        pass
    return {
        "nproc": str(os.cpu_count()),
        "cpu": cpu,
        "memory": mem,
        "kernel": platform.release(),
        "os": platform.freedesktop_os_release().get("PRETTY_NAME", "") if hasattr(platform, "freedesktop_os_release") else "",
        "disk": disk,
    }


def load_average():
    return os.getloadavg()[0]


# ---------------------------------------------------------------- 1. check

def strace_counts(cmd, trace_file, env=None):
    """strace -c -f: calls per system call name."""
    subprocess.run(["strace", "-f", "-c", "-o", trace_file] + cmd, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, env=env)
    counts = {}
    with open(trace_file) as f:
        for line in f:
            parts = line.split()
            if len(parts) in (5, 6) and re.match(r"^[0-9.]+$", parts[0]) and parts[-1] != "total":
                counts[parts[-1]] = int(parts[3])
    return counts


HEALTHY_KINDS = {"wav", "bwf", "wav-trailer", "rf64", "aiff"}


FLAG_TESSMARK = re.compile(r"^#\d+ (\S+) header (?:not set|missing \d+ bytes) : ")
FLAG_SNDCHECK = re.compile(r"^(\S+) short: ")
EXAMINED = re.compile(r"^(\d+) files examined", re.M)


def flagged_set(text, flagged_re):
    """The names a checker's output flags as needing repair."""
    flagged = set()
    for line in text.splitlines():
        m = flagged_re.match(line)
        if m:
            flagged.add(m.group(1))
    return flagged


def verdicts(text, kinds, flagged_re):
    """Which files a checker's output flags as needing repair, set against
    what the generator made: (flagged, healthy ones flagged, damaged ones missed)."""
    flagged = flagged_set(text, flagged_re)
    wrong = sum(1 for name in flagged if kinds.get(name) in HEALTHY_KINDS)
    missed = sum(1 for name, kind in kinds.items() if kind not in HEALTHY_KINDS and name not in flagged)
    return len(flagged), wrong, missed


def run_captured(cmd, out_path, env=None):
    """Runs cmd with its standard output in out_path: (seconds, exit status,
    output, the first line of its standard error)."""
    with open(out_path, "w") as out:
        start = time.perf_counter()
        proc = subprocess.run(cmd, stdout=out, stderr=subprocess.PIPE, text=True, env=env)
        seconds = time.perf_counter() - start
    lines = proc.stderr.strip().splitlines()
    return seconds, proc.returncode, open(out_path).read(), lines[0] if lines else ""


class CheckRow:
    """One tool in one of the check's tables."""

    def __init__(self, name, cmd, flag_re, env=None, family="tessmark"):
        self.name, self.cmd, self.flag_re, self.env, self.family = name, cmd, flag_re, env, family
        self.times = []
        self.rounds = []  # warm: the times of each round, one list a round
        self.failed = ""  # why the tool gave no result
        self.skipped = ""  # why it was not run
        self.examined = None
        self.verdicts = None
        self.flagged = None
        self.differs = []  # runs whose flagged set was not the first run's
        self.requests = []  # FUSE: requests per run
        self.server_cpu = []  # FUSE: the server's CPU seconds per run

    def take(self, seconds, status, text, err, kind_of):
        """Records one run's output; False when the tool failed."""
        m = EXAMINED.search(text)
        if status not in (0, 1) or not m:
            self.failed = "exit %d%s" % (status, ": " + err if err else "")
            return False
        self.times.append(seconds)
        flagged = flagged_set(text, self.flag_re)
        if self.flagged is None:
            self.flagged, self.examined = flagged, int(m.group(1))
            self.verdicts = verdicts(text, kind_of, self.flag_re)
        elif flagged != self.flagged:
            self.differs.append(len(self.times))
        return True

    def ok(self):
        return not self.failed and not self.skipped and bool(self.times)


def drop_caches():
    """Empties the page cache, dentries and inodes: "" when done, else why not."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    except OSError as e:
        return "cannot drop the page cache here (%s: %s)" % ("/proc/sys/vm/drop_caches", e.strerror)
    return ""


def mounted(path):
    path = os.path.abspath(path)
    try:
        with open("/proc/mounts") as f:
            return any(line.split()[1] == path for line in f if len(line.split()) > 1)
    except OSError:
        return False


def unmount(path):
    for cmd in (["fusermount3", "-u", path], ["umount", path], ["fusermount3", "-u", "-z", path],
                ["umount", "-l", path]):
        if not mounted(path):
            return True
        if shutil.which(cmd[0]):
            subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return not mounted(path)


def mount_slowfs(slowfs, source, mountpoint, delay_us, counts, err_path):
    """Starts slowfs: (process, "") once mounted, else (None, why not)."""
    if not os.path.exists(slowfs):
        return None, "slowfs was not built (libfuse3 missing?)"
    if not os.path.exists("/dev/fuse"):
        return None, "no /dev/fuse on this machine"
    if mounted(mountpoint):
        unmount(mountpoint)  # left by a run that was killed
    os.makedirs(mountpoint, exist_ok=True)
    with open(err_path, "w") as err:
        proc = subprocess.Popen([slowfs, "--delay-us=%d" % delay_us, "--counts=" + counts, source, mountpoint, "-f"],
                                stdout=subprocess.DEVNULL, stderr=err)
    deadline = time.time() + 10
    while not mounted(mountpoint):
        if proc.poll() is not None or time.time() > deadline:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            why = open(err_path).read().strip().splitlines()
            return None, "cannot mount (slowfs: %s)" % (why[-1] if why else "exit %d" % proc.returncode)
        time.sleep(0.05)
    return proc, ""


def unmount_slowfs(proc, mountpoint):
    done = unmount(mountpoint)
    if proc is not None:
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if not done:
        log("could not unmount %s" % mountpoint)


def read_counts(path):
    try:
        data = open(path, "rb").read()
    except OSError:
        return 0
    return sum(struct.unpack("<%dQ" % (len(data) // 8), data[:len(data) // 8 * 8]))


def cpu_seconds(pid):
    """User and system CPU seconds of a running process, its threads included."""
    try:
        fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


# What each system call of the examination of one healthy WAV is for: the
# table the strace test holds tessmark to.
def justify(call, args, index_of_kind):
    return syscalls.describe(call, args, index_of_kind) or ("extra", "(not classified)")


def joined_strace_lines(lines):
    """strace -f splits a call that another thread's call interrupts into an
    unfinished and a resumed line: the lines with those joined back."""
    pending = {}
    out = []
    for line in lines:
        m = re.match(r"^(\d+)\s+(.*) <unfinished \.\.\.>$", line)
        if m:
            pending[m.group(1)] = m.group(2)
            continue
        m = re.match(r"^(\d+)\s+<\.\.\. \w+ resumed>(.*)$", line)
        if m and m.group(1) in pending:
            out.append("%s %s%s" % (m.group(1), pending.pop(m.group(1)), m.group(2)))
            continue
        out.append(line)
    return out


def traced_file_calls(cmd, name, trace_file):
    """Runs cmd under strace; the calls (name, arguments, result) on the
    first descriptor opened on a path ending in name, from its open to its
    close, preceded by the listing's stat of name."""
    subprocess.run(["strace", "-f", "-o", trace_file] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    lines = joined_strace_lines(open(trace_file).read().splitlines())
    calls = []
    fd = None
    pid = None
    for line in lines:
        m = re.match(r"^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\w+)", line)
        if not m:
            continue
        p, call, args, result = m.groups()
        if fd is None:
            if call == "newfstatat" and '"%s"' % name in args and "AT_SYMLINK_NOFOLLOW" in args:
                calls.append((call, args, result))
            elif call == "openat" and ('/%s"' % name) in args:
                fd, pid = result, p
                calls.append((call, args, result))
            continue
        if p != pid:
            continue
        if re.match(r"^%s\b" % re.escape(fd), args):
            calls.append((call, args, result))
            if call == "close":
                break
    return calls


def one_file_calls(tessmark, folder, name, trace_file):
    """The system calls of tessmark --check on a folder holding one file,
    each with what it is for."""
    calls = traced_file_calls([tessmark, "--check", folder], name, trace_file)
    out = []
    seen = {}
    for call, args, result in calls:
        kind_key = "stat" if call in ("newfstatat", "fstat") and "AT_SYMLINK_NOFOLLOW" not in args else call
        index = seen.get(kind_key, 0)
        seen[kind_key] = index + 1
        role, why = justify(call, args, index)
        shown = args if len(args) < 70 else args[:67] + "..."
        out.append((call, shown, result, role, why))
    return out


def bench_check(args, build, data, results):
    folder = os.path.join(data, "check")
    kinds = folder + ".kinds"
    if not os.path.exists(kinds):
        log("generating %d files in %s" % (args.files, folder))
        shutil.rmtree(folder, ignore_errors=True)
        gendata("folder", folder, args.files)
        os.sync()  # a check must not pay for writing back the generator's pages
    tessmark = os.path.join(build, "cli", "tessmark")
    sndcheck = os.path.join(build, "bench", "sndcheck")
    nofsync = os.path.join(build, "bench", "libnofsync.so")
    env_nofsync = dict(os.environ, LD_PRELOAD=nofsync)
    kind_of = dict(line.split() for line in open(kinds))
    out_path = os.path.join(data, "check-output.txt")

    def rows_for(where, diagnostic=False):
        rows = [CheckRow("tessmark --check", [tessmark, "--check", where], FLAG_TESSMARK),
                CheckRow("tessmark --check --jobs 1", [tessmark, "--check", "--jobs", "1", where], FLAG_TESSMARK),
                CheckRow("libsndfile checker", [sndcheck, where], FLAG_SNDCHECK, family="libsndfile")]
        if diagnostic:
            rows.append(CheckRow("tessmark --check, fsync stubbed (diagnostic)", [tessmark, "--check", where],
                                 FLAG_TESSMARK, env=env_nofsync))
        return rows

    # Warm: the first run of each gives the verdicts and warms the cache.
    warm = rows_for(folder, diagnostic=True)
    for row in warm:
        row.take(*run_captured(row.cmd, out_path, row.env), kind_of)
        row.times = []
    # Rounds one after another, so that a quiet or a busy minute shows as the
    # spread of their ratios rather than as one figure.
    for k in range(args.warm_rounds):
        for row in warm:
            row.rounds.append([])
        for r in range(args.runs):
            log("check round %d of %d, run %d of %d" % (k + 1, args.warm_rounds, r + 1, args.runs))
            for row in (warm if r % 2 == 0 else list(reversed(warm))):
                if not row.failed:
                    row.rounds[-1].append(run_timed(row.cmd, env=row.env)[0])
                    row.times.append(row.rounds[-1][-1])
    # The sequential run every other flagged set is held against.
    reference = {"tessmark": warm[1] if warm[1].ok() else None, "libsndfile": warm[2]}

    # Cold: the page cache, dentries and inodes dropped before every run.
    cold = rows_for(folder)
    cold_note = drop_caches()
    if not cold_note:
        for r in range(args.cold_runs):
            log("cold check run %d of %d" % (r + 1, args.cold_runs))
            for row in (cold if r % 2 == 0 else list(reversed(cold))):
                if row.failed:
                    continue
                cold_note = drop_caches()
                if cold_note:
                    break
                row.take(*run_captured(row.cmd, out_path, row.env), kind_of)
        os.sync()
    for row in cold:
        if cold_note and not row.ok():
            row.skipped = cold_note

    # Over slowfs: every request to the file system answered late. The cold
    # runs above left the files behind slowfs out of the page cache: read
    # them all once, so that the delay is the only cost and the tool that
    # runs first does not pay for the disk.
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                while f.read(1 << 20):
                    pass
    mountpoint = os.path.join(data, "check-slowfs")
    counts = os.path.join(data, "slowfs-counts")
    slow = rows_for(mountpoint)
    proc, fuse_note = mount_slowfs(os.path.join(build, "bench", "slowfs"), folder, mountpoint, args.fuse_delay_us,
                                   counts, os.path.join(data, "slowfs-stderr.txt"))
    try:
        if proc is not None:
            # A fresh mount serves the first lookup of each name one at a
            # time (the kernel then makes the inode); later lookups of the
            # name run in parallel. Look every name up once, untimed, so
            # that the tool that runs first does not pay for the mount.
            log("check over slowfs: looking up every name once")
            with concurrent.futures.ThreadPoolExecutor(32) as pool:
                list(pool.map(os.stat, (os.path.join(mountpoint, n) for n in os.listdir(mountpoint))))
            for r in range(args.fuse_runs):
                for row in (slow if r % 2 == 0 else list(reversed(slow))):
                    if row.failed:
                        continue
                    log("check over slowfs, %s, run %d of %d" % (row.name, r + 1, args.fuse_runs))
                    before, cpu_before = read_counts(counts), cpu_seconds(proc.pid)
                    if row.take(*run_captured(row.cmd, out_path, row.env), kind_of):
                        row.requests.append(read_counts(counts) - before)
                        row.server_cpu.append(cpu_seconds(proc.pid) - cpu_before)
    finally:
        if proc is not None:
            unmount_slowfs(proc, mountpoint)
    for row in slow:
        if fuse_note:
            row.skipped = fuse_note

    log("check: counting system calls")
    traced = [warm[0], warm[2]]
    traces = {}
    for row in traced:
        traces[row.name] = strace_counts(row.cmd, os.path.join(data, "strace-%s.txt" % row.name.split()[0]), row.env)
    log("check: peak memory")
    rss = {row.name: peak_rss(row.cmd, row.env) for row in traced}
    one = os.path.join(data, "one")
    shutil.rmtree(one, ignore_errors=True)
    os.makedirs(one)
    gendata("healthy", os.path.join(one, "take.wav"))
    calls = one_file_calls(tessmark, one, "take.wav", os.path.join(data, "strace-one.txt"))
    damaged = sum(1 for kind in kind_of.values() if kind not in HEALTHY_KINDS)
    results["check"] = {"files": args.files, "damaged": damaged, "warm": warm, "cold": cold, "cold_note": cold_note,
                        "cold_runs": args.cold_runs, "slow": slow, "fuse_note": fuse_note,
                        "fuse_runs": args.fuse_runs, "fuse_delay_us": args.fuse_delay_us, "reference": reference,
                        "tools": [row.name for row in traced], "traces": traces, "rss": rss, "one": calls}


# ---------------------------------------------------------------- 2. repair

def bench_repair(args, build, data, results):
    tessmark = os.path.join(build, "cli", "tessmark")
    sizes = [("10 MiB", 10 * MiB), ("1 GiB", GiB), ("8 GiB", 8 * GiB)]
    if args.quick:
        sizes = sizes[:2]
    rows = []
    per_byte = {}  # seconds per byte of the last size each copier ran on
    for label, size in sizes:
        folder = os.path.join(data, "repair-%d" % size)
        take = os.path.join(folder, "take.wav")
        out = os.path.join(data, "copy-out.wav")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        gendata("take", take, size)
        os.sync()
        copiers = [
            ("sox", ["sox", "--ignore-length", take, out]),
            ("ffmpeg", ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", take, "-c", "copy", out]),
        ]
        t_times, t_ok = [], True
        j_times = []  # the same repair with --journal
        c_times = {name: [] for name, _ in copiers}
        c_cpu = {name: [] for name, _ in copiers}
        c_note = {name: "" for name, _ in copiers}
        c_ok = {name: True for name, _ in copiers}
        for r in range(args.repair_runs):
            log("repair %s, run %d of %d" % (label, r + 1, args.repair_runs))
            gendata("damage", take, size)
            for name, cmd in copiers:
                spent = sum(c_times[name])
                if c_times[name] and spent >= args.copy_budget:
                    continue  # enough of a slow copier: its runs so far give the median
                if not c_times[name] and name in per_byte:
                    guess = per_byte[name] * size
                    if guess > args.copy_cap:
                        c_note[name] = "skipped: ~%s expected (%s per GiB measured above)" % (
                            fmt_time(guess), fmt_time(per_byte[name] * GiB))
                        continue
                seconds, status = run_timed(cmd, cpu=c_cpu[name])
                if status != 0:
                    c_ok[name] = False
                c_times[name].append(seconds)
                if os.path.exists(out):
                    os.remove(out)
            # The copies' written-back pages must not queue before the
            # repair's one flush.
            os.sync()
            seconds, status = run_timed([tessmark, folder])
            # Repaired: whole frames of 6 bytes behind the 80-byte header.
            if status != 0 or os.path.getsize(take) % 6 != 80 % 6:
                t_ok = False
            t_times.append(seconds)
            gendata("damage", take, size)
            journal = os.path.join(data, "repair.journal")
            if os.path.exists(journal):
                os.remove(journal)
            os.sync()
            seconds, status = run_timed([tessmark, "--journal", journal, folder])
            if status != 0:
                t_ok = False
            j_times.append(seconds)
        gendata("damage", take, size)
        t_rss = peak_rss([tessmark, folder])
        # What the repair does to the file, call by call: not noisy.
        gendata("damage", take, size)
        calls = traced_file_calls([tessmark, folder], "take.wav", os.path.join(data, "strace-repair.txt"))
        on_fd = [c for c in calls if "AT_SYMLINK_NOFOLLOW" not in c[1]]
        moved = sum(int(r) for call, _, r in on_fd if call in ("read", "write", "pread64", "pwrite64") and
                    r.lstrip("-").isdigit() and int(r) > 0)
        sequence = []
        for call, _, _ in on_fd:
            if sequence and sequence[-1][0] == call:
                sequence[-1][1] += 1
            else:
                sequence.append([call, 1])
        t_calls = (len(on_fd), moved, " ".join(c if n == 1 else "%s×%d" % (c, n) for c, n in sequence))
        for name, _ in copiers:
            if c_times[name]:
                per_byte[name] = median(c_times[name]) / size
        rows.append({"label": label, "size": size, "tessmark": t_times, "journaled": j_times,
                     "tessmark_rss": t_rss, "tessmark_ok": t_ok,
                     "tessmark_calls": t_calls,
                     "copiers": {name: {"times": c_times[name], "cpu": c_cpu[name], "note": c_note[name],
                                        "ok": c_ok[name]} for name, _ in copiers}})
        shutil.rmtree(folder, ignore_errors=True)
    results["repair"] = rows


# ---------------------------------------------------------------- 5. rebuild

def bench_rebuild(args, build, data, results):
    """tessmark --template on a 2 GiB take whose header is gone, side by
    side with cp of the same file: cp alone, and cp then sync of the copy,
    since the rebuild flushes its file before it names it."""
    tessmark = os.path.join(build, "cli", "tessmark")
    size = (256 * MiB) if args.quick else 2 * GiB
    folder = os.path.join(data, "rebuild")
    shutil.rmtree(folder, ignore_errors=True)
    gendata("rebuild", folder, size)
    take, sibling = os.path.join(folder, "take.wav"), os.path.join(folder, "sibling.wav")
    out = os.path.join(folder, "out")
    os.makedirs(out)
    copy = os.path.join(out, "copy.wav")
    rebuilt = os.path.join(out, "take-rebuilt.wav")
    subprocess.run(["cat", take], stdout=subprocess.DEVNULL)  # the page cache warm for every tool
    tools = [("cp", ["cp", take, copy], copy),
             ("cp + sync", ["sh", "-c", 'cp "$0" "$1" && sync "$1"', take, copy], copy),
             ("tessmark --template", [tessmark, "--template", sibling, "--out", out, take], rebuilt)]
    times = {name: [] for name, _, _ in tools}
    ok = {name: True for name, _, _ in tools}
    for r in range(args.repair_runs):
        for name, cmd, made in tools:
            log("rebuild %s, run %d of %d: %s" % (fmt_size(size), r + 1, args.repair_runs, name))
            os.sync()
            seconds, status = run_timed(cmd)
            if status != 0 or os.path.getsize(made) < size - 4096:
                ok[name] = False
            times[name].append(seconds)
            os.remove(made)
    rss = peak_rss([tessmark, "--template", sibling, "--out", out, take])
    os.remove(rebuilt)
    shutil.rmtree(folder, ignore_errors=True)
    results["rebuild"] = {"size": size, "times": times, "ok": ok, "rss": rss}


def fmt_size(n):
    return "%d GiB" % (n // GiB) if n >= GiB else "%d MiB" % (n // MiB)


# ---------------------------------------------------------------- 3. log

def parse_keyvalues(text):
    values = {}
    for line in text.splitlines():
        parts = line.split()
        if len(parts) == 2:
            try:
                values[parts[0]] = float(parts[1])
            except ValueError:
                pass
    return values


def bench_log(args, build, win_build, data, results):
    native = subprocess.run([os.path.join(build, "bench", "logbench"), "9"], capture_output=True, text=True)
    results["log_native"] = parse_keyvalues(native.stdout)
    results["log_wine"] = None
    exe = os.path.join(win_build, "bench", "logbench.exe") if win_build else None
    wine = "/usr/lib/wine/wine64"
    if args.no_wine or not exe or not os.path.exists(exe) or not os.path.exists(wine) or not shutil.which("xvfb-run"):
        results["log_wine_note"] = "not run (no 64-bit Windows build, wine64 or xvfb-run)"
        return
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               WINEPREFIX=args.wineprefix)
    log("log view under Wine (the first run makes a Wine prefix)")
    proc = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "timeout", str(args.wine_timeout), wine,
                           exe, "3", str(args.wine_budget_ms)], capture_output=True, text=True, env=env)
    values = parse_keyvalues(proc.stdout)
    results["log_wine"] = values
    if "edit_tick_8m_ms" not in values:
        results["log_wine_note"] = "did not finish (exit %d): %s" % (proc.returncode, proc.stderr.strip()[-200:])


# ---------------------------------------------------------------- report

def same_cell(row, reference):
    """Whether row flagged the files the sequential run on the local disk flagged."""
    ref = reference.get(row.family)
    if ref is None:
        return "- (no sequential run: tessmark --check --jobs 1 failed)"
    if row is ref:
        return "(the sequential run)"
    only_here, only_there = sorted(row.flagged - ref.flagged), sorted(ref.flagged - row.flagged)
    if not only_here and not only_there and not row.differs:
        return "yes"
    parts = []
    if only_here or only_there:
        parts.append("%d flagged only here, %d only there (%s)" % (
            len(only_here), len(only_there), ", ".join((only_here + only_there)[:3])))
    if row.differs:
        parts.append("run %s flagged other files than run 1" % ", ".join(str(i) for i in row.differs))
    return "**no**: " + "; ".join(parts)


def check_table(w, rows, n, reference, slow=False):
    base = next((r for r in rows if r.family == "libsndfile" and r.ok()), None)
    base_rate = n / median(base.times) if base else None
    w("| tool | median time | files per second | against the libsndfile checker | runs | files examined "
      "| flagged for repair | healthy files flagged | damaged files missed "
      "| the same flagged files as the sequential run on the local disk |%s" % (
          " requests per file |" if slow else ""))
    w("|---|---|---|---|---|---|---|---|---|---|%s" % ("---|" if slow else ""))
    for row in rows:
        if not row.ok():
            why = "not run: " + row.skipped if row.skipped else "failed (%s)" % (row.failed or "no run")
            w("| %s | %s | - | - | %d | - | - | - | - | - |%s" % (
                row.name, why.replace("|", "\\|"), len(row.times), " - |" if slow else ""))
            continue
        rate = n / median(row.times)
        flagged, wrong, missed = row.verdicts
        w("| %s | %s | %.0f | %s | %d | %d | %d | %d | %d | %s |%s" % (
            row.name, fmt_time(median(row.times)), rate, fmt_ratio(rate / base_rate) if base_rate else "-",
            len(row.times), row.examined, flagged, wrong, missed, same_cell(row, reference),
            " %.2f |" % (median(row.requests) / n) if slow and row.requests else (" - |" if slow else "")))


def ratio_of(rows, n):
    """tessmark --check's files per second over the libsndfile checker's, or None."""
    t, s = rows[0], next((r for r in rows if r.family == "libsndfile"), None)
    if not t.ok() or s is None or not s.ok():
        return None
    return median(s.times) / median(t.times)


def round_ratios(rows, row):
    """row's files per second over the libsndfile checker's, one ratio a round."""
    s = next((r for r in rows if r.family == "libsndfile"), None)
    if not row.ok() or s is None or not s.ok():
        return []
    return [median(b) / median(a) for a, b in zip(row.rounds, s.rounds) if a and b]


def ratio_range(ratios):
    return fmt_ratio(min(ratios)) if min(ratios) == max(ratios) else "%s to %s" % (
        fmt_ratio(min(ratios)), fmt_ratio(max(ratios)))


def goal_line(what, goal, ratio, before=""):
    if ratio is None:
        return "Goal: %s, tessmark --check at least %d× the libsndfile checker's files per second%s: not measured " \
               "(a tool failed)." % (what, goal, before)
    return "Goal: %s, tessmark --check at least %d× the libsndfile checker's files per second%s: %s (%s)." % (
        what, goal, before, "**met**" if ratio >= goal else "**not met**", fmt_ratio(ratio))


def run_lines(info, what):
    return ["%s on %s: %s CPUs (%s), %s RAM, kernel %s, %s; disk %s." % (
        what, info["date"], info["nproc"], info["cpu"], info["memory"], info["kernel"], info["os"], info["disk"]),
        "Load average (1 min) at start %.1f, at end %.1f%s." % (
            info["load_start"], info["load_end"],
            ": other work shared the CPUs, so wall-clock times are noisy (system call counts are not)"
            if max(info["load_start"], info["load_end"]) > 1.0 else "")]


def report(results, info):
    """The results as Markdown: a list of (part, text), the parts that
    bench/RESULTS.md keeps between markers of their own."""
    parts = []

    def part(key):
        parts.append((key, []))

    def w(line):
        parts[-1][1].append(line)

    only = info.get("only")
    part("head")
    if not only:
        for line in run_lines(info, "Run"):
            w(line)
        w("Wall-clock times are medians of the runs counted in the tables, page cache warm unless a table says "
          "otherwise; the tools took turns on the same files.")
        w("")

    c = results.get("check")
    if c:
        part("check")
        n = c["files"]
        first, second = c["tools"][0], c["tools"][1]
        w("### 1. Checking a folder of %d small files (%d of them damaged)" % (n, c["damaged"]))
        w("")
        if only:
            for line in run_lines(info, "Sections 1 and 4 are from a later run of `bench/run.sh --only check`"):
                w(line)
            w("Wall-clock times are medians of the runs counted in the tables; the tools took turns on the "
              "same files.")
            w("")
        warm, cold, slow = c["warm"], c["cold"], c["slow"]
        w("On the local disk, page cache warm (a first run of each tool, not counted, gives the verdicts and warms "
          "the cache):")
        w("")
        check_table(w, warm, n, c["reference"])
        w("")
        lowest = None
        rounds = len(warm[0].rounds)
        if rounds > 1:
            w("The warm runs came in %d rounds, one after another; against the libsndfile checker, round by round:"
              % rounds)
            w("")
            w("| tool | %s | range |" % " | ".join("round %d" % (k + 1) for k in range(rounds)))
            w("|---|%s---|" % ("---|" * rounds))
            for row in (r for r in warm if r.family == "tessmark"):
                ratios = round_ratios(warm, row)
                if ratios:
                    w("| %s | %s | %s |" % (row.name, " | ".join(fmt_ratio(x) for x in ratios), ratio_range(ratios)))
            w("")
            ratios = round_ratios(warm, warm[0])
            lowest = min(ratios) if ratios else None
        w(goal_line("warm on the local disk%s" % (", in its slowest round" if lowest is not None else ""), 3,
                    lowest if lowest is not None else ratio_of(warm, n), " (2.4× before --jobs)"))
        w("")
        w("#### The same folder, cache cold")
        w("")
        if c["cold_note"]:
            w("Not measured: %s." % c["cold_note"])
            w("")
            check_table(w, cold, n, c["reference"])
        else:
            w("Before every run the page cache, dentries and inodes were dropped "
              "(`sync; echo 3 > /proc/sys/vm/drop_caches`), the programs' own pages included; %d runs of each "
              "tool." % c["cold_runs"])
            w("")
            check_table(w, cold, n, c["reference"])
        w("")
        delay = c["fuse_delay_us"]
        w("#### The same folder over a file system that answers every request %s late (FUSE)" % fmt_time(delay / 1e6))
        w("")
        if c["fuse_note"]:
            w("Not measured: %s." % c["fuse_note"])
            w("")
            check_table(w, slow, n, c["reference"], slow=True)
        else:
            requests = [sum(r.requests) for r in slow if r.requests]
            cpu = [sum(r.server_cpu) for r in slow if r.requests]
            w("`bench/slowfs.c` (libfuse3) mounted read-only over the folder, under `build/`: a passthrough that "
              "sleeps %s on the thread serving each request (lookup, getattr, open, read, flush, release, the "
              "listing's opendir, readdir, releasedir), with up to 64 threads, so requests in flight overlap as "
              "on a network share or a card reader. Names and attributes are cached for 0 s, so every lookup, "
              "stat and fstat is a request; pages are read through the page cache but dropped at every open; "
              "flock locks are the kernel's own; the files behind it are in the page cache, and every name "
              "was looked up once through the mount before the timed runs. %d run%s of each "
              "tool, in turn; requests per file counted by "
              "the server, which used %s of CPU per request." % (
                  fmt_time(delay / 1e6), c["fuse_runs"], "" if c["fuse_runs"] == 1 else "s",
                  fmt_time(sum(cpu) / sum(requests)) if requests and sum(requests) else "-"))
            w("")
            check_table(w, slow, n, c["reference"], slow=True)
            w("")
            short = [r.name for r in slow if r.family == "tessmark" and r.ok() and r.examined != n]
            if short:
                w("**Not every file was examined over slowfs** by %s (see the files examined)." % ", ".join(short))
            else:
                w("Every tessmark run examined all %d files on the mount: its shared flock is granted there as "
                  "on the local disk." % n)
            w("")
            w(goal_line("over the slow file system", 8, ratio_of(slow, n)))
        w("")
        w("System calls per examined file (strace -c -f over the whole run, divided by %d):" % n)
        w("")
        ta, tb = c["traces"][first], c["traces"][second]
        names = sorted(set(ta) | set(tb), key=lambda k: -(ta.get(k, 0) + tb.get(k, 0)))
        w("| system call | tessmark --check | libsndfile checker |")
        w("|---|---|---|")
        for k in names:
            a, b = ta.get(k, 0), tb.get(k, 0)
            if (a + b) / n >= 0.01:
                w("| %s | %.2f | %.2f |" % (k, a / n, b / n))
        w("| **all** | **%.2f** | **%.2f** |" % (sum(ta.values()) / n, sum(tb.values()) / n))
        w("")
        one = c["one"]
        on_fd = [x for x in one if x[3] != "listing"]
        least = [x for x in one if x[3] == "least"]
        from_listing = len(one) - len(on_fd)
        w("The examination of one healthy WAV (16-bit stereo, 44-byte header), call by call (strace of "
          "tessmark --check on a folder holding only that file): %d calls on the file against the least of 4 "
          "(open, one read, a size query, close), and %s. The line of the result (one write to standard "
          "output) is not counted." % (len(on_fd), "%d from the listing" % from_listing if from_listing else
                                       "none from the listing (the folder gives each entry's type)"))
        w("")
        w("| # | call | result | | why |")
        w("|---|---|---|---|---|")
        for i, (call, args, result, role, why) in enumerate(one, 1):
            w("| %d | `%s(%s)` | %s | %s | %s |" % (i, call, args.replace("|", "\\|"), result, role, why))
        w("")
        if len(least) != 4:
            w("(%d of the calls match the least; expected 4.)" % len(least))
            w("")

    rb = results.get("rebuild")
    if rb:
        part("rebuild")
        w("### 5. Rebuilding a take whose header is gone (%s, 24-bit stereo, first 4 KiB zeroed)" % fmt_size(rb["size"]))
        w("")
        w("`tessmark --template sibling.wav --out DIR take.wav` against `cp take.wav DIR` on the same disk, "
          "page cache warm; the rebuild flushes its file before it renames it, so cp is also timed with a "
          "`sync` of its copy.")
        w("")
        w("| tool | time | tessmark's time ÷ this |")
        w("|---|---|---|")
        t = median(rb["times"]["tessmark --template"])
        for name in ("cp", "cp + sync", "tessmark --template"):
            m = median(rb["times"][name])
            w("| %s | %s (%d runs, %s–%s)%s | %s |" % (name, fmt_time(m), len(rb["times"][name]),
                                                      fmt_time(min(rb["times"][name])),
                                                      fmt_time(max(rb["times"][name])),
                                                      "" if rb["ok"][name] else ", FAILED", fmt_ratio(t / m)))
        w("")
        w("tessmark rebuilds at %.0f%% of the speed of cp and %.0f%% of that of cp + sync; its peak memory "
          "%.1f MiB." % (100 * median(rb["times"]["cp"]) / t, 100 * median(rb["times"]["cp + sync"]) / t,
                         (rb["rss"] or 0) / 1024))
        w("")

    rows = results.get("repair")
    if rows:
        part("repair")
        w("### 2. Repairing one damaged take (24-bit stereo, header declares 0 data bytes, last frame cut; "
          "sparse from 1 GiB)")
        w("")
        w("tessmark repairs in place (`tessmark FOLDER`, the folder holding the take); sox and ffmpeg write "
          "a repaired copy. The take is damaged again before every run.")
        w("")
        w("| take | tessmark | sox --ignore-length | ffmpeg -c copy | sox / tessmark | ffmpeg / tessmark |")
        w("|---|---|---|---|---|---|")
        notes = []
        for row in rows:
            t = median(row["tessmark"])
            cells, ratios = [], []
            for name in ("sox", "ffmpeg"):
                cp = row["copiers"][name]
                if cp["times"]:
                    m = median(cp["times"])
                    runs = len(cp["times"])
                    cells.append("%s (%d run%s)%s" % (fmt_time(m), runs, "" if runs == 1 else "s",
                                                      "" if cp["ok"] else ", failed"))
                    ratios.append(fmt_ratio(m / t))
                else:
                    cells.append("skipped")
                    ratios.append("-")
                    if cp["note"]:
                        notes.append("%s on %s: %s." % (name, row["label"], cp["note"]))
            w("| %s | %s (%d runs, %s–%s)%s | %s | %s | %s | %s |" % (
                row["label"], fmt_time(t), len(row["tessmark"]), fmt_time(min(row["tessmark"])),
                fmt_time(max(row["tessmark"])), "" if row["tessmark_ok"] else ", FAILED",
                cells[0], cells[1], ratios[0], ratios[1]))
        first, last = median(rows[0]["tessmark"]), median(rows[-1]["tessmark"])
        w("")
        w("What Tessmark's repair does to the take (strace, calls on the file from open to close):")
        w("")
        w("| take | calls | bytes read and written | the calls |")
        w("|---|---|---|---|")
        for row in rows:
            n, moved, sequence = row["tessmark_calls"]
            w("| %s | %d | %d | %s |" % (row["label"], n, moved, sequence))
        w("")
        w("Tessmark's repair from %s to %s: %s → %s (×%.2f for a file %d times larger); its peak memory "
          "%.1f MiB → %.1f MiB." % (rows[0]["label"], rows[-1]["label"], fmt_time(first), fmt_time(last),
                                    last / first, rows[-1]["size"] // rows[0]["size"],
                                    rows[0]["tessmark_rss"] / 1024, rows[-1]["tessmark_rss"] / 1024))
        if all(row.get("journaled") for row in rows):
            jf, jl = median(rows[0]["journaled"]), median(rows[-1]["journaled"])
            w("")
            w("With `--journal` (the header bytes, the bytes cut and a fingerprint of 17 blocks of 4 KiB "
              "recorded and flushed first): %s." % ", ".join(
                  "%s %s" % (row["label"], fmt_time(median(row["journaled"]))) for row in rows))
            w("")
            w("Goal: a journaled repair of the %s take costs less than twice that of the %s one: %s (×%.2f)." % (
                rows[-1]["label"], rows[0]["label"], "**met**" if jl < 2 * jf else "**not met**", jl / jf))
        # The 10 MiB take holds noise, the sparse ones silence; a copier
        # may not spend the same per MiB on both.
        for name in ("sox", "ffmpeg"):
            rates = [(row["label"], median(row["copiers"][name]["cpu"]) / (row["size"] / MiB))
                     for row in rows if row["copiers"][name]["cpu"]]
            if len(rates) > 1:
                notes.append("%s, CPU time (user + system) per MiB copied: %s. The 10 MiB take holds noise "
                             "(and the figure includes start-up), the sparse takes hold silence." % (
                                 name, ", ".join("%s take %s" % (label, fmt_time(r)) for label, r in rates)))
        for note in notes:
            w("")
            w(note)
        w("")

    ln = results.get("log_native")
    lw = results.get("log_wine")
    if ln:
        part("log")
        w("### 3. The desktop log (the application's 8 MiB LogBuffer)")
        w("")
        w("| measure | native (Linux) | under Wine (x86_64 build, Xvfb) |")
        w("|---|---|---|")

        def cell(values, key):
            if not values or key not in values:
                return "-"
            return fmt_time(values[key] / 1000)

        w("| append 100,000 scan lines (%.1f MiB of text) | %s | %s |" % (
            ln.get("append_100k_bytes", 0) / MiB, cell(ln, "append_100k_ms"), cell(lw, "append_100k_ms")))
        w("| refresh tick, log unchanged | %s | %s |" % (cell(ln, "tick_unchanged_ms"), cell(lw, "tick_unchanged_ms")))
        w("| LogBuffer_UseIfChanged with a copy of a 1 MiB log | %s | %s |" % (cell(ln, "copy_tick_1m_ms"),
                                                                              cell(lw, "copy_tick_1m_ms")))
        w("| LogBuffer_UseIfChanged with a copy of an 8 MiB log | %s | %s |" % (cell(ln, "copy_tick_8m_ms"),
                                                                               cell(lw, "copy_tick_8m_ms")))
        if lw and "edit_tick_8m_ms" in lw:
            for size in ("1m", "8m"):
                runs = int(lw.get("edit_tick_%s_runs" % size, 0))
                w("| refresh tick as the desktop program makes it, %s log: the new line copied under the log's lock, "
                  "then put at the end of the multi-line edit (EM_REPLACESEL), scroll to the end, paint "
                  "| - | %s (lock held %s; %d run%s) |" % (
                      "1 MiB" if size == "1m" else "full 8 MiB", cell(lw, "edit_tick_%s_ms" % size),
                      cell(lw, "edit_tick_%s_locked_ms" % size), runs, "" if runs == 1 else "s"))
            for size in ("1m", "8m"):
                runs = int(lw.get("whole_tick_%s_runs" % size, 0))
                w("| for comparison, the tick as it was, %s log: the whole text copied under the lock, then "
                  "SetWindowTextA, scroll, paint | - | %s (%d run%s) |" % (
                      "1 MiB" if size == "1m" else "full 8 MiB", cell(lw, "whole_tick_%s_ms" % size),
                      runs, "" if runs == 1 else "s"))
        w("")
        if results.get("log_wine_note"):
            w("Wine: %s." % results["log_wine_note"])
            w("")

    if c:
        part("memory")
        w("### 4. Peak memory on the %d-file folder (/usr/bin/time -v)" % c["files"])
        w("")
        w("| tool | max RSS |")
        w("|---|---|")
        for name in c["tools"][:2]:
            w("| %s | %s |" % (name, "%.1f MiB" % (c["rss"][name] / 1024) if c["rss"][name] else "-"))
        w("")
    return [(key, "\n".join(lines)) for key, lines in parts]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", required=True, help="native release build directory")
    ap.add_argument("--win-build", default="", help="x86_64 Windows build directory (for the log view)")
    ap.add_argument("--data", required=True, help="where the generated files go")
    ap.add_argument("--files", type=int, default=10000)
    ap.add_argument("--runs", type=int, default=5, help="timed runs of each checker (warm: in each round)")
    ap.add_argument("--warm-rounds", type=int, default=3, help="rounds of the warm runs, one after another")
    ap.add_argument("--repair-runs", type=int, default=7, help="timed repairs of each take")
    ap.add_argument("--copy-budget", type=float, default=40.0,
                    help="seconds after which a copier is not run again on the same take")
    ap.add_argument("--copy-cap", type=float, default=150.0,
                    help="a copier is skipped on a take it would need longer than this for")
    ap.add_argument("--wine-timeout", type=int, default=300)
    ap.add_argument("--wine-budget-ms", type=float, default=15000)
    ap.add_argument("--no-wine", action="store_true")
    ap.add_argument("--quick", action="store_true", help="1,000 files, no 8 GiB take, fewer runs: a smoke test")
    ap.add_argument("--only", choices=["check", "repair", "rebuild"], default="",
                    help="check: only the check's sections (warm, cold, slow file system, peak memory); "
                         "repair, rebuild: only that section")
    ap.add_argument("--cold-runs", type=int, default=3, help="runs of each checker with the cache dropped")
    ap.add_argument("--fuse-runs", type=int, default=1, help="runs of each checker over the slow file system")
    ap.add_argument("--fuse-delay-us", type=int, default=1000, help="the slow file system's delay per request")
    ap.add_argument("--save", default="", help="also write the results into this Markdown file")
    args = ap.parse_args()
    args.wineprefix = os.path.abspath(os.path.join(args.data, "wineprefix"))
    if args.quick:
        args.files, args.runs, args.repair_runs, args.cold_runs = 1000, 3, 3, 2
        args.data = os.path.join(args.data, "quick")

    os.makedirs(args.data, exist_ok=True)
    info = machine()
    info["date"] = datetime.date.today().isoformat()
    info["load_start"] = load_average()
    info["only"] = args.only
    started = time.time()
    results = {}
    if args.only != "rebuild":
        bench_check(args, args.build, args.data, results)
    if args.only in ("", "repair"):
        bench_repair(args, args.build, args.data, results)
    if not args.only:
        bench_log(args, args.build, args.win_build, args.data, results)
    if args.only in ("", "rebuild"):
        bench_rebuild(args, args.build, args.data, results)
    info["load_end"] = load_average()
    parts = [(key, text) for key, text in report(results, info) if text]
    took = "The %s took %.0f s.\n" % (("%s sections" % args.only) if args.only else "whole run", time.time() - started)
    if args.only:
        parts[-1] = (parts[-1][0], parts[-1][1] + "\n" + took)
    else:
        parts.append(("tail", took))
    print("\n".join(text for _, text in parts))
    if args.save:
        save(args.save, parts, bool(args.only))
        log("results written to %s" % args.save)
    return 0


def save(path, parts, only):
    """Puts the parts into path between their markers: every part, inside
    bench:begin and bench:end, or with only, just the parts given, in place."""
    def marks(key):
        return "<!-- bench:%s -->" % key, "<!-- /bench:%s -->" % key

    old = open(path).read() if os.path.exists(path) else ""
    if only:
        new = old
        for key, text in parts:
            begin, end = marks(key)
            if begin not in new or end not in new:
                sys.exit("bench: %s has no %s markers; run without --only to make them" % (path, key))
            head, rest = new.split(begin, 1)
            _, tail = rest.split(end, 1)
            new = head + begin + "\n" + text + "\n" + end + tail
    else:
        text = "\n".join("%s\n%s\n%s" % (marks(key)[0], text, marks(key)[1]) for key, text in parts)
        begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
        if begin in old and end in old:
            head, rest = old.split(begin, 1)
            _, tail = rest.split(end, 1)
            new = head + begin + "\n" + text + "\n" + end + tail
        else:
            new = old + "\n" + begin + "\n" + text + "\n" + end + "\n"
    with open(path, "w") as f:
        f.write(new)

if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        log("interrupted")
        sys.exit(130)
