"""What the Python test scripts share: a check that counts and records
failures without stopping the run, a file's SHA-256, and takes that have
settled."""
import hashlib
import os
import time

failures = []
checks = [0]


def check(cond, what):
    checks[0] += 1
    if not cond:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return cond


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def settle(folder):
    """Every file below folder as a take long finished: its time of last
    change an hour back, so that a repair may cut its partial last frame (a
    take changed within the settle time keeps it). Links are not followed."""
    now = time.time()
    for root, _dirs, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            # Only what changed lately: a settled file keeps its time.
            if os.path.isfile(path) and not os.path.islink(path) and os.path.getmtime(path) > now - 60:
                os.utime(path, (now - 3600, now - 3600))
