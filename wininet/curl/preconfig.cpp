#include "preconfig.h"

#include "gnome_proxy.h"
#include "kde_proxy.h"

#include <cstdlib>
#include <initializer_list>

namespace wininet::preconfig {
namespace {

std::optional<std::string> GetEnv(const std::string &name) {
  const char *value = std::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

const Proxy *Settings::For(std::string_view scheme, std::string_view host, int port) const {
  const std::optional<Proxy> &proxy = scheme == "https" ? https : http;
  if (!proxy || bypass.Matches(host, port) != bypassOnlyListed) {
    return nullptr;
  }
  return &*proxy;
}

std::optional<Settings> FromEnvironment(const Lookup &lookup) {
  const auto first = [&](std::initializer_list<const char *> names) -> std::optional<std::string> {
    for (const char *name : names) {
      if (auto value = lookup(name)) {
        return value;
      }
    }
    return std::nullopt;
  };
  // HTTP_PROXY is never read: a CGI program's environment takes it from a request header.
  const auto http = first({"http_proxy"});
  const auto https = first({"https_proxy", "HTTPS_PROXY"});
  const auto all = first({"all_proxy", "ALL_PROXY"});
  if (!http && !https && !all) {
    return std::nullopt;
  }
  const auto parse = [&](const std::optional<std::string> &own) {
    const std::optional<std::string> &value = own ? own : all;
    return value ? ParseProxyUrl(*value) : std::nullopt;
  };
  Settings settings;
  settings.http = parse(http);
  settings.https = parse(https);
  if (const auto exempt = first({"no_proxy", "NO_PROXY"})) {
    settings.bypass = Bypass::FromList(*exempt);
  }
  return settings;
}

Desktop DesktopOf(std::string_view currentDesktop) {
  while (!currentDesktop.empty()) {
    const auto colon = currentDesktop.find(':');
    if (currentDesktop.substr(0, colon) == "KDE") {
      return Desktop::Kde;
    }
    currentDesktop.remove_prefix(colon == std::string_view::npos ? currentDesktop.size()
                                                                 : colon + 1);
  }
  return Desktop::Gnome;
}

Settings Read() {
  if (auto environment = FromEnvironment(GetEnv)) {
    return std::move(*environment);
  }
  const char *desktop = std::getenv("XDG_CURRENT_DESKTOP");
  if (DesktopOf(desktop != nullptr ? desktop : "") == Desktop::Kde) {
    return FromKde(GetEnv);
  }
  return FromGSettings();
}

} // namespace wininet::preconfig
