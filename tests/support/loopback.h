// Servers, a silent listener and a scripted proxy on 127.0.0.1, so network tests never leave the
// machine. Each starts listening in its constructor and stops and joins in its destructor.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace loopback {

// One request as a server saw it. The target is the request line's: a path for a server, the
// absolute URL for a proxy.
struct SeenRequest {
  std::string method;
  std::string target;
  std::string userAgent;
  std::string authorization;      // to an origin
  std::string proxyAuthorization; // to a proxy
};

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Reply {
  // Implicit, so that a proxy's verdict can be a bare status: `return 502;`.
  // cppcheck-suppress noExplicitConstructor
  Reply(int status = 200, Headers headers = {}, std::string body = {})
      : status(status), headers(std::move(headers)), body(std::move(body)) {}
  // A 200 whose body never ends.
  static Reply Endless() {
    Reply reply;
    reply.endless = true;
    return reply;
  }

  int status;
  Headers headers;
  std::string body;
  bool endless = false;
};

class HttpListener;

// Answers each registered path with its reply, any other path with 404.
class HttpServer {
public:
  HttpServer();
  ~HttpServer();
  HttpServer(HttpServer &&) noexcept;
  HttpServer &operator=(HttpServer &&) noexcept;

  void Route(const std::string &path, Reply reply);
  int Port() const;
  std::string Url(std::string_view path) const;
  std::vector<SeenRequest> Requests() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A forward proxy that answers every absolute-form request itself, with the reply (or just the
// status) the test's verdict gives for its URL; it never connects anywhere.
class Proxy {
public:
  explicit Proxy(std::function<Reply(const std::string &url)> verdict);
  // A verdict that also looks at the request's headers.
  explicit Proxy(std::function<Reply(const SeenRequest &request)> verdict);
  ~Proxy();
  Proxy(Proxy &&) noexcept;
  Proxy &operator=(Proxy &&) noexcept;

  int Port() const;
  std::string Address() const; // "http://127.0.0.1:PORT", as http_proxy takes it
  std::vector<SeenRequest> Requests() const;

private:
  std::unique_ptr<HttpListener> listener_;
};

// What a misbehaving server does on each connection, in this order: sends `reply` at once, drips
// `drip` one byte per `dripEvery`, sends `flood` bytes of `filler` over and over as fast as the
// client takes them, and then ends as `end` says. It never reads the request.
struct Script {
  enum End { Hold, Close, Reset }; // keep open until destroyed; FIN; RST
  std::string reply{};
  std::string drip{};
  std::chrono::milliseconds dripEvery{1000};
  std::uint64_t flood = 0;
  std::string filler = "x";
  End end = Hold;
};

class RawListener;

// Accepts connections and plays the same script on each, every connection on its own thread.
class RawServer {
public:
  explicit RawServer(std::string reply) : RawServer(Script{.reply = std::move(reply)}) {}
  explicit RawServer(Script script);
  ~RawServer();
  RawServer(RawServer &&) noexcept;
  RawServer &operator=(RawServer &&) noexcept;

  int Port() const;
  int Connections() const;         // accepted so far
  std::uint64_t BytesSent() const; // on all connections, so far

private:
  std::unique_ptr<RawListener> listener_;
};

// Accepts connections and never sends a byte.
class SilentServer : public RawServer {
public:
  SilentServer() : RawServer(Script{}) {}
};

// A 200 whose header block holds at least `bytes` bytes of filler lines.
std::string HeaderFlood(std::size_t bytes);

// A loopback port where nothing listens.
int RefusedPort();

// Sets (or, with no value, unsets) an environment variable for a scope; restores the old value.
class ScopedEnv {
public:
  ScopedEnv(std::string name, const std::optional<std::string> &value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
  std::string name_;
  std::optional<std::string> old_;
};

} // namespace loopback
