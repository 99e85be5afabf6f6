#!/usr/bin/env python3
"""Zelvatorim.exe under Wine, driven as a user drives it: keys, windows and the servers it reaches.

Usage: python3 tests/e2e/test_windows.py PATH/TO/Zelvatorim.exe [unittest options]

The program asks WinInet for the system's settings (no proxy here), so its links go straight to
their hosts. To keep every probe on this machine the test re-runs itself in namespaces of its own
(unshare: mount, network, PID, and a user namespace when not run as root): a network with nothing
but loopback, an /etc/hosts that maps each built-in host to 127.0.0.1, and HTTP servers on the
links' ports there. Wine runs in a fresh prefix on a private Xvfb + openbox display.

A machine that refuses the namespaces, or a 32-bit program on a kernel that runs no 32-bit
programs (Wine's 32-bit loader is one), gets a plain message; the test then skips, or fails when
CI is set. Screenshots go next to the program: screenshot-wine-*.png.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from urllib.parse import urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, HERE)

import isolation  # noqa: E402
from test_desktop import (CAPTION, LINKS, STATUS_LINE, as_requested, centred,  # noqa: E402
                          red_pixels, step)
from virtual_desktop import LinkServers, Program, VirtualDesktop, wait_until  # noqa: E402

TEST = "test_windows"
SOURCE = os.path.join(ROOT, "src", "uZelvatorim.cpp")
GREEN_TEXT = "Todos os links estão liberados!"
RED_TEXT = "Links bloqueados:"
BLOCKED = (10, 13)  # entries 11 and 14, by index

# Bounds for a slow, busy machine; a healthy run takes a fraction of them.
BOOT_TIMEOUT = 300
START_TIMEOUT = 120
RUN_TIMEOUT = 120

EXE = None
SHOTS = None


def built_in_links():
    """The program's own link table, as written in its source."""
    with open(SOURCE, encoding="utf-8") as f:
        return re.findall(r'"(http://[^"]+)"', f.read())


def pe_machine(path):
    """The CPU a Windows executable is built for: "i686" or "x86_64"."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is no Windows executable")
    return {0x14C: "i686", 0x8664: "x86_64"}[int.from_bytes(head[pe + 4:pe + 6], "little")]


def runs_32bit():
    """Whether the kernel starts a 32-bit x86 program, as Wine's 32-bit loader is."""
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"],
                              capture_output=True).returncode == 0
    except OSError:
        return False


def prepare_namespaces(folder, hosts):
    """Loopback up and the built-in hosts on 127.0.0.1, for this namespace only."""
    isolation.loopback_only()
    hosts_file = os.path.join(folder, "hosts")
    with open(hosts_file, "w") as f:
        f.write("127.0.0.1 localhost\n::1 localhost\n")
        f.writelines(f"127.0.0.1 {host}\n" for host in sorted(hosts))
    subprocess.run(["mount", "--bind", hosts_file, "/etc/hosts"], check=True)


# --- Wine -------------------------------------------------------------------------------------

class Wine:
    """A fresh prefix in a folder, on one display; runs programs built for one CPU there."""

    LOADERS = {"i686": ("/usr/lib/wine/wine", "win32"), "x86_64": ("/usr/lib/wine/wine64", "win64")}

    def __init__(self, desktop, folder, machine):
        self.desktop = desktop
        self.loader, arch = self.LOADERS[machine]
        self.log = open(os.path.join(folder, "wine.log"), "ab")
        self.env = desktop.env
        for name in ("http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                     "HTTP_PROXY", "no_proxy", "NO_PROXY", "WINEARCH", "WINESERVER",
                     "WINELOADER"):
            self.env.pop(name, None)
        # Never offer to install Mono or Gecko, nor add menu entries to the user's desktop.
        self.env.update(WINEPREFIX=os.path.join(folder, "prefix"), WINEARCH=arch,
                        WINELOADER=self.loader,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", WINEDEBUG="-all")

    def boot(self):
        subprocess.run([self.loader, "wineboot", "--init"], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log,
                       timeout=BOOT_TIMEOUT)
        subprocess.run(["wineserver", "--wait"], env=self.env, timeout=BOOT_TIMEOUT)

    def start(self, exe):
        return WineProgram(self, exe)

    def run(self, *command, timeout=START_TIMEOUT):
        """Runs a console program to its end; returns its exit code and output."""
        done = subprocess.run([self.loader, *command], env=self.env, capture_output=True,
                              timeout=timeout, stdin=subprocess.DEVNULL)
        return done.returncode, done.stdout

    def shut_down(self):
        subprocess.run(["wineserver", "--kill"], env=self.env, timeout=60)
        self.log.close()


class WineProgram(Program):
    """A Windows program under Wine on the desktop; Program's window helpers work on it."""

    def __init__(self, wine, exe):
        self.desktop = wine.desktop
        self.proc = subprocess.Popen([wine.loader, exe], env=wine.env, cwd=os.path.dirname(exe),
                                     stdin=subprocess.DEVNULL, stdout=wine.log, stderr=wine.log)

    def windows(self):
        # The loader may hand the program to another process; the display is ours alone.
        out = self.desktop.x("xdotool", "search", "--onlyvisible", "--name", ".")
        found = {}
        for line in out.split():
            found[int(line)] = self.desktop.title(int(line))
        return found


def controls(wine, tool, caption):
    """What the window titled caption shows: [(class, focused, text)], via tools/wintext.c."""
    code, out = wine.run(tool, caption)
    if code != 0:
        raise AssertionError(f"wintext found no window titled {caption!r} (exit code {code})")
    found = []
    for line in out.decode("cp1252").splitlines():
        cls, focused, text = line.split("\t", 2)
        text = re.sub(r"\\(.)", lambda m: {"t": "\t", "r": "\r", "n": "\n"}.get(m[1], m[1]),
                      text)
        found.append((cls, focused == "1", text))
    return found


def by_role(found):
    """The button, the text box and the status line among the controls, by what they hold."""
    button = next(c for c in found if c[2] == "Validar Links")
    others = [c for c in found if c is not button]
    memo = next(c for c in others if "EDIT" in c[0].upper())
    labels = [c for c in others if c is not memo]
    return button, memo, labels


# --- the tests --------------------------------------------------------------------------------

class WineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zelvatorim-wine-")
        links = built_in_links()
        cls.links = links
        hosts = {urlsplit(u).hostname for u in links}
        ports = {urlsplit(u).port or 80 for u in links}
        prepare_namespaces(cls.folder, hosts)
        step(f"namespaces ready: loopback only, {len(hosts)} hosts on 127.0.0.1, "
             f"servers on ports {sorted(ports)}")
        cls.servers = LinkServers(ports).__enter__()
        cls.desk = VirtualDesktop().__enter__()
        step(f"virtual display {cls.desk.display} is up; making a fresh Wine prefix")
        cls.wine = Wine(cls.desk, cls.folder, pe_machine(EXE))
        started = time.monotonic()
        cls.wine.boot()
        step(f"Wine prefix made in {time.monotonic() - started:.0f} s")
        cls.wintext = os.path.join(cls.folder, "wintext.exe")
        subprocess.run([f"{pe_machine(EXE)}-w64-mingw32-gcc", "-O1", "-s", "-o", cls.wintext,
                        os.path.join(ROOT, "tools", "wintext.c")], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.wine.shut_down()
        cls.desk.__exit__(None, None, None)
        cls.servers.__exit__(None, None, None)
        shutil.rmtree(cls.folder, ignore_errors=True)
        step("Wine, the display and the servers are down")

    def shot(self, name, prog):
        path = os.path.join(SHOTS, f"screenshot-wine-{name}.png")
        self.desk.screenshot(path, prog.window_rects())
        step(f"screenshot {path}")

    def validate_once(self, exe, title, blocked_entries):
        """One run as a user makes it, the given entries answered 404 and the rest 200."""
        desk, servers = self.desk, self.servers
        blocked = [self.links[i] for i in blocked_entries]
        refused = {as_requested(url) for url in blocked}
        servers.reset(lambda url: 404 if url in refused else 200)
        step(f"starting {exe} under Wine")
        with self.wine.start(exe) as prog:
            main = prog.wait_window(CAPTION, timeout=START_TIMEOUT)
            step(f"main window {main:#x} is up, titled {desk.title(main)!r}")
            button, memo, labels = by_role(controls(self.wine, self.wintext, CAPTION))
            self.assertTrue(button[1], "the button has the focus at start")
            self.assertEqual("", memo[2], "text box at start")
            self.assertTrue(all(text.strip() == "" for _, _, text in labels),
                            f"status line at start: {labels}")
            self.assertEqual([], servers.snapshot(), "requests before any key was pressed")
            self.assertEqual((481, 237), desk.client_rect(main)[2:], "client area")
            wait_until("the main window to be centred", lambda: centred(desk, main), 5)
            if title == "Zelvatorim":
                self.shot("start", prog)

            step("pressing Enter on the main window")
            desk.key(main, "Return")
            box = prog.wait_window(title, timeout=RUN_TIMEOUT)
            seen = servers.snapshot()
            step(f"message box {box:#x} titled {title!r} is up after {len(seen)} requests")
            time.sleep(0.5)  # let the box paint before the picture
            self.shot(f"box-{title}", prog)
            self.assertEqual([("GET", url, title) for url in LINKS], seen,
                             "(method, URL, User-Agent) of each request, in order")

            step("pressing Enter on the message box")
            desk.key(box, "Return")
            prog.wait_gone(box)
            button, memo, labels = by_role(controls(self.wine, self.wintext, CAPTION))
            listed = [line for line in memo[2].split("\r\n") if line]
            self.assertEqual(blocked, listed, "links in the text box, as the program holds them")
            status = RED_TEXT if blocked else GREEN_TEXT
            if labels:
                self.assertIn(status, [text for _, _, text in labels], "status line")
            if blocked:
                x, y, _, _ = desk.client_rect(main)
                sx, sy, sw, sh = STATUS_LINE
                wait_until("the status line to turn red",
                           lambda: red_pixels(desk.pixels((x + sx, y + sy, sw, sh))) > 50, 10)
            self.shot(f"result-{title}", prog)

            step("closing the main window through the window manager")
            desk.close(main)
            code = prog.wait_exit(timeout=START_TIMEOUT)
            step(f"program exited with code {code}")
            self.assertEqual(0, code, "exit code")

    def test_links_in_the_program_match_the_table(self):
        self.assertEqual(LINKS, [as_requested(u) for u in self.links])

    def test_run_lists_the_blocked_links(self):
        self.validate_once(EXE, "Zelvatorim", BLOCKED)

    def test_title_follows_the_executable_name(self):
        copy = os.path.join(self.folder, "Link.Check.EXE")
        shutil.copy2(EXE, copy)
        self.validate_once(copy, "Link", ())


def main():
    global EXE, SHOTS
    args = sys.argv[1:]
    if not args or args[0].startswith("-") or not os.path.isfile(args[0]):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim.exe [unittest options]")
    if not isolation.inside_namespaces(TEST):
        if pe_machine(args[0]) == "i686" and not runs_32bit():
            isolation.refuse(TEST, f"{args[0]} is a 32-bit program and this kernel runs no 32-bit "
                             "programs, so Wine's 32-bit loader cannot start (test the 64-bit "
                             "build here instead)")
        sys.exit(isolation.enter_namespaces(TEST, __file__, args))
    EXE = os.path.abspath(args.pop(0))
    SHOTS = os.path.dirname(EXE)
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
