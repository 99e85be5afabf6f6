#include "session_bus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vcl::native {

bool SessionBusExists(const char *address, const char *runtimeFolder) {
  if (address != nullptr && *address != '\0') {
    return true;
  }
  if (runtimeFolder == nullptr || *runtimeFolder != '/') {
    return false;
  }
  // libdbus takes the socket only under these conditions, and falls back to launching a bus.
  struct stat status {};
  const std::string socket = std::string(runtimeFolder) + "/bus";
  return ::lstat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) &&
         status.st_uid == ::getuid();
}

void KeepToTheSessionBusThatRuns() {
  if (!SessionBusExists(std::getenv("DBUS_SESSION_BUS_ADDRESS"), std::getenv("XDG_RUNTIME_DIR"))) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  }
}

} // namespace vcl::native
