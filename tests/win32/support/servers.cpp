#include "servers.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

namespace loopback {

namespace {

void StartWinsock() {
  static const bool Started = [] {
    WSADATA Data;
    return WSAStartup(MAKEWORD(2, 2), &Data) == 0;
  }();
  if (!Started)
    throw std::runtime_error("WSAStartup failed");
}

SOCKET BoundSocket(int &Port) {
  StartWinsock();
  SOCKET S = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int Size = sizeof Address;
  if (S == INVALID_SOCKET || bind(S, reinterpret_cast<sockaddr *>(&Address), Size) != 0 ||
      getsockname(S, reinterpret_cast<sockaddr *>(&Address), &Size) != 0)
    throw std::runtime_error("cannot bind a loopback socket");
  Port = ntohs(Address.sin_port);
  return S;
}

std::string HeaderValue(const std::string &Head, const std::string &Name) {
  std::string Lower = Head;
  for (char &C : Lower)
    C = static_cast<char>(tolower(static_cast<unsigned char>(C)));
  std::string Key = "\r\n" + Name + ":";
  size_t At = Lower.find(Key);
  if (At == std::string::npos)
    return "";
  size_t Start = Head.find_first_not_of(' ', At + Key.size());
  return Head.substr(Start, Head.find("\r\n", Start) - Start);
}

} // namespace

TServer::TServer(std::function<std::string(const std::string &)> Respond)
    : FRespond(std::move(Respond)) {
  FListener = BoundSocket(FPort);
  listen(FListener, 16);
  FThread = std::thread([this] { Serve(); });
}

TServer::~TServer() {
  FStop = true;
  FThread.join();
  closesocket(FListener);
}

std::string TServer::Url(const std::string &Path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + Path;
}

std::string TServer::Agent() const {
  std::lock_guard Lock(FMutex);
  return FAgent;
}

void TServer::Serve() {
  while (!FStop) {
    fd_set Ready;
    FD_ZERO(&Ready);
    FD_SET(FListener, &Ready);
    timeval Wait{0, 20000};
    if (select(0, &Ready, nullptr, nullptr, &Wait) <= 0)
      continue;
    SOCKET Client = accept(FListener, nullptr, nullptr);
    if (Client != INVALID_SOCKET) {
      Answer(Client);
      closesocket(Client);
    }
  }
}

void TServer::Answer(std::uintptr_t Client) {
  std::string Head;
  char Buffer[4096];
  while (Head.find("\r\n\r\n") == std::string::npos) {
    int Got = recv(Client, Buffer, sizeof Buffer, 0);
    if (Got <= 0)
      return;
    Head.append(Buffer, static_cast<size_t>(Got));
  }
  ++FRequests;
  {
    std::lock_guard Lock(FMutex);
    FAgent = HeaderValue(Head, "user-agent");
  }
  const std::string Response = FRespond(Head.substr(0, Head.find("\r\n")));
  send(Client, Response.data(), static_cast<int>(Response.size()), 0);
  shutdown(Client, SD_SEND);
}

std::string Status(int Code, const std::string &Extra) {
  return "HTTP/1.1 " + std::to_string(Code) + " Status\r\n" + Extra +
         "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

int RefusedPort() {
  int Port = 0;
  closesocket(BoundSocket(Port));
  return Port;
}

} // namespace loopback
