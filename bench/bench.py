#!/usr/bin/env python3
"""Zelvatorim's speed and memory figures: `make bench` (as root), or bench.py BUILD_DIR.

1. ROUNDS interleaved rounds of the 18 probes in-process, the same 18 requests by the curl command
   line and a bare blocking-socket floor, all through one loopback proxy (bench_probes rounds).
2. DESKTOP_ROUNDS rounds of the 18 probes with GNOME's proxy settings in force (a private session bus with
   the real dconf store, no proxy variable) beside the same through http_proxy, both to one
   loopback proxy (bench_probes desktop), in a network namespace whose resolver is nowhere.
3. The 18 probes where every connection attempt is dropped: a network namespace of our own with
   only its loopback, a hosts file that maps the links' hosts to 127.0.0.1 and an iptables DROP
   of every TCP SYN (bench_probes blackhole). About 18 x 10 s.
4. The real program's peak memory (VmHWM) with its window up and after one run, on a virtual
   display (Xvfb + openbox) through the loopback proxy of tools/virtual_desktop.py.

Prints a table, then one line of key=value figures. Nothing leaves the machine: the proxy is on
127.0.0.1, and the namespace has no way out.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from office_network import DesktopSession  # noqa: E402
from virtual_desktop import MAIN_CAPTION, LoopbackProxy, Program, VirtualDesktop  # noqa: E402

ROUNDS = 7
# The desktop row compares two figures of a few milliseconds each against a 10 % goal.
DESKTOP_ROUNDS = 21
LINKS = 18
CONNECT_BOUND_S = 10
BLACKHOLE_SLACK_S = 2
GOALS = {"ratio_vs_curl": 0.1, "ratio_vs_floor": 1.2, "ratio_gnome_vs_env": 1.1,
         "peak_rss_mb": 60}


def figures(line):
    return {k: float(v) for k, v in (item.split("=") for item in line.split())}


def rounds(driver):
    out = subprocess.run([driver, "rounds", str(ROUNDS)], capture_output=True, text=True,
                         timeout=600)
    if out.returncode != 0:
        sys.exit(f"bench_probes rounds failed:\n{out.stderr}")
    per_round = [figures(line) for line in out.stdout.splitlines() if line.startswith("round=")]
    return {key: statistics.median(r[key] for r in per_round)
            for key in ("probe_ms", "curl_cli_ms", "floor_ms")}


def desktop_settings(driver):
    """Medians of the probes with GNOME's settings in force and through http_proxy, or None when
    the build does not honour GNOME's settings.

    The driver runs in a network and mount namespace of its own whose resolver is nowhere: a
    build that ignored the settings would go direct, and no link's name may reach the machine's
    DNS."""
    with tempfile.TemporaryDirectory() as folder:
        resolv = os.path.join(folder, "resolv.conf")
        with open(resolv, "w") as f:
            f.write("nameserver 127.0.0.1\n")
        session = DesktopSession(folder).start()
        try:
            isolate = 'ip link set lo up && mount --bind "$0" /etc/resolv.conf && exec "$@"'
            proc = subprocess.Popen(
                ["unshare", "--net", "--mount", "sh", "-c", isolate, resolv, driver, "desktop",
                 str(DESKTOP_ROUNDS)], env=dict(session.env, XDG_CURRENT_DESKTOP="GNOME"),
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            with proc:
                first = proc.stdout.readline()
                if not first.startswith("proxy_port="):
                    proc.kill()
                    sys.exit(f"bench_probes desktop did not start: {first!r}")
                port = first.split("=")[1].strip()
                session.gnome_proxy(mode="'manual'",
                                    **{"http.host": "'127.0.0.1'", "http.port": port})
                proc.stdin.write("ready\n")
                proc.stdin.close()
                out = proc.stdout.read()
        finally:
            session.stop()
    if proc.returncode == 3:
        return None
    if proc.returncode != 0:
        sys.exit(f"bench_probes desktop failed:\n{out}")
    per_round = [figures(line) for line in out.splitlines() if line.startswith("round=")]
    return {key: statistics.median(r[key] for r in per_round) for key in ("env_ms", "desktop_ms")}


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs)


def blackhole(driver):
    """The probes inside a namespace where every TCP connection attempt is dropped."""
    hosts = run(driver, "hosts").stdout.split()
    name = f"zelvatorim-bench-{os.getpid()}"
    # `ip netns exec` puts the files of /etc/netns/NAME over those of /etc for its command.
    etc = os.path.join("/etc/netns", name)
    try:
        run("ip", "netns", "add", name)
        os.makedirs(etc)
        with open(os.path.join(etc, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost " + " ".join(hosts) + "\n")
        # Any name not in the hosts file goes to a resolver that is not there, on loopback.
        with open(os.path.join(etc, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\n")
        inside = ("ip", "netns", "exec", name)
        run(*inside, "ip", "link", "set", "lo", "up")
        for tables in ("iptables", "ip6tables"):
            run(*inside, tables, "-A", "OUTPUT", "-p", "tcp", "--syn", "-j", "DROP")
        bound = LINKS * CONNECT_BOUND_S + 120
        out = subprocess.run([*inside, driver, "blackhole"], capture_output=True, text=True,
                             timeout=bound)
        if out.returncode != 0:
            sys.exit(f"bench_probes blackhole failed:\n{out.stdout}{out.stderr}")
        return figures(out.stdout.strip())["blackhole_s"]
    finally:
        subprocess.run(["ip", "netns", "del", name], capture_output=True)
        shutil.rmtree(etc, ignore_errors=True)


def vm_hwm_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError("no VmHWM")


def memory(binary):
    """VmHWM of the real program with its window up, and after one run of 18 probes."""
    with VirtualDesktop() as desk, LoopbackProxy() as proxy, \
            tempfile.TemporaryDirectory() as cwd, Program(desk, binary, proxy.url, cwd) as prog:
        main = prog.wait_window(MAIN_CAPTION)
        time.sleep(1)  # let it paint and settle
        shown = vm_hwm_mb(prog.proc.pid)
        desk.key(main, "Return")
        box = prog.wait_window("Zelvatorim", timeout=60)
        time.sleep(0.5)
        desk.key(box, "Return")
        prog.wait_gone(box)
        time.sleep(0.5)
        after = vm_hwm_mb(prog.proc.pid)
        if len(proxy.snapshot()) != LINKS:
            sys.exit(f"the proxy saw {len(proxy.snapshot())} probes, not {LINKS}")
        desk.close(main)
        prog.wait_exit()
    return shown, after


def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), "unknown")
    return f"{os.cpu_count()} CPUs ({model}), Linux {os.uname().release}"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    driver = os.path.abspath(os.path.join(build, "bench", "bench_probes"))
    binary = os.path.abspath(os.path.join(build, "Zelvatorim"))
    if os.geteuid() != 0:
        sys.exit("the blackhole run makes a network namespace: run as root")
    for path in (driver, binary):
        if not os.access(path, os.X_OK):
            sys.exit(f"no {path}: build it first (make bench)")

    print(f"Machine: {machine()}", flush=True)
    print(f"1/4 {ROUNDS} interleaved rounds of {LINKS} requests ...", flush=True)
    r = rounds(driver)
    print(f"2/4 {DESKTOP_ROUNDS} rounds of {LINKS} probes with GNOME's proxy settings, and with "
          "http_proxy ...", flush=True)
    gnome = desktop_settings(driver)
    print(f"3/4 {LINKS} probes with every connection dropped (about "
          f"{LINKS * CONNECT_BOUND_S} s) ...", flush=True)
    hole = blackhole(driver)
    print("4/4 peak memory of the program on a virtual display ...", flush=True)
    shown, after = memory(binary)

    k = {
        "probe_ms": r["probe_ms"],
        "curl_cli_ms": r["curl_cli_ms"],
        "floor_ms": r["floor_ms"],
        "ratio_vs_curl": r["probe_ms"] / r["curl_cli_ms"],
        "ratio_vs_floor": r["probe_ms"] / r["floor_ms"],
        "gnome_ms": gnome["desktop_ms"] if gnome else "n/a",
        "gnome_env_ms": gnome["env_ms"] if gnome else "n/a",
        "ratio_gnome_vs_env": gnome["desktop_ms"] / gnome["env_ms"] if gnome else "n/a",
        "blackhole_s": hole,
        "blackhole_bound_s": LINKS * CONNECT_BOUND_S + BLACKHOLE_SLACK_S,
        "peak_rss_mb": max(shown, after),
    }
    met = {
        "ratio_vs_curl": k["ratio_vs_curl"] <= GOALS["ratio_vs_curl"],
        "ratio_vs_floor": k["ratio_vs_floor"] <= GOALS["ratio_vs_floor"],
        "ratio_gnome_vs_env": gnome is not None
        and k["ratio_gnome_vs_env"] <= GOALS["ratio_gnome_vs_env"],
        "blackhole_s": k["blackhole_s"] <= k["blackhole_bound_s"],
        "peak_rss_mb": k["peak_rss_mb"] < GOALS["peak_rss_mb"],
    }
    mark = {True: "met", False: "MISSED"}
    rows = [
        ("18 probes, in-process (TestarLink)", f"{k['probe_ms']:.2f} ms",
         f"{k['probe_ms'] / LINKS * 1000:.0f} us each", ""),
        ("18 x curl command line", f"{k['curl_cli_ms']:.1f} ms",
         f"{k['curl_cli_ms'] / LINKS:.1f} ms each", ""),
        ("18 x floor (blocking socket, GET, headers)", f"{k['floor_ms']:.2f} ms",
         f"{k['floor_ms'] / LINKS * 1000:.0f} us each", ""),
        ("probes / curl command line", f"{k['ratio_vs_curl']:.4f}",
         f"goal <= {GOALS['ratio_vs_curl']}", mark[met["ratio_vs_curl"]]),
        ("probes / floor", f"{k['ratio_vs_floor']:.2f}", f"goal <= {GOALS['ratio_vs_floor']}",
         mark[met["ratio_vs_floor"]]),
        ("18 probes, GNOME's proxy settings (dconf)",
         f"{gnome['desktop_ms']:.2f} ms" if gnome else "not honoured: links blocked", "", ""),
        ("18 probes, http_proxy, same rounds",
         f"{gnome['env_ms']:.2f} ms" if gnome else "", "", ""),
        ("GNOME's settings / http_proxy",
         f"{k['ratio_gnome_vs_env']:.2f}" if gnome else "n/a",
         f"goal <= {GOALS['ratio_gnome_vs_env']}", mark[met["ratio_gnome_vs_env"]]),
        ("18 probes, every connection dropped", f"{hole:.2f} s",
         f"goal <= {k['blackhole_bound_s']} s", mark[met["blackhole_s"]]),
        ("peak memory, window up", f"{shown:.1f} MB", "", ""),
        ("peak memory, after a run", f"{after:.1f} MB", f"goal < {GOALS['peak_rss_mb']} MB",
         mark[met["peak_rss_mb"]]),
    ]
    print(f"\nMedians of {ROUNDS} interleaved rounds, through a loopback proxy:")
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for row in rows:
        print("  " + "  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    print(" ".join(f"{key}={value:.4g}" if isinstance(value, float) else f"{key}={value}"
                   for key, value in k.items()))


if __name__ == "__main__":
    main()
