// The 18 built-in links probed through the Internet layer's public calls alone, as the program
// probes them, for tests that set up the proxy settings and the network around it:
//
//   probe_links     one line per link, in table order: "open|blocked STATUS ERROR URL", where
//                   STATUS is the answer's code (0: no answer) and ERROR the last error (0: none)
//
// Exits 0 whatever the verdicts; the caller judges them.
#include <wininet.h>

#include "builtin_links.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char *kAgent = "Zelvatorim";

struct Closer {
  void operator()(void *handle) const { InternetCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, Closer>;

struct Outcome {
  std::string status = "0";
  DWORD error = 0;
};

Outcome Probe(const std::string &url) {
  Outcome outcome;
  const Handle session(
      InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0));
  if (!session) {
    outcome.error = GetLastError();
    return outcome;
  }
  const Handle request(
      InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_NO_UI, 0));
  if (!request) {
    outcome.error = GetLastError();
    return outcome;
  }
  char text[513] = {};
  DWORD length = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, text, &length, &index)) {
    outcome.error = GetLastError();
    return outcome;
  }
  outcome.status = std::string(text, strnlen(text, sizeof text));
  return outcome;
}

} // namespace

int main() {
  for (const std::string &url : Links) {
    const Outcome outcome = Probe(url);
    const bool open = outcome.status == "200" || outcome.status == "401";
    // A verdict that could not be written is a failed run, not a short one.
    if (std::printf("%s %s %u %s\n", open ? "open" : "blocked", outcome.status.c_str(),
                    static_cast<unsigned>(outcome.error), url.c_str()) < 0 ||
        std::fflush(stdout) != 0) {
      return 1;
    }
  }
  return 0;
}
