#!/usr/bin/env python3
"""Zelvatorim writes no file: one whole validation leaves its home and working folders empty.

Usage: python3 tests/e2e/test_writes_nothing.py PATH/TO/Zelvatorim

The real binary runs on a private Xvfb + openbox display with HOME, every XDG_* folder and TMPDIR
inside an empty temporary home, and an empty temporary working folder; its links go only to a
loopback proxy. After the run and the program's exit, both folders must hold exactly what the test
made itself (the empty runtime folder the session needs), nothing more.
"""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from virtual_desktop import LoopbackProxy, Program, VirtualDesktop  # noqa: E402

CAPTION = "Telvaro Zelvatorim de Links - v.23.10vo0(VE)"
BINARY = None


def contents(folder):
    """Every file and folder below folder, as paths relative to it."""
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


class WritesNothing(unittest.TestCase):
    def test_a_whole_run_leaves_home_and_working_folder_empty(self):
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as work:
            # A session's runtime folder exists and is private; every other XDG folder is where
            # nothing exists yet, so that whatever the program made there would show.
            runtime = os.path.join(home, ".runtime")
            os.mkdir(runtime, 0o700)
            env = {
                "HOME": home,
                "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "XDG_CACHE_HOME": os.path.join(home, ".cache"),
                "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
                "XDG_STATE_HOME": os.path.join(home, ".local", "state"),
                "XDG_RUNTIME_DIR": runtime,
                "TMPDIR": os.path.join(home, ".tmp"),
            }
            made = contents(home)
            with VirtualDesktop() as desk, LoopbackProxy(lambda url: 200) as proxy:
                with Program(desk, BINARY, proxy.url, cwd=work, extra_env=env) as prog:
                    main = prog.wait_window(CAPTION)
                    desk.key(main, "Return")
                    box = prog.wait_window("Zelvatorim", timeout=60)
                    desk.key(box, "Return")
                    prog.wait_gone(box)
                    desk.close(main)
                    self.assertEqual(0, prog.wait_exit(), "exit code")
                self.assertEqual(18, len(proxy.snapshot()), "probes made")
            self.assertEqual(made, contents(home), "written under HOME")
            self.assertEqual([], contents(work), "written in the working folder")


def main():
    global BINARY
    args = sys.argv[1:]
    if not args or not os.access(args[0], os.X_OK):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim [unittest options]")
    BINARY = os.path.abspath(args.pop(0))
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
