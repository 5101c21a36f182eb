#!/usr/bin/env python3
"""End-to-end test of the desktop program, used as a person would use it.

Runs Tessmark.exe under Wine on an X display and drives it from outside: the
driver program (tessdriver.exe, under the same Wine) finds windows and reads
their texts, xdotool moves and clicks the mouse, ImageMagick's import takes
screenshots. The recordings are made here with the wave module and damaged the
way unfinished recordings are (sizes never written, a frame cut in half).

Modes:
  resources  checks the program's resources (menu, bitmap, version block,
             languages); needs no display.
  window     everything else; needs an X display without a window manager,
             as test.sh's Xvfb (DISPLAY, or a private Xvfb started here when
             DISPLAY is unset). It takes the mouse of that display. Its
             parts (--parts): scan and close (the program's use), notes
             (a folder of refused, cut short and unfinished takes given at
             start, the options, a drop, the saved log: the same words as
             tessmark-cli.exe), names (takes named in three scripts, by the
             program as it runs on Windows 10 1903 and later and as on
             earlier Windows), and responsive (the window answers during a
             scan of 100,000 files).

Notes on Wine without a window manager (as on Xvfb):
  - Wine is told to draw the window frame itself (the per-program registry
    value Decorated=N); otherwise no title bar or sizing border exists and a
    border drag has nothing to grab.
  - Menus belong to their process in this Wine: the driver cannot read the
    live menu, so the menu resource is read from the program file and the
    items are then used with the mouse.
  - Keyboard events from xdotool do not reach the program (its window never
    becomes the X focus owner without a window manager); the mouse does. So
    the driver puts the path into the file dialog's name field and presses
    its Open or Cancel button, as typing and clicking would.
  - Sizing drags: a real xdotool drag on the Wine-drawn border runs Wine's
    own sizing loop, which sends WM_SIZING. Right after a dialog has closed
    Wine may act on a drag late, so a drag waits for the size to settle.
  - A drop on the window: the driver places a DROPFILES block in the
    program's memory and posts WM_DROPFILES with it, as the shell does.
  - Maximising is left out: without a window manager Wine records the
    maximised size but the X window keeps its old one.
"""

import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import threading
import time
import wave

TITLE = "TESSMARK (version : 1.0.0.2)"
DIALOG = "Select File To Scan"
ABOUT_TEXT = (
    "TESSMARK\nVersion : 1.0.0.2\nStandalone Application\n"
    "Free Application to repair Wave File header according file size."
    "\n\nMade by Tessmark\nhttps://tessmark.example\n"
)
MENU = ("&Command{&Select Folder To Scan=50|Include &Subfolders=51|&Check Only=52|-|&Undo Last Scan's Repairs=54|"
        "Save &Log As...=53|-|&About=101|&Quit=100}")
# Menu commands by the ids the resource gives them.
COMMANDS = {"select": 50, "subfolders": 51, "checkonly": 52, "undo": 54, "savelog": 53, "quit": 100, "about": 101}
SAVE_DIALOG = "Save Log As"
# The options as the registry keeps them (HKCU\Software\Tessmark).
REG_SUBFOLDERS, REG_CHECK_ONLY = "IncludeSubfolders", "CheckOnly"
# The window's unnumbered lines: a note on one file is indented by this.
NOTE_INDENT = "    "
LOG_VIEW_STYLE = 0x50311884
WS_EX_CLIENTEDGE = 0x200
SC_CLOSE = 0xF060
# Takes named in three scripts, in a folder named in them too.
SCRIPT_NAMES = ["Séance 3.wav", "録音 01.wav", "Интервью.wav"]
SCRIPT_FOLDER = "Prises 録音 Сессия"
# The responsiveness check: asked every 100 ms, the window answers in 250.
ASK_EVERY_MS = 100
ANSWER_WITHIN_MS = 250


# Every process started here, so that a time-out can end them all.
STARTED = []


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


STARTED_AT = time.time()


def step(text):
    print("-- [%5.1f s]" % (time.time() - STARTED_AT), text, flush=True)


def wine_path(path):
    """The path as the program sees it: Wine maps the root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unescape(text):
    table = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}

    def one(match):
        body = match.group(1)
        if body.startswith("x"):
            return chr(int(body[1:], 16))
        return table[body]

    return re.sub(r"\\(x[0-9a-f]{2}|[nrt\\])", one, text)


class Driver:
    """tessdriver.exe, kept running: one command line in, one answer out."""

    def __init__(self, wine, exe, env):
        self.proc = subprocess.Popen([wine, exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env, encoding="utf-8")
        STARTED.append(self.proc)

    def ask(self, line, expect_ok=True):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        check(answer != "", "the driver ended while answering: " + line)
        status, _, rest = answer.rstrip("\r\n").partition(" ")
        if expect_ok:
            check(status == "OK", "driver: %s: %s" % (line, rest))
        return unescape(rest) if status == "OK" else None

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.flush()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()


# ---------------------------------------------------------------- recordings

def frames_of(count, channels, width, seed):
    """Sample frames that differ everywhere, so a shifted or lost byte shows."""
    return random.Random(seed).randbytes(count * channels * width)


def write_wav(path, rate, channels, width, frames):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(frames)


def finished_long_ago(path):
    """Dates the file an hour back: a take its recorder finished long ago,
    whose partial last frame a repair cuts (one that changed within seconds
    may still grow, and keeps it)."""
    long_ago = time.time() - 3600
    os.utime(path, (long_ago, long_ago))


def set_sizes(path, riff_size, data_size):
    """Overwrites the RIFF and data sizes of a canonical 44-byte header."""
    with open(path, "r+b") as f:
        head = f.read(44)
        check(head[36:40] == b"data", "unexpected header layout in " + path)
        f.seek(4)
        f.write(struct.pack("<I", riff_size))
        f.seek(40)
        f.write(struct.pack("<I", data_size))


class Recording:
    def __init__(self, folder, name, rate, channels, width, seconds, damage, extra=b"", seed=1):
        self.name = name
        self.path = os.path.join(folder, name)
        self.rate, self.channels, self.width = rate, channels, width
        self.block = channels * width
        self.frame_count = int(rate * seconds)
        self.frames = frames_of(self.frame_count, channels, width, seed)
        write_wav(self.path, rate, channels, width, self.frames)
        with open(self.path, "ab") as f:
            f.write(extra)  # a recorder that stopped inside a frame
        present = len(self.frames) + len(extra)
        self.damage = damage
        if damage == "not set":
            set_sizes(self.path, 0, 0)
        elif damage == "missing":
            declared = (self.frame_count // 3) * self.block
            set_sizes(self.path, 36 + declared, declared)
            self.missing = present - declared
        elif damage == "cut short":
            # The header declares more than was written: left alone.
            self.cut_short_by = 4000
            set_sizes(self.path, 36 + present + self.cut_short_by, present + self.cut_short_by)
        finished_long_ago(self.path)
        with open(self.path, "rb") as f:
            self.original = f.read()

    def expected_lines(self):
        if self.damage in (None, "cut short"):
            return ["%s HEADER OK !" % self.name]
        if self.damage == "not set":
            first = "%s header not set : repair" % self.name
        else:
            first = "%s header missing %d bytes : repair" % (self.name, self.missing)
        seconds = self.frame_count * 1000 // self.rate // 1000
        return [first, "%s (%dHz / %d ch) Length:%02d:%02d:%02d" % (
            self.name, self.rate, self.channels, seconds // 3600, seconds % 3600 // 60, seconds % 60)]

    def expected_note(self):
        """The note the scan gives on the file (a recording cut short), or None."""
        if self.damage == "cut short":
            return "%s: cut short: %d declared bytes are missing" % (self.name, self.cut_short_by)
        return None

    def is_untouched(self):
        with open(self.path, "rb") as f:
            return f.read() == self.original

    def check_untouched(self):
        check(self.is_untouched(), self.name + " was changed although it needed no repair")

    def check_repaired(self):
        """Whole frames only, header covering them, every sample as recorded."""
        size = os.path.getsize(self.path)
        check(size == 44 + self.frame_count * self.block,
              "%s: %d bytes after the repair, expected %d" % (self.name, size, 44 + self.frame_count * self.block))
        with open(self.path, "rb") as f:
            head = f.read(44)
        riff_size, = struct.unpack("<I", head[4:8])
        check(riff_size == size - 8, "%s: RIFF size %d for a file of %d bytes" % (self.name, riff_size, size))
        with wave.open(self.path, "rb") as w:
            check((w.getframerate(), w.getnchannels(), w.getsampwidth()) == (self.rate, self.channels, self.width),
                  self.name + ": format changed by the repair")
            check(w.getnframes() == self.frame_count,
                  "%s: %d frames after the repair, expected %d" % (self.name, w.getnframes(), self.frame_count))
            check(w.readframes(self.frame_count) == self.frames, self.name + ": samples changed by the repair")


def make_small_folder(root):
    """Healthy and damaged recordings side by side, plus what the scan must pass over."""
    folder = os.path.join(root, "field-day")
    os.makedirs(folder)
    recs = [
        Recording(folder, "healthy.wav", 44100, 2, 2, 1.0, None, seed=1),
        Recording(folder, "notset.wav", 48000, 2, 2, 2.5, "not set", seed=2),
        Recording(folder, "missing.wav", 44100, 1, 2, 3.0, "missing", seed=3),
        Recording(folder, "cutframe.wav", 22050, 2, 3, 4.0, "not set", extra=b"\x11\x22\x33\x44", seed=4),
        Recording(folder, "long8bit.wav", 8000, 1, 1, 65.0, "not set", seed=5),
        Recording(folder, "short.wav", 32000, 1, 2, 0.5, "cut short", seed=6),
    ]
    # Passed over without a line, and left as they are.
    others = [Recording(folder, ".hidden.wav", 8000, 1, 2, 0.5, "not set", seed=7)]
    os.makedirs(os.path.join(folder, "sub"))
    others.append(Recording(os.path.join(folder, "sub"), "inner.wav", 8000, 1, 2, 0.5, "not set", seed=8))
    with open(os.path.join(folder, "readme.txt"), "w") as f:
        f.write("takes of the day\n")
    return folder, recs, others


def make_large_folder(root, count, kilobytes, name="archive"):
    """Many unfinished recordings, for closing during a scan."""
    folder = os.path.join(root, name)
    os.makedirs(folder)
    frames = os.urandom(kilobytes * 1024)
    recs = []
    for i in range(count):
        name = "take%03d.wav" % i
        path = os.path.join(folder, name)
        write_wav(path, 48000, 2, 2, frames)
        with open(path, "ab") as f:
            f.write(b"\x01\x02" if i % 2 else b"")
        set_sizes(path, 0, 0)
        finished_long_ago(path)
        recs.append(name)
    return folder, recs, frames


# ---------------------------------------------------------------- helpers

class Session:
    def __init__(self, args, env):
        self.args = args
        self.env = env
        self.app = None
        self.driver = None
        self.app_log = None

    def ensure_driver(self):
        if self.driver is None:
            self.driver = Driver(self.args.emulator, self.args.driver, self.env)
        return self.driver

    def start_app(self, tag, exe=None, arguments=()):
        self.ensure_driver()
        # Windows of programs started elsewhere are not ours to drive.
        self.driver.ask("baseline")
        if self.app_log is not None:
            self.app_log.close()
        self.app_log = open(os.path.join(self.args.work, "tessmark-%s.log" % tag), "w")
        self.app = subprocess.Popen([self.args.emulator, exe or self.args.exe] + list(arguments),
                                    stdout=self.app_log, stderr=subprocess.STDOUT, env=self.env,
                                    cwd=self.args.work)
        STARTED.append(self.app)
        self.driver.ask("find 30000")

    def wait_exit(self, timeout):
        try:
            return self.app.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within %d s" % timeout)

    def cleanup(self):
        if self.app is not None and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        if self.driver is not None:
            self.driver.close()
        if self.app_log is not None:
            self.app_log.close()

    def rect(self):
        v = [int(x) for x in self.driver.ask("rect").split()]
        return v[:4], v[4:]

    def log_lines(self):
        text = self.driver.ask("logtext")
        check(text == "" or text.endswith("\r\n"), "log text does not end with a line end: %r" % text[-40:])
        return text.split("\r\n")[:-1] if text else []

    def wait_log(self, predicate, timeout, what):
        deadline = time.time() + timeout
        lines = []
        while time.time() < deadline:
            lines = self.log_lines()
            if predicate(lines):
                return lines
            time.sleep(0.1)
        raise Failure("timed out waiting for %s; the log view shows:\n%s" % (what, "\n".join(lines)))

    def wait_until(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if predicate():
                return
            time.sleep(0.1)
        raise Failure("timed out waiting for " + what)

    def wait_title(self, predicate, timeout):
        deadline = time.time() + timeout
        title = None
        while time.time() < deadline:
            title = self.driver.ask("title")
            if predicate(title):
                return title
            time.sleep(0.1)
        raise Failure("timed out waiting for the title; it shows %r" % title)

    def settled_log(self, quiet=1.0, timeout=30):
        """The log view's lines once they have held still for quiet seconds
        (a dialog busy listing a large folder delays the refresh ticks)."""
        deadline = time.time() + timeout
        lines = self.log_lines()
        since = time.time()
        while time.time() < deadline:
            time.sleep(0.1)
            now = self.log_lines()
            if now != lines:
                lines, since = now, time.time()
            elif time.time() - since >= quiet:
                return lines
        raise Failure("the log view kept changing for %d s" % timeout)

    def menu_click(self, item):
        """Opens "&Command" on the menu bar and clicks one of its items."""
        window, client = self.rect()
        xdotool("mousemove", str(window[0] + 30), str(client[1] - 9), "click", "1")
        left, top, right, bottom = [int(x) for x in self.driver.ask("popup").split()]
        xdotool("mousemove", str(left + 30), str(top + menu_item_centre(item, bottom - top)), "click", "1")

    def screenshot(self, name):
        window, _ = self.rect()
        os.makedirs(self.args.artifacts, exist_ok=True)
        path = os.path.join(self.args.artifacts, name)
        geometry = "%dx%d+%d+%d" % (window[2] - window[0], window[3] - window[1], window[0], window[1])
        subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", path], check=True,
                       env=self.env, timeout=30)
        print("   screenshot:", path, flush=True)

    def drag(self, start, end):
        """A real mouse drag: press, move in steps, release. Returns the
        window's rectangle once it has changed and held still (right after a
        dialog has closed, Wine may take a while to act on the drag)."""
        before = self.rect()[0]
        (x0, y0), (x1, y1) = start, end
        args = ["mousemove", str(x0), str(y0), "sleep", "0.2", "mousedown", "1", "sleep", "0.2"]
        for i in range(1, 5):
            args += ["mousemove", str(x0 + (x1 - x0) * i // 4), str(y0 + (y1 - y0) * i // 4), "sleep", "0.1"]
        args += ["sleep", "0.2", "mouseup", "1"]
        xdotool(*args)
        deadline = time.time() + 5
        last = before
        while time.time() < deadline:
            time.sleep(0.3)
            now = self.rect()[0]
            if now != before and now == last:
                return now
            last = now
        return last


def menu_item_centre(item, height, margin=3):
    """Where item's centre lies below the top of the popup, height pixels
    high: items of one height, separators of half that, inside a margin."""
    entries = MENU[MENU.index("{") + 1:-1].split("|")
    units = [0.5 if e == "-" else 1.0 for e in entries]
    at = next(i for i, e in enumerate(entries) if e.endswith("=%d" % COMMANDS[item]))
    unit = (height - 2 * margin) / sum(units)
    return int(margin + unit * (sum(units[:at]) + 0.5))


def xdotool(*args):
    subprocess.run(["xdotool"] + list(args), check=True, timeout=30)


def parse_log(lines):
    """Checks the numbering of the numbered lines and returns their texts
    without their numbers. The unnumbered lines between them (notes, and the
    end of a scan as the last line) are left out; see log_notes, log_end."""
    texts = []
    for i, line in enumerate(lines):
        if line.startswith(NOTE_INDENT):
            continue
        if not line.startswith("#"):
            check(i == len(lines) - 1, "an unnumbered line that is no note before the end: %r" % line)
            continue
        prefix = "#%04d " % (len(texts) + 1)
        check(line.startswith(prefix), "line %d is not numbered %r: %r" % (i + 1, prefix, line))
        texts.append(line[len(prefix):])
    return texts


def log_notes(lines):
    """The notes of the log, "NAME: TEXT", as the command line gives them."""
    return [line[len(NOTE_INDENT):] for line in lines if line.startswith(NOTE_INDENT)]


def log_end(lines):
    """The end of a scan (the summary, or "Scan stopped"), or None while it runs."""
    if lines and not lines[-1].startswith("#") and not lines[-1].startswith(NOTE_INDENT):
        return lines[-1]
    return None


def summary_of(recs):
    """The summary a scan of recs that repairs gives, as the command line words it."""
    ok = sum(1 for r in recs if r.damage in (None, "cut short"))
    return "%d %s: %d OK, %d repaired, 0 failed" % (len(recs), "file examined" if len(recs) == 1 else "files examined",
                                                    ok, len(recs) - ok)


def check_scan_log(lines, folder, recs):
    texts = parse_log(lines)
    check(texts[0] == "Scanning " + wine_path(folder), "first line: %r" % texts[0])
    rest = texts[1:]
    # The listing order is the file system's; each file's lines stay together.
    groups = {}
    i = 0
    while i < len(rest):
        # Names may hold spaces: a line belongs to the recording it starts with.
        name = next((r.name for r in recs if rest[i].startswith(r.name + " ")), rest[i].split(" ")[0])
        count = 2 if rest[i].endswith(": repair") else 1
        check(name not in groups, "%s reported twice" % name)
        groups[name] = rest[i:i + count]
        i += count
    expected = {r.name: r.expected_lines() for r in recs}
    check(groups == expected, "log lines differ\n got:      %r\n expected: %r" % (groups, expected))
    notes = sorted(log_notes(lines))
    expected = sorted(r.expected_note() for r in recs if r.expected_note() is not None)
    check(notes == expected, "notes differ\n got:      %r\n expected: %r" % (notes, expected))
    check(log_end(lines) == summary_of(recs), "the scan's end: %r, expected %r" % (log_end(lines), summary_of(recs)))


# ---------------------------------------------------------------- the tests

def test_resources(args, env):
    driver = Driver(args.emulator, args.driver, env)
    try:
        exe = wine_path(args.exe)
        step("resources of " + args.exe)
        listed = driver.ask("resources " + exe).split("|")
        check(sorted(listed) == ["16/1/1036", "2/100/1036", "24/1/0", "4/MYMAINAPPMENU/1036"],
              "resources (type/name/language): %r" % listed)
        check_manifest(driver.ask("manifest " + exe))
        menu = driver.ask("resmenu " + exe)
        check(menu == MENU, "menu: %r" % menu)
        bitmap = driver.ask("bitmap " + exe)
        check(bitmap == "900 80 24 0", "banner (width height bits compression): %r" % bitmap)
        version = dict(item.split("=", 1) for item in driver.ask("version " + exe).split("|"))
        expected = {
            "file": "1.0.0.2", "product": "1.0.0.2", "mask": "0x3f", "flags": "0x0", "os": "0x0",
            "type": "1", "subtype": "0", "translation": "0,1200",
            "Comments": "Free Application to repair Wave File header according file size.",
            "CompanyName": "Tessmark", "FileDescription": "Tessmark Application",
            "FileVersion": "1, 0, 0, 2", "InternalName": "Tessmark",
            "LegalCopyright": "Copyright (C) 2026 Tessmark", "OriginalFilename": "Tessmark.EXE",
            "ProductName": "Tessmark", "ProductVersion": "1, 0, 0, 2",
        }
        check(version == expected, "version block: %r" % version)
    finally:
        driver.close()


def scan_session(s, small, recs, others):
    """The first session: a scan, its files, the dialogs and the size limits."""
    step("start: window class, title, size, menu, log view")
    s.start_app("scan")
    d = s.driver
    check(d.ask("title") == TITLE, "title: %r" % d.ask("title"))
    window, client = s.rect()
    check((window[2] - window[0], window[3] - window[1]) == (900, 700), "window rectangle %r" % window)
    live_menu = d.ask("menu", expect_ok=False)
    check(live_menu in (None, MENU), "menu bar: %r" % live_menu)
    view = d.ask("logview").split()
    check(view[0] == "class=Edit", "log view: %r" % view)
    check(int(view[1].split("=")[1], 16) == LOG_VIEW_STYLE, "log view style: %r" % view[1])
    check(int(view[2].split("=")[1], 16) & WS_EX_CLIENTEDGE, "log view without its edge: %r" % view[2])
    check([int(x) for x in view[3:]] == [0, 80, client[2] - client[0], client[3] - client[1]],
          "log view placement %r for the client area %r" % (view[3:], client))
    check(s.log_lines() == [], "the log view is not empty at start")

    step("Select Folder To Scan (command 50), answering the dialog")
    d.ask("command 50")
    dialog = d.ask("wait " + DIALOG)
    check("owner=main" in dialog and "mainEnabled=0" in dialog, "the dialog is not modal to the window: " + dialog)
    check(d.ask("filename") == "*.wav", "initial file name: %r" % d.ask("filename"))
    check(d.ask("filters") == "selected=0|Wave File (*.wav)|Wave64, RF64, BW64 (*.w64;*.rf64;*.bw64)|All (*.*)", "filters: %r" % d.ask("filters"))
    d.ask("answer " + wine_path(os.path.join(small, "healthy.wav")))
    d.ask("gone " + DIALOG)
    lines = s.wait_log(lambda l: log_end(l) is not None, 60, "the scan's end")
    lines = s.settled_log()  # nothing more may come
    check_scan_log(lines, small, recs)
    s.screenshot("tessmark-window.png")

    step("files on disk after the scan")
    for r in recs:
        if r.damage in (None, "cut short"):
            r.check_untouched()
        else:
            r.check_repaired()
    for r in others:
        r.check_untouched()
    with open(os.path.join(small, "readme.txt")) as f:
        check(f.read() == "takes of the day\n", "readme.txt was changed")

    step("cancelling the dialog keeps the log")
    d.ask("command 50")
    d.ask("wait " + DIALOG)
    d.ask("dismiss %s 2" % DIALOG)
    d.ask("gone " + DIALOG)
    check(s.settled_log() == lines, "the log changed after a cancelled dialog")

    step("About, through the menu with the mouse")
    s.menu_click("about")
    about = d.ask("wait About...")
    check("owner=main" in about, "the About box is not owned by the window: " + about)
    text = d.ask("dialogtext About...")
    check(text == ABOUT_TEXT, "About text: %r" % text)
    d.ask("dismiss About... 1")
    d.ask("gone About...")

    step("dragging the borders: at most 900 wide, at least 200 high")
    window, _ = s.rect()
    left, top, right, bottom = window
    w = s.drag((right - 2, top + 300), (right - 200, top + 300))
    check(w == [left, top, right - 198, bottom], "narrowing from the right edge gave %r" % w)
    w = s.drag((w[2] - 2, top + 300), (w[2] + 250, top + 300))
    check(w == [left, top, left + 900, bottom], "widening past 900 from the right edge gave %r" % w)
    w = s.drag((left + 1, top + 300), (left + 301, top + 300))
    check(w == [left + 300, top, left + 900, bottom], "narrowing from the left edge gave %r" % w)
    w = s.drag((left + 898, top + 300), (left + 1198, top + 300))
    check(w == [left + 300, top, left + 1200, bottom], "widening to 900 from the right edge gave %r" % w)
    # The left edge dragged out to a width of 1100: the right edge comes back.
    w = s.drag((left + 301, top + 300), (left + 101, top + 300))
    check(w == [left + 100, top, left + 1000, bottom], "widening past 900 from the left edge gave %r" % w)
    w = s.drag((left + 550, bottom - 2), (left + 550, top + 100))
    check(w == [left + 100, top, left + 1000, top + 200], "shortening from the bottom edge gave %r" % w)
    # The top edge dragged down: the bottom edge moves down to keep 200.
    w = s.drag((left + 550, top + 1), (left + 550, top + 150))
    check(w == [left + 100, top + 149, left + 1000, top + 349], "shortening from the top edge gave %r" % w)

    step("Select Folder To Scan through the menu, choosing a text file: the same folder again")
    s.menu_click("select")
    d.ask("wait " + DIALOG)
    d.ask("answer " + wine_path(os.path.join(small, "readme.txt")))
    d.ask("gone " + DIALOG)
    names = [r.name for r in recs]
    lines = s.wait_log(lambda l: log_end(l) is not None and all(" HEADER OK !" in x for x in parse_log(l)[1:]), 60,
                       "the rescan's end")
    lines = s.settled_log()
    texts = parse_log(lines)
    check(texts[0] == "Scanning " + wine_path(small), "rescan first line: %r" % texts[0])
    check(sorted(t.split(" ")[0] for t in texts[1:]) == sorted(names), "rescan lines: %r" % texts)
    check(log_end(lines) == "%d files examined: %d OK, 0 repaired, 0 failed" % (len(recs), len(recs)),
          "the rescan's end: %r" % log_end(lines))

    step("the short view shows the log's end; a reader who scrolls back stays there")
    first, count = [int(x) for x in d.ask("scroll").split()]
    check(first > 0 and count >= len(lines), "the view was not scrolled to the end: first line %d of %d" % (first, count))
    d.ask("scrolltop")
    time.sleep(1.0)  # five refresh periods
    first, _ = [int(x) for x in d.ask("scroll").split()]
    check(first == 0, "an unchanged log moved the view to line %d" % first)

    step("Quit from the menu")
    s.menu_click("quit")
    check(s.wait_exit(30) == 0, "exit code after Quit")


def make_notes_folder(root):
    """What a card holds after a bad day: a text file named notes.wav, a take
    in IMA ADPCM (made by ffmpeg), a take cut short, a 0-byte take, two
    unfinished takes, and an unfinished take in a subfolder."""
    folder = os.path.join(root, "card")
    os.makedirs(os.path.join(folder, "sub"))
    with open(os.path.join(folder, "notes.wav"), "w") as f:
        f.write("mic 2 crackles from take 3 on\n")
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                    "-ar", "22050", "-c:a", "adpcm_ima_wav", os.path.join(folder, "adpcm.wav")],
                   check=True, timeout=60)
    open(os.path.join(folder, "empty.wav"), "wb").close()
    takes = [
        Recording(folder, "cut.wav", 32000, 1, 2, 0.5, "cut short", seed=31),
        Recording(folder, "take1.wav", 48000, 2, 2, 1.0, "not set", seed=32),
        Recording(folder, "take2.wav", 44100, 1, 2, 2.0, "missing", extra=b"\x01", seed=33),
    ]
    inner = Recording(os.path.join(folder, "sub"), "inner.wav", 8000, 1, 2, 0.5, "not set", seed=34)
    return folder, takes, inner


def folder_bytes(folder):
    """Every file below folder by its path there, with its bytes."""
    found = {}
    for at, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(at, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def copy_of(rec, folder, original):
    """rec as it lies in a copy of original, the folder it was made in."""
    moved = Recording.__new__(Recording)
    moved.__dict__.update(rec.__dict__)
    moved.path = os.path.join(folder, os.path.relpath(rec.path, original))
    return moved


def cli_scan(s, options, folder):
    """The command line's scan of folder (tessmark-cli.exe, under the same
    Wine): its numbered texts, its notes and its summary."""
    done = subprocess.run([s.args.emulator, s.args.cli] + options + [wine_path(folder)], env=s.env, timeout=120,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="utf-8")
    out = done.stdout.replace("\r\n", "\n").splitlines()
    texts = [re.sub(r"^#\d{4} ", "", line) for line in out[:-1]]
    notes = [line[len("tessmark: "):] for line in done.stderr.replace("\r\n", "\n").splitlines()
             if line.startswith("tessmark: ")]
    return texts, notes, out[-1] if out else None


def check_as_cli(s, lines, folder, options, cli_folder):
    """The window's log of a scan of folder tells what the command line
    (with options) tells of cli_folder, a copy of it: the same lines, the
    same notes in the same order, the same summary."""
    texts, notes, summary = cli_scan(s, options, cli_folder)
    mine = parse_log(lines)
    check(mine[0] == "Scanning " + wine_path(folder), "first line: %r" % mine[0])
    check(mine[1:] == texts[1:], "the numbered lines differ from the command line's\n window: %r\n cli:    %r"
          % (mine[1:], texts[1:]))
    check(log_notes(lines) == notes, "the notes differ from the command line's\n window: %r\n cli:    %r"
          % (log_notes(lines), notes))
    check(log_end(lines) == summary, "the end %r, the command line's summary %r" % (log_end(lines), summary))
    print("   as tessmark-cli %s: %d lines, %d notes, %r" % (" ".join(options), len(mine), len(notes), summary),
          flush=True)


def check_takes(takes, folder, pristine):
    """The takes in folder, a copy of pristine, after a scan that repairs."""
    for rec in takes:
        moved = copy_of(rec, folder, pristine)
        if rec.damage in ("not set", "missing"):
            moved.check_repaired()
        else:
            moved.check_untouched()


def notes_session(s, root):
    """The folder of a bad day, given at start, then with the options (which
    survive a restart), dropped on the window, and the log saved: the window
    tells what the command line tells."""
    step("a card's folder as the program's argument: every file named, the command line's summary")
    pristine, takes, inner = make_notes_folder(os.path.join(root, "pristine"))
    original = folder_bytes(pristine)
    copies = {}
    for name in ("window", "cli", "checked", "checked-cli", "dropped-cli"):
        copies[name] = os.path.join(root, name)
        shutil.copytree(pristine, copies[name])
    folder = copies["window"]
    s.start_app("notes", arguments=[wine_path(folder)])
    d = s.driver
    lines = s.wait_log(lambda l: log_end(l) is not None, 60, "the scan's end")
    lines = s.settled_log()
    check_as_cli(s, lines, folder, [], copies["cli"])
    named = parse_log(lines)[1:] + log_notes(lines)
    for name in sorted(n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n))):
        check(any(t.startswith(name + " ") or t.startswith(name + ": ") for t in named), name + " is not named")
    check(not any("inner.wav" in t for t in named), "the subfolder was looked at without the option")
    check_takes(takes, folder, pristine)
    now = folder_bytes(folder)
    for name in ("notes.wav", "adpcm.wav", "empty.wav", os.path.join("sub", "inner.wav")):
        check(now[name] == original[name], name + " was changed")
    s.screenshot("tessmark-notes.png")

    step("Include Subfolders (through the menu) and Check Only: remembered in the registry")
    check(d.ask("regget " + REG_SUBFOLDERS) == "missing", "an option is remembered before it was chosen")
    s.menu_click("subfolders")
    s.wait_until(lambda: d.ask("regget " + REG_SUBFOLDERS) == "1", 10, "Include Subfolders in the registry")
    d.ask("command %d" % COMMANDS["checkonly"])
    s.wait_until(lambda: d.ask("regget " + REG_CHECK_ONLY) == "1", 10, "Check Only in the registry")
    s.menu_click("quit")
    check(s.wait_exit(30) == 0, "exit code after Quit")

    step("started again: both options hold; no byte of any file changes, the log says what a repair would do")
    folder = copies["checked"]
    s.start_app("notes-options", arguments=[wine_path(folder)])
    d = s.driver
    lines = s.wait_log(lambda l: log_end(l) is not None, 60, "the scan's end")
    lines = s.settled_log()
    check_as_cli(s, lines, folder, ["--check", "--recursive"], copies["checked-cli"])
    inner_line = "sub\\inner.wav header not set : needs repair (not repaired, --check)"
    check(inner_line in parse_log(lines), "no word on the subfolder's take: %r" % parse_log(lines))
    check(folder_bytes(folder) == original, "a file changed under Check Only")

    step("Check Only off, the folder dropped on the window: the subfolder's take is repaired")
    d.ask("command %d" % COMMANDS["checkonly"])
    s.wait_until(lambda: d.ask("regget " + REG_CHECK_ONLY) == "0", 10, "Check Only off in the registry")
    d.ask("drop " + wine_path(folder))
    lines = s.wait_log(lambda l: log_end(l) is not None and any(t.endswith(": repair") for t in parse_log(l)), 60,
                       "the dropped folder's end")
    lines = s.settled_log()
    check_as_cli(s, lines, folder, ["--recursive"], copies["dropped-cli"])
    copy_of(inner, folder, pristine).check_repaired()
    check_takes(takes, folder, pristine)

    step("Save Log As")
    save_log(s, os.path.join(root, "card log.txt"))
    d.ask("command %d" % COMMANDS["subfolders"])
    s.wait_until(lambda: d.ask("regget " + REG_SUBFOLDERS) == "0", 10, "Include Subfolders off in the registry")
    s.menu_click("quit")
    check(s.wait_exit(30) == 0, "exit code after Quit")


def unfinished_take(path, seed):
    """A take whose recorder never wrote its sizes, finished long ago."""
    write_wav(path, 48000, 2, 2, frames_of(3000, 2, 2, seed))
    set_sizes(path, 0, 0)
    finished_long_ago(path)
    return open(path, "rb").read()


def undo_session(s, root):
    """Undo Last Scan's Repairs: every file the last scan repaired back byte
    for byte; then, after another scan, a file changed since refused and
    named in the log, the others back; nothing more once all are back."""
    step("Undo Last Scan's Repairs: every repaired take back byte for byte")
    folder = os.path.join(root, "undo")
    os.makedirs(folder)
    takes = {name: unfinished_take(os.path.join(folder, name), seed)
             for seed, name in enumerate(("first.wav", "second.wav"), 1)}
    s.start_app("undo", arguments=[wine_path(folder)])
    d = s.driver
    s.wait_log(lambda l: log_end(l) is not None, 60, "the scan's end")
    check(all(open(os.path.join(folder, n), "rb").read() != t for n, t in takes.items()), "the takes were repaired")
    d.ask("command %d" % COMMANDS["undo"])
    lines = s.wait_log(lambda l: log_end(l) is not None and "restored" in log_end(l), 60, "the undo's end")
    check(log_end(lines) == "2 restored, 0 already as before, 0 refused", "undo: %r" % lines)
    check(all(open(os.path.join(folder, n), "rb").read() == t for n, t in takes.items()),
          "every take back byte for byte")
    d.ask("command %d" % COMMANDS["undo"])
    time.sleep(1)
    check(s.settled_log() == lines, "an undo with nothing left to undo changed the log")

    step("Undo after another scan: a take changed since its repair is refused and named")
    for name in takes:
        finished_long_ago(os.path.join(folder, name))
    d.ask("drop " + wine_path(folder))
    s.wait_log(lambda l: log_end(l) is not None and "repaired" in log_end(l), 60, "the second scan's end")
    changed = os.path.join(folder, "second.wav")
    with open(changed, "r+b") as f:
        f.seek(100)
        f.write(b"\x55")
    changed_bytes = open(changed, "rb").read()
    d.ask("command %d" % COMMANDS["undo"])
    lines = s.wait_log(lambda l: log_end(l) is not None and "restored" in log_end(l), 60, "the undo's end")
    check(log_end(lines) == "1 restored, 0 already as before, 1 refused", "undo with a change: %r" % lines)
    check(any(n.endswith("second.wav: not undone: changed since its repair (other samples)") for n in log_notes(lines)),
          "the changed take is named: %r" % log_notes(lines))
    check(open(os.path.join(folder, "first.wav"), "rb").read() == takes["first.wav"], "first.wav back")
    check(open(changed, "rb").read() == changed_bytes, "the changed take left as it is")
    s.menu_click("quit")
    check(s.wait_exit(30) == 0, "exit code after Quit")


def large_folder_states(large, large_names, large_frames):
    """Each recording of the large folder is either untouched or repaired in
    full; returns the names of the repaired ones."""
    repaired = set()
    for i, name in enumerate(large_names):
        with open(os.path.join(large, name), "rb") as f:
            head = f.read(44)
            samples = f.read()
        size = 44 + len(samples)
        declared, = struct.unpack("<I", head[40:44])
        riff, = struct.unpack("<I", head[4:8])
        extra = b"\x01\x02" if i % 2 else b""
        if declared == 0:
            check(riff == 0 and samples == large_frames + extra, name + " was changed but its header was not")
        else:
            check(declared == len(large_frames) and riff == size - 8 and samples == large_frames,
                  name + " is half repaired")
            repaired.add(name)
    return repaired


def reported_names(lines):
    return {t.split(" ")[0] for t in parse_log(lines)[1:]}


def close_session(s, large, large_names, large_frames):
    """The second session: stopping a scan of a large folder by the folder
    command, then closing the window during a new scan."""
    step("a large folder: the folder command stops the running scan")
    s.start_app("close")
    d = s.driver
    d.ask("command 50")
    d.ask("answer " + wine_path(os.path.join(large, large_names[0])))
    d.ask("gone " + DIALOG)
    s.wait_log(lambda l: len(l) >= 4, 60, "the first repairs")
    step("the title tells how far the scan has come")
    progress = re.compile(re.escape(TITLE) + r" - (\d+) files? examined - " + re.escape(wine_path(large)) + "$")
    shown = s.wait_title(lambda t: progress.match(t) is not None and int(progress.match(t).group(1)) > 0, 10)
    print("   " + shown, flush=True)
    d.ask("command 50")
    d.ask("wait " + DIALOG)  # shown once the worker has finished its file
    stopped = s.settled_log()
    repaired = large_folder_states(large, large_names, large_frames)
    reported = reported_names(stopped)
    check(repaired == reported, "after the stop, repaired but not in the log: %r; in the log but not repaired: %r"
          % (sorted(repaired - reported), sorted(reported - repaired)))
    check(len(repaired) < len(large_names), "the scan ended before it was stopped: make the folder larger")
    check(log_end(stopped) == "Scan stopped", "the stopped scan's end: %r" % log_end(stopped))
    s.wait_title(lambda t: t == TITLE, 10)
    d.ask("dismiss %s 2" % DIALOG)
    d.ask("gone " + DIALOG)
    check(s.settled_log() == stopped, "the scan went on after the dialog was cancelled")
    check(large_folder_states(large, large_names, large_frames) == repaired, "files changed after the stop")
    print("   %d of %d files repaired before the stop" % (len(repaired), len(large_names)), flush=True)

    # A fresh folder three times as large: a rescan of the first would race
    # through the files already repaired and could end before the close. A
    # busy machine can still let the scan finish before the close arrives;
    # then the program starts again on a folder three times larger.
    step("a fresh larger folder, and the window closed (twice) during its scan")
    count = len(large_names)
    for attempt in range(2):
        count *= 3
        if attempt > 0:
            print("   the scan ended before the close arrived: again with %d files" % count, flush=True)
            s.start_app("close")
            d = s.driver
        fresh, fresh_names, fresh_frames = make_large_folder(os.path.dirname(large), count,
                                                             max(16, len(large_frames) // 4096),
                                                             "archive%d" % (attempt + 2))
        d.ask("command 50")
        d.ask("answer " + wine_path(os.path.join(fresh, fresh_names[0])))
        d.ask("gone " + DIALOG)
        s.wait_log(lambda l: len(l) > 1 and parse_log(l)[0] == "Scanning " + wine_path(fresh), 60,
                   "the new scan's first lines")
        # The second close arrives while the first waits for the worker: it
        # finds everything released and must release nothing twice.
        d.ask("syscommand %d" % SC_CLOSE)
        d.ask("syscommand %d" % SC_CLOSE)
        code = s.wait_exit(120)
        check(code == 0, "exit code %r after closing during a scan" % code)
        check(large_folder_states(large, large_names, large_frames) == repaired, "the first folder changed")
        repaired_now = large_folder_states(fresh, fresh_names, fresh_frames)
        print("   %d of %d files repaired before the program ended" % (len(repaired_now), count), flush=True)
        if len(repaired_now) < count:
            break
        shutil.rmtree(fresh, ignore_errors=True)
    check(len(repaired_now) < count, "the scan ended before the close arrived, twice: make the folder larger")


def check_manifest(text):
    """What the program declares to Windows: the versions it knows, UTF-8
    through the A entry points, awareness of the display's density, and
    the common controls 6."""
    import xml.etree.ElementTree as ET
    root = ET.fromstring(text.encode("utf-8"))
    found = {el.tag.split("}")[-1]: el for el in root.iter()}
    ids = {el.get("Id") for el in root.iter() if el.tag.endswith("}supportedOS")}
    check(len(ids) == 5 and "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" in ids,
          "supported versions (Vista to 11): %r" % ids)
    check(found.get("activeCodePage") is not None and found["activeCodePage"].text == "UTF-8",
          "no UTF-8 code page in the manifest")
    check(found.get("dpiAware") is not None and found["dpiAware"].text == "true", "not aware of the display density")
    controls = [el for el in root.iter() if el.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0", "no common controls 6")


def names_session(s, root, exe, tag):
    """Takes named in three scripts, in a folder named in them: each found,
    repaired and named legibly in the log, whichever way the folder comes
    (the program's argument, the dialog, a drop on the window); and the log
    saved under such a name."""
    step("takes named in three scripts, %s: the folder as the program's argument" % tag)
    folder = os.path.join(root, tag, SCRIPT_FOLDER)
    os.makedirs(folder)
    recs = [Recording(folder, name, 48000, 2, 2, 1.5, "not set", seed=20 + i) for i, name in enumerate(SCRIPT_NAMES)]
    s.start_app(tag, exe, [wine_path(folder)])
    d = s.driver
    s.wait_log(lambda l: log_end(l) is not None, 60, "the scan's end")
    lines = s.settled_log()
    check_scan_log(lines, folder, recs)
    for r in recs:
        r.check_repaired()
    s.screenshot("tessmark-names-%s.png" % tag)

    step("the same folder through the dialog")
    d.ask("command 50")
    patient(d, "wait " + DIALOG, 6)
    d.ask("answer " + wine_path(os.path.join(folder, SCRIPT_NAMES[1])))
    patient(d, "gone " + DIALOG, 6)
    healthy = ["%s HEADER OK !" % n for n in SCRIPT_NAMES]
    lines = s.wait_log(lambda l: log_end(l) is not None and sorted(parse_log(l)[1:]) == sorted(healthy), 60,
                       "the rescan's end")
    check(parse_log(lines)[0] == "Scanning " + wine_path(folder), "rescan first line: %r" % lines[0])

    step("a take of the folder dropped on the window, one take damaged again")
    with open(recs[0].path, "wb") as f:
        f.write(recs[0].original)
    finished_long_ago(recs[0].path)
    d.ask("drop " + wine_path(recs[2].path))
    expected = recs[0].expected_lines() + healthy[1:]
    lines = s.wait_log(lambda l: log_end(l) is not None and sorted(parse_log(l)[1:]) == sorted(expected), 60,
                       "the dropped folder's end")
    check(parse_log(lines)[0] == "Scanning " + wine_path(folder), "the drop's first line: %r" % lines[0])
    recs[0].check_repaired()

    step("Save Log As, under a name in three scripts")
    saved = os.path.join(root, tag, "Журнал 録音 Séance.txt")
    save_log(s, saved)
    s.menu_click("quit")
    check(s.wait_exit(30) == 0, "exit code after Quit")


def save_log(s, path):
    """Saves the log through the menu and the save dialog; checks that the
    file holds the view's text, UTF-8 with CR LF line ends."""
    d = s.driver
    s.menu_click("savelog")
    patient(d, "wait " + SAVE_DIALOG, 6)
    d.ask("answerin %s\t%s" % (SAVE_DIALOG, wine_path(path)))
    patient(d, "gone " + SAVE_DIALOG, 6)
    shown = d.ask("logtext")
    deadline = time.time() + 10
    while not os.path.exists(path) and time.time() < deadline:
        time.sleep(0.1)
    with open(path, "rb") as f:
        data = f.read()
    check(data == shown.encode("utf-8"), "the saved log differs from the view:\n%r\n%r" % (data[:200], shown[:200]))
    check(data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n"), "the saved log's lines end in CR LF")
    print("   saved %d bytes, %d lines" % (len(data), data.count(b"\r\n")), flush=True)


def make_many_small(root, count):
    """count healthy recordings of a few frames, written as fast as Python can."""
    folder = os.path.join(root, "many")
    os.makedirs(folder)
    samples = bytes(range(64))
    head = (b"RIFF" + struct.pack("<I", 36 + len(samples)) + b"WAVE" +
            b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, 48000, 192000, 4, 16) +
            b"data" + struct.pack("<I", len(samples)))
    body = head + samples
    names = ["take%06d.wav" % i for i in range(count)]
    for name in names:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(body)
    return folder, names


def patient(driver, command, tries=12):
    """A driver command that waits 10 s, asked again until it succeeds."""
    for _ in range(tries):
        answer = driver.ask(command, expect_ok=False)
        if answer is not None:
            return answer
    raise Failure("%s: no success in %d tries" % (command, tries))


def responsive_session(s, root, count):
    """The window answers at once all through a scan of many files."""
    step("preparing %d small recordings" % count)
    started = time.time()
    folder, names = make_many_small(root, count)
    print("   made in %.1f s" % (time.time() - started), flush=True)
    # Removed at the end, failed or not: the next run would start by deleting
    # 100,000 files, and the file dialog would open in their folder.
    try:
        s.start_app("responsive")
        d = s.driver
        d.ask("command 50")
        # The machine is busy with the files just written, and the dialog may
        # list the folder of 100,000 files before it closes: up to two minutes.
        patient(d, "wait " + DIALOG)
        d.ask("answer " + wine_path(os.path.join(folder, names[0])))
        patient(d, "gone " + DIALOG)
        step("asking the window every %d ms during the scan" % ASK_EVERY_MS)
        started = time.time()
        answer = d.ask("responsive %d %d %d" % (ASK_EVERY_MS, ANSWER_WITHIN_MS, 3000)).split()
        asks, slowest, slow, length = [int(x) for x in answer[:4]]
        print("   %d asks in %.1f s, slowest answer %d ms, %d slower than %d ms"
              % (asks, time.time() - started, slowest, slow, ANSWER_WITHIN_MS), flush=True)
        for item in answer[4:]:
            at, took, held = item.split(":")
            print("   slow: at %.1f s, %s ms, the view holding %s characters" % (int(at) / 1000, took, held), flush=True)
        texts = ["Scanning " + wine_path(folder)] + ["%s HEADER OK !" % n for n in names]
        summary = "%d files examined: %d OK, 0 repaired, 0 failed" % (count, count)
        expected = sum(len("#%04d %s\r\n" % (i, t)) for i, t in enumerate(texts, 1)) + len(summary + "\r\n")
        check(length == expected, "the view holds %d characters, the whole log %d" % (length, expected))
        check(asks >= 20, "the scan ended after %d asks: too short to tell" % asks)
        check(slow == 0, "%d of %d asks took longer than %d ms (slowest %d ms)"
              % (slow, asks, ANSWER_WITHIN_MS, slowest))
        step("reading the log")
        lines = s.log_lines()
        check(sorted(parse_log(lines)) == sorted(texts), "the log does not name every file once")
        check(log_end(lines) == summary, "the scan's end: %r" % log_end(lines))
        check(d.ask("title") == TITLE, "the title after the scan: %r" % d.ask("title"))
        step("quitting")
        s.menu_click("quit")
        check(s.wait_exit(60) == 0, "exit code after Quit")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def test_window(args, env):
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    step("preparing recordings")
    small, recs, others = make_small_folder(args.work)

    prepare_prefix(args, env)
    # Wine draws the frame itself, so there is a border to drag.
    subprocess.run([args.emulator, "reg", "add", r"HKCU\Software\Wine\AppDefaults\Tessmark.exe\X11 Driver",
                    "/v", "Decorated", "/t", "REG_SZ", "/d", "N", "/f"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    # Windows draws a script that the log's font lacks with a font linked to
    # it; this prefix gets such a link to the Japanese font install-deps.sh
    # brings (Wine knows it by one of two file names). Courier New may stand
    # for DejaVu Sans here.
    for face in ("Courier New", "DejaVu Sans"):
        subprocess.run([args.emulator, "reg", "add",
                        r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink",
                        "/v", face, "/t", "REG_MULTI_SZ",
                        "/d", r"fonts-japanese-gothic.ttf,VL Gothic\0VL-Gothic-Regular.ttf,VL Gothic", "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    s = Session(args, env)
    try:
        # Every run starts as a first start: no option remembered.
        s.ensure_driver().ask("regclear")
        if "names" in args.parts:
            names_session(s, args.work, args.exe, "utf8-code-page")
            names_session(s, args.work, args.old_exe, "before-1903")
        if "responsive" in args.parts:
            responsive_session(s, args.work, args.responsive_count)
        if "scan" in args.parts:
            scan_session(s, small, recs, others)
        if "notes" in args.parts:
            notes_session(s, os.path.join(args.work, "notes"))
            undo_session(s, os.path.join(args.work, "notes"))
        if "close" in args.parts:
            # Made last: recordings that have just been written take the
            # longest to repair, so the scan is still busy when closed.
            step("preparing a large folder")
            large, large_names, large_frames = make_large_folder(args.work, args.large_count, args.large_kilobytes)
            close_session(s, large, large_names, large_frames)
    finally:
        s.cleanup()


def prepare_prefix(args, env):
    """A Wine prefix of the test's own, made once, so that no other Wine user
    on the machine (nor its wineserver ending) can reach the program."""
    env["WINEPREFIX"] = os.path.abspath(args.prefix)
    ready = os.path.join(args.prefix, "tessmark-test-ready")
    if os.path.exists(ready):
        return
    step("making the Wine prefix " + args.prefix)
    subprocess.run([args.emulator, "wineboot", "-i"], env=env, check=True, timeout=200,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(ready, "w") as f:
        f.write("made by e2e_test.py\n")


def own_display(env):
    """A private Xvfb when no display is given; returns its process or None."""
    if env.get("DISPLAY"):
        return None
    for n in range(90, 120):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            env["DISPLAY"] = ":%d" % n
            for _ in range(50):
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    break
                time.sleep(0.1)
            return proc
    raise Failure("no free display number for Xvfb")


def time_out():
    print("FAILED: time limit reached", flush=True)
    for proc in STARTED:
        if proc.poll() is None:
            proc.kill()
    os._exit(3)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["resources", "window"])
    parser.add_argument("--emulator", required=True, help="wine or wine64")
    parser.add_argument("--exe", required=True, help="Tessmark.exe")
    parser.add_argument("--driver", required=True, help="tessdriver.exe")
    parser.add_argument("--work", required=True, help="folder for the recordings (emptied first)")
    parser.add_argument("--artifacts", required=True, help="folder for the screenshots")
    parser.add_argument("--prefix", required=True, help="the Wine prefix of the test (made when missing)")
    parser.add_argument("--large-count", type=int, default=1000)
    parser.add_argument("--large-kilobytes", type=int, default=256)
    parser.add_argument("--parts", default="scan,notes,close",
                        help="sessions to run: scan, notes, close, names, responsive")
    parser.add_argument("--cli", help="tessmark-cli.exe, whose words the window's log must match (notes)")
    parser.add_argument("--old-exe", help="the program with a manifest that asks for no code page (names)")
    parser.add_argument("--responsive-count", type=int, default=100000)
    parser.add_argument("--time-limit", type=int, default=270, help="seconds before everything is stopped")
    args = parser.parse_args()
    for name in ("exe", "driver", "work", "artifacts", "prefix", "old_exe", "cli"):
        if getattr(args, name) is not None:
            setattr(args, name, os.path.abspath(getattr(args, name)))

    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    xvfb = None
    # A hung window must not hang the test command.
    watchdog = threading.Timer(args.time_limit, time_out)
    watchdog.daemon = True
    watchdog.start()
    try:
        if args.mode == "resources":
            prepare_prefix(args, env)
            test_resources(args, env)
        else:
            xvfb = own_display(env)
            os.environ["DISPLAY"] = env["DISPLAY"]
            test_window(args, env)
    except Failure as failure:
        print("FAILED:", failure, flush=True)
        return 1
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
    print("passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
