// The Internet layer over libcurl. Redirects are followed here rather than by curl, so that every
// transfer can stop at the end of its answer's headers (no body is ever read) and every hop goes
// the way the session's proxy settings say for its own scheme and host.
#include <wininet.h>
#include <wininet_handles.h>

#include "preconfig.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace {

namespace preconfig = wininet::preconfig;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kConnectTimeout{10'000}; // name resolution included
constexpr milliseconds kOpenTimeout{20'000};    // one whole open, across all its redirects
constexpr int kMaxRedirects = 10;
// Browsers' own bound; a peer that sends more is not a server that answered.
constexpr std::size_t kMaxHeaderBytes = std::size_t{256} * 1024;

thread_local DWORD lastError = 0;

// The one translation of a failed open into the platform's error.
DWORD ToWin32Error(CURLcode code) {
  switch (code) {
  case CURLE_OPERATION_TIMEDOUT:
    return ERROR_INTERNET_TIMEOUT;
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY:
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  case CURLE_COULDNT_CONNECT:
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_PEER_FAILED_VERIFICATION:
    return ERROR_INTERNET_CANNOT_CONNECT;
  case CURLE_URL_MALFORMAT:
    return ERROR_INTERNET_INVALID_URL;
  case CURLE_UNSUPPORTED_PROTOCOL:
    return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
    return ERROR_INTERNET_CONNECTION_RESET;
  case CURLE_GOT_NOTHING:
  case CURLE_WEIRD_SERVER_REPLY:
  case CURLE_HTTP2:
  case CURLE_HTTP2_STREAM:
    return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  case CURLE_TOO_MANY_REDIRECTS:
    return ERROR_HTTP_REDIRECT_FAILED;
  default:
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

HINTERNET FailOpen(DWORD error) {
  lastError = error;
  return nullptr;
}

BOOL Fail(DWORD error) {
  lastError = error;
  return FALSE;
}

struct Session {
  std::string agent;
  std::shared_ptr<const preconfig::Settings> proxies; // read once, when the session opens
};
struct Request {
  // cppcheck-suppress unusedStructMember ; read by HttpQueryInfoA, through std::get_if
  long status;
};
using Handle = std::variant<Session, Request>;

class HandleTable {
public:
  HINTERNET Add(Handle handle) {
    auto owned = std::make_unique<Handle>(std::move(handle));
    HINTERNET key = owned.get();
    std::lock_guard lock(mutex_);
    handles_.emplace(key, std::move(owned));
    return key;
  }
  // A copy, so that nothing dangles if another thread closes the handle meanwhile.
  std::optional<Handle> Find(HINTERNET key) const {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(key);
    return found == handles_.end() ? std::nullopt : std::optional<Handle>(*found->second);
  }
  bool Remove(HINTERNET key) {
    std::lock_guard lock(mutex_);
    return handles_.erase(key) == 1;
  }
  int Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(handles_.size());
  }

private:
  mutable std::mutex mutex_;
  std::map<HINTERNET, std::unique_ptr<Handle>> handles_;
};

HandleTable &Handles() {
  static HandleTable table;
  return table;
}

struct EasyCleanup {
  void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct UrlCleanup {
  void operator()(CURLU *url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;

struct CurlFree {
  void operator()(char *text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

bool CurlReady() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result == CURLE_OK;
}

// An http or https URL, with the scheme, host and port that choose its proxy.
struct Target {
  std::string url;
  std::string scheme;
  std::string host;
  int port = 0; // the scheme's default where the URL names none
};

// Resolves `ref` (against `base` when there is one) to an http or https URL, refusing others with
// the codes curl itself gives when it follows.
CURLcode HttpUrl(const std::string *base, const char *ref, Target &target) {
  const UrlHandle parsed(curl_url());
  if (!parsed) {
    return CURLE_OUT_OF_MEMORY;
  }
  // Servers' Location values get the leniency curl grants them when following.
  const unsigned flags = base != nullptr ? CURLU_URLENCODE | CURLU_ALLOW_SPACE : 0;
  if (base != nullptr && curl_url_set(parsed.get(), CURLUPART_URL, base->c_str(), 0) != CURLUE_OK) {
    return CURLE_URL_MALFORMAT;
  }
  const CURLUcode set = curl_url_set(parsed.get(), CURLUPART_URL, ref, flags);
  if (set == CURLUE_UNSUPPORTED_SCHEME || set == CURLUE_BAD_SCHEME) {
    return CURLE_UNSUPPORTED_PROTOCOL;
  }
  const auto part = [&](CURLUPart which, unsigned partFlags, std::string &text) {
    char *value = nullptr;
    if (curl_url_get(parsed.get(), which, &value, partFlags) != CURLUE_OK) {
      return false;
    }
    text = CurlText(value).get();
    return true;
  };
  std::string port;
  if (set != CURLUE_OK || !part(CURLUPART_SCHEME, 0, target.scheme)) {
    return CURLE_URL_MALFORMAT;
  }
  if (target.scheme != "http" && target.scheme != "https") {
    return CURLE_UNSUPPORTED_PROTOCOL;
  }
  if (!part(CURLUPART_URL, 0, target.url) || !part(CURLUPART_HOST, 0, target.host) ||
      !part(CURLUPART_PORT, CURLU_DEFAULT_PORT, port)) {
    return CURLE_URL_MALFORMAT;
  }
  target.port = std::stoi(port); // curl's parser has checked it is one
  return CURLE_OK;
}

// Watches a transfer's header blocks so that it stops at the end of the final one.
struct HeaderWatch {
  CURL *easy;
  long finalStatus = 0;  // kept here: after the abort, curl may report an interim answer's code
  std::size_t bytes = 0; // of every header block so far, interim answers' included
};

std::size_t OnHeader(char *data, std::size_t size, std::size_t count, void *user) {
  const std::size_t length = size * count;
  auto &watch = *static_cast<HeaderWatch *>(user);
  // Headers without end would otherwise pile up in memory until the time-out.
  watch.bytes += length;
  if (watch.bytes > kMaxHeaderBytes) {
    return 0;
  }
  const std::string_view line(data, length);
  if (line != "\r\n" && line != "\n") {
    return length;
  }
  long status = 0;
  curl_easy_getinfo(watch.easy, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 100 && status < 200) {
    return length; // an interim answer; the real one follows
  }
  watch.finalStatus = status;
  // A proxy's demand for credentials is left to curl: it answers where it has something to offer
  // (the next answer's headers come here in turn) and otherwise ends on the body, unread.
  return status == 407 ? length : 0; // 0 aborts the transfer before its body
}

std::size_t RefuseBody(char *, std::size_t, std::size_t, void *) {
  return 0;
}

// What a request offers a proxy that asks who it is; never a prompt, and never to an origin.
enum class Login {
  Configured, // the credentials set with the proxy, in Basic, Digest or NTLM; else the ticket
  Ticket,     // Negotiate with the user's Kerberos ticket (libcurl's GSS-API)
};

// Sets the way out on every transfer, a direct one included, so that libcurl's own reading of
// the environment can never disagree with the session's settings.
void UseProxy(CURL *e, const preconfig::Proxy *proxy, Login login) {
  curl_easy_setopt(e, CURLOPT_PROXY, proxy != nullptr ? proxy->Url().c_str() : "");
  curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  if (proxy == nullptr) {
    return;
  }
  if (proxy->credentials && login == Login::Configured) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxy->credentials->user.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxy->credentials->password.c_str());
    // Negotiate is left out: libcurl would pick it over the others whenever it is offered, and
    // it cannot use a password, only a ticket.
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM);
  } else if (proxy->SpeaksHttp()) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERPWD, ":"); // no name of our own: the ticket's
    // Only once the proxy asks: a lone method would otherwise be offered up front, and Kerberos
    // read its configuration and cache for every request, to a proxy that may want none.
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, CURLAUTH_NEGOTIATE | CURLAUTH_ONLY);
  }
}

struct Answer {
  explicit Answer(CURLcode result) : code(result) {}
  CURLcode code;
  long status = 0; // 0: no answer
  std::string location;
  bool negotiable = false; // the proxy refused us and offered Negotiate
};

// One GET on a fresh connection, within what is left until the deadline.
Answer Fetch(const Target &target, const std::string &agent, const preconfig::Proxy *proxy,
             Login login, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  if (left <= milliseconds::zero()) {
    return Answer(CURLE_OPERATION_TIMEDOUT);
  }
  const EasyHandle easy(curl_easy_init());
  if (!easy) {
    return Answer(CURLE_FAILED_INIT);
  }
  CURL *e = easy.get();
  HeaderWatch watch{e};
  curl_easy_setopt(e, CURLOPT_URL, target.url.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
  UseProxy(e, proxy, login);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP09_ALLOWED, 0L);
  curl_easy_setopt(e, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(std::min(left, kConnectTimeout).count()));
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &watch);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, RefuseBody);

  Answer answer(curl_easy_perform(e));
  if (answer.code == CURLE_UNSUPPORTED_PROTOCOL || watch.bytes > kMaxHeaderBytes) {
    // The scheme was checked before; this is curl refusing an HTTP/0.9 answer, or headers
    // beyond all bounds.
    answer.code = CURLE_WEIRD_SERVER_REPLY;
  }
  long connectStatus = 0; // the proxy's answer to CONNECT, on the way to an https origin
  curl_easy_getinfo(e, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  long offered = 0;
  curl_easy_getinfo(e, CURLINFO_PROXYAUTH_AVAIL, &offered);
  answer.negotiable =
      (watch.finalStatus == 407 || connectStatus == 407) && (offered & CURLAUTH_NEGOTIATE) != 0;
  if (watch.finalStatus == 0) {
    return answer;
  }
  answer.status = watch.finalStatus;
  curl_header *location = nullptr;
  if (curl_easy_header(e, "Location", 0, CURLH_HEADER, -1, &location) == CURLHE_OK) {
    answer.location = location->value;
  }
  return answer;
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One hop, through the proxy the settings give for its scheme and host.
Answer Hop(const Target &target, const Session &session, Clock::time_point deadline) {
  const preconfig::Proxy *proxy = session.proxies->For(target.scheme, target.host, target.port);
  Answer answer = Fetch(target, session.agent, proxy, Login::Configured, deadline);
  // Credentials the proxy took in none of its other schemes: the user's ticket may still do.
  if (answer.negotiable && proxy != nullptr && proxy->credentials) {
    answer = Fetch(target, session.agent, proxy, Login::Ticket, deadline);
  }
  return answer;
}

HINTERNET Open(Target target, const Session &session) {
  const auto deadline = Clock::now() + kOpenTimeout;
  for (int redirects = 0;; ++redirects) {
    const Answer answer = Hop(target, session, deadline);
    if (answer.status == 0) {
      return FailOpen(ToWin32Error(answer.code));
    }
    if (!IsRedirect(answer.status) || answer.location.empty()) {
      return Handles().Add(Request{answer.status});
    }
    if (redirects == kMaxRedirects) {
      return FailOpen(ToWin32Error(CURLE_TOO_MANY_REDIRECTS));
    }
    Target next;
    if (const CURLcode refused = HttpUrl(&target.url, answer.location.c_str(), next)) {
      return FailOpen(ToWin32Error(refused));
    }
    target = std::move(next);
  }
}

} // namespace

DWORD GetLastError() {
  return lastError;
}

int wininet::OpenHandleCount() {
  return Handles().Count();
}

HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR, LPCSTR, DWORD) {
  // Only the system's settings are supported; nothing may silently bypass them.
  if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  if (!CurlReady()) {
    return FailOpen(ERROR_INTERNET_INTERNAL_ERROR);
  }
  return Handles().Add(Session{lpszAgent != nullptr ? lpszAgent : "",
                               std::make_shared<const preconfig::Settings>(preconfig::Read())});
}

HINTERNET WINAPI InternetOpenUrlA(HINTERNET hInternet, LPCSTR lpszUrl, LPCSTR lpszHeaders, DWORD,
                                  DWORD, DWORD_PTR) {
  const auto handle = Handles().Find(hInternet);
  if (!handle) {
    return FailOpen(ERROR_INVALID_HANDLE);
  }
  const auto *session = std::get_if<Session>(&*handle);
  if (session == nullptr) {
    return FailOpen(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  if (lpszUrl == nullptr || *lpszUrl == '\0') {
    return FailOpen(ERROR_INTERNET_INVALID_URL);
  }
  // Extra request headers are not supported; refusing them beats dropping them unseen.
  if (lpszHeaders != nullptr && *lpszHeaders != '\0') {
    return FailOpen(ERROR_INVALID_PARAMETER);
  }
  Target target;
  if (const CURLcode refused = HttpUrl(nullptr, lpszUrl, target)) {
    return FailOpen(ToWin32Error(refused));
  }
  return Open(std::move(target), *session);
}

BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                           LPDWORD lpdwBufferLength, LPDWORD) {
  const auto handle = Handles().Find(hRequest);
  if (!handle) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const auto *request = std::get_if<Request>(&*handle);
  if (request == nullptr) {
    return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  }
  if (dwInfoLevel != HTTP_QUERY_STATUS_CODE) {
    return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
  }
  if (lpdwBufferLength == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::string text = std::to_string(request->status);
  const auto needed = static_cast<DWORD>(text.size() + 1);
  if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
    *lpdwBufferLength = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(lpBuffer, text.c_str(), needed);
  *lpdwBufferLength = needed - 1;
  return TRUE;
}

BOOL WINAPI InternetCloseHandle(HINTERNET hInternet) {
  return Handles().Remove(hInternet) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
