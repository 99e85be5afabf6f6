#include "proxy_url.h"

#include "text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace wininet::preconfig {
namespace {

constexpr std::array kSchemes{"http", "https", "socks4", "socks4a", "socks5", "socks5h"};

// %XX escapes decoded; a stray % stays as it is. A NUL would cut the value short: refused.
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      const char byte = static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      if (byte == '\0') {
        return std::nullopt;
      }
      decoded += byte;
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

bool IsHostName(std::string_view host) {
  return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

// inet_pton reads up to a NUL, so "::1\0junk" would pass for "::1": refused.
bool IsIpv6(std::string_view host) {
  in6_addr address;
  return host.size() < INET6_ADDRSTRLEN && host.find('\0') == std::string_view::npos &&
         ::inet_pton(AF_INET6, std::string(host).c_str(), &address) == 1;
}

// Decimal digits only; 0 where there are none or too many to be a port.
long ParsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5 || !IsDigits(digits)) {
    return 0;
  }
  return std::stol(std::string(digits));
}

} // namespace

std::string Proxy::Url() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return scheme + "://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<Proxy> MakeProxy(std::string_view scheme, std::string_view host, long port,
                               std::optional<Credentials> credentials) {
  if (std::find(kSchemes.begin(), kSchemes.end(), scheme) == kSchemes.end() || port <= 0 ||
      port > 65535) {
    return std::nullopt;
  }
  host = Trim(host);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (!IsIpv6(host)) {
      return std::nullopt;
    }
  } else if (!IsHostName(host) && !IsIpv6(host)) {
    return std::nullopt;
  }
  return Proxy{std::string(scheme), std::string(host), static_cast<int>(port),
               std::move(credentials)};
}

std::optional<Proxy> ParseProxyUrl(std::string_view text) {
  text = Trim(text);
  if (std::any_of(text.begin(), text.end(),
                  [](unsigned char c) { return c <= ' ' || c == 0x7f; })) {
    return std::nullopt;
  }
  std::string scheme = "http";
  if (const auto separator = text.find("://"); separator != std::string_view::npos) {
    scheme = Lower(text.substr(0, separator));
    text.remove_prefix(separator + 3);
  }
  if (scheme == "socks") {
    scheme = "socks4";
  }
  std::string_view authority = text.substr(0, text.find_first_of("/?#"));

  std::optional<Credentials> credentials;
  // The last @ ends the user information, so that a password may hold one unencoded.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    const auto colon = userinfo.find(':');
    auto user = PercentDecode(userinfo.substr(0, colon));
    auto password = PercentDecode(colon == std::string_view::npos ? std::string_view()
                                                                  : userinfo.substr(colon + 1));
    if (!user || !password) {
      return std::nullopt;
    }
    if (!user->empty()) { // "@host" or ":@host" names nobody
      credentials = Credentials{std::move(*user), std::move(*password)};
    }
    authority.remove_prefix(at + 1);
  }

  std::string_view host = authority;
  std::string_view port;
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) {
      return std::nullopt;
    }
    port = rest.empty() ? rest : rest.substr(1);
  } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  const long number = port.empty() ? (scheme == "https" ? 443 : 1080) : ParsePort(port);
  return MakeProxy(scheme, host, number, std::move(credentials));
}

} // namespace wininet::preconfig
