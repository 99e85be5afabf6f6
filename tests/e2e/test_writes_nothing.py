#!/usr/bin/env python3
"""Zelvatorim writes no file and starts no process: a whole validation leaves its home and working
folders as they were, and nothing of its own running.

Usage: python3 tests/e2e/test_writes_nothing.py PATH/TO/Zelvatorim

The real binary runs on a private Xvfb + openbox display with HOME, every XDG_* folder and TMPDIR
inside a temporary home, and an empty temporary working folder; its links go only to a loopback
proxy. Three sessions:
- the proxy in http_proxy, and no session bus;
- GNOME's proxy settings in dconf, read over a session bus of the test's own (its configuration,
  socket and service folder in a temporary folder; dconf's service the only one it can start);
- the same settings and no session bus at all, with dbus-launch installed: no bus may be
  launched, and dconf is read without one.
After the program's exit both folders must hold exactly what the test made, and no process may be
running but those the test started. The test runs in network and PID namespaces of its own: only
loopback, so a probe that missed the proxy cannot leave the machine, and every process in sight is
the test's. Where the machine refuses the namespaces the test says so and skips, and fails
instead when CI is set.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, HERE)

import isolation  # noqa: E402
from virtual_desktop import LoopbackProxy, Program, VirtualDesktop, wait_until  # noqa: E402

TEST = "test_writes_nothing"
CAPTION = "Telvaro Zelvatorim de Links - v.23.10vo0(VE)"
DCONF_SERVICE = "/usr/share/dbus-1/services/ca.desrt.dconf.service"
BINARY = None


def contents(folder):
    """Every file and folder below folder, as paths relative to it."""
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


def processes():
    """This PID namespace's processes but this one, as {pid: "name (state)"}."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue  # gone meanwhile
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        found[int(entry)] = f"{name} ({stat[stat.rindex(')') + 2]})"
    return found


def reap_orphans():
    """This script is the namespace's init: ended orphans become its children and wait for it."""
    for pid, description in processes().items():
        if description.endswith("(Z)"):
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass


class PrivateBus:
    """A session bus of the test's own, for a with block. Its configuration, socket and service
    folder live in a temporary folder outside the home; dconf's service is the one it can start,
    with the session's environment (so dconf writes into the test's home)."""

    def __init__(self, env):
        self.env = env
        self.address = None
        self._pid = None
        self._folder = None

    def __enter__(self):
        self._folder = tempfile.mkdtemp(prefix="zelva-bus-")
        services = os.path.join(self._folder, "services")
        os.mkdir(services)
        shutil.copy(DCONF_SERVICE, services)
        config = os.path.join(self._folder, "session.conf")
        with open(config, "w") as f:
            f.write(isolation.session_bus_config(os.path.join(self._folder, "bus"), services))
        started = subprocess.run(
            ["dbus-daemon", f"--config-file={config}", "--fork", "--print-address=1",
             "--print-pid=1"], env=self.env, capture_output=True, text=True, timeout=30,
            check=True)
        self.address, pid = started.stdout.split()
        self._pid = int(pid)
        return self

    def __exit__(self, *exc):
        # The bus and what it started (dconf's service ends with it).
        for pid, description in processes().items():
            if pid == self._pid or description.startswith("dconf-service"):
                os.kill(pid, signal.SIGTERM)
        wait_until("the private bus and dconf's service to end", lambda: not any(
            pid == self._pid or d.startswith("dconf-service")
            for pid, d in processes().items() if not d.endswith("(Z)")), timeout=20)
        reap_orphans()
        shutil.rmtree(self._folder)


class WritesNothing(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="zelva-home-")
        self.work = tempfile.mkdtemp(prefix="zelva-work-")
        # A session's runtime folder exists and is private; every other XDG folder is where
        # nothing exists yet, so that whatever the program made there would show.
        runtime = os.path.join(self.home, ".runtime")
        os.mkdir(runtime, 0o700)
        self.session = {
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_STATE_HOME": os.path.join(self.home, ".local", "state"),
            "XDG_RUNTIME_DIR": runtime,
            "TMPDIR": os.path.join(self.home, ".tmp"),
        }
        # The machine's own bus, display and desktop stay out of the session.
        self.env = {name: value for name, value in os.environ.items()
                    if name not in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "XDG_CURRENT_DESKTOP")}
        self.env.update(self.session)

    def tearDown(self):
        shutil.rmtree(self.home)
        shutil.rmtree(self.work)

    def gsettings(self, env, *args):
        done = subprocess.run(["gsettings", *args], env=env, capture_output=True, text=True,
                              timeout=30, check=True)
        return done.stdout.strip()

    def store_gnome_proxy(self, env, proxy):
        """GNOME's manual proxy, the loopback one, into the home's dconf over env's bus."""
        port = proxy.url.rsplit(":", 1)[1]
        self.gsettings(env, "set", "org.gnome.system.proxy", "mode", "manual")
        self.gsettings(env, "set", "org.gnome.system.proxy.http", "host", "127.0.0.1")
        self.gsettings(env, "set", "org.gnome.system.proxy.http", "port", port)

    def read_gnome_proxy(self, env):
        """As a session's programs do: dconf keeps a flag file in the runtime folder, which a
        program that reads the settings makes where none has since they last changed."""
        self.assertEqual("'manual'", self.gsettings(env, "get", "org.gnome.system.proxy", "mode"))

    def validate(self, proxy, env, proxy_url=None):
        """One whole run: 18 probes through the proxy, nothing written in the home or the
        working folder, no process left behind."""
        made = contents(self.home)
        with VirtualDesktop() as desk:
            before = processes()
            with Program(desk, BINARY, proxy_url, cwd=self.work, extra_env=env) as prog:
                main = prog.wait_window(CAPTION)
                desk.key(main, "Return")
                box = prog.wait_window("Zelvatorim", timeout=60)
                desk.key(box, "Return")
                prog.wait_gone(box)
                desk.close(main)
                self.assertEqual(0, prog.wait_exit(), "exit code")
            reap_orphans()
            left = {pid: d for pid, d in processes().items() if pid not in before}
            self.assertEqual({}, left, "processes left behind")
        self.assertEqual(18, len(proxy.snapshot()), "probes made through the proxy")
        self.assertEqual(made, contents(self.home), "written under HOME")
        self.assertEqual([], contents(self.work), "written in the working folder")

    def test_proxy_in_a_variable(self):
        with LoopbackProxy() as proxy:
            self.validate(proxy, self.session, proxy_url=proxy.url)

    def test_gnome_settings_over_a_session_bus_of_its_own(self):
        with LoopbackProxy() as proxy, PrivateBus(self.env) as bus:
            env = dict(self.env, DBUS_SESSION_BUS_ADDRESS=bus.address)
            self.store_gnome_proxy(env, proxy)
            self.read_gnome_proxy(env)
            self.validate(proxy, dict(self.session, DBUS_SESSION_BUS_ADDRESS=bus.address,
                                      XDG_CURRENT_DESKTOP="GNOME"))

    def test_gnome_settings_without_a_session_bus(self):
        # dbus-launch is what libdbus and GDBus would start a bus with.
        self.assertTrue(shutil.which("dbus-launch"), "dbus-launch (Debian's dbus-x11) is missing")
        with LoopbackProxy() as proxy:
            with PrivateBus(self.env) as bus:
                self.store_gnome_proxy(dict(self.env, DBUS_SESSION_BUS_ADDRESS=bus.address), proxy)
            # The bus is gone; dconf reads its database without one.
            self.read_gnome_proxy(self.env)
            self.validate(proxy, dict(self.session, XDG_CURRENT_DESKTOP="GNOME"))


def main():
    global BINARY
    args = sys.argv[1:]
    if not args or not os.access(args[0], os.X_OK):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Zelvatorim [unittest options]")
    if not isolation.inside_namespaces(TEST):
        sys.exit(isolation.enter_namespaces(TEST, __file__, args))
    isolation.loopback_only()
    BINARY = os.path.abspath(args.pop(0))
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)


if __name__ == "__main__":
    main()
