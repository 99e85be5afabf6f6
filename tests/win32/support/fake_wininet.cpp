#include "fake_wininet.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>
#include <map>
#include <memory>

namespace fake_wininet {

std::function<int(const std::string &)> Answer = [](const std::string &) { return 200; };
std::vector<std::string> Urls, Agents;

namespace {

// Each open handle, with the status its request got (none for a session).
std::map<HINTERNET, int> Handles;
int NextHandle = 1;

HINTERNET NewHandle(int Status) {
  auto *Handle = reinterpret_cast<HINTERNET>(static_cast<INT_PTR>(NextHandle++));
  Handles[Handle] = Status;
  return Handle;
}

HINTERNET WINAPI Open(LPCSTR Agent, DWORD, LPCSTR, LPCSTR, DWORD) {
  Agents.emplace_back(Agent ? Agent : "");
  return NewHandle(0);
}

HINTERNET WINAPI OpenUrl(HINTERNET Session, LPCSTR Url, LPCSTR, DWORD, DWORD, DWORD_PTR) {
  Urls.emplace_back(Url ? Url : "");
  if (!Handles.contains(Session))
    return nullptr;
  const int Status = Answer(Urls.back());
  return Status ? NewHandle(Status) : nullptr;
}

BOOL WINAPI QueryInfo(HINTERNET Request, DWORD Level, LPVOID Buffer, LPDWORD Length, LPDWORD) {
  auto Found = Handles.find(Request);
  if (Found == Handles.end() || Level != HTTP_QUERY_STATUS_CODE || !Found->second)
    return FALSE;
  const std::string Text = std::to_string(Found->second);
  if (*Length < Text.size() + 1)
    return FALSE;
  std::memcpy(Buffer, Text.c_str(), Text.size() + 1);
  *Length = static_cast<DWORD>(Text.size());
  return TRUE;
}

BOOL WINAPI Close(HINTERNET Handle) {
  return Handles.erase(Handle) ? TRUE : FALSE;
}

} // namespace

int OpenHandles() {
  return static_cast<int>(Handles.size());
}

void Reset() {
  Answer = [](const std::string &) { return 200; };
  Urls.clear();
  Agents.clear();
}

} // namespace fake_wininet

// The program calls imported functions through these pointers; defining them here takes the
// place of wininet.dll's import library.
#ifdef _WIN64
#define IMPORT_POINTER(Name, ArgumentBytes) "__imp_" #Name
#else
#define IMPORT_POINTER(Name, ArgumentBytes) "__imp__" #Name "@" #ArgumentBytes
#endif
extern "C" {
decltype(&InternetOpenA) FakeInternetOpenA asm(IMPORT_POINTER(InternetOpenA,
                                                              20)) = &fake_wininet::Open;
decltype(&InternetOpenUrlA) FakeInternetOpenUrlA asm(IMPORT_POINTER(InternetOpenUrlA,
                                                                    24)) = &fake_wininet::OpenUrl;
decltype(&HttpQueryInfoA) FakeHttpQueryInfoA asm(IMPORT_POINTER(HttpQueryInfoA,
                                                                20)) = &fake_wininet::QueryInfo;
decltype(&InternetCloseHandle)
    FakeInternetCloseHandle asm(IMPORT_POINTER(InternetCloseHandle, 4)) = &fake_wininet::Close;
}
