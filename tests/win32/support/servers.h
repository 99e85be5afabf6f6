// Loopback HTTP servers on Winsock, for probes through the system's own Internet API.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace loopback {

// Listens on 127.0.0.1 on a port of its own and answers each request with the head that
// Respond gives for its request line ("GET /path HTTP/1.1").
class TServer {
public:
  explicit TServer(std::function<std::string(const std::string &RequestLine)> Respond);
  TServer(const TServer &) = delete;
  TServer &operator=(const TServer &) = delete;
  ~TServer();

  std::string Url(const std::string &Path = "/") const;
  int Requests() const { return FRequests; }
  // The User-Agent of the last request.
  std::string Agent() const;

private:
  std::uintptr_t FListener; // a SOCKET, kept out of this header as windows.h would be
  int FPort = 0;
  std::function<std::string(const std::string &)> FRespond;
  std::atomic<bool> FStop{false};
  std::atomic<int> FRequests{0};
  mutable std::mutex FMutex;
  std::string FAgent;
  std::thread FThread;
  void Serve();
  void Answer(std::uintptr_t Client);
};

// A response head with the given status and no body.
std::string Status(int Code, const std::string &Extra = "");

// A loopback port on which nothing listens.
int RefusedPort();

} // namespace loopback
