#!/usr/bin/env python3
"""Zelvatorim on a desktop, driven as a user drives it: keys, windows and a proxy.

Usage: python3 tests/e2e/test_desktop.py PATH/TO/Zelvatorim [unittest options]
   or: ZELVATORIM=PATH/TO/Zelvatorim python3 tests/e2e/test_desktop.py

Runs the real binary on a private Xvfb + openbox display; its links go only to a loopback proxy
that answers every one itself (200, but 404 for entry 11). Needs Xvfb, openbox, xdotool, wmctrl,
xprop, xwininfo and ImageMagick's import. At Qt's scales 1 and 2 it also measures, on screenshots,
the face the button leaves around its caption and the message box's width and margins; with
SCREENSHOT_DIR set, the pictures it measured are kept there.
"""

import collections
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
# In form coordinates: the status line, right of the button and above the list; the button.
STATUS_LINE = (98, 12, 200, 24)
BUTTON = (16, 9, 75, 25)
# The least face a caption leaves on either side of it in its button, in layout pixels.
FACE_AROUND_CAPTION = 4

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


def scaled(rect, scale):
    return tuple(v * scale for v in rect)


class Picture:
    """Screen pixels as grey levels, with the background (the face) and what stands out of it."""

    def __init__(self, pixels):
        self.width, self.height, data = pixels
        rgb = [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]
        self.face = collections.Counter(rgb).most_common(1)[0][0]
        self.is_face = [c == self.face for c in rgb]
        grey = [(299 * r + 587 * g + 114 * b) // 1000 for r, g, b in rgb]
        # Ink: clearly darker than the face, so that anti-aliased fringes do not count.
        limit = (299 * self.face[0] + 587 * self.face[1] + 114 * self.face[2]) // 1000 - 96
        self.dark = [v < limit for v in grey]

    def at(self, plane, x, y):
        return plane[y * self.width + x]

    def ink(self, columns, rows):
        return [(x, y) for y in rows for x in columns if self.at(self.dark, x, y)]


def caption_margins(picture):
    """Face on the left and right of the button's caption, in screen pixels.

    The face runs from the bevel inwards; inside it the dotted focus frame is told from the
    caption by its shape: rows it crosses, and columns it runs down nearly the face's full height.
    """
    p = picture

    def inside_bevel(line):
        """The first face pixel past the bevel, seen from the start of a line of pixels."""
        try:
            return line.index(True, line.index(False))
        except ValueError:
            raise AssertionError("no bevel found around the button's face") from None

    row = [p.at(p.is_face, x, p.height // 2) for x in range(p.width)]
    column = [p.at(p.is_face, p.width // 2, y) for y in range(p.height)]
    left, right = inside_bevel(row), p.width - 1 - inside_bevel(row[::-1])
    top, bottom = inside_bevel(column), p.height - 1 - inside_bevel(column[::-1])
    columns, rows = range(left, right + 1), range(top, bottom + 1)
    frame_rows = {y for y in rows
                  if sum(p.at(p.dark, x, y) for x in columns) >= 0.4 * len(columns)}
    rows = [y for y in rows if y not in frame_rows]
    frame_columns = set()
    for x in columns:
        dark = [y for y in rows if p.at(p.dark, x, y)]
        if dark and dark[-1] - dark[0] >= 0.75 * len(rows):
            frame_columns.add(x)
    ink = [x for x, _ in p.ink([x for x in columns if x not in frame_columns], rows)]
    if not ink:
        raise AssertionError("no caption found in the button")
    return min(ink) - left, right - max(ink), frame_columns, (min(ink), max(ink))


def box_text_margins(picture):
    """The left and right margins of a message box's text, and its number of lines.

    The text is the ink above the first row that a button's frame draws across.
    """
    p = picture
    columns = range(p.width)
    text_rows = []
    for y in range(p.height):
        run = longest = 0
        for x in columns:
            run = run + 1 if p.at(p.dark, x, y) else 0
            longest = max(longest, run)
        if longest >= 30:
            break
        text_rows.append(y)
    ink = p.ink(columns, text_rows)
    if not ink:
        raise AssertionError("no text found above the box's button")
    lines = 0
    inked = sorted({y for _, y in ink})
    for previous, y in zip([None] + inked, inked):
        lines += previous is None or y > previous + 1
    xs = [x for x, _ in ink]
    return min(xs), p.width - 1 - max(xs), lines


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

    def keep(self, rect, name):
        """Saves what a measurement looked at, when SCREENSHOT_DIR asks for it."""
        folder = os.environ.get("SCREENSHOT_DIR")
        if folder:
            os.makedirs(folder, exist_ok=True)
            path = self.desk.screenshot(os.path.join(folder, f"{name}.png"), [rect], margin=0)
            step(f"kept {path}")

    def measure(self, what, rect, measurement):
        """A measurement of the pixels in rect, taken once the window has painted them."""
        def painted():
            try:
                return (measurement(Picture(self.desk.pixels(rect))),)
            except AssertionError:
                return None

        try:
            return wait_until(what, painted, 5)[0]
        except Timeout:
            return measurement(Picture(self.desk.pixels(rect)))  # fails, saying why

    def check_button(self, main, scale):
        """The caption leaves face around it, and the focus frame keeps off it."""
        x, y, _, _ = self.desk.client_rect(main)
        bx, by, bw, bh = scaled(BUTTON, scale)
        rect = (x + bx, y + by, bw, bh)
        self.keep(rect, f"button-scale{scale}")
        left, right, frame, (first, last) = self.measure("the button's caption", rect,
                                                         caption_margins)
        step(f"face beside the caption: {left} px left, {right} px right; focus frame at "
             f"columns {sorted(frame)}, caption from {first} to {last}")
        least = FACE_AROUND_CAPTION * scale
        self.assertGreaterEqual(min(left, right), least,
                                f"face on either side of the caption (left {left}, right {right})")
        self.assertTrue(frame, "the focused button shows its focus frame")
        # Closer than this, the caption's anti-aliased edge runs into the dotted frame.
        clear = min(first - max(x for x in frame if x < first),
                    min(x for x in frame if x > last) - last) - 1
        self.assertGreaterEqual(clear, 2 * scale, "face between the focus frame and the caption")

    def check_box(self, main, box, scale):
        """The box wraps its text, is no wider than the main window, and has even margins."""
        desk = self.desk
        rect = desk.client_rect(box)
        self.keep(rect, f"box-scale{scale}")
        left, right, lines = self.measure("the box's text", rect, box_text_margins)
        frame_w, main_w = desk.frame_rect(box)[2], desk.frame_rect(main)[2]
        step(f"box {frame_w} px wide (window {main_w}); text margins {left} and {right} px, "
             f"{lines} lines")
        self.assertLessEqual(frame_w, main_w, "the message box is wider than the main window")
        self.assertGreaterEqual(lines, 2, "the box wraps its text")
        self.assertLessEqual(abs(left - right), 2 * scale, "the box's text margins differ")

    def validate_once(self, binary, title, scale=1):
        """One run as a user makes it; checks everything the title and the proxy decide, and
        measures the button and the box on screenshots."""
        desk = self.desk
        with LoopbackProxy(lambda url: 404 if url == BLOCKED else 200) as proxy:
            step(f"starting {binary} with http_proxy={proxy.url} at scale {scale}")
            with Program(desk, binary, proxy.url,
                         extra_env={"QT_SCALE_FACTOR": str(scale)}) as prog:
                main = prog.wait_window(CAPTION)
                step(f"main window {main:#x} is up, titled {desk.title(main)!r}")
                self.assertEqual((title, title), desk.wm_class(main), "main window's WM_CLASS")
                self.assertEqual([], proxy.snapshot(), "probes before any key was pressed")
                self.assertEqual((481 * scale, 237 * scale), desk.client_rect(main)[2:],
                                 "client area")
                self.assert_centred(main, "main window")
                desk.activate(main)
                self.check_button(main, scale)

                step("pressing Enter on the main window (the button has the focus)")
                desk.key(main, "Return")
                box = prog.wait_window(title, timeout=60)
                seen = proxy.snapshot()
                step(f"message box {box:#x} titled {title!r} is up after {len(seen)} requests")
                self.assertEqual(len(LINKS), len(seen), "requests before the box appeared")
                self.assertEqual((title, title), desk.wm_class(box), "message box's WM_CLASS")
                self.assert_centred(box, "message box")
                self.check_box(main, box, scale)

                step("pressing Enter on the message box")
                desk.key(box, "Return")
                prog.wait_gone(box)
                self.assertIn(main, prog.windows(), "main window after the box closed")

                # The box covered the status line; wait for the repaint rather than guess.
                x, y, _, _ = desk.client_rect(main)
                sx, sy, sw, sh = scaled(STATUS_LINE, scale)
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

    def test_run_at_double_scale(self):
        self.validate_once(BINARY, "Zelvatorim", scale=2)

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
