// The probe against real servers on loopback, through the real Internet layer.
#include "gui.h"
#include "loopback.h"
#include "uZelvatorim.h"
#include "wininet_handles.h"

#include <gtest/gtest.h>

namespace {

using namespace loopback;

class Probe : public testing::Test {
protected:
  static void SetUpTestSuite() { ShowMainForm(Form1); }
  void TearDown() override { EXPECT_EQ(wininet::OpenHandleCount(), 0); }

  // Straight to the servers, whatever this machine's proxy settings are.
  ScopedEnv NoHttpProxy{"http_proxy", std::nullopt}, NoAllProxy{"all_proxy", std::nullopt},
      NoAllProxyUpper{"ALL_PROXY", std::nullopt};
};

TEST_F(Probe, ReachableOnlyWhenTheFinalAnswerIs200Or401) {
  HttpServer Server;
  Server.Route("/ok", {200, {}, "ok"});
  Server.Route("/auth", {401, {{"WWW-Authenticate", "Basic realm=\"x\""}}, ""});
  Server.Route("/forbidden", {403, {}, ""});
  Server.Route("/error", {500, {}, ""});
  Server.Route("/to-ok", {302, {{"Location", "/ok"}}, ""});
  Server.Route("/to-missing", {301, {{"Location", Server.Url("/missing")}}, ""});
  const struct {
    std::string Url;
    bool Reachable;
  } Cases[] = {
      {Server.Url("/ok"), true},
      {Server.Url("/auth"), true},
      {Server.Url("/missing"), false},
      {Server.Url("/error"), false},
      {Server.Url("/forbidden"), false},
      {Server.Url("/to-ok"), true},
      {Server.Url("/to-missing"), false},
      {"http://127.0.0.1:" + std::to_string(RefusedPort()) + "/", false},
      {"http://" + std::string(64, 'x') + ".invalid/", false}, // refused without a DNS query
      {"", false},
      {"http//127.0.0.1/", false},
      {"not a url at all", false},
  };
  for (const auto &Case : Cases)
    EXPECT_EQ(Form1->TestarLink(Case.Url), Case.Reachable) << '"' << Case.Url << '"';
}

TEST_F(Probe, SendsTheTitleAsAgentOnAGetPerProbe) {
  HttpServer Server;
  Server.Route("/ok", {200, {}, ""});
  Form1->TestarLink(Server.Url("/ok"));
  Form1->TestarLink(Server.Url("/ok"));
  auto Seen = Server.Requests();
  ASSERT_EQ(Seen.size(), 2u);
  for (const SeenRequest &Request : Seen) {
    EXPECT_EQ(Request.method, "GET");
    EXPECT_EQ(Request.userAgent, "test_probe");
  }
}

} // namespace
