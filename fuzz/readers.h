// What the settings readers' targets share: cutting an input into its parts, failing on a wrong
// answer, and what every proxy a reader hands out must be.
#pragma once

#include "proxy_url.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline void Fail(const char *what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// The pieces between separators; a final separator ends the last piece and starts none.
inline std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    const auto end = text.find(separator);
    parts.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return parts;
}

inline std::string PercentEncoded(const std::string &text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char c : text) {
    encoded += '%';
    encoded += kHex[c >> 4];
    encoded += kHex[c & 15];
  }
  return encoded;
}

// Whatever bytes a reader read, libcurl gets its proxy as it is, so a wrong one is a fault even
// where nothing crashes.
inline void CheckProxy(const wininet::preconfig::Proxy &proxy) {
  using wininet::preconfig::MakeProxy;
  using wininet::preconfig::ParseProxyUrl;
  using wininet::preconfig::Proxy;
  if (proxy.port < 1 || proxy.port > 65535) {
    Fail("proxy port out of 1..65535");
  }
  if (proxy.host.empty()) {
    Fail("proxy without a host");
  }
  if (proxy.credentials && proxy.credentials->user.empty()) {
    Fail("credentials without a user");
  }
  // The URL libcurl is given names this very proxy, so nothing in the host leaks into its syntax.
  const std::optional<Proxy> again = ParseProxyUrl(proxy.Url());
  if (!again || again->scheme != proxy.scheme || again->host != proxy.host ||
      again->port != proxy.port || again->credentials) {
    Fail("Url() does not parse back to the same proxy");
  }
  // Credentials survive being written into a URL, as a user would, and read back.
  if (proxy.credentials) {
    const std::string url = proxy.scheme + "://" + PercentEncoded(proxy.credentials->user) + ":" +
                            PercentEncoded(proxy.credentials->password) + "@" +
                            proxy.Url().substr(proxy.scheme.size() + 3);
    if (ParseProxyUrl(url) != proxy) {
      Fail("percent-encoded credentials do not read back");
    }
  }
  // Stored apart, as GNOME keeps them, the same fields give the same proxy.
  if (MakeProxy(proxy.scheme, proxy.host, proxy.port, proxy.credentials) != proxy) {
    Fail("MakeProxy does not take a proxy's own fields");
  }
}

} // namespace fuzz
