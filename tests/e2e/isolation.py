"""What keeps an end-to-end test off the machine's own network, processes and desktop session.

A test re-runs its own script inside mount, network and PID namespaces of its own
(enter_namespaces), where loopback is the only interface (loopback_only); a session bus it starts
gets its own configuration (session_bus_config). Messages name the test that gave them.
"""

import os
import subprocess
import sys

# Set, to the test's name, in the script that runs inside the namespaces.
INSIDE = "ZELVATORIM_NAMESPACES"
SKIPPED = 77  # the exit code ctest is told means "skipped"
NAMESPACES = ["unshare", "--mount", "--net", "--pid", "--fork", "--mount-proc"]


def refuse(test, reason, skip_code=0):
    """A machine that cannot host the test: say so, then skip (or fail under CI)."""
    print(f"{test}: this machine refuses what the test needs: {reason}", file=sys.stderr)
    if os.environ.get("CI"):
        print(f"{test}: FAILED (CI is set, so a refused namespace is a failure)", file=sys.stderr)
        sys.exit(1)
    print(f"{test}: SKIPPED (set CI=1 to make this a failure)", file=sys.stderr)
    sys.exit(skip_code)


def enter_namespaces(test, script, argv, skip_code=0, root_for=None):
    """Re-runs script inside namespaces of its own and returns its exit code.

    Root makes the namespaces itself; anyone else gets them inside a user namespace of their own,
    unless the test needs the real root (root_for says what for)."""
    if root_for and os.geteuid() != 0:
        refuse(test, f"it must run as root ({root_for})", skip_code)
    unshare = NAMESPACES + ([] if os.geteuid() == 0 else ["--user", "--map-root-user"])
    probe = subprocess.run(unshare + ["true"], capture_output=True, text=True)
    if probe.returncode != 0:
        refuse(test, f"unshare (mount, network and PID namespaces) failed: "
                     f"{probe.stderr.strip() or probe.returncode}", skip_code)
    env = dict(os.environ, **{INSIDE: test})
    return subprocess.run(unshare + [sys.executable, os.path.abspath(script)] + argv,
                          env=env).returncode


def inside_namespaces(test):
    return os.environ.get(INSIDE) == test


def loopback_only():
    """Loopback up, in a network that has nothing else: only a network of the test's own keeps
    what the program sends on this machine."""
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True)
    interfaces = [line.split(":")[1].strip() for line in links.stdout.splitlines()]
    if interfaces != ["lo"]:
        raise RuntimeError(f"the test's network namespace has interfaces {interfaces}")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def session_bus_config(socket, services):
    """A session bus's configuration: it listens on socket alone and starts the services in the
    folder services; every client of the session may talk to, and own, any name."""
    return f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <servicedir>{services}</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""
