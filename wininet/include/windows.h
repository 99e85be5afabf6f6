// The few Windows base types the program's probe is written against, so that the same source
// compiles here over our own Internet layer and on Windows over the system's headers.
#pragma once

#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using LPDWORD = DWORD *;
using DWORD_PTR = std::uintptr_t;
using LPVOID = void *;
using LPCSTR = const char *;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define WINAPI

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

// The calling thread's last error, as the Internet layer left it.
DWORD GetLastError();
