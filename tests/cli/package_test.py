#!/usr/bin/env python3
"""The Debian package and cmake --install: builds the .deb with CPack,
unpacks it into a scratch root (dpkg -x), runs the installed tessmark on the
demo folder, and finds its man page there with man, without warnings.

Usage: package_test.py CPACK CMAKE BUILD_DIR SOURCE_DIR
"""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return cond


def main():
    cpack, cmake, build, source = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="tessmark-package-")
    try:
        out = os.path.join(work, "out")
        p = subprocess.run([cpack, "-G", "DEB", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=build)
        debs = glob.glob(os.path.join(out, "*.deb"))
        if not check(p.returncode == 0 and len(debs) == 1, "cpack made one .deb: %s" % p.stdout.decode()[-2000:]):
            return 1
        info = subprocess.run(["dpkg-deb", "--field", debs[0], "Package", "Version", "Depends"],
                              stdout=subprocess.PIPE, check=True).stdout.decode()
        check("Package: tessmark" in info and "libc6" in info, "package fields: %r" % info)

        root = os.path.join(work, "root")
        subprocess.run(["dpkg", "-x", debs[0], root], check=True)
        exe = os.path.join(root, "usr", "bin", "tessmark")
        page = os.path.join(root, "usr", "share", "man", "man1", "tessmark.1")
        check(os.access(exe, os.X_OK), "usr/bin/tessmark installed")
        check(os.path.isfile(page), "usr/share/man/man1/tessmark.1 installed")
        check(os.path.isfile(os.path.join(root, "usr", "share", "doc", "tessmark", "README.md")), "README installed")

        demo = os.path.join(work, "demo")
        subprocess.run([sys.executable, os.path.join(source, "cli", "make_demo.py"), demo], check=True,
                       stdout=subprocess.DEVNULL)
        r = subprocess.run([exe, "--json", demo], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        lines = [json.loads(l) for l in r.stdout.decode().splitlines()]
        summary = lines[-1] if lines else {}
        check(r.returncode == 0 and summary.get("repaired", 0) > 0 and summary.get("failed") == 0,
              "the installed tessmark repairs the demo folder: rc %d %r %r" % (r.returncode, summary, r.stderr))
        r = subprocess.run([exe, demo], stdout=subprocess.PIPE)
        check(r.returncode == 0 and b"0 repaired" in r.stdout, "and a second scan finds nothing: %r" % r.stdout)

        env = dict(os.environ, MANPATH=os.path.join(root, "usr", "share", "man"), MANWIDTH="80", LC_ALL="C.UTF-8")
        m = subprocess.run(["man", "-w", "tessmark"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        check(m.returncode == 0 and m.stdout.decode().strip() == page, "man finds the page: %r %r" % (m.stdout, m.stderr))
        m = subprocess.run(["man", "--warnings", "tessmark"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        check(m.returncode == 0 and m.stderr == b"" and b"EXIT STATUS" in m.stdout, "man tessmark: %r" % m.stderr)

        prefix = os.path.join(work, "prefix")
        i = subprocess.run([cmake, "--install", build, "--prefix", prefix], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT)
        check(i.returncode == 0 and os.access(os.path.join(prefix, "bin", "tessmark"), os.X_OK) and
              os.path.isfile(os.path.join(prefix, "share", "man", "man1", "tessmark.1")),
              "cmake --install: %s" % i.stdout.decode()[-1000:])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        return 1
    print("the package installs and runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
