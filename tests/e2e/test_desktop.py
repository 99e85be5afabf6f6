#!/usr/bin/env python3
"""Zelvatorim on a desktop, driven as a user drives it: keys, windows and a proxy.

Usage: python3 tests/e2e/test_desktop.py PATH/TO/Zelvatorim [unittest options]
   or: ZELVATORIM=PATH/TO/Zelvatorim python3 tests/e2e/test_desktop.py

Runs the real binary on a private Xvfb + openbox display; its links go only to a loopback proxy
that answers every one itself (200, but 404 for entry 11). Needs Xvfb, openbox, xdotool, wmctrl,
xprop, xwininfo and ImageMagick's import.
"""

import os
import re
import shutil
import sys
import tempfile
import time
import unittest
from urllib.parse import urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

from virtual_desktop import LoopbackProxy, Program, Timeout, VirtualDesktop, wait_until  # noqa: E402

CAPTION = "Telvaro Zelvatorim de Links - v.23.10vo0(VE)"


def as_requested(url):
    """The URL as a server sees it: a bare host gets its "/"."""
    return url if urlsplit(url).path else url + "/"


def expected_links():
    """The tests' own copy of the 18 links, in table order, shared with the C++ tests."""
    with open(os.path.join(HERE, "..", "builtin_links.h"), encoding="utf-8") as f:
        return [as_requested(url) for url in re.findall(r'"(http://[^"]+)"', f.read())]


LINKS = expected_links()
BLOCKED = LINKS[10]
# The status line, in form coordinates: right of the button, above the list.
STATUS_LINE = (98, 12, 200, 24)

BINARY = None
START = time.monotonic()


def step(text):
    print(f"[{time.monotonic() - START:6.2f} s] {text}", file=sys.stderr, flush=True)


def centred(desk, wid):
    """Whether the window, frame included, sits in the middle of the screen."""
    x, y, w, h = desk.frame_rect(wid)
    return abs(2 * x + w - desk.size[0]) <= 2 and abs(2 * y + h - desk.size[1]) <= 2


def red_pixels(pixels):
    _, _, data = pixels
    return sum(1 for i in range(0, len(data), 3)
               if data[i] > 180 and data[i + 1] < 80 and data[i + 2] < 80)


class DesktopTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        step("starting Xvfb and openbox")
        cls.desk = VirtualDesktop().__enter__()
        step(f"virtual display {cls.desk.display} is up")

    @classmethod
    def tearDownClass(cls):
        cls.desk.__exit__(None, None, None)
        step("virtual display is down")

    def assert_centred(self, wid, what):
        try:
            wait_until(f"the {what} to be centred", lambda: centred(self.desk, wid), 5)
        except Timeout:
            self.fail(f"{what} not centred: frame {self.desk.frame_rect(wid)} on {self.desk.size}")

    def validate_once(self, binary, title):
        """One run as a user makes it; checks everything the title and the proxy decide."""
        desk = self.desk
        with LoopbackProxy(lambda url: 404 if url == BLOCKED else 200) as proxy:
            step(f"starting {binary} with http_proxy={proxy.url}")
            with Program(desk, binary, proxy.url) as prog:
                main = prog.wait_window(CAPTION)
                step(f"main window {main:#x} is up, titled {desk.title(main)!r}")
                self.assertEqual((title, title), desk.wm_class(main), "main window's WM_CLASS")
                self.assertEqual([], proxy.snapshot(), "probes before any key was pressed")
                self.assertEqual((481, 237), desk.client_rect(main)[2:], "client area")
                self.assert_centred(main, "main window")

                step("pressing Enter on the main window (the button has the focus)")
                desk.key(main, "Return")
                box = prog.wait_window(title, timeout=60)
                seen = proxy.snapshot()
                step(f"message box {box:#x} titled {title!r} is up after {len(seen)} requests")
                self.assertEqual(len(LINKS), len(seen), "requests before the box appeared")
                self.assertEqual((title, title), desk.wm_class(box), "message box's WM_CLASS")
                self.assert_centred(box, "message box")

                step("pressing Enter on the message box")
                desk.key(box, "Return")
                prog.wait_gone(box)
                self.assertIn(main, prog.windows(), "main window after the box closed")

                # The box covered the status line; wait for the repaint rather than guess.
                x, y, _, _ = desk.client_rect(main)
                sx, sy, sw, sh = STATUS_LINE
                wait_until("the status line to turn red",
                                 lambda: red_pixels(desk.pixels((x + sx, y + sy, sw, sh))) > 50, 5)
                step("the status line is red")

                step("closing the main window through the window manager")
                desk.close(main)
                code = prog.wait_exit()
                step(f"program exited with code {code}")
                self.assertEqual(0, code, "exit code")

        self.assertEqual([("GET", url, title) for url in LINKS], proxy.snapshot(),
                         "(method, URL, User-Agent) of each request, in order")
        step("the proxy saw 18 GETs in table order with the expected User-Agent")

    def test_run_reports_the_blocked_link(self):
        self.validate_once(BINARY, "Zelvatorim")

    def test_title_follows_the_executable_name(self):
        with tempfile.TemporaryDirectory() as folder:
            copy = os.path.join(folder, "Link.Check.EXE")
            shutil.copy2(BINARY, copy)
            step(f"copied the binary to {copy}")
            self.validate_once(copy, "Link")


def main():
    global BINARY
    args = sys.argv[1:]
    if args and not args[0].startswith("-"):
        BINARY = os.path.abspath(args.pop(0))
    else:
        BINARY = os.environ.get("ZELVATORIM")
    if not BINARY or not os.access(BINARY, os.X_OK):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim (or set ZELVATORIM); got {BINARY!r}")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
