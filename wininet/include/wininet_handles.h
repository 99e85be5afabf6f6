// Not part of the system API: lets tests check that every handle opened was closed.
#pragma once

namespace wininet {
int OpenHandleCount();
}
