#!/usr/bin/env python3
"""The Debian package as a user gets it.

Usage: python3 tests/e2e/test_package.py dist/zelvatorim_VERSION_amd64.deb [unittest options]

Reads the package's fields and files, runs lintian, desktop-file-validate and appstreamcli on it,
then unpacks it (dpkg-deb -x) into a temporary folder and starts the program there through its
usr/bin/zelvatorim link on a virtual desktop, driven by tests/e2e/test_desktop.py: the title is
"Zelvatorim" and a run through a loopback proxy works. Needs dpkg-dev, lintian,
desktop-file-utils, appstream and what test_desktop.py needs.
"""

import configparser
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
APP_ID = "example.telvaro.zelvatorim"
# What the program calls itself, in its title and its window class; see test_desktop.py.
TITLE = "Zelvatorim"
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)
BINARY = "usr/libexec/zelvatorim/Zelvatorim"
# Every file of the package, with its mode; a link with its target.
FILES = {
    "usr/bin/zelvatorim": "-> ../libexec/zelvatorim/Zelvatorim",
    BINARY: 0o755,
    f"usr/share/applications/{APP_ID}.desktop": 0o644,
    f"usr/share/metainfo/{APP_ID}.metainfo.xml": 0o644,
    f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg": 0o644,
    **{f"usr/share/icons/hicolor/{n}x{n}/apps/{APP_ID}.png": 0o644 for n in ICON_SIZES},
    "usr/share/man/man1/zelvatorim.1.gz": 0o644,
    "usr/share/doc/zelvatorim/copyright": 0o644,
    "usr/share/doc/zelvatorim/changelog.gz": 0o644,
}

DEB = None


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(Zelvatorim VERSION (\S+)", f.read()).group(1)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", head[16:24])


def needed_depends(binary):
    """The Depends that dpkg-shlibdeps works out for the binary, by package name."""
    with tempfile.TemporaryDirectory() as folder:
        os.mkdir(os.path.join(folder, "debian"))
        with open(os.path.join(folder, "debian", "control"), "w", encoding="utf-8") as f:
            f.write("Source: zelvatorim\n\nPackage: zelvatorim\nArchitecture: any\n")
        done = run("dpkg-shlibdeps", "-O", os.path.abspath(binary), cwd=folder, check=True)
    return re.search(r"^shlibs:Depends=(.*)$", done.stdout, re.M).group(1)


def package_names(depends):
    return {re.match(r"\s*([^\s(|]+)", item).group(1) for item in depends.split(",")}


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zelvatorim-package-")
        cls.root = os.path.join(cls.folder, "root")
        subprocess.run(["dpkg-deb", "-x", DEB, cls.root], check=True)
        fields = run("dpkg-deb", "-f", DEB, check=True).stdout
        cls.fields = dict(re.findall(r"^(\S+): (.*)$", fields, re.M))
        tar = subprocess.run(["dpkg-deb", "--fsys-tarfile", DEB], capture_output=True, check=True)
        with tarfile.open(fileobj=io.BytesIO(tar.stdout)) as archive:
            cls.members = {m.name.removeprefix("./").rstrip("/"): m for m in archive.getmembers()}
        cls.members.pop("", None)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def path(self, name):
        return os.path.join(self.root, name)

    def test_fields(self):
        for field, expected in [("Package", "zelvatorim"), ("Version", project_version()),
                                ("Architecture", "amd64"), ("Section", "net"),
                                ("Priority", "optional")]:
            with self.subTest(field):
                self.assertEqual(expected, self.fields.get(field))

    def test_depends_are_what_the_binary_needs(self):
        needed = needed_depends(self.path(BINARY))
        self.assertEqual(package_names(needed), package_names(self.fields["Depends"]))
        self.assertEqual(needed, self.fields["Depends"], "versions as dpkg-shlibdeps gives them")

    def test_files(self):
        folders = {os.path.dirname(name) for name in FILES}
        folders |= {p for f in list(folders) for p in self.parents(f)}
        self.assertEqual(sorted(set(FILES) | folders), sorted(self.members), "file list")
        for name, member in self.members.items():
            with self.subTest(name):
                self.assertEqual((0, 0, "root", "root"),
                                 (member.uid, member.gid, member.uname, member.gname), "owner")
                expected = FILES.get(name, 0o755)
                if isinstance(expected, str):
                    self.assertTrue(member.issym(), "a link")
                    self.assertEqual(expected, "-> " + member.linkname)
                else:
                    self.assertEqual(oct(expected), oct(member.mode), "mode")

    @staticmethod
    def parents(folder):
        while folder:
            yield folder
            folder = os.path.dirname(folder)

    def test_lintian_reports_no_error_or_warning(self):
        done = run("lintian", "--no-tag-display-limit", DEB)
        findings = [line for line in done.stdout.splitlines() if re.match(r"[EW]: ", line)]
        self.assertEqual([], findings, done.stdout + done.stderr)
        self.assertIn(done.returncode, (0, 2), done.stderr)  # 2: tags of lower severity only

    def test_desktop_entry(self):
        desktop = self.path(f"usr/share/applications/{APP_ID}.desktop")
        done = run("desktop-file-validate", desktop)
        self.assertEqual("", done.stdout + done.stderr)
        self.assertEqual(0, done.returncode)
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(desktop, encoding="utf-8")
        entry = entry["Desktop Entry"]
        for key, expected in [("Exec", "zelvatorim"), ("Icon", APP_ID),
                              ("StartupWMClass", TITLE), ("Terminal", "false")]:
            with self.subTest(key):
                self.assertEqual(expected, entry.get(key))
        self.assertIn("Network", entry["Categories"].split(";"))
        self.assertRegex(entry.get("Comment", ""), r"[ãçéíáõ]", "a Portuguese comment")
        self.assertTrue(os.path.exists(self.path("usr/bin/" + entry["Exec"])), "command")

    def test_metainfo(self):
        metainfo = self.path(f"usr/share/metainfo/{APP_ID}.metainfo.xml")
        done = run("appstreamcli", "validate", "--no-net", "--pedantic", metainfo)
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        tree = run("appstreamcli", "validate-tree", "--no-net", "--pedantic", self.root)
        self.assertEqual(0, tree.returncode, tree.stdout + tree.stderr)
        component = ElementTree.parse(metainfo).getroot()
        for what, expected in [("id", APP_ID), ("launchable", f"{APP_ID}.desktop"),
                               ("provides/binary", "zelvatorim")]:
            with self.subTest(what):
                self.assertEqual(expected, component.findtext(what))
        release = component.find("releases/release")
        self.assertEqual(self.fields["Version"], release.get("version"), "newest release")
        self.assertRegex(release.get("date"), r"^\d{4}-\d\d-\d\d$")

    def test_icons(self):
        for size in ICON_SIZES:
            with self.subTest(size=size):
                png = self.path(f"usr/share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png")
                self.assertEqual((size, size), png_size(png))
        with open(self.path(f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg"), "rb") as f:
            ElementTree.parse(f)

    def test_manual_page(self):
        # Wide enough that no word is hyphenated at a line's end.
        done = run("man", "--warnings", "-l", self.path("usr/share/man/man1/zelvatorim.1.gz"),
                   env={**os.environ, "MANWIDTH": "1000"})
        self.assertEqual("", done.stderr, "groff's warnings")
        text = re.sub(r"\s+", " ", re.sub(r".\x08", "", done.stdout))  # no bold or underline
        for words in ["Validar Links", "http_proxy", "kioslaverc", "org.gnome.system.proxy",
                      "NTLM", "WPAD", "10 seconds", "20 seconds", "writes nothing"]:
            with self.subTest(words):
                self.assertIn(words, text, "in the manual page")

    def test_program_runs_through_its_link(self):
        """The title, the User-Agent and the window class come from the binary's own name."""
        done = subprocess.run([sys.executable, os.path.join(HERE, "test_desktop.py"),
                               self.path("usr/bin/zelvatorim")])
        self.assertEqual(0, done.returncode, "test_desktop.py on the unpacked package")


def main():
    global DEB
    args = sys.argv[1:]
    if not args or not os.path.isfile(args[0]):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/zelvatorim_VERSION_amd64.deb [unittest options]")
    DEB = os.path.abspath(args.pop(0))
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
