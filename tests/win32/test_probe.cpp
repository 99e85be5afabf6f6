// The link probe against loopback servers, through the system's own Internet API.
#include "servers.h"
#include "uZelvatorim.h"

#include <gtest/gtest.h>

namespace {

using loopback::Status;
using loopback::TServer;

TServer &Answering(int Code) {
  static std::map<int, std::unique_ptr<TServer>> Servers;
  auto &Server = Servers[Code];
  if (!Server)
    Server = std::make_unique<TServer>([Code](const std::string &) { return Status(Code); });
  return *Server;
}

std::string RedirectTo(int Redirect, int Final) {
  static std::vector<std::unique_ptr<TServer>> Servers;
  const std::string Target = Answering(Final).Url("/final");
  Servers.push_back(std::make_unique<TServer>([Redirect, Target](const std::string &) {
    return Status(Redirect, "Location: " + Target + "\r\n");
  }));
  return Servers.back()->Url("/moved");
}

TEST(Probe, AnswersTrueOnlyFor200And401) {
  TForm1 Form(nullptr);
  const struct {
    std::string Name, Url;
    bool Reachable;
  } Cases[] = {
      {"200", Answering(200).Url("/"), true},
      {"401", Answering(401).Url("/services/Clientes?wsdl"), true},
      {"403", Answering(403).Url("/"), false},
      {"404", Answering(404).Url("/nada"), false},
      {"500", Answering(500).Url("/"), false},
      {"204", Answering(204).Url("/"), false},
      {"302 to 200", RedirectTo(302, 200), true},
      {"301 to 404", RedirectTo(301, 404), false},
      {"307 to 401", RedirectTo(307, 401), true},
      {"refused port", "http://127.0.0.1:" + std::to_string(loopback::RefusedPort()) + "/", false},
      {"empty URL", "", false},
      {"malformed URL", "http//127.0.0.1", false},
  };
  for (const auto &Case : Cases)
    EXPECT_EQ(Form.TestarLink(Case.Url), Case.Reachable) << Case.Name << ": " << Case.Url;
}

// One request per probe, named by the application title; a second probe makes its own.
TEST(Probe, MakesOneRequestPerCallWithTheTitleAsAgent) {
  TForm1 Form(nullptr);
  TServer Server([](const std::string &) { return Status(200); });
  EXPECT_TRUE(Form.TestarLink(Server.Url("/a")));
  EXPECT_EQ(Server.Requests(), 1);
  EXPECT_TRUE(Form.TestarLink(Server.Url("/a")));
  EXPECT_EQ(Server.Requests(), 2);
  EXPECT_EQ(Server.Agent(), Application->Title);
  EXPECT_EQ(Application->Title, "test_probe");
}

} // namespace
