// GNOME's proxy settings (org.gnome.system.proxy), read through GIO from the desktop's settings
// store. Mode 'manual' gives the http, https and socks proxies, ignore-hosts and the stored user
// and password; 'none' and 'auto' are direct: the autoconfig-url is never fetched.
#pragma once

#include "preconfig.h"

namespace wininet::preconfig {

// Direct where the schema is not installed, or where the session has no runtime folder (dconf
// would otherwise make its flag file in the home folder).
Settings FromGSettings();

} // namespace wininet::preconfig
