#!/usr/bin/env python3
"""A virtual desktop for driving Zelvatorim without a screen.

Importable pieces: VirtualDesktop (Xvfb + openbox), LoopbackProxy (an HTTP forward proxy on
127.0.0.1 that answers every request itself and records it in a Journal), and Program (the
binary started through that proxy on the virtual display, with helpers to find, key, close and
photograph its windows). Every wait is bounded and raises Timeout; whatever was started is torn
down on error.

As a script, `python3 tools/virtual_desktop.py --demo BUILD_DIR` is the headless "make run": it
runs BUILD_DIR/Zelvatorim once on a virtual display and saves three screenshots in BUILD_DIR.
"""

import argparse
import http.server
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

DEFAULT_TIMEOUT = 20.0
SCREEN = (1024, 768)


class Timeout(AssertionError):
    """A bounded wait ran out; an AssertionError so unittest reports it as a failure."""


def wait_until(what, predicate, timeout=DEFAULT_TIMEOUT, interval=0.05):
    """Polls predicate until it returns something truthy, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise Timeout(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def _stop(proc, grace=5.0):
    """Ends one process we started: politely first, then for good."""
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(grace)


class VirtualDesktop:
    """Xvfb on a free display number with openbox on it, for the duration of a with block."""

    def __init__(self, size=SCREEN, timeout=DEFAULT_TIMEOUT):
        self.size = size
        self.timeout = timeout
        self.display = None
        self._xvfb = None
        self._wm = None
        self._wm_home = None

    def __enter__(self):
        try:
            self._start_server()
            self._start_wm()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        _stop(self._wm)
        _stop(self._xvfb)
        if self._wm_home is not None:
            self._wm_home.cleanup()
        self._wm = self._xvfb = self._wm_home = None

    @property
    def env(self):
        """The environment of an X client on this display and nowhere else."""
        env = dict(os.environ, DISPLAY=self.display)
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("XAUTHORITY", None)
        return env

    def _start_server(self):
        # -displayfd lets the server pick a free number, so parallel runs never collide.
        read_end, write_end = os.pipe()
        try:
            w, h = self.size
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{w}x{h}x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + self.timeout
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise Timeout("timed out waiting for Xvfb to report its display number")
                chunk = os.read(read_end, 16)
                if not chunk:
                    err = self._xvfb.stderr.read().decode(errors="replace")
                    raise RuntimeError(f"Xvfb exited before it took a display:\n{err}")
                number += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        # Nothing reads its log from here on; a full pipe must not stall the server.
        self._xvfb.stderr.close()
        self.display = f":{number.decode().strip()}"

    def _start_wm(self):
        # Its log and session files go to a folder of its own, not the user's home.
        self._wm_home = tempfile.TemporaryDirectory(prefix="zelvatorim-openbox-")
        env = dict(self.env, XDG_CACHE_HOME=self._wm_home.name,
                   XDG_CONFIG_HOME=self._wm_home.name)
        self._wm = subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        # The manager announces itself on the root window once it manages windows.
        wait_until("openbox to manage the display",
                   lambda: self._wm.poll() is None
                   and "window id" in self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                   self.timeout)
        if self._wm.poll() is not None:
            raise RuntimeError("openbox exited at start")

    def x(self, *command, timeout=None, check=False):
        """Runs an X client on this display and returns its output."""
        done = subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=timeout or self.timeout)
        if check and done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed: {done.stderr.strip()}")
        return done.stdout

    # Windows are named by their X id (an int).

    def title(self, wid):
        return self.x("xdotool", "getwindowname", str(wid)).rstrip("\n")

    def wm_class(self, wid):
        """WM_CLASS as (instance, class), or None when the window has none."""
        out = self.x("xprop", "-id", str(wid), "WM_CLASS")
        if "=" not in out:
            return None
        parts = [p.strip().strip('"') for p in out.split("=", 1)[1].split('",')]
        return tuple(parts)

    def active_window(self):
        out = self.x("xdotool", "getactivewindow").strip()
        return int(out) if out.isdigit() else None

    def activate(self, wid):
        # Qt ignores synthetic events sent to a window, so keys go through XTEST to the focus.
        self.x("xdotool", "windowactivate", "--sync", str(wid), check=True)
        wait_until(f"window {wid:#x} to take the focus", lambda: self.active_window() == wid,
                   self.timeout)

    def key(self, wid, *keys):
        self.activate(wid)
        self.x("xdotool", "key", "--clearmodifiers", *keys, check=True)

    def close(self, wid):
        """Asks the window manager to close the window, as its title-bar button does."""
        self.x("wmctrl", "-i", "-c", hex(wid), check=True)

    def frame_rect(self, wid):
        """The window with its frame, as (x, y, width, height) on the screen."""
        info = {}
        for line in self.x("xwininfo", "-id", str(wid)).splitlines():
            key, _, value = line.strip().partition(":")
            info[key] = value.strip()
        x, y = int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"])
        w, h = int(info["Width"]), int(info["Height"])
        left, right, top, bottom = self._extents(wid)
        return x - left, y - top, w + left + right, h + top + bottom

    def _extents(self, wid):
        out = self.x("xprop", "-id", str(wid), "_NET_FRAME_EXTENTS")
        if "=" not in out:
            return 0, 0, 0, 0
        return tuple(int(v) for v in out.split("=", 1)[1].split(","))

    def screenshot(self, path, rects=None, margin=12):
        """Saves the screen to a PNG, cropped to the union of rects plus a margin when given."""
        command = ["/usr/bin/import", "-window", "root"]
        if rects:
            x0 = max(0, min(r[0] for r in rects) - margin)
            y0 = max(0, min(r[1] for r in rects) - margin)
            x1 = min(self.size[0], max(r[0] + r[2] for r in rects) + margin)
            y1 = min(self.size[1], max(r[1] + r[3] for r in rects) + margin)
            command += ["-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage"]
        self.x(*command, str(path), check=True)
        return path


    def pixels(self, rect):
        """The RGB pixels of a screen rectangle, as (width, height, bytes) read row by row."""
        x, y, w, h = rect
        command = ["/usr/bin/import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                   "-depth", "8", "rgb:-"]
        data = subprocess.run(command, env=self.env, capture_output=True, check=True,
                              timeout=self.timeout).stdout
        if len(data) != w * h * 3:
            raise RuntimeError(f"expected {w * h * 3} bytes of pixels, got {len(data)}")
        return w, h, data

    def client_rect(self, wid):
        """The window's client area, as (x, y, width, height) on the screen."""
        x, y, w, h = self.frame_rect(wid)
        left, right, top, bottom = self._extents(wid)
        return x + left, y + top, w - left - right, h - top - bottom


class Journal:
    """Requests in arrival order, as (method, url, user_agent), shared by servers that record."""

    def __init__(self):
        self._lock = threading.Lock()
        self._entries = []

    def add(self, entry):
        with self._lock:
            self._entries.append(entry)

    def clear(self):
        with self._lock:
            self._entries.clear()

    def snapshot(self):
        with self._lock:
            return list(self._entries)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up once it has the status (as a probe does) is no fault.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)


class LoopbackProxy:
    """An HTTP forward proxy on 127.0.0.1 that answers every request itself.

    status_for(url) gives the status of each GET; requests are recorded in order in journal as
    (method, url, user_agent). A request in origin form ("/path", as sent to a server rather than
    to a proxy) is taken as meant for its Host header, so the same class serves as a plain server
    on a given port. Nothing is ever forwarded, so no probe leaves the machine.
    """

    def __init__(self, status_for=lambda url: 200, port=0, journal=None):
        self.status_for = status_for
        self.port = port
        self.journal = journal or Journal()
        self._server = None
        self._thread = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self._server.server_address[1]}"

    def snapshot(self):
        return self.journal.snapshot()

    def __enter__(self):
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def _answer(self):
                url = self.path
                if url.startswith("/"):
                    url = f"http://{self.headers.get('Host', '')}{url}"
                proxy.journal.add((self.command, url, self.headers.get("User-Agent")))
                absolute = url.startswith("http://")
                status = proxy.status_for(url) if absolute and self.command == "GET" else 400
                body = f"{status} from the loopback proxy\n".encode()
                self.send_response(status)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(body)

            do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_CONNECT = _answer

            def log_message(self, *args):
                pass

        self._server = _Server(("127.0.0.1", self.port), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        if self._server is None:
            return
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(5)
        self._server = self._thread = None


class LinkServers:
    """Loopback servers on the links' ports, one journal for all, answering as status_for says."""

    def __init__(self, ports):
        self.journal = Journal()
        self.servers = [LoopbackProxy(port=port, journal=self.journal) for port in sorted(ports)]

    def reset(self, status_for):
        for server in self.servers:
            server.status_for = status_for
        self.journal.clear()

    def snapshot(self):
        return self.journal.snapshot()

    def __enter__(self):
        try:
            for server in self.servers:
                server.__enter__()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for server in self.servers:
            server.__exit__()


class Program:
    """The binary on the virtual desktop, its links probed through the loopback proxy only.

    With proxy_url None no proxy variable is set: the desktop's own settings, which the caller
    makes in extra_env's session, name the proxy.
    """

    def __init__(self, desktop, binary, proxy_url, cwd=None, extra_env=None):
        env = dict(desktop.env)
        # The caller's own scale and session, if any, are in extra_env; the shell's would skew
        # what tests see.
        for name in ("http_proxy", "no_proxy", "NO_PROXY", "https_proxy", "HTTPS_PROXY",
                     "all_proxy", "ALL_PROXY", "HTTP_PROXY", "RESOURCE_NAME", "QT_QPA_PLATFORM",
                     "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                     "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI"):
            env.pop(name, None)
        env.update(extra_env or {})
        if proxy_url is not None:
            env["http_proxy"] = proxy_url
        self.desktop = desktop
        self.proc = subprocess.Popen([str(binary)], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _stop(self.proc)

    def windows(self):
        """The program's mapped windows, as {id: title}."""
        out = self.desktop.x("xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid))
        found = {}
        for line in out.split():
            wid = int(line)
            found[wid] = self.desktop.title(wid)
        return found

    def wait_window(self, title, timeout=DEFAULT_TIMEOUT):
        """Waits until the program shows a window with exactly this title; returns its id."""

        def shown():
            if self.proc.poll() is not None:
                raise AssertionError(
                    f"the program exited with code {self.proc.returncode} while a window "
                    f"titled {title!r} was awaited")
            return next((w for w, t in self.windows().items() if t == title), None)

        return wait_until(f"a window titled {title!r}", shown, timeout)

    def wait_gone(self, wid, timeout=DEFAULT_TIMEOUT):
        wait_until(f"window {wid:#x} to close", lambda: wid not in self.windows(), timeout)

    def wait_exit(self, timeout=DEFAULT_TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Timeout(f"timed out after {timeout:g} s waiting for the program to exit")

    def window_rects(self):
        return [self.desktop.frame_rect(w) for w in self.windows()]


MAIN_CAPTION = "Telvaro Zelvatorim de Links - v.23.10vo0(VE)"
BLOCKED_IN_DEMO = (
    "http://backup.telvaro.example:2020/nuvem/envio/conexao/verificar",
    "http://chat.telvaro.example/",
)


def demo(build_dir):
    binary = os.path.join(build_dir, "Zelvatorim")
    if not os.access(binary, os.X_OK):
        sys.exit(f"no program at {binary}: build it first")
    if os.environ.get("DISPLAY"):
        print(f"DISPLAY is {os.environ['DISPLAY']}, but the demo keeps off it: running "
              "Zelvatorim on a virtual display (Xvfb + openbox).")
    else:
        print("There is no display (DISPLAY is not set): running Zelvatorim on a virtual "
              "display (Xvfb + openbox).")
    shots = {n: os.path.join(build_dir, f"screenshot-{n}.png") for n in ("before", "after",
                                                                         "result")}
    def status(url):
        return 404 if url in BLOCKED_IN_DEMO else 200

    with VirtualDesktop() as desk, LoopbackProxy(status) as proxy:
        print(f"Virtual display {desk.display}; links answered by the loopback proxy at "
              f"{proxy.url} (entries 11 and 14 answer 404).")
        with Program(desk, binary, proxy.url) as prog:
            main = prog.wait_window(MAIN_CAPTION)
            desk.activate(main)
            desk.screenshot(shots["before"], prog.window_rects())
            desk.key(main, "Return")
            box = prog.wait_window("Zelvatorim", timeout=60)
            time.sleep(0.3)  # let the box paint before the picture
            desk.screenshot(shots["after"], prog.window_rects())
            desk.key(box, "Return")
            prog.wait_gone(box)
            time.sleep(0.3)
            desk.screenshot(shots["result"], prog.window_rects())
            desk.close(main)
            code = prog.wait_exit()
        print(f"The proxy answered {len(proxy.snapshot())} probes; the program exited with "
              f"code {code}.")
        if code != 0:
            sys.exit(f"expected exit code 0, got {code}")
    for name, path in shots.items():
        print(f"Screenshot {name:6}: {path}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--demo", metavar="BUILD_DIR", required=True,
                        help="run BUILD_DIR/Zelvatorim once and save screenshots there")
    args = parser.parse_args()
    for tool in ("Xvfb", "openbox", "xdotool", "wmctrl", "xprop", "xwininfo", "/usr/bin/import"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    demo(args.demo)


if __name__ == "__main__":
    main()
