#!/usr/bin/env python3
"""The form of Zelvatorim.exe itself: what Windows sees before it runs a line of it.

Usage: python3 tests/e2e/test_pe.py PATH/TO/Zelvatorim.exe [unittest options]

A 32-bit GUI program that needs nothing but Windows' own DLLs (WinInet among them), carries its
window layout and a 64 x 64, 32-bit icon "MAINICON", and no manifest or version resource (so its
controls keep the classic look). Hardened: loaded at a random address, data never executed,
aware of terminal servers, and its functions guard their stacks. Needs mingw-w64's
i686-w64-mingw32-objdump and icoutils' wrestool.
"""

import os
import re
import struct
import subprocess
import sys
import unittest
import zlib

OBJDUMP = "i686-w64-mingw32-objdump"
# Windows' own DLLs a program of this kind may import; a compiler runtime DLL is never one.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "wininet.dll", "msvcrt.dll",
               "advapi32.dll", "shell32.dll", "comctl32.dll", "comdlg32.dll", "ole32.dll",
               "oleaut32.dll", "imm32.dll", "version.dll", "winmm.dll"}
# The loader's security flags the program must carry, as objdump names them.
SECURITY_FLAGS = {"DYNAMIC_BASE", "NX_COMPAT", "TERMINAL_SERVICE_AWARE"}
# A function with a buffer on its stack, which the protector must guard: the probe's status line.
GUARDED = "TForm1::TestarLink("
# Resource types by number.
RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 10, 14, 16, 24

EXE = None


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def resources(exe):
    """The resources as [(type, name)], type a number or a name, name as wrestool gives it."""
    out = subprocess.run(["wrestool", "-l", exe], capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        fields = dict(re.findall(r"--(type|name)=(\S+)", line))
        kind = fields["type"]
        found.append((int(kind) if kind.isdigit() else kind, fields.get("name", "").strip("'")))
    return found


def extract(exe, kind, name):
    done = subprocess.run(["wrestool", "-x", "--raw", f"--type={kind}", f"--name={name}", exe],
                          capture_output=True, check=True)
    return done.stdout


def icon_pixels(image):
    """An icon image (PNG or DIB) as (width, height, alphas), alphas row by row from the top."""
    if image.startswith(b"\x89PNG\r\n\x1a\n"):
        chunks, pos = {}, 8
        while pos < len(image):
            size, kind = struct.unpack(">I4s", image[pos:pos + 8])
            chunks[kind] = chunks.get(kind, b"") + image[pos + 8:pos + 8 + size]
            pos += size + 12
        width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
        if (depth, colour) != (8, 6):
            raise AssertionError(f"PNG icon is not 8-bit RGBA (depth {depth}, colour {colour})")
        raw, stride, rows, prev = zlib.decompress(chunks[b"IDAT"]), width * 4, [], None
        for y in range(height):
            line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
            rows.append(prev := unfilter(line[0], bytearray(line[1:]), prev))
        return width, height, [row[x * 4 + 3] for row in rows for x in range(width)]
    size, width, height, _, bits = struct.unpack("<IiiHH", image[:16])
    if bits != 32:
        raise AssertionError(f"icon image has {bits} bits per pixel")
    height //= 2  # a DIB in an icon counts its AND mask in its height
    data = image[size:size + width * height * 4]
    rows = [data[y * width * 4:(y + 1) * width * 4] for y in range(height)][::-1]
    return width, height, [row[x * 4 + 3] for row in rows for x in range(width)]


def unfilter(kind, line, prev):
    """Undoes one PNG row filter (bytes per pixel 4)."""
    prev = prev or bytearray(len(line))
    for i in range(len(line)):
        a = line[i - 4] if i >= 4 else 0
        b, c = prev[i], prev[i - 4] if i >= 4 else 0
        if kind == 1:
            line[i] = (line[i] + a) & 255
        elif kind == 2:
            line[i] = (line[i] + b) & 255
        elif kind == 3:
            line[i] = (line[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    return line


class ExecutableTest(unittest.TestCase):
    def test_a_32bit_windows_gui_program(self):
        header = run(OBJDUMP, "-f", EXE)
        private = run(OBJDUMP, "-p", EXE)
        for what, text, expected in [
            ("file format", header, "file format pei-i386"),
            ("architecture", header, "architecture: i386"),
            ("optional header magic", private, "(PE32)"),
            ("subsystem", private, "(Windows GUI)"),
        ]:
            with self.subTest(what):
                self.assertIn(expected, text)

    def test_imports_only_windows_own_dlls(self):
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", run(OBJDUMP, "-p", EXE))}
        self.assertIn("wininet.dll", dlls)
        self.assertEqual(set(), dlls - SYSTEM_DLLS, "DLLs that a bare Windows does not have")

    def test_security_flags(self):
        private = run(OBJDUMP, "-p", EXE)
        found = re.search(r"^DllCharacteristics\s+[0-9a-f]+\n((?:\t+\S+\n)*)", private, re.M)
        self.assertIsNotNone(found, "no DllCharacteristics in objdump -p")
        self.assertEqual(set(), SECURITY_FLAGS - set(found.group(1).split()), "flags missing")

    def test_stack_protector_guards_the_probe(self):
        code = run(OBJDUMP, "-d", "-C", "--no-show-raw-insn", EXE)
        callers, function = set(), None
        for line in code.splitlines():
            if header := re.match(r"^[0-9a-f]+ <(.*)>:$", line):
                function = header.group(1)
            elif re.search(r"\bcall\s.*<_*stack_chk_fail>", line):
                callers.add(function)
        self.assertTrue(any(f.startswith(GUARDED) for f in callers),
                        f"{GUARDED}...) never calls the protector's handler; callers: {callers}")

    def test_declares_itself_aware_of_the_screens_density_by_a_call(self):
        # Without a manifest, only the call keeps Windows from stretching the window as a bitmap.
        listing = run(OBJDUMP, "-p", EXE)
        user32 = re.search(r"DLL Name: USER32\.dll\n(.*?)\n\n", listing, re.S | re.I)
        self.assertIsNotNone(user32, "imports from user32.dll")
        self.assertRegex(user32[1], r"\bSetProcessDPIAware\b")

    def test_resources(self):
        found = resources(EXE)
        kinds = {kind for kind, _ in found}
        self.assertIn((RT_GROUP_ICON, "MAINICON"), found, "icon group MAINICON")
        self.assertIn((RT_RCDATA, "TFORM1"), found, "the stored window layout")
        self.assertNotIn(RT_MANIFEST, kinds, "a manifest would theme the controls")
        self.assertNotIn(RT_VERSION, kinds, "version resource")

    def test_icon_is_one_64x64_image_with_transparency(self):
        group = extract(EXE, RT_GROUP_ICON, "MAINICON")
        reserved, kind, count = struct.unpack("<HHH", group[:6])
        self.assertEqual((0, 1, 1), (reserved, kind, count), "(reserved, type, image count)")
        width, height, _, _, planes, bits, _, image_id = struct.unpack("<BBBBHHIH", group[6:20])
        self.assertEqual((64, 64, 32), (width, height, bits), "group entry: width, height, bits")
        image = extract(EXE, RT_ICON, image_id)
        width, height, alphas = icon_pixels(image)
        self.assertEqual((64, 64), (width, height), "image size")
        self.assertEqual(0, alphas[0], "the top left corner is transparent")
        self.assertIn(255, alphas, "some pixels are opaque")


def main():
    global EXE
    args = sys.argv[1:]
    if not args or not os.path.isfile(args[0]):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim.exe [unittest options]")
    EXE = os.path.abspath(args.pop(0))
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
