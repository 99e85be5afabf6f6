// The Internet layer: the four calls of the probe, with the system API's names, values and
// contracts, implemented over a portable HTTP client.
#pragma once

#include <windows.h>

using HINTERNET = void *;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;
constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;

constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_HTTP_INVALID_QUERY_REQUEST = 12154;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;

// A session. Access type 4 takes the environment's proxy settings; no auto-discovery.
HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                               LPCSTR lpszProxyBypass, DWORD dwFlags);

// One GET of the URL on a new connection; returns once the final answer's headers are in, or
// null (GetLastError tells why) when no answer could be had within the time-outs.
HINTERNET WINAPI InternetOpenUrlA(HINTERNET hInternet, LPCSTR lpszUrl, LPCSTR lpszHeaders,
                                  DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext);

// HTTP_QUERY_STATUS_CODE as NUL-terminated decimal text. The length is in bytes, in and out:
// the text's length on success, the size needed (with ERROR_INSUFFICIENT_BUFFER) when too small.
BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                           LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);

// Releases a session or request handle; a null or unknown handle is refused harmlessly.
BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);
