"""What the host's file systems grant, for the Python test scripts. They
import it by its path beside them."""
import os

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
