// kioslaverc texts, as KDE writes them or anything else, through the whole reader to the proxy
// each URL goes through. Input: the file; after its last NUL byte, the environment ProxyType=4
// reads, one "NAME=value" a line, and lines without "=" as hosts to route.
#include "kde_proxy.h"
#include "readers.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using wininet::preconfig::FromKioslaverc;
using wininet::preconfig::Proxy;
using wininet::preconfig::Settings;

constexpr std::size_t kMaxHosts = 8;

struct Url {
  std::string scheme;
  std::string host;
  int port;
};

void CheckRoute(const Settings &settings, const Url &url) {
  const Proxy *proxy = settings.For(url.scheme, url.host, url.port);
  const auto &own = url.scheme == "https" ? settings.https : settings.http;
  if (proxy != nullptr && (!own || proxy != &*own)) {
    fuzz::Fail("a URL routed through a proxy not set for its scheme");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const auto nul = input.rfind('\0');
  const std::string_view text = input.substr(0, nul);
  std::map<std::string, std::string> variables;
  std::vector<Url> urls = {{"http", "www.zelva.example", 80},
                           {"https", "www.zelva.example", 443},
                           {"http", "127.0.0.1", 80},
                           {"http", "[::1]", 8080}};
  if (nul != std::string_view::npos) {
    std::size_t hosts = 0;
    for (const std::string &line : fuzz::Split(input.substr(nul + 1), '\n')) {
      if (const auto equals = line.find('='); equals != std::string::npos) {
        variables.insert_or_assign(line.substr(0, equals), line.substr(equals + 1));
      } else if (hosts++ < kMaxHosts) {
        urls.push_back({"http", line, 80});
        urls.push_back({"https", line, 443});
      }
    }
  }

  bool looked = false;
  const Settings settings =
      FromKioslaverc(text, [&](const std::string &name) -> std::optional<std::string> {
        if (name.empty()) {
          fuzz::Fail("an empty variable name looked up");
        }
        looked = true;
        const auto found = variables.find(name);
        return found != variables.end() ? std::optional(found->second) : std::nullopt;
      });

  for (const auto &proxy : {settings.http, settings.https}) {
    if (proxy) {
      fuzz::CheckProxy(*proxy);
    }
  }
  // Only a file that says which kind of set-up it is can name a proxy or read the environment.
  if ((settings.http || settings.https || looked || settings.bypassOnlyListed) &&
      text.find("ProxyType") == std::string_view::npos) {
    fuzz::Fail("settings from a file without ProxyType");
  }
  if (settings.bypassOnlyListed && text.find("ReversedException") == std::string_view::npos) {
    fuzz::Fail("exceptions reversed by a file that does not say so");
  }
  for (const Url &url : urls) {
    CheckRoute(settings, url);
  }
  return 0;
}
