#include "loopback.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace loopback {
namespace {

using namespace std::chrono_literals;

std::string LoopbackUrl(int port, std::string_view path) {
  return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

SeenRequest SeenOf(const httplib::Request &req) {
  return {req.method, req.target, req.get_header_value("User-Agent"),
          req.get_header_value("Authorization"), req.get_header_value("Proxy-Authorization")};
}

void Respond(const Reply &reply, httplib::Response &res) {
  res.status = reply.status;
  for (const auto &[name, value] : reply.headers) {
    res.set_header(name, value);
  }
  if (!reply.endless) {
    res.set_content(reply.body, "text/plain");
    return;
  }
  // One chunk per call until the client goes away.
  res.set_chunked_content_provider("text/plain", [](std::size_t, httplib::DataSink &sink) {
    static const std::string chunk(std::size_t{16} * 1024, 'x');
    return sink.write(chunk.data(), chunk.size());
  });
}

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd &operator=(Fd &&other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

private:
  int fd_;
};

[[noreturn]] void ThrowErrno(const char *what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// A TCP socket bound to an ephemeral port on 127.0.0.1.
Fd BoundSocket() {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ThrowErrno("bind");
  }
  return fd;
}

int PortOf(const Fd &socket) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    ThrowErrno("getsockname");
  }
  return ntohs(addr.sin_port);
}

void SetEnv(const std::string &name, const std::optional<std::string> &value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

} // namespace

// An httplib server on an ephemeral loopback port, on its own thread, recording each request.
class HttpListener {
public:
  using Answer = std::function<void(const httplib::Request &, httplib::Response &)>;

  explicit HttpListener(Answer answer) : answer_(std::move(answer)) {
    server_.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(SeenOf(req));
      }
      answer_(req, res);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() does nothing until the accept loop runs, so return only once it does.
    while (!server_.is_running()) {
      std::this_thread::sleep_for(1ms);
    }
  }
  ~HttpListener() {
    server_.stop();
    thread_.join();
  }
  HttpListener(const HttpListener &) = delete;
  HttpListener &operator=(const HttpListener &) = delete;

  int Port() const { return port_; }
  std::vector<SeenRequest> Requests() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }

private:
  Answer answer_;
  httplib::Server server_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<SeenRequest> seen_;
  std::thread thread_;
};

struct HttpServer::Impl {
  std::mutex mutex;
  std::map<std::string, Reply, std::less<>> routes;
  HttpListener listener{[this](const httplib::Request &req, httplib::Response &res) {
    std::lock_guard lock(mutex);
    const auto found = routes.find(req.path);
    Respond(found != routes.end() ? found->second : Reply(404), res);
  }};
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}
HttpServer::~HttpServer() = default;
HttpServer::HttpServer(HttpServer &&) noexcept = default;
HttpServer &HttpServer::operator=(HttpServer &&) noexcept = default;

void HttpServer::Route(const std::string &path, Reply reply) {
  std::lock_guard lock(impl_->mutex);
  impl_->routes.insert_or_assign(path, std::move(reply));
}
int HttpServer::Port() const {
  return impl_->listener.Port();
}
std::string HttpServer::Url(std::string_view path) const {
  return LoopbackUrl(Port(), path);
}
std::vector<SeenRequest> HttpServer::Requests() const {
  return impl_->listener.Requests();
}

Proxy::Proxy(std::function<Reply(const std::string &url)> verdict)
    : Proxy(std::function<Reply(const SeenRequest &)>(
          [verdict = std::move(verdict)](const SeenRequest &request) {
            return verdict(request.target);
          })) {}
Proxy::Proxy(std::function<Reply(const SeenRequest &request)> verdict)
    : listener_(std::make_unique<HttpListener>(
          [verdict = std::move(verdict)](const httplib::Request &req, httplib::Response &res) {
            Respond(verdict(SeenOf(req)), res);
          })) {}
Proxy::~Proxy() = default;
Proxy::Proxy(Proxy &&) noexcept = default;
Proxy &Proxy::operator=(Proxy &&) noexcept = default;

int Proxy::Port() const {
  return listener_->Port();
}
std::string Proxy::Address() const {
  return LoopbackUrl(Port(), "");
}
std::vector<SeenRequest> Proxy::Requests() const {
  return listener_->Requests();
}

class RawListener {
public:
  explicit RawListener(Script script)
      : script_(std::move(script)), socket_(BoundSocket()), wake_(::eventfd(0, EFD_CLOEXEC)) {
    if (wake_.get() < 0 || ::listen(socket_.get(), SOMAXCONN) != 0) {
      ThrowErrno("listen");
    }
    port_ = PortOf(socket_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawListener() {
    // Never read, so the event stays set and wakes every wait from here on.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
    thread_.join();
  }
  RawListener(const RawListener &) = delete;
  RawListener &operator=(const RawListener &) = delete;

  int Port() const { return port_; }
  int Connections() const { return connections_; }
  std::uint64_t BytesSent() const { return sent_; }

private:
  void Serve() {
    std::vector<std::thread> players;
    pollfd fds[] = {{socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    while (Wait(fds, -1)) {
      // cppcheck-suppress nullPointer ; no buffer for the peer's address, which is not wanted
      Fd client(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (client.get() >= 0) {
        ++connections_;
        players.emplace_back([this, client = std::move(client)]() mutable { Play(client); });
      }
    }
    for (std::thread &player : players) {
      player.join();
    }
  }

  // Waits for fds[0] (fds[1] is the wake event); false once we are stopping.
  static bool Wait(pollfd (&fds)[2], int timeoutMs) {
    for (;;) {
      const int ready = ::poll(fds, 2, timeoutMs);
      if (ready < 0 && errno == EINTR) {
        continue;
      }
      return ready >= 0 && fds[1].revents == 0;
    }
  }

  // Sends all of `data`, as fast as the client takes it; false if it went away or we stop.
  bool Send(const Fd &client, std::string_view data) {
    pollfd fds[] = {{client.get(), POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
    while (!data.empty()) {
      const ssize_t n = ::send(client.get(), data.data(), data.size(), MSG_NOSIGNAL);
      if (n > 0) {
        sent_ += static_cast<std::uint64_t>(n);
        data.remove_prefix(static_cast<std::size_t>(n));
      } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !Wait(fds, -1)) {
        return false;
      }
    }
    return true;
  }

  void Play(Fd &client) {
    const auto played = [&] {
      if (!Send(client, script_.reply)) {
        return false;
      }
      pollfd pause[] = {{-1, 0, 0}, {wake_.get(), POLLIN, 0}};
      for (const char byte : script_.drip) {
        if (!Wait(pause, static_cast<int>(script_.dripEvery.count())) ||
            !Send(client, std::string_view(&byte, 1))) {
          return false;
        }
      }
      std::string filler;
      while (filler.size() < std::size_t{64} * 1024) {
        filler += script_.filler;
      }
      for (std::uint64_t left = script_.flood; left > 0;) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, filler.size()));
        if (!Send(client, std::string_view(filler).substr(0, size))) {
          return false;
        }
        left -= size;
      }
      return true;
    }();
    if (played && script_.end == Script::Reset) {
      const linger abort{1, 0}; // closing now sends RST
      ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else if (played && script_.end == Script::Hold) {
      pollfd hold[] = {{-1, 0, 0}, {wake_.get(), POLLIN, 0}};
      Wait(hold, -1);
    }
  }

  Script script_;
  Fd socket_;
  Fd wake_;
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;
};

RawServer::RawServer(Script script) : listener_(std::make_unique<RawListener>(std::move(script))) {}
RawServer::~RawServer() = default;
RawServer::RawServer(RawServer &&) noexcept = default;
RawServer &RawServer::operator=(RawServer &&) noexcept = default;
int RawServer::Port() const {
  return listener_->Port();
}
int RawServer::Connections() const {
  return listener_->Connections();
}
std::uint64_t RawServer::BytesSent() const {
  return listener_->BytesSent();
}

std::string HeaderFlood(std::size_t bytes) {
  std::string reply = "HTTP/1.1 200 OK\r\n";
  for (int line = 0; reply.size() < bytes; ++line) {
    reply += "X-Filler-" + std::to_string(line) + ": " + std::string(1000, 'f') + "\r\n";
  }
  return reply + "Content-Length: 0\r\n\r\n";
}

int RefusedPort() {
  return PortOf(BoundSocket());
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string> &value)
    : name_(std::move(name)) {
  if (const char *old = std::getenv(name_.c_str())) {
    old_ = old;
  }
  SetEnv(name_, value);
}
ScopedEnv::~ScopedEnv() {
  SetEnv(name_, old_);
}

} // namespace loopback
