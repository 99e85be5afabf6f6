// This program never starts a session bus. Where none runs, both D-Bus libraries in the process,
// libdbus under Qt and GDBus under GIO's settings, would launch one through dbus-launch: a
// dbus-daemon that outlives the program and a file under ~/.dbus/. Both read the bus's address
// from DBUS_SESSION_BUS_ADDRESS before anything else, so there they are given one that names no
// bus and fails at once.
#pragma once

namespace vcl::native {

// True where a session bus can be reached without starting one: an address is set, or the
// session's runtime folder holds the bus's socket, owned by this user.
bool SessionBusExists(const char *address, const char *runtimeFolder);

// Once, before anything may open the bus, while the process has one thread (it sets a variable
// of the environment).
void KeepToTheSessionBusThatRuns();

} // namespace vcl::native
