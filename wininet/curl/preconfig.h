// The system's preconfigured proxy settings, read once per session: the environment's variables
// when any names a proxy, else the desktop's own (KDE's kioslaverc, or GNOME's GSettings). Never
// an autoconfiguration script, never a WPAD lookup. The request code asks only which proxy, if
// any, one URL goes through.
#pragma once

#include "bypass.h"
#include "proxy_url.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace wininet::preconfig {

struct Settings {
  std::optional<Proxy> http;  // for http:// URLs; nullopt: direct
  std::optional<Proxy> https; // for https:// URLs; nullopt: direct
  Bypass bypass;
  bool bypassOnlyListed = false; // KDE's reversed exceptions: only the listed hosts use a proxy

  // The proxy one URL goes through, or null for a direct connection.
  const Proxy *For(std::string_view scheme, std::string_view host, int port) const;
};

// An environment variable's value, or nullopt where it is not set.
using Lookup = std::function<std::optional<std::string>(const std::string &name)>;

// The variables as libcurl reads them (http_proxy in lower case only; https_proxy, HTTPS_PROXY;
// all_proxy, ALL_PROXY; no_proxy, NO_PROXY), or nullopt where no proxy variable is set at all.
// One that is set but empty says "no proxy"; no_proxy alone names none, so it decides nothing.
std::optional<Settings> FromEnvironment(const Lookup &lookup);

// Where a desktop keeps its settings: KDE when XDG_CURRENT_DESKTOP names it, else GNOME's.
enum class Desktop { Kde, Gnome };
Desktop DesktopOf(std::string_view currentDesktop);

// This process's settings, as the session's InternetOpenA finds them.
Settings Read();

} // namespace wininet::preconfig
