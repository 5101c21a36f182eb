"""What the Python test scripts share: a check that counts and records
failures without stopping the run, and a file's SHA-256."""
import hashlib

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
