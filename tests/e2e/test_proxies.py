#!/usr/bin/env python3
"""The 18 links through the proxies an office runs, with the settings a desktop keeps.

Usage: python3 tests/e2e/test_proxies.py PATH/TO/probe_links PATH/TO/Zelvatorim [unittest options]

Everything runs in network, mount and PID namespaces of the test's own (as root): loopback is the
only interface, /etc/hosts knows only the Kerberos proxy's name, and every other name goes to a
DNS listener on 127.0.0.1:53 that records it. Real components, each configured in a temporary
folder: HTTP servers on the links' ports; Squid five times over (open; denying two hosts; Basic
with an htpasswd file; NTLM; Kerberos) with a hosts file mapping the links' hosts to 127.0.0.1;
an MIT KDC with a realm of its own; a session bus with the real dconf store. probe_links probes
the links through the Internet layer's public calls; the last test runs the whole program on a
private Xvfb + openbox display.

A machine that refuses the namespaces gets a plain message; the test then skips, or fails when CI
is set.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from urllib.parse import quote, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
sys.path.insert(0, HERE)

import isolation  # noqa: E402
import office_network as office  # noqa: E402
from test_desktop import CAPTION, LINKS, STATUS_LINE, as_requested, step  # noqa: E402
from virtual_desktop import (LinkServers, LoopbackProxy, Program, VirtualDesktop,  # noqa: E402
                             wait_until)

# Kerberos names the proxy's service by its host name, so that proxy is reached by name.
PROXY_HOST = "proxy.zelvatorim.test"
DENIED_HOSTS = ("versoes.telvaro.example", "chat.telvaro.example")
USER = "ana"
# As Squid logs the user: the fake NTLM helper wraps the name in bits of the domain and host.
NTLM_USER = f".*{USER}.*"
KERBEROS_USER = re.escape(f"{USER}@{office.Kdc.REALM}")
PASSWORD = "p@ss:w%rd"  # every character a proxy URL must percent-encode
IN_URL = f"{USER}:{quote(PASSWORD, safe='')}"
PAC_PATH = "/proxy.pac"

DRIVER = BINARY = None
RAW_LINKS = []  # as the program holds them; LINKS are as a server sees them
HOSTS = set()
WORLD = {}


def squid_rules(world, name):
    """Each instance's own lines: what it asks of a client and whom it lets through."""
    helpers = office.Squid.HELPERS
    authenticated = ["acl staff proxy_auth REQUIRED", "http_access allow staff",
                     "http_access deny all"]
    kdc = world["kdc"]
    return {
        "open": ["http_access allow all"],
        "deny": [f"acl denied dstdomain {' '.join(DENIED_HOSTS)}", "http_access deny denied",
                 "http_access allow all"],
        "basic": [f"auth_param basic program {helpers}/basic_ncsa_auth {world['htpasswd']}",
                  "auth_param basic realm Zelvatorim office", *authenticated],
        "ntlm": [f"auth_param ntlm program {helpers}/ntlm_fake_auth",
                 "auth_param ntlm children 2", *authenticated],
        "kerberos": [f"auth_param negotiate program {helpers}/negotiate_kerberos_auth "
                     f"-k {kdc.keytab} -s {kdc.service} -t none",
                     "auth_param negotiate children 2", *authenticated],
    }[name]


def setUpModule():
    # Cleanups run in reverse, also when a later step of the set-up fails.
    cleanup = unittest.addModuleCleanup
    folder = office.world_readable(tempfile.mkdtemp(prefix="zelvatorim-office-"))
    cleanup(shutil.rmtree, folder, ignore_errors=True)
    WORLD["folder"] = folder
    office.isolate(folder, {PROXY_HOST})
    # Every program the test starts lives in the session's home, Xvfb and openbox included.
    session = WORLD["session"] = office.DesktopSession(folder)
    os.environ.update(session.env)
    ports = {urlsplit(url).port or 80 for url in RAW_LINKS}
    for name, component in (("dns", office.DnsListener()), ("servers", LinkServers(ports)),
                            ("pac", LoopbackProxy())):
        WORLD[name] = component.__enter__()
        cleanup(component.__exit__, None, None, None)
    kdc = WORLD["kdc"] = office.Kdc(folder, PROXY_HOST)
    cleanup(kdc.stop)
    kdc.start()
    WORLD["ticket"] = os.path.join(folder, "ticket")
    kdc.kinit(WORLD["ticket"])
    WORLD["htpasswd"] = os.path.join(folder, "htpasswd")
    subprocess.run(["htpasswd", "-c", "-b", "-m", WORLD["htpasswd"], USER, PASSWORD],
                   check=True, capture_output=True)
    os.chmod(WORLD["htpasswd"], 0o644)
    squids = WORLD["squid"] = {}
    cleanup(office.Squid.stop_all, squids.values())
    for name in ("open", "deny", "basic", "ntlm", "kerberos"):
        env = kdc.env if name == "kerberos" else None
        squids[name] = office.Squid(folder, name, HOSTS, squid_rules(WORLD, name), env).start()
    for squid in squids.values():
        squid.wait_ready()
    cleanup(session.stop)
    session.start()
    step(f"office up in {folder}: KDC, {len(squids)} Squids, link servers on {sorted(ports)}")


def user_env(**extra):
    """A user's environment in the test's session: no proxy variable, no desktop named, no
    Kerberos ticket unless given, and the realm's configuration in place of the machine's."""
    env = dict(WORLD["session"].env, KRB5_CONFIG=WORLD["kdc"].krb5_conf,
               KRB5CCNAME="FILE:" + os.path.join(WORLD["folder"], "no-ticket"))
    env.update(extra)
    return env


def links_with_hosts(hosts):
    return [url for url in RAW_LINKS if urlsplit(url).hostname in hosts]


class OfficeTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        WORLD["dns"].answers = set()
        WORLD["dns"].clear()
        WORLD["servers"].reset(lambda url: 200)
        WORLD["pac"].journal.clear()
        WORLD["session"].gnome_proxy()
        WORLD["session"].kioslaverc(None)

    def probe(self, env):
        results = office.probe_links(DRIVER, env)
        self.assertEqual(RAW_LINKS, [url for *_, url in results], "links probed, in order")
        self.assert_no_wpad()
        return results

    def assert_no_wpad(self):
        wpad = [name for name, _ in WORLD["dns"].asked() if name.split(".")[0] == "wpad"]
        self.assertEqual([], wpad, "WPAD names asked of DNS")

    def assert_user(self, user, logged):
        self.assertRegex(logged, f"^(?:{user})$", "the user Squid logged")

    def assert_through(self, squid, mark, user="-"):
        """The proxy fetched all 18 links in order, for this user (a pattern), and the program
        resolved none of their names itself."""
        fetched = [entry for entry in squid.log_since(mark, len(LINKS)) if entry[0] == 200]
        self.assertEqual([("GET", url) for url in LINKS],
                         [(method, url) for _, method, url, _ in fetched],
                         f"what Squid '{squid.name}' fetched")
        for *_, logged in fetched:
            self.assert_user(user, logged)
        asked = {name for name, _ in WORLD["dns"].asked()}
        self.assertEqual(set(), asked & HOSTS, "link hosts the program resolved itself")


class ThroughSquid(OfficeTest):
    """Each Squid set-up, named in http_proxy as users set it."""

    def test_curl_command_line_gets_through_each_set_up(self):
        # The harness's own proof: what the issue says curl does, it does here, logged for the
        # user the probes must be logged for.
        squid = WORLD["squid"]
        kerberos = f"http://{PROXY_HOST}:{squid['kerberos'].port}"
        ticket = f"FILE:{WORLD['ticket']}"
        link, denied = RAW_LINKS[0], links_with_hosts(DENIED_HOSTS)[0]
        password = ["-U", f"{USER}:{PASSWORD}"]
        # name, Squid, proxy, URL, curl's options, ticket cache, status, user logged (a pattern)
        rows = [
            ("open", "open", squid["open"].url, link, [], None, 200, "-"),
            ("denied host", "deny", squid["deny"].url, denied, [], None, 403, "-"),
            ("another host", "deny", squid["deny"].url, link, [], None, 200, "-"),
            ("basic without credentials", "basic", squid["basic"].url, link, [], None, 407, "-"),
            ("basic", "basic", squid["basic"].url, link, ["--proxy-basic", *password], None, 200,
             USER),
            ("ntlm without credentials", "ntlm", squid["ntlm"].url, link, [], None, 407, "-"),
            ("ntlm", "ntlm", squid["ntlm"].url, link, ["--proxy-ntlm", *password], None, 200,
             NTLM_USER),
            ("kerberos without ticket", "kerberos", kerberos, link,
             ["--proxy-negotiate", "-U", ":"], None, 407, "-"),
            ("kerberos", "kerberos", kerberos, link, ["--proxy-negotiate", "-U", ":"], ticket, 200,
             KERBEROS_USER),
        ]
        for name, which, proxy, url, args, cache, status, user in rows:
            with self.subTest(name):
                env = user_env(**({"KRB5CCNAME": cache} if cache else {}))
                mark = squid[which].log_mark()
                done = subprocess.run(
                    ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-x", proxy, *args,
                     url], env=env, capture_output=True, text=True, timeout=60)
                self.assertEqual(str(status), done.stdout, f"curl's status ({done.stderr})")
                last = squid[which].log_since(mark, 1)[-1]
                self.assertEqual((status, as_requested(url)), (last[0], last[2]),
                                 "Squid's last entry")
                self.assert_user(user, last[3])

    def test_probes_through_each_set_up(self):
        squid = WORLD["squid"]
        kerberos = f"http://{PROXY_HOST}:{squid['kerberos'].port}"
        with_ticket = f"FILE:{WORLD['ticket']}"
        every = list(RAW_LINKS)
        # name, Squid, http_proxy, other variables, links blocked (with their status), user logged
        rows = [
            ("open proxy", "open", squid["open"].url, {}, [], 0, "-"),
            ("two hosts denied", "deny", squid["deny"].url, {}, links_with_hosts(DENIED_HOSTS),
             403, "-"),
            ("basic without credentials", "basic", squid["basic"].url, {}, every, 407, None),
            ("basic with percent-encoded credentials", "basic",
             f"http://{IN_URL}@127.0.0.1:{squid['basic'].port}", {}, [], 0, USER),
            ("ntlm without credentials", "ntlm", squid["ntlm"].url, {}, every, 407, None),
            ("ntlm with credentials", "ntlm", f"http://{IN_URL}@127.0.0.1:{squid['ntlm'].port}",
             {}, [], 0, NTLM_USER),
            ("kerberos without ticket", "kerberos", kerberos, {}, every, 407, None),
            ("kerberos with the user's ticket", "kerberos", kerberos,
             {"KRB5CCNAME": with_ticket}, [], 0, KERBEROS_USER),
            ("open proxy, the user holding a ticket", "open", squid["open"].url,
             {"KRB5CCNAME": with_ticket}, [], 0, "-"),
        ]
        kdc = WORLD["kdc"]
        for name, which, proxy, extra, blocked, status, user in rows:
            with self.subTest(name):
                WORLD["dns"].clear()
                mark = squid[which].log_mark()
                asked = kdc.service_tickets_asked()
                results = self.probe(user_env(http_proxy=proxy, **extra))
                # The ticket is offered only to a proxy that asks for it.
                if which != "kerberos":
                    self.assertEqual(asked, kdc.service_tickets_asked(),
                                     "service tickets asked of the KDC")
                self.assertEqual(
                    [(url, status) for url in blocked],
                    [(url, code) for verdict, code, _, url in results if verdict == "blocked"],
                    "links listed as blocked, with the status each got")
                if not blocked:
                    self.assert_through(squid[which], mark, user)


class DesktopSettings(OfficeTest):
    """No variable set: the proxy the desktop's settings name, through the real settings store."""

    def test_probes_through_the_desktops_proxy(self):
        session, squid = WORLD["session"], WORLD["squid"]
        kioslaverc = "[Proxy Settings]\nProxyType=1\nhttpProxy=http://127.0.0.1 {port}\n"
        rows = [
            ("GNOME, manual", "GNOME", "open",
             dict(mode="'manual'", **{"http.host": "'127.0.0.1'",
                                      "http.port": str(squid["open"].port)}), None, "-"),
            ("GNOME, manual, stored credentials", "GNOME", "basic",
             dict(mode="'manual'", **{"http.host": "'127.0.0.1'",
                                      "http.port": str(squid["basic"].port),
                                      "http.use_authentication": "true",
                                      "http.authentication_user": f"'{USER}'",
                                      "http.authentication_password": f"'{PASSWORD}'"}),
             None, USER),
            ("KDE, manual", "KDE", "open", {}, kioslaverc.format(port=squid["open"].port), "-"),
        ]
        for name, desktop, which, gnome, kde, user in rows:
            with self.subTest(name):
                session.gnome_proxy(**gnome)
                session.kioslaverc(kde)
                WORLD["dns"].clear()
                mark = squid[which].log_mark()
                results = self.probe(user_env(XDG_CURRENT_DESKTOP=desktop))
                self.assertEqual([], [url for verdict, _, _, url in results if verdict != "open"],
                                 "links listed as blocked")
                self.assert_through(squid[which], mark, user)


class NeverAutoConfiguration(OfficeTest):
    """Scripts and auto-detection are never used: the links go direct, and here direct works."""

    def test_auto_settings_fetch_no_script_and_ask_no_wpad_name(self):
        session = WORLD["session"]
        pac = f"{WORLD['pac'].url}{PAC_PATH}"
        rows = [
            ("GNOME, auto with a script", "GNOME", dict(mode="'auto'", autoconfig_url=f"'{pac}'"),
             None),
            ("GNOME, auto, no script (discovery)", "GNOME", dict(mode="'auto'"), None),
            ("KDE, script", "KDE", {},
             f"[Proxy Settings]\nProxyType=2\nProxy Config Script={pac}\n"),
            ("KDE, auto-detect", "KDE", {}, "[Proxy Settings]\nProxyType=3\n"),
        ]
        for name, desktop, gnome, kde in rows:
            with self.subTest(name):
                session.gnome_proxy(**gnome)
                session.kioslaverc(kde)
                WORLD["dns"].clear()
                WORLD["dns"].answers = set(HOSTS)
                WORLD["servers"].reset(lambda url: 200)
                results = self.probe(user_env(XDG_CURRENT_DESKTOP=desktop))
                self.assertEqual([], WORLD["pac"].snapshot(), "requests for the script")
                self.assertEqual([], [url for verdict, _, _, url in results if verdict != "open"],
                                 "links listed as blocked (they answer direct)")
                self.assertEqual(len(LINKS), len(WORLD["servers"].snapshot()),
                                 "requests the links' servers got direct")


def green_pixels(pixels):
    _, _, data = pixels
    return sum(1 for i in range(0, len(data), 3)
               if data[i] < 80 and data[i + 1] > 100 and data[i + 2] < 80)


class WholeProgram(OfficeTest):
    """The real program on a desktop whose proxy is set in GNOME's settings alone."""

    def test_gnome_proxy_clears_every_link_and_the_program_resolves_none(self):
        session, squid = WORLD["session"], WORLD["squid"]["open"]
        session.gnome_proxy(mode="'manual'",
                            **{"http.host": "'127.0.0.1'", "http.port": str(squid.port)})
        mark = squid.log_mark()
        with VirtualDesktop() as desk:
            env = user_env(XDG_CURRENT_DESKTOP="GNOME")
            step(f"starting {BINARY} on {desk.display}, GNOME's proxy on port {squid.port}")
            with Program(desk, BINARY, None, cwd=WORLD["folder"], extra_env=env) as prog:
                main = prog.wait_window(CAPTION)
                desk.key(main, "Return")
                box = prog.wait_window("Zelvatorim", timeout=120)
                step("the message box is up")
                self.assert_through(squid, mark)
                self.assert_no_wpad()
                self.assertEqual([("GET", url, "Zelvatorim") for url in LINKS],
                                 WORLD["servers"].snapshot(),
                                 "(method, URL, User-Agent) the links' servers got, through Squid")
                desk.key(box, "Return")
                prog.wait_gone(box)
                x, y, _, _ = desk.client_rect(main)
                sx, sy, sw, sh = STATUS_LINE
                try:
                    wait_until("the status line to turn green",
                               lambda: green_pixels(desk.pixels((x + sx, y + sy, sw, sh))) > 50,
                               5)
                finally:
                    shot = os.path.join(os.path.dirname(BINARY), "screenshot-gnome-proxy.png")
                    desk.screenshot(shot, prog.window_rects())
                    step(f"screenshot {shot}")
                desk.close(main)
                self.assertEqual(0, prog.wait_exit(), "exit code")


def main():
    global DRIVER, BINARY
    args = sys.argv[1:]
    if len(args) < 2 or not all(os.access(path, os.X_OK) for path in args[:2]):
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/probe_links PATH/TO/Zelvatorim [unittest options]")
    if not isolation.inside_namespaces("test_proxies"):
        sys.exit(office.enter_namespaces("test_proxies", __file__, args))
    DRIVER, BINARY = (os.path.abspath(path) for path in args[:2])
    with open(os.path.join(HERE, "..", "builtin_links.h"), encoding="utf-8") as f:
        RAW_LINKS.extend(re.findall(r'"(http://[^"]+)"', f.read()))
    HOSTS.update(office.link_hosts(RAW_LINKS))
    assert [as_requested(url) for url in RAW_LINKS] == LINKS
    started = time.monotonic()
    try:
        unittest.main(argv=[sys.argv[0]] + args[2:], verbosity=2)
    finally:
        step(f"took {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    main()
