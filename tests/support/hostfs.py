"""What the host's file systems grant, and a small disk that fills, for the
Python test scripts. They import it by its path beside them."""
import os
import subprocess

try:
    import fcntl
except ImportError:  # not a POSIX host
    fcntl = None


def leases_granted(folder):
    """Whether a file in folder can be held with a write lease, which the
    native scanner needs to keep a take it repairs from other openers."""
    if fcntl is None or not hasattr(fcntl, "F_SETLEASE"):
        return False
    probe = os.path.join(folder, ".lease-probe")
    with open(probe, "wb+") as f:
        try:
            fcntl.fcntl(f.fileno(), fcntl.F_SETLEASE, fcntl.F_WRLCK)
            fcntl.fcntl(f.fileno(), fcntl.F_SETLEASE, fcntl.F_UNLCK)
            granted = True
        except OSError:
            granted = False
    os.remove(probe)
    return granted


class SmallDisk:
    """A tmpfs of 256 KiB at path, for a disk that fills: mounted says
    whether it could be (root only); fill() takes its last free byte."""

    def __init__(self, path):
        self.path = path
        os.makedirs(path, exist_ok=True)
        self.mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", path],
                                      stderr=subprocess.DEVNULL).returncode == 0

    def fill(self):
        with open(os.path.join(self.path, "filler"), "wb", buffering=0) as f:
            try:
                while True:
                    f.write(b"\0" * 4096)
            except OSError:
                pass

    def unfill(self):
        os.remove(os.path.join(self.path, "filler"))

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.path])
