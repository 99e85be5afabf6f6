// The hosts a proxy is not used for: GNOME's ignore-hosts, KDE's NoProxyFor and no_proxy. Each
// entry is a name ("corp.example", ".corp.example" and "*.corp.example" all match the name and
// every name below it), an address, or a range of addresses ("10.0.0.0/8", "fe80::/10"), any of
// them with a port ("corp.example:8080", "[::1]:8080"); "*" alone matches every host. Entries
// that are none of these ("<local>", "http://x/") are skipped. Plain functions over strings:
// they take any bytes and read nothing.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace wininet::preconfig {

class Bypass {
public:
  Bypass() = default;
  explicit Bypass(const std::vector<std::string> &entries);
  // One string with its entries apart by commas or white space, as KDE and no_proxy keep them.
  static Bypass FromList(std::string_view list);

  // `host` as the URL gives it: a name, or an address (IPv6 with or without brackets); `port` the
  // URL's, its scheme's default where it names none.
  bool Matches(std::string_view host, int port) const;

private:
  struct Network {
    int family;
    std::array<unsigned char, 16> address;
    int prefix;
    int port; // 0: any
  };
  struct Domain {
    std::string name; // lower case, without the leading "." or "*."
    int port;         // 0: any
  };
  void Add(std::string_view entry);

  bool everything_ = false;
  std::vector<Network> networks_;
  std::vector<Domain> domains_;
};

} // namespace wininet::preconfig
