#!/usr/bin/env python3
"""Every failure said: output that cannot be written, repairs whose writes
fail, files that cannot be opened, entries that are no file, folders too deep
and names that would drive the terminal. Each gives its words on standard
error and its exit status; no file changes unless repaired.

Usage: cli_failures.py TESSMARK
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import chunks  # noqa: E402
from checks import check, run_suites, settle, sha  # noqa: E402
from hostfs import SmallDisk  # noqa: E402


def unset_wav(seed=1, frames=400):
    data = bytes((i * 7 + seed) & 0xFF for i in range(frames * 2))
    body = chunks.fmt_chunk(1, 8000, 16) + chunks.head(b"data", 0) + data
    return chunks.riff([body], size=0)


def healthy_wav(seed=1, frames=400):
    data = bytes((i * 7 + seed) & 0xFF for i in range(frames * 2))
    return chunks.riff([chunks.fmt_chunk(1, 8000, 16) + chunks.head(b"data", len(data)) + data])


def folder_of(work, name, files):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    for n, data in files.items():
        with open(os.path.join(os.fsencode(folder), n if isinstance(n, bytes) else n.encode()), "wb") as f:
            f.write(data)
    settle(folder)
    return folder


def run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE):
    p = subprocess.run(cmd, stdout=stdout, stderr=stderr, timeout=300)
    return p.returncode, p.stdout or b"", p.stderr or b""


def suite_output(exe, work):
    """The lines or the report that cannot be written: exit 4 and the cause."""
    folder = folder_of(work, "out", {"t%03d.wav" % i: unset_wav(i) for i in range(40)})
    modes = [("lines", ["--check"]), ("--json", ["--check", "--json"])]
    for label, args in modes:
        # A closed pipe: the reader gone before the program starts (closed
        # after it, the pipe could take every line first).
        reader, writer = os.pipe()
        os.close(reader)
        p = subprocess.Popen([exe] + args + [folder], stdout=writer, stderr=subprocess.PIPE)
        os.close(writer)
        err = p.stderr.read()
        rc = p.wait(timeout=300)
        check(rc == 4 and b"cannot write to standard output: Broken pipe" in err,
              "%s into a closed pipe: rc %d %r" % (label, rc, err[-200:]))
    disk = SmallDisk(os.path.join(work, "full"))
    try:
        if not disk.mounted:
            print("full disk: a tmpfs cannot be mounted here (not root?): not tested")
        else:
            disk.fill()
            for label, args in modes:
                with open(os.path.join(disk.path, label.strip("-")), "wb") as f:
                    rc, _, err = run([exe] + args + [folder], stdout=f)
                check(rc == 4 and b"cannot write to standard output: No space left on device" in err,
                      "%s into a full disk: rc %d %r" % (label, rc, err[-200:]))
    finally:
        disk.close()
    # Notes on a standard error that takes nothing: the status says it.
    odd = folder_of(work, "odd", {"noise.wav": b"not a recording at all"})
    with open("/dev/full", "wb") as full:
        rc, _, _ = run([exe, "--check", odd], stderr=full)
    check(rc == 4, "notes into /dev/full: rc %d" % rc)
    rc, out, _ = run([exe, "--check", odd])
    check(rc == 3, "the same notes written: rc %d" % rc)


def suite_repair_writes(exe, work):
    """A journal on a full disk: the take is not repaired, and the note says why."""
    disk = SmallDisk(os.path.join(work, "journaldisk"))
    try:
        if not disk.mounted:
            print("full journal disk: a tmpfs cannot be mounted here (not root?): not tested")
            return
        take = unset_wav(3)
        folder = folder_of(work, "journaled", {"take.wav": take})
        journal = os.path.join(disk.path, "repairs.jsonl")
        open(journal, "wb").close()
        disk.fill()
        rc, _, err = run([exe, "--journal", journal, folder])
        check(rc == 1 and b"take.wav: not repaired: the journal could not be written (no space left on the device)"
              in err, "journal on a full disk: rc %d %r" % (rc, err))
        check(open(os.path.join(folder, "take.wav"), "rb").read() == take, "the take is left as it was")
    finally:
        disk.close()


def suite_permissions(exe, work):
    """A file the user may not read, or may only read, as an ordinary user."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        print("permissions: not root, or no setpriv: not tested")
        return
    folder = folder_of(work, "perms", {"locked.wav": unset_wav(4), "readonly.wav": unset_wav(5)})
    os.chmod(work, 0o755)
    os.chmod(folder, 0o777)
    os.chmod(os.path.join(folder, "locked.wav"), 0)
    os.chmod(os.path.join(folder, "readonly.wav"), 0o444)
    before = {n: sha(os.path.join(folder, n)) for n in os.listdir(folder)}
    as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", exe, folder]
    rc, _, err = run(as_nobody)
    cases = [("locked.wav", b"cannot open (permission denied)"), ("readonly.wav", b"cannot open (read-only)")]
    for name, words in cases:
        check((b"tessmark: %s: not examined: %s" % (name.encode(), words)) in err, "%s: %r" % (name, err))
    check(rc == 3, "files not opened: rc %d" % rc)
    check({n: sha(os.path.join(folder, n)) for n in os.listdir(folder)} == before, "nothing changed")


def suite_entries(exe, work):
    """Entries named like recordings that are no file, a folder too deep, a
    path too long: each named, none opened."""
    folder = folder_of(work, "entries", {"real.wav": healthy_wav(6)})
    os.mkfifo(os.path.join(folder, "fifo.wav"))
    os.symlink(os.path.join(folder, "gone.wav"), os.path.join(folder, "dangling.wav"))
    deep = folder
    for _ in range(65):
        deep = os.path.join(deep, "d")
    os.makedirs(deep)
    with open(os.path.join(deep, "deep.wav"), "wb") as f:
        f.write(healthy_wav(7))
    shown = "/".join(["d"] * 65)
    # The longest folder the path buffer holds, and a name that does not fit.
    long_folder = os.path.join(folder, "x" * 200, "y" * 200, "z" * 200, "w" * 200)
    os.makedirs(long_folder)
    room = 1023 - len(long_folder) - 1
    long_name = "n" * (room - 3) + ".wav"
    with open(os.path.join(long_folder, long_name), "wb") as f:
        f.write(healthy_wav(8))
    cases = [
        ([], [b"fifo.wav: not examined: not a regular file (a FIFO, device or socket)",
              b"dangling.wav: not examined: a link, not followed"]),
        (["--recursive", "--follow-links"], [
            b"fifo.wav: not examined: not a regular file (a FIFO, device or socket)",
            b"dangling.wav: not examined: a link that leads nowhere",
            shown.encode() + b": not examined: a folder more than 64 levels down: not entered",
            long_name.encode() + b": not examined: path too long (in " + long_folder.encode() + b")"]),
    ]
    for args, notes in cases:
        settle(folder)
        rc, out, err = run([exe, "--check"] + args + [folder])
        for note in notes:
            check(b"tessmark: " + note + b"\n" in err, "%s: %r named: %r" % (args, note[:60], err[-300:]))
        check(rc == 3, "%s: rc %d" % (args, rc))


def suite_names(exe, work):
    """Control characters in names, C0 and C1, in UTF-8 and as bare bytes,
    never reach the terminal."""
    names = [b"csi\xc2\x9b31m.wav", b"esc\x1b[31m.wav", b"bare\x9b31m.wav", b"caf\xc3\xa9.wav", b"euro\xe2\x82\xac.wav"]
    folder = folder_of(work, "names", {n: unset_wav(9) for n in names})
    rc, out, err = run([exe, "--check", folder])
    check(rc == 1, "names: rc %d" % rc)
    for raw in (b"\xc2\x9b", b"\x1b", b"\x9b31m"):
        check(raw not in out and raw not in err, "%r never printed: %r" % (raw, out))
    for shown in (b"csi?31m.wav", b"esc?[31m.wav", b"bare?31m.wav", b"caf\xc3\xa9.wav", b"euro\xe2\x82\xac.wav"):
        check(shown in out, "%r shown: %r" % (shown, out))


def main():
    return run_suites(os.path.abspath(sys.argv[1]),
                      [suite_output, suite_repair_writes, suite_permissions, suite_entries, suite_names],
                      "tessmark-failures-")


if __name__ == "__main__":
    sys.exit(main())
