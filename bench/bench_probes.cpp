// Times the program's 18 probes against what a technician would otherwise use, on loopback only.
//
//   bench_probes rounds N   N interleaved rounds of: the 18 probes in-process, the same 18
//                           requests by the curl command line (a process each), and the floor:
//                           a blocking socket that sends one GET and reads the headers. All go
//                           to one loopback proxy that answers 200 at once. One line per round.
//   bench_probes desktop N  N rounds of the 18 probes with the desktop's proxy settings in force
//                           (no variable set) beside the same through http_proxy, both to one
//                           loopback proxy: prints "proxy_port=P", then waits for a line on
//                           stdin, by which the caller has pointed the desktop's settings at P.
//                           Exits 3 when those settings leave any link blocked.
//   bench_probes blackhole  the 18 probes straight to their hosts, no proxy: meant to run in a
//                           network namespace that maps the hosts to 127.0.0.1 and drops every
//                           connection attempt.
//   bench_probes hosts      the links' host names, one a line, for that namespace's hosts file.
#include "builtin_links.h"
#include "loopback.h"
#include "uZelvatorim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsOf(const std::function<void()> &Work) {
  const auto Start = Clock::now();
  Work();
  return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

void Require(bool Condition, const std::string &What) {
  if (!Condition)
    throw std::runtime_error(What);
}

std::string HostOf(std::string_view Link) {
  Link.remove_prefix(std::strlen("http://"));
  return std::string(Link.substr(0, Link.find_first_of(":/")));
}

// The request target a client sends a proxy: a bare host gets its "/".
std::string ProxyTarget(const std::string &Link) {
  return Link.find('/', std::strlen("http://")) == std::string::npos ? Link + "/" : Link;
}

void Probes() {
  for (const char *Link : BuiltInLinks)
    Require(Form1->TestarLink(Link), std::string("the probe found blocked: ") + Link);
}

// `curl -s -o /dev/null -w '%{http_code}' URL`, one process per link, its output checked.
void CurlCommandLine() {
  for (const char *Link : BuiltInLinks) {
    int Out[2];
    Require(pipe(Out) == 0, "pipe");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&Actions, Out[0]);
    posix_spawn_file_actions_addclose(&Actions, Out[1]);
    const char *Argv[] = {"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", Link, nullptr};
    pid_t Child = 0;
    const int Spawned =
        posix_spawnp(&Child, "curl", &Actions, nullptr, const_cast<char *const *>(Argv), environ);
    posix_spawn_file_actions_destroy(&Actions);
    close(Out[1]);
    std::string Code;
    char Buffer[64];
    for (ssize_t N; Spawned == 0 && (N = read(Out[0], Buffer, sizeof Buffer)) > 0;)
      Code.append(Buffer, static_cast<size_t>(N));
    close(Out[0]);
    int Status = 0;
    Require(Spawned == 0 && waitpid(Child, &Status, 0) == Child, "cannot run curl");
    Require(WIFEXITED(Status) && WEXITSTATUS(Status) == 0 && Code == "200",
            std::string("curl did not get 200 for ") + Link + ": " + Code);
  }
}

// The least any client must do: connect, send one GET, read up to the end of the headers, close.
void Floor(int ProxyPort) {
  sockaddr_in Proxy{};
  Proxy.sin_family = AF_INET;
  Proxy.sin_port = htons(static_cast<uint16_t>(ProxyPort));
  Proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (const char *Link : BuiltInLinks) {
    const std::string Request = "GET " + ProxyTarget(Link) + " HTTP/1.1\r\nHost: " + HostOf(Link) +
                                "\r\nUser-Agent: bench_probes\r\nAccept: */*\r\n\r\n";
    const int Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Require(Socket >= 0, "socket");
    Require(connect(Socket, reinterpret_cast<sockaddr *>(&Proxy), sizeof Proxy) == 0 &&
                send(Socket, Request.data(), Request.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(Request.size()),
            "cannot reach the proxy");
    std::string Answer;
    char Buffer[4096];
    for (ssize_t N; Answer.find("\r\n\r\n") == std::string::npos &&
                    (N = recv(Socket, Buffer, sizeof Buffer, 0)) > 0;)
      Answer.append(Buffer, static_cast<size_t>(N));
    close(Socket);
    Require(Answer.rfind("HTTP/1.1 200", 0) == 0, std::string("no 200 for ") + Link);
  }
}

int Rounds(int Count) {
  loopback::Proxy Proxy([](const std::string &) { return 200; });
  setenv("http_proxy", Proxy.Address().c_str(), 1);
  const std::function<void()> Kinds[] = {Probes, CurlCommandLine, [&] { Floor(Proxy.Port()); }};
  for (int Round = 1; Round <= Count; ++Round) {
    double Took[3];
    // Each round starts with another kind, so that none always runs first.
    for (int Step = 0; Step < 3; ++Step) {
      const int Kind = (Round + Step) % 3;
      Took[Kind] = MillisecondsOf(Kinds[Kind]);
    }
    std::printf("round=%d probe_ms=%.3f curl_cli_ms=%.3f floor_ms=%.3f\n", Round, Took[0], Took[1],
                Took[2]);
    std::fflush(stdout);
  }
  Require(Proxy.Requests().size() == 3u * 18 * static_cast<unsigned>(Count),
          "the proxy did not see every request");
  return 0;
}

int Desktop(int Count) {
  loopback::Proxy Proxy([](const std::string &) { return 200; });
  std::printf("proxy_port=%d\n", Proxy.Port());
  std::fflush(stdout);
  std::string Ready;
  Require(static_cast<bool>(std::getline(std::cin, Ready)), "no word that the settings are set");
  const auto Variable = [&] {
    const loopback::ScopedEnv Env("http_proxy", Proxy.Address());
    return MillisecondsOf(Probes);
  };
  int Blocked = 0;
  const auto Desktop = [&] {
    return MillisecondsOf([&] {
      for (const char *Link : BuiltInLinks)
        Blocked += Form1->TestarLink(Link) ? 0 : 1;
    });
  };
  for (int Round = 1; Round <= Count; ++Round) {
    double Took[2];
    // Each round starts with the other kind, so that neither always runs first.
    if (Round % 2 == 0) {
      Took[0] = Variable();
      Took[1] = Desktop();
    } else {
      Took[1] = Desktop();
      Took[0] = Variable();
    }
    if (Blocked > 0) {
      std::printf("desktop_blocked=%d\n", Blocked);
      return 3;
    }
    std::printf("round=%d env_ms=%.3f desktop_ms=%.3f\n", Round, Took[0], Took[1]);
    std::fflush(stdout);
  }
  Require(Proxy.Requests().size() == 2u * 18 * static_cast<unsigned>(Count),
          "the proxy did not see every request");
  return 0;
}

int Blackhole() {
  int Blocked = 0;
  const double Took = MillisecondsOf([&] {
    for (const char *Link : BuiltInLinks)
      Blocked += Form1->TestarLink(Link) ? 0 : 1;
  });
  std::printf("blackhole_s=%.3f blocked=%d\n", Took / 1000, Blocked);
  return Blocked == 18 ? 0 : 1;
}

int Hosts() {
  std::set<std::string> Names;
  for (const char *Link : BuiltInLinks)
    Names.insert(HostOf(Link));
  for (const std::string &Name : Names)
    std::printf("%s\n", Name.c_str());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::string Mode = argc > 1 ? argv[1] : "";
  try {
    if (Mode == "hosts")
      return Hosts();
    // No proxy settings of this machine apply: rounds set http_proxy to their own proxy, the
    // desktop run has its caller's settings, the blackhole run goes straight to the hosts.
    for (const char *Name :
         {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
      unsetenv(Name);
    // The probes' window, as the program makes it, on Qt's offscreen platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Application->Initialize();
    Application->CreateForm(Form1);
    if (Mode == "rounds" && argc == 3)
      return Rounds(std::max(1, std::atoi(argv[2])));
    if (Mode == "desktop" && argc == 3)
      return Desktop(std::max(1, std::atoi(argv[2])));
    if (Mode == "blackhole")
      return Blackhole();
  } catch (const std::exception &E) {
    std::fprintf(stderr, "bench_probes: %s\n", E.what());
    return 1;
  }
  std::fprintf(stderr, "usage: bench_probes rounds N | desktop N | blackhole | hosts\n");
  return 2;
}
