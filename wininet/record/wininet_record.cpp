#include "wininet_record.h"

#include "wininet.h"
#include "wininet_handles.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace {

struct THandle {
  // cppcheck-suppress unusedStructMember ; read by Name(), through the table of open handles
  std::string Name; // S1, U1, ...: the order the handles were opened in
};

struct TState {
  wininet::record::TScript Script;
  std::vector<std::string> Calls;
  std::map<HINTERNET, std::unique_ptr<THandle>> Open;
  std::map<HINTERNET, std::string> Status;
  int Sessions = 0, Urls = 0;
  DWORD LastError = 0;
};

TState &State() {
  static TState S;
  return S;
}

std::string Text(LPCSTR S) {
  return S ? '"' + std::string(S) + '"' : "null";
}

std::string Name(HINTERNET H) {
  auto Found = State().Open.find(H);
  return !H ? "null" : Found == State().Open.end() ? "unknown" : Found->second->Name;
}

std::string Hex(DWORD V) {
  char Buffer[16];
  // NOLINTNEXTLINE(cert-err33-c): the buffer holds any 32-bit value in hexadecimal
  std::snprintf(Buffer, sizeof Buffer, "0x%X", static_cast<unsigned>(V));
  return Buffer;
}

HINTERNET NewHandle(std::string Name) {
  auto Handle = std::make_unique<THandle>(THandle{std::move(Name)});
  HINTERNET H = Handle.get();
  State().Open.emplace(H, std::move(Handle));
  return H;
}

} // namespace

void wininet::record::Reset(TScript Script) {
  State() = TState{std::move(Script), {}, {}, {}, 0, 0, 0};
}

const std::vector<std::string> &wininet::record::Calls() {
  return State().Calls;
}

int wininet::OpenHandleCount() {
  return static_cast<int>(State().Open.size());
}

DWORD GetLastError() {
  return State().LastError;
}

HINTERNET WINAPI InternetOpenA(LPCSTR Agent, DWORD AccessType, LPCSTR Proxy, LPCSTR Bypass,
                               DWORD Flags) {
  std::string Call = "InternetOpenA(" + Text(Agent) + ", " + std::to_string(AccessType) + ", " +
                     Text(Proxy) + ", " + Text(Bypass) + ", " + Hex(Flags) + ")";
  HINTERNET H =
      State().Script.NoSession ? nullptr : NewHandle("S" + std::to_string(++State().Sessions));
  State().Calls.push_back(Call + " -> " + Name(H));
  return H;
}

HINTERNET WINAPI InternetOpenUrlA(HINTERNET Internet, LPCSTR Url, LPCSTR Headers,
                                  DWORD HeadersLength, DWORD Flags, DWORD_PTR Context) {
  std::string Call = "InternetOpenUrlA(" + Name(Internet) + ", " + Text(Url) + ", " +
                     Text(Headers) + ", " + std::to_string(HeadersLength) + ", " + Hex(Flags) +
                     ", " + std::to_string(Context) + ")";
  State().Calls.push_back(Call); // kept even when the script throws
  std::optional<std::string> Status;
  if (Internet && Url)
    Status = State().Script.Status(Url);
  HINTERNET H = Status ? NewHandle("U" + std::to_string(++State().Urls)) : nullptr;
  if (H)
    State().Status[H] = *Status;
  State().Calls.back() += " -> " + Name(H);
  return H;
}

// Index stays a pointer to a variable, as in the system API's signature, though only read here.
BOOL WINAPI HttpQueryInfoA(HINTERNET Request, DWORD InfoLevel, LPVOID Buffer, LPDWORD Length,
                           LPDWORD Index) { // NOLINT(readability-non-const-parameter)
  State().Calls.push_back("HttpQueryInfoA(" + Name(Request) + ", " + std::to_string(InfoLevel) +
                          ", " + (Buffer ? "buffer" : "null") + ", " +
                          (Length ? std::to_string(*Length) : "null") + ", " +
                          (Index ? std::to_string(*Index) : "null") + ")");
  auto Found = State().Status.find(Request);
  if (State().Script.QueryFails || Found == State().Status.end() || !Length)
    return FALSE;
  const std::string &Status = Found->second;
  if (!Buffer || *Length < Status.size() + 1) {
    *Length = static_cast<DWORD>(Status.size() + 1);
    State().LastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  std::memcpy(Buffer, Status.c_str(), Status.size() + 1);
  *Length = static_cast<DWORD>(Status.size());
  return TRUE;
}

BOOL WINAPI InternetCloseHandle(HINTERNET H) {
  State().Calls.push_back("InternetCloseHandle(" + Name(H) + ")");
  State().Status.erase(H);
  return State().Open.erase(H) ? TRUE : FALSE;
}
