// A proxy as the settings name it, and the one place that decides whether a value names a usable
// one. Plain functions over strings: they take any bytes and read nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wininet::preconfig {

struct Credentials {
  std::string user;
  std::string password;
  bool operator==(const Credentials &) const = default;
};

struct Proxy {
  std::string scheme; // http, https, socks4, socks4a, socks5 or socks5h
  std::string host;   // a name or an address; an IPv6 address without brackets
  int port = 0;
  std::optional<Credentials> credentials;

  // scheme://host:port, as libcurl takes it; credentials are handed over apart.
  std::string Url() const;
  // Speaks HTTP to the proxy, so it can ask for authentication.
  bool SpeaksHttp() const { return scheme == "http" || scheme == "https"; }
  bool operator==(const Proxy &) const = default;
};

// "[scheme://][user[:password]@]host[:port][/...]", the way libcurl reads its variables: no
// scheme means http, "socks" means socks4, the port defaults to 1080 (443 for https), user and
// password are percent-decoded. nullopt when it names no usable proxy.
std::optional<Proxy> ParseProxyUrl(std::string_view text);

// A proxy whose host and port are stored apart, as GNOME keeps them; nullopt when unusable.
std::optional<Proxy> MakeProxy(std::string_view scheme, std::string_view host, long port,
                               std::optional<Credentials> credentials = std::nullopt);

} // namespace wininet::preconfig
