"""What each system call of the check of one healthy take is for: the one
table behind the benchmark's call-by-call description (bench.py) and the
test that holds tessmark to it (tests/cli/cli_report.py, under strace).
Imported by its path."""
import re

# Each row: the call, which of its kind it is (0 the first, None any), an
# argument pattern it must show (None: any), its role ("least": no check of
# a file can do without it; "extra": one this check could do without, with
# why it is made; "listing": the folder's, not the file's), and what it is for.
CALLS = [
    ("newfstatat", None, r"AT_SYMLINK_NOFOLLOW", "listing",
     "the listing's test of an entry whose type the folder does not give (a link, or a file system without "
     "d_type): only a regular file is opened, and a link is known as one"),
    ("openat", None, None, "least", "open"),
    ("newfstatat", 0, None, "least",
     "the size query, made by the open itself: it refuses a non-regular file that took the name's place between "
     "listing and open (a FIFO or device must never block the scan), and its length is the one the header is "
     "compared with"),
    ("fstat", 0, None, "least", "the size query, as above"),
    ("flock", None, None, "extra",
     "the sharing lock that stands in for the Win32 share modes: a check (shared lock) never reads a file that a "
     "repair holds (exclusive lock)"),
    ("read", 0, None, "least",
     "the file's first 4 KiB in one request: the chunk walk finds the RIFF/RF64 header, fmt and the data chunk "
     "in memory"),
    ("close", None, None, "least", "close"),
]

# The most calls the check of one healthy take may make on it, open and
# close included.
MOST_CALLS = 5


def describe(call, args, index):
    """(role, what it is for) of a call, the index-th of its kind; None when
    the table has no row for it."""
    for name, nth, pattern, role, why in CALLS:
        if name == call and (nth is None or nth == index) and (pattern is None or re.search(pattern, args)):
            return role, why
    return None
