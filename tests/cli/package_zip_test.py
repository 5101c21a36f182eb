#!/usr/bin/env python3
"""The Windows zip: CPack makes it, and it holds Tessmark.exe,
tessmark-cli.exe and the README at its top.

Usage: package_zip_test.py CPACK BUILD_DIR
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def main():
    cpack, build = sys.argv[1:3]
    work = tempfile.mkdtemp(prefix="tessmark-zip-")
    try:
        p = subprocess.run([cpack, "-G", "ZIP", "-B", work, "--config", os.path.join(build, "CPackConfig.cmake")],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=build)
        zips = glob.glob(os.path.join(work, "*.zip"))
        if p.returncode != 0 or len(zips) != 1:
            print("FAIL: cpack made no zip: %s" % p.stdout.decode()[-2000:])
            return 1
        with zipfile.ZipFile(zips[0]) as z:
            names = sorted(z.namelist())
            exe = z.read("tessmark-cli.exe") if "tessmark-cli.exe" in names else b""
        if names != ["README.md", "Tessmark.exe", "tessmark-cli.exe"] or not exe.startswith(b"MZ"):
            print("FAIL: the zip holds %r" % names)
            return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("the zip holds %s" % ", ".join(names))
    return 0


if __name__ == "__main__":
    sys.exit(main())
