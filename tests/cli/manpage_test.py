#!/usr/bin/env python3
"""The man page against --help: the same options, the same exit statuses and
the same file name extensions (--help takes them from the reader's table),
and man --warnings renders the page without a warning.

Usage: manpage_test.py TESSMARK MANPAGE
"""
import os
import re
import shutil
import subprocess
import sys

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def main():
    exe, page = sys.argv[1], sys.argv[2]
    help_text = subprocess.run([exe, "--help"], stdout=subprocess.PIPE, check=True).stdout.decode()
    with open(page, encoding="utf-8") as f:
        roff = f.read()

    help_options = set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*)", help_text))
    # roff spells a hyphen inside an option \- as well.
    man_options = set("--" + o.replace("\\-", "-") for o in re.findall(r"\\-\\-([a-z](?:[a-z-]|\\-)*)", roff))
    check(help_options == man_options, "options: --help %s, man page %s" % (sorted(help_options), sorted(man_options)))
    # Each option has its own entry in OPTIONS.
    options = roff.split(".SH OPTIONS", 1)[-1].split(".SH ", 1)[0]
    entries = set("--" + o.replace("\\-", "-") for o in re.findall(r"^\.BI? \\-\\-([a-z](?:[a-z-]|\\-)*)", options, re.M))
    check(entries == help_options, "OPTIONS entries %s" % sorted(entries))

    help_names = re.search(r"^Recordings: the files named (.*)$", help_text, re.M)
    description = roff.split(".SH DESCRIPTION", 1)[-1].split(".SH ", 1)[0]
    man_names = set(re.findall(r"^\.BR? (\.[a-z0-9]+)", description, re.M))
    check(help_names is not None and set(help_names.group(1).split()) == man_names,
          "extensions: --help %r, man page %s" % (help_names and help_names.group(1), sorted(man_names)))

    help_status = help_text.split("Exit status:", 1)[-1]
    statuses = set(re.findall(r"(?<![\w-])(\d+) (?:when|on)", help_status))
    section = roff.split(".SH EXIT STATUS", 1)[-1].split(".SH ", 1)[0]
    man_statuses = set(re.findall(r"^\.B (\d+)$", section, re.M)) | set(re.findall(r"(?<![\w-])(\d+) when", section))
    check(statuses and statuses == man_statuses, "exit statuses: --help %s, man page %s" % (sorted(statuses), sorted(man_statuses)))

    if shutil.which("man") and shutil.which("groff"):
        env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
        p = subprocess.run(["man", "--warnings", "-l", page], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        check(p.returncode == 0 and p.stderr == b"", "man --warnings: rc %d %r" % (p.returncode, p.stderr))
        check(b"--journal FILE" in p.stdout or b"journal" in p.stdout, "the page renders")
    else:
        print("man or groff missing: the rendering is not checked")
    if failures:
        return 1
    print("man page and --help agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
