"""An office network on loopback, made of the real components an office runs.

Pieces for the end-to-end proxy tests, each started in a folder of its own and stopped on exit:
Squid (one configuration per instance), an MIT Kerberos KDC with a realm of its own, a desktop
session bus with the real dconf settings store, and a DNS listener on 127.0.0.1:53 that records
every name it is asked. They are meant to run in a network and mount namespace of the test's own
(enter_namespaces), where loopback is the only interface and /etc/hosts and /etc/resolv.conf are
the test's: nothing can reach the machine's network or its resolver.
"""

import os
import re
import shutil
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

import isolation  # noqa: E402
from virtual_desktop import Timeout, wait_until  # noqa: E402

START_TIMEOUT = 30
PROXY_VARIABLES = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                   "ALL_PROXY", "no_proxy", "NO_PROXY")


# --- the namespaces ---------------------------------------------------------------------------

def enter_namespaces(test, script, argv):
    """Re-runs script inside namespaces of its own and returns its exit code. Only as root, with
    no user namespace: Squid must be able to drop to its own user."""
    return isolation.enter_namespaces(test, script, argv, skip_code=isolation.SKIPPED,
                                      root_for="network namespace, port 53, Squid's own user")


def isolate(folder, hosts):
    """Loopback up; /etc/hosts maps `hosts` to 127.0.0.1 and every other name goes to the DNS
    listener on 127.0.0.1; the machine's own proxy, bus and Kerberos settings are dropped."""
    isolation.loopback_only()
    files = {
        "hosts": "127.0.0.1 localhost\n::1 localhost\n" +
                 "".join(f"127.0.0.1 {host}\n" for host in sorted(hosts)),
        "resolv.conf": "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n",
    }
    for name, text in files.items():
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o644)
        subprocess.run(["mount", "--bind", path, f"/etc/{name}"], check=True)
    # POSIX shared memory of our own: Squids elsewhere on the machine name theirs as ours.
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/dev/shm"], check=True)
    for name in list(os.environ):
        if name in PROXY_VARIABLES or name.startswith(("XDG_", "KRB5", "DBUS_", "GSETTINGS_")):
            del os.environ[name]


_PORTS_GIVEN = set()


def free_port():
    """A loopback port nothing listens on, and not handed out before to a server yet to start."""
    while True:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port not in _PORTS_GIVEN:
            _PORTS_GIVEN.add(port)
            return port


def tail(path, size=3000):
    if not path or not os.path.exists(path):
        return ""
    with open(path, errors="replace") as f:
        return f.read()[-size:]


def wait_for_port(port, proc, what, log=None):
    def listening():
        if proc.poll() is not None:
            raise AssertionError(f"{what} exited with code {proc.returncode}\n{tail(log)}")
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    wait_until(f"{what} to listen on port {port}", listening, START_TIMEOUT)


def stop(*procs, grace=5.0):
    """Ends processes we started, all at once: politely first, then for good."""
    running = [proc for proc in procs if proc is not None and proc.poll() is None]
    for proc in running:
        proc.terminate()
    for proc in running:
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(grace)


def ended(pid):
    """Whether a process is gone, or only a zombie: one orphaned to us is reaped here."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except FileNotFoundError:
        return True
    if state != "Z":
        return False
    try:
        os.waitpid(pid, os.WNOHANG)
    except ChildProcessError:
        pass  # another's to reap
    return True


def world_readable(folder):
    """Makes a folder Squid's own user and its helpers may enter, whoever made its parent."""
    os.makedirs(folder, exist_ok=True)
    os.chmod(folder, 0o755)
    return folder


# --- DNS --------------------------------------------------------------------------------------

class DnsListener:
    """A resolver on 127.0.0.1:53, over UDP and TCP, that records (name, type) of every question.

    Names in `answers` get 127.0.0.1 (A) or an empty answer (other types); any other name does
    not exist. Only the first question of a message is read, as resolvers ask one at a time.
    """

    def __init__(self):
        self.answers = set()
        self._lock = threading.Lock()
        self._asked = []
        self._servers = []

    def asked(self):
        with self._lock:
            return list(self._asked)

    def clear(self):
        with self._lock:
            self._asked.clear()

    def reply(self, query):
        if len(query) < 12:
            return None
        ident, flags = struct.unpack(">HH", query[:4])
        labels, at = [], 12
        while at < len(query) and query[at] != 0:
            length = query[at]
            labels.append(query[at + 1:at + 1 + length].decode("ascii", "replace"))
            at += 1 + length
        question_end = at + 5
        if question_end > len(query):
            return None
        qtype = struct.unpack(">H", query[at + 1:at + 3])[0]
        name = ".".join(labels).lower()
        with self._lock:
            self._asked.append((name, qtype))
        known = name in self.answers
        answer = b""
        if known and qtype == 1:
            answer = struct.pack(">HHHIH4s", 0xC00C, 1, 1, 60, 4, socket.inet_aton("127.0.0.1"))
        # A response to a recursive query, recursion available; NXDOMAIN for unknown names.
        out_flags = 0x8000 | (flags & 0x7900) | 0x0080 | (0 if known else 3)
        header = struct.pack(">HHHHHH", ident, out_flags, 1, 1 if answer else 0, 0, 0)
        return header + query[12:question_end] + answer

    def __enter__(self):
        listener = self

        class Udp(socketserver.BaseRequestHandler):
            def handle(self):
                data, sock = self.request
                out = listener.reply(data)
                if out:
                    sock.sendto(out, self.client_address)

        class Tcp(socketserver.BaseRequestHandler):
            def handle(self):
                size = self.request.recv(2)
                if len(size) == 2:
                    out = listener.reply(self.request.recv(struct.unpack(">H", size)[0]))
                    if out:
                        self.request.sendall(struct.pack(">H", len(out)) + out)

        for kind, handler in ((socketserver.ThreadingUDPServer, Udp),
                              (socketserver.ThreadingTCPServer, Tcp)):
            kind.allow_reuse_address = True
            kind.daemon_threads = True
            server = kind(("127.0.0.1", 53), handler)
            self._servers.append(server)
            threading.Thread(target=server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        for server in self._servers:
            server.shutdown()
            server.server_close()
        self._servers.clear()


# --- Squid ------------------------------------------------------------------------------------

class Squid:
    """One Squid in a folder of its own: its configuration, pid file, logs and hosts file.

    `rules` are the instance's own lines (authentication, access); every instance caches
    nothing, resolves the given hosts to 127.0.0.1 through its hosts file and asks no DNS server
    that answers. `env` is added to Squid's environment, which its helpers inherit.
    """

    HELPERS = "/usr/lib/squid"

    def __init__(self, parent, name, hosts, rules, env=None):
        self.name = name
        self.folder = os.path.join(parent, f"squid-{name}")
        os.mkdir(self.folder)
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.access_log = os.path.join(self.folder, "access.log")
        self.cache_log = os.path.join(self.folder, "cache.log")
        self.env = env or {}
        self.proc = None
        with open(os.path.join(self.folder, "hosts"), "w") as f:
            f.writelines(f"127.0.0.1 {host}\n" for host in sorted(hosts))
        with open(os.path.join(self.folder, "squid.conf"), "w") as f:
            f.write("\n".join([
                f"http_port 127.0.0.1:{self.port}",
                f"pid_filename {self.folder}/squid.pid",
                f"cache_log {self.cache_log}",
                f"access_log stdio:{self.access_log} squid",
                "cache_store_log none",
                "strip_query_terms off",
                "cache deny all",
                "cache_mem 0 MB",
                f"coredump_dir {self.folder}",
                f"hosts_file {self.folder}/hosts",
                # Nothing listens there: a name missing from the hosts file fails at once, and
                # the test's DNS listener only ever hears the program under test.
                "dns_nameservers 127.0.0.2",
                "netdb_filename none",
                "pinger_enable off",
                "cache_effective_user proxy",
                "shutdown_lifetime 0 seconds",
                f"visible_hostname squid-{name}.zelvatorim.test",
                *rules,
                "",
            ]))
        # The logs are written after Squid has dropped to its own user.
        shutil.chown(self.folder, user="proxy")

    def start(self):
        env = dict(os.environ, **self.env)
        # The service name keeps this instance's shared-memory segments apart from the others'.
        self.proc = subprocess.Popen(["squid", "-N", "-n", f"zelvatorim{self.name}", "-f",
                                      os.path.join(self.folder, "squid.conf")],
                                     env=env, cwd=self.folder, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def wait_ready(self):
        wait_for_port(self.port, self.proc, f"Squid '{self.name}'", self.cache_log)
        return self

    @staticmethod
    def stop_all(squids):
        """Squid takes seconds to shut down; so many take no longer than one."""
        stop(*(squid.proc for squid in squids))

    def log(self):
        """Every request logged so far, as (status, method, URL, user)."""
        if not os.path.exists(self.access_log):
            return []
        entries = []
        with open(self.access_log, errors="replace") as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 8:
                    entries.append((int(fields[3].split("/")[1]), fields[5], fields[6], fields[7]))
        return entries

    def log_mark(self):
        return len(self.log())

    def log_since(self, mark, count, timeout=5):
        """The entries after mark, once there are count of them (Squid logs as it finishes)."""
        try:
            wait_until(f"{count} entries in {self.name}'s access log",
                       lambda: len(self.log()) - mark >= count, timeout)
        except Timeout:
            pass
        return self.log()[mark:]


# --- Kerberos ---------------------------------------------------------------------------------

class Kdc:
    """An MIT KDC for a realm of its own, everything in one folder.

    Makes the database and its stash, a user with a password and the service key of
    HTTP/<service_host> in a keytab Squid's user can read; then runs krb5kdc in the foreground.
    `env` names the configuration for every Kerberos program of the test.
    """

    REALM = "ZELVATORIM.TEST"
    USER = "ana"
    PASSWORD = "kerberos-pass-1"

    def __init__(self, parent, service_host):
        self.folder = world_readable(os.path.join(parent, "kdc"))
        self.port = free_port()
        self.service = f"HTTP/{service_host}@{self.REALM}"
        self.keytab = os.path.join(self.folder, "http.keytab")
        self.krb5_conf = os.path.join(self.folder, "krb5.conf")
        self.env = {"KRB5_CONFIG": self.krb5_conf,
                    "KRB5_KDC_PROFILE": os.path.join(self.folder, "kdc.conf"),
                    # No replay cache under /var/tmp: nothing is written outside the folder.
                    "KRB5RCACHETYPE": "none"}
        self._proc = None
        f = self.folder
        with open(self.env["KRB5_KDC_PROFILE"], "w") as out:
            out.write(f"""[kdcdefaults]
 kdc_listen = 127.0.0.1:{self.port}
 kdc_tcp_listen = 127.0.0.1:{self.port}
[realms]
 {self.REALM} = {{
  database_name = {f}/principal
  key_stash_file = {f}/stash
  acl_file = {f}/kadm5.acl
  max_life = 1h
 }}
[logging]
 kdc = FILE:{f}/kdc.log
""")
        with open(self.krb5_conf, "w") as out:
            out.write(f"""[libdefaults]
 default_realm = {self.REALM}
 dns_lookup_kdc = false
 dns_lookup_realm = false
 dns_canonicalize_hostname = false
 rdns = false
[realms]
 {self.REALM} = {{
  kdc = 127.0.0.1:{self.port}
 }}
[domain_realm]
 {service_host} = {self.REALM}
""")
        os.chmod(self.krb5_conf, 0o644)

    def _run(self, *command, stdin=None):
        done = subprocess.run(command, env=dict(os.environ, **self.env), input=stdin,
                              capture_output=True, text=True, timeout=START_TIMEOUT)
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed: {done.stderr.strip()}")
        return done.stdout

    def start(self):
        self._run("kdb5_util", "create", "-s", "-r", self.REALM, "-P", "kdc-master-key")
        self._run("kadmin.local", "-r", self.REALM, "-q",
                  f"addprinc -pw {self.PASSWORD} {self.USER}")
        self._run("kadmin.local", "-r", self.REALM, "-q", f"addprinc -randkey {self.service}")
        self._run("kadmin.local", "-r", self.REALM, "-q", f"ktadd -k {self.keytab} {self.service}")
        shutil.chown(self.keytab, user="proxy")
        self._proc = subprocess.Popen(["krb5kdc", "-n", "-r", self.REALM],
                                      env=dict(os.environ, **self.env),
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        wait_for_port(self.port, self._proc, "krb5kdc", os.path.join(self.folder, "kdc.log"))
        return self

    def service_tickets_asked(self):
        """How many service tickets the KDC has been asked for so far (TGS requests)."""
        with open(os.path.join(self.folder, "kdc.log"), errors="replace") as f:
            return sum("TGS_REQ" in line for line in f)

    def kinit(self, ccache):
        """A ticket for the user in the cache file ccache, asked of the KDC with the password."""
        self._run("kinit", "-c", f"FILE:{ccache}", self.USER, stdin=self.PASSWORD + "\n")

    def stop(self):
        stop(self._proc)
        self._proc = None


# --- the desktop session ----------------------------------------------------------------------

class DesktopSession:
    """A user's session in a temporary home: its own session bus, on which the real dconf
    service is started on demand and keeps GSettings in $XDG_CONFIG_HOME/dconf/user.

    `env` is what a program of this session inherits: no proxy variable, no desktop named.
    """

    def __init__(self, parent):
        self.home = os.path.join(parent, "home")
        self.config = os.path.join(self.home, ".config")
        runtime = os.path.join(self.home, ".runtime")
        os.makedirs(self.config)
        os.mkdir(runtime, 0o700)
        self.bus_config = os.path.join(parent, "session-bus.conf")
        self.address = f"unix:path={runtime}/bus"
        with open(self.bus_config, "w") as f:
            f.write(isolation.session_bus_config(os.path.join(runtime, "bus"),
                                                 "/usr/share/dbus-1/services"))
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "XDG_RUNTIME_DIR": runtime,
            "DBUS_SESSION_BUS_ADDRESS": self.address,
            "LANG": "C.UTF-8",
        }
        self._bus = None

    def start(self):
        self._bus = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--nopidfile", f"--config-file={self.bus_config}"],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        socket_path = self.address.split("=", 1)[1]
        wait_until("the session bus to listen",
                   lambda: self._bus.poll() is None and os.path.exists(socket_path),
                   START_TIMEOUT)
        return self

    def stop(self):
        # The bus started the dconf service and reaps it: end it first, so that it is not left
        # to whoever adopts it once the bus is gone.
        if self._bus is not None and self._bus.poll() is None:
            dconf = self._service_pid("ca.desrt.dconf")
            if dconf:
                os.kill(dconf, signal.SIGTERM)
                wait_until("the dconf service to end", lambda: ended(dconf), START_TIMEOUT)
        stop(self._bus)
        self._bus = None

    def _service_pid(self, name):
        done = subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
             "/org/freedesktop/DBus", "--method",
             "org.freedesktop.DBus.GetConnectionUnixProcessID", name],
            env=self.env, capture_output=True, text=True, timeout=START_TIMEOUT)
        found = re.search(r"uint32 (\d+)", done.stdout)
        return int(found.group(1)) if done.returncode == 0 and found else None

    def gsettings(self, *args):
        done = subprocess.run(["gsettings", *args], env=dict(self.env, GSETTINGS_BACKEND="dconf"),
                              capture_output=True, text=True, timeout=START_TIMEOUT)
        if done.returncode != 0 or "WARNING" in done.stderr:
            raise RuntimeError(f"gsettings {' '.join(args)}: {done.stderr.strip()}")
        return done.stdout.strip()

    def gnome_proxy(self, **settings):
        """Sets org.gnome.system.proxy (and sub-schemas, as "http.host") afresh from defaults.

        Values are GVariant texts, as gsettings takes them. Each is read back by a new process,
        which proves it is in the real store and not in a memory backend.
        """
        for schema in ("org.gnome.system.proxy", "org.gnome.system.proxy.http",
                       "org.gnome.system.proxy.https", "org.gnome.system.proxy.socks"):
            self.gsettings("reset-recursively", schema)
        for key, value in settings.items():
            sub, _, name = key.rpartition(".")
            schema = "org.gnome.system.proxy" + (f".{sub}" if sub else "")
            name = name.replace("_", "-")
            self.gsettings("set", schema, name, value)
            stored = self.gsettings("get", schema, name)
            if stored.strip("'") != value.strip("'"):
                raise RuntimeError(f"{schema} {name}: wrote {value}, read back {stored}")

    def kioslaverc(self, text):
        """Writes KDE's proxy settings, or removes them with None."""
        path = os.path.join(self.config, "kioslaverc")
        if text is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "w") as f:
            f.write(text)


# --- the probe driver -------------------------------------------------------------------------

def probe_links(driver, env, timeout=400):
    """Runs the probe driver in env; returns [(verdict, status, error, url)] in table order."""
    done = subprocess.run([driver], env=env, capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise AssertionError(f"{driver} exited with {done.returncode}: {done.stderr}")
    results = []
    for line in done.stdout.splitlines():
        verdict, status, error, url = line.split(" ", 3)
        results.append((verdict, int(status), int(error), url))
    return results


def link_hosts(links):
    return {re.match(r"http://([^:/]+)", url).group(1) for url in links}
