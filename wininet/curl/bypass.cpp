#include "bypass.h"

#include "text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace wininet::preconfig {
namespace {

struct Address {
  int family;
  std::array<unsigned char, 16> bytes{};
  int bits() const { return family == AF_INET ? 32 : 128; }
};

// inet_pton reads up to a NUL, so "127.0.0.1\0junk" would pass for "127.0.0.1": refused.
std::optional<Address> ParseAddress(std::string_view text) {
  if (text.size() >= INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string terminated(text);
  Address address{AF_INET};
  if (::inet_pton(AF_INET, terminated.c_str(), address.bytes.data()) == 1) {
    return address;
  }
  address.family = AF_INET6;
  if (::inet_pton(AF_INET6, terminated.c_str(), address.bytes.data()) == 1) {
    return address;
  }
  return std::nullopt;
}

// 0 for an empty port (any port), -1 where it is not one.
int ParsePort(std::string_view digits) {
  if (digits.empty()) {
    return 0;
  }
  if (digits.size() > 5 || !IsDigits(digits)) {
    return -1;
  }
  const int port = std::stoi(std::string(digits));
  return port <= 65535 ? port : -1;
}

bool InPrefix(const std::array<unsigned char, 16> &network,
              const std::array<unsigned char, 16> &host, int prefix) {
  for (int bit = 0; bit < prefix; ++bit) {
    const auto mask = static_cast<unsigned char>(0x80 >> (bit % 8));
    if ((network[bit / 8] & mask) != (host[bit / 8] & mask)) {
      return false;
    }
  }
  return true;
}

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

// "host", "host:port" or "[address]:port" → the host and its port (0: any); nullopt when the
// brackets or the port are not well formed.
std::optional<std::pair<std::string_view, int>> HostAndPort(std::string_view entry) {
  std::string_view host = entry;
  int port = 0;
  if (entry.starts_with('[')) {
    const auto close = entry.find(']');
    const std::string_view rest =
        close == std::string_view::npos ? std::string_view() : entry.substr(close + 1);
    if (close == std::string_view::npos || (!rest.empty() && !rest.starts_with(':'))) {
      return std::nullopt;
    }
    host = entry.substr(1, close - 1);
    port = rest.empty() ? 0 : ParsePort(rest.substr(1));
  } else if (const auto colon = entry.find(':'); colon != std::string_view::npos) {
    host = entry.substr(0, colon);
    port = ParsePort(entry.substr(colon + 1)); // a second colon makes it no port
  }
  if (port < 0) {
    return std::nullopt;
  }
  return std::pair(host, port);
}

} // namespace

Bypass::Bypass(const std::vector<std::string> &entries) {
  for (const std::string &entry : entries) {
    Add(entry);
  }
}

Bypass Bypass::FromList(std::string_view list) {
  Bypass bypass;
  while (!list.empty()) {
    // NOLINTNEXTLINE(readability-qualified-auto): an iterator, whatever the library makes it
    const auto end =
        std::find_if(list.begin(), list.end(), [](char c) { return c == ',' || IsSpace(c); });
    bypass.Add(std::string_view(list.begin(), end));
    list.remove_prefix(end == list.end() ? list.size() : end - list.begin() + 1);
  }
  return bypass;
}

void Bypass::Add(std::string_view entry) {
  entry = Trim(entry);
  if (entry == "*") {
    everything_ = true;
    return;
  }
  // An address or a range of them: "10.0.0.0/8"; bits beyond the prefix are not looked at.
  const auto slash = entry.find('/');
  if (const auto address = ParseAddress(entry.substr(0, slash))) {
    const std::string_view length =
        slash == std::string_view::npos ? std::string_view() : entry.substr(slash + 1);
    if (slash == std::string_view::npos) {
      networks_.push_back({address->family, address->bytes, address->bits(), 0});
    } else if (!length.empty() && length.size() <= 3 && IsDigits(length) &&
               std::stoi(std::string(length)) <= address->bits()) {
      networks_.push_back({address->family, address->bytes, std::stoi(std::string(length)), 0});
    }
    return;
  }

  const auto split = HostAndPort(entry);
  if (!split) {
    return;
  }
  auto [host, port] = *split;
  if (const auto address = ParseAddress(host)) {
    networks_.push_back({address->family, address->bytes, address->bits(), port});
    return;
  }
  if (entry.starts_with('[')) {
    return;
  }
  if (host.starts_with("*.")) {
    host.remove_prefix(2);
  } else if (host.starts_with('.')) {
    host.remove_prefix(1);
  }
  // A fully qualified "corp.example." names the same host: Matches drops the host's dot too.
  if (host.ends_with('.')) {
    host.remove_suffix(1);
  }
  if (host.empty() || !std::all_of(host.begin(), host.end(), IsNameCharacter)) {
    return;
  }
  domains_.push_back({Lower(host), port});
}

bool Bypass::Matches(std::string_view host, int port) const {
  if (everything_) {
    return true;
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const auto portMatches = [port](int wanted) { return wanted == 0 || wanted == port; };
  // Addresses match ranges only, names match names only: "10.0.0.0/8" says nothing of a name
  // that resolves into it.
  if (const auto address = ParseAddress(host)) {
    return std::any_of(networks_.begin(), networks_.end(), [&](const Network &network) {
      return network.family == address->family && portMatches(network.port) &&
             InPrefix(network.address, address->bytes, network.prefix);
    });
  }
  std::string name = Lower(host);
  if (name.ends_with('.')) {
    name.pop_back();
  }
  return std::any_of(domains_.begin(), domains_.end(), [&](const Domain &domain) {
    return portMatches(domain.port) && name.ends_with(domain.name) &&
           (name.size() == domain.name.size() || name[name.size() - domain.name.size() - 1] == '.');
  });
}

} // namespace wininet::preconfig
