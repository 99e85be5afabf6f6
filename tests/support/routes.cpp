#include "routes.h"

#include <optional>

namespace routes {

wininet::preconfig::Lookup From(const Variables &variables) {
  return [variables](const std::string &name) -> std::optional<std::string> {
    const auto found = variables.find(name);
    return found != variables.end() ? std::optional<std::string>(found->second) : std::nullopt;
  };
}

std::string Route(const wininet::preconfig::Settings &settings, const std::string &scheme,
                  const std::string &host) {
  const wininet::preconfig::Proxy *proxy = settings.For(scheme, host, scheme == "https" ? 443 : 80);
  if (proxy == nullptr) {
    return "direct";
  }
  const auto &login = proxy->credentials;
  return proxy->Url() + (login ? " " + login->user + "|" + login->password : "");
}

} // namespace routes
