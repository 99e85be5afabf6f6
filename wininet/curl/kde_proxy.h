// KDE's proxy settings: the group [Proxy Settings] of $XDG_CONFIG_HOME/kioslaverc. ProxyType 1
// is manual (httpProxy, httpsProxy, socksProxy, as "http://host:port" or "http://host port";
// NoProxyFor, with ReversedException), 4 takes the same keys as names of environment variables;
// 0 (none), 2 (a script) and 3 (auto-detection) are direct: no script is ever fetched.
#pragma once

#include "preconfig.h"

#include <string_view>

namespace wininet::preconfig {

// The file's text → settings; `lookup` serves ProxyType 4's variables. Takes any bytes, reads
// nothing else.
Settings FromKioslaverc(std::string_view text, const Lookup &lookup);

// The user's kioslaverc, read within bounds: a missing, oversized or special file is direct.
Settings FromKde(const Lookup &lookup);

} // namespace wininet::preconfig
