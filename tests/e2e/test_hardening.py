#!/usr/bin/env python3
"""The Linux program carries Debian's hardening: what the binary shows, and how it was compiled.

Usage: python3 tests/e2e/test_hardening.py PATH/TO/Zelvatorim PATH/TO/compile_commands.json
       [unittest options]

hardening-check (Debian devscripts) must say yes to PIE, the stack protector, read-only
relocations and immediate binding. It cannot always see fortified functions, stack-clash or
control-flow protection in a binary (a program with none of the calls they guard shows "no"),
so every compile command of the build is read for those flags.
"""

import json
import os
import re
import shlex
import subprocess
import sys
import unittest

BINARY_CHECKS = [
    "Position Independent Executable",
    "Stack protected",
    "Read-only relocations",
    "Immediate binding",
]
# Each flag as a pattern over one argument of a compile command.
COMPILE_FLAGS = {
    "fortify": r"-D_FORTIFY_SOURCE=[23]",
    "stack protector": r"-fstack-protector-strong",
    "stack clash": r"-fstack-clash-protection",
    "control flow": r"-fcf-protection(=full)?",
}

BINARY = COMMANDS = None


class HardeningTest(unittest.TestCase):
    def test_binary(self):
        done = subprocess.run(["hardening-check", BINARY], capture_output=True, text=True)
        found = dict(re.findall(r"^ ([^:\n]+): (.*)$", done.stdout, re.M))
        for check in BINARY_CHECKS:
            with self.subTest(check):
                self.assertRegex(found.get(check, "missing"), r"^yes", done.stdout)

    def test_compile_commands(self):
        with open(COMMANDS, encoding="utf-8") as f:
            entries = json.load(f)
        self.assertTrue(entries, f"no compile command in {COMMANDS}")
        for entry in entries:
            args = entry.get("arguments") or shlex.split(entry["command"])
            for name, pattern in COMPILE_FLAGS.items():
                with self.subTest(file=entry["file"], flag=name):
                    self.assertTrue(any(re.fullmatch(pattern, a) for a in args), args)


def main():
    global BINARY, COMMANDS
    args = sys.argv[1:]
    if len(args) < 2 or not os.path.isfile(args[0]) or not os.path.isfile(args[1]):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim PATH/TO/compile_commands.json")
    BINARY, COMMANDS = (os.path.abspath(a) for a in args[:2])
    unittest.main(argv=[sys.argv[0]] + args[2:], verbosity=2)


if __name__ == "__main__":
    main()
