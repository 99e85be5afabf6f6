// For tests only: the window behind a control of the Win32 backend.
#pragma once

#include "vcl/Controls.h"

#include <windows.h>

namespace vcl::win32 {
HWND HandleOf(const TControl &Control);
}
