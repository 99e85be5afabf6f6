// Proxy values as the environment's variables, KDE and GNOME give them: any bytes either name a
// usable proxy or none. The input is read as a whole URL, and as GNOME's host field beside
// ports from the edges of what a stored integer holds.
#include "proxy_url.h"
#include "readers.h"

#include <climits>
#include <cstdint>
#include <string_view>

namespace {

using wininet::preconfig::MakeProxy;
using wininet::preconfig::ParseProxyUrl;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  if (const auto proxy = ParseProxyUrl(text)) {
    fuzz::CheckProxy(*proxy);
  }
  constexpr long kPorts[] = {LONG_MIN, -1, 0, 1, 3128, 65535, 65536, LONG_MAX};
  constexpr const char *kSchemes[] = {"http", "socks5h", "HTTP", "ftp", ""};
  for (const long port : kPorts) {
    for (const char *scheme : kSchemes) {
      const auto proxy = MakeProxy(scheme, text, port);
      if (!proxy) {
        continue;
      }
      if (port < 1 || port > 65535 || proxy->scheme != scheme) {
        fuzz::Fail("MakeProxy took an unusable port or scheme");
      }
      fuzz::CheckProxy(*proxy);
    }
  }
  return 0;
}
