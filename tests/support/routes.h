// What the proxy-settings tests compare: the proxy a URL goes through, as text, from settings
// read with variables the test names instead of the process's environment.
#pragma once

#include "preconfig.h"

#include <map>
#include <string>

namespace routes {

using Variables = std::map<std::string, std::string>;

// A lookup that sees these variables and no others.
wininet::preconfig::Lookup From(const Variables &variables);

// The proxy for scheme://host/ on the scheme's port, as "scheme://host:port" (and
// " user|password" where it has credentials), or "direct".
std::string Route(const wininet::preconfig::Settings &settings, const std::string &scheme,
                  const std::string &host);

} // namespace routes
