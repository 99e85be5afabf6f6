// Whole validation runs in a real window, with the built-in links routed through a loopback
// proxy that decides each link's answer.
#include "builtin_links.h"
#include "gui.h"
#include "loopback.h"
#include "uZelvatorim.h"
#include "vcl_qt.h"
#include "wininet_handles.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <set>

namespace {

using namespace loopback;

const std::string Entry11 = Links[10];

// A proxy sees a bare host with the root path the client adds.
std::string AsProxied(const std::string &Link) {
  return Link.find('/', 7) == std::string::npos ? Link + "/" : Link;
}

class Run : public testing::Test {
protected:
  static void SetUpTestSuite() { ShowMainForm(Form1); }
  void TearDown() override { EXPECT_EQ(wininet::OpenHandleCount(), 0); }

  std::function<int(const std::string &)> Answer = [](auto &) { return 200; };
  Proxy Routes{[this](const std::string &Url) { return Answer(Url); }};
  ScopedEnv HttpProxy{"http_proxy", Routes.Address()}, NoProxy{"no_proxy", std::nullopt},
      NoProxyUpper{"NO_PROXY", std::nullopt};

  TShownBox Validate(Qt::Key Close = Qt::Key_Return) {
    TBoxAnswerer Boxes(Close);
    QTest::mouseClick(vcl::qt::WidgetOf(*Form1->btn2), Qt::LeftButton);
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
    return Boxes.Boxes.empty() ? TShownBox{} : Boxes.Boxes.front();
  }
  static std::vector<std::string> Listed() {
    std::vector<std::string> Lines;
    for (int I = 0; I < Form1->memolista->Lines->Count; ++I)
      Lines.push_back((*Form1->memolista->Lines)[I]);
    return Lines;
  }
  static void ExpectStatus(const std::string &Caption, TColor Color, QColor Shown) {
    EXPECT_EQ(Form1->lblmsg->Caption, Caption);
    EXPECT_EQ(Form1->lblmsg->Font->Color, Color);
    auto *Label = static_cast<QLabel *>(vcl::qt::WidgetOf(*Form1->lblmsg));
    EXPECT_EQ(Label->text().toStdString(), Caption);
    EXPECT_EQ(Label->palette().color(QPalette::WindowText), Shown);
  }
};

TEST_F(Run, StartsIdle) {
  ExpectStatus("", clWindowText, QApplication::palette().color(QPalette::WindowText));
  EXPECT_EQ(Form1->memolista->Lines->Count, 0);
  EXPECT_EQ(Screen->Cursor, crDefault);
}

TEST_F(Run, AllClear) {
  Answer = [](const std::string &Url) { return Url.find("soap") != std::string::npos ? 401 : 200; };
  TShownBox Box = Validate();
  EXPECT_EQ(Box.Text, "Validação concluída com sucesso!");
  EXPECT_EQ(Box.Title, "test_run");
  EXPECT_FALSE(Box.HasIcon);
  EXPECT_EQ(Box.Buttons, 1);
  EXPECT_TRUE(Box.Centred);
  EXPECT_TRUE(Box.Hourglass) << "the hourglass stays up while the box is shown";
  EXPECT_EQ(Screen->Cursor, crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Form1->memolista->Lines->Count, 0);
  ExpectStatus("Todos os links estão liberados!", clGreen, QColor(0, 128, 0));

  std::vector<std::string> Expected;
  for (const std::string &Link : Links)
    Expected.push_back(AsProxied(Link));
  std::vector<std::string> Seen;
  for (const SeenRequest &Request : Routes.Requests()) {
    EXPECT_EQ(Request.method, "GET");
    EXPECT_EQ(Request.userAgent, "test_run");
    Seen.push_back(Request.target);
  }
  EXPECT_EQ(Seen, Expected);
}

TEST_F(Run, AllBlockedListsEveryLinkInTableOrder) {
  Answer = [](auto &) { return 404; };
  TShownBox Box = Validate(Qt::Key_Escape);
  EXPECT_EQ(Box.Text, "Entre em contato com o Técnico de Informática e solicite a liberação dos "
                      "links bloqueados!");
  EXPECT_TRUE(Box.Hourglass);
  EXPECT_EQ(Listed(), Links);
  ExpectStatus("Links bloqueados:", clRed, QColor(255, 0, 0));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(Run, OnlyEntry11Blocked) {
  Answer = [](const std::string &Url) { return Url == Entry11 ? 503 : 200; };
  Validate();
  EXPECT_EQ(Listed(), std::vector<std::string>{Entry11});
  ExpectStatus("Links bloqueados:", clRed, QColor(255, 0, 0));
}

TEST_F(Run, TextTypedBeforeTheClickIsDiscarded) {
  QTest::keyClicks(vcl::qt::WidgetOf(*Form1->memolista), "digitado pelo usuario");
  ASSERT_EQ(Form1->memolista->Lines->Count, 1);
  Validate();
  EXPECT_EQ(Form1->memolista->Lines->Count, 0);
  ExpectStatus("Todos os links estão liberados!", clGreen, QColor(0, 128, 0));
}

TEST_F(Run, ARunAfterABlockedRunStartsEmptyAndRunning) {
  Answer = [](auto &) { return 404; };
  Validate();
  ASSERT_EQ(Form1->memolista->Lines->Count, 18);

  // The window is blocked inside the probe while the proxy answers, so its state holds still.
  std::atomic<bool> First = true;
  std::string CaptionDuringRun;
  TColor ColorDuringRun = clBlack;
  Answer = [&](const std::string &Url) {
    if (First.exchange(false)) {
      CaptionDuringRun = Form1->lblmsg->Caption;
      ColorDuringRun = Form1->lblmsg->Font->Color;
    }
    return Url == Entry11 ? 404 : 200;
  };
  Validate();
  EXPECT_EQ(CaptionDuringRun, "Por favor aguarde, validando links...");
  EXPECT_EQ(ColorDuringRun, clWindowText);
  EXPECT_EQ(Listed(), std::vector<std::string>{Entry11});
}

// What the links must keep whatever their names: ports, shared hosts and the form of each path.
// The runs above check that the program probes and lists exactly these.
TEST(Links, HaveTheirFixedForm) {
  const std::string None = "", S = R"(/[^/]+/services/\w+\?wsdl)", W = R"(/[^/]+\.\w+/wsdl/\w+)",
                    Page1 = R"(/\w+)";
  const struct {
    int Port;
    std::string Path;
  } Form[] = {{8902, None},
              {2020, S},
              {2020, S},
              {80, W},
              {80, W},
              {80, W},
              {80, W},
              {80, None},
              {2020, Page1},
              {2020, S},
              {2020, R"(/\w+/\w+/\w+/\w+)"},
              {80, Page1},
              {80, R"(/\w+/\w+/\w+\.php)"},
              {80, None},
              {32100, S},
              {32400, R"(/\w+/wsdl/\w+\.wsdl)"},
              {32400, R"(/\w+/services/\w+)"},
              {80, Page1}};
  const std::regex Url(R"(http://([a-z.]+\.example)(:(\d+))?(.*))");
  std::vector<std::string> Hosts;
  for (size_t I = 0; I < Links.size(); ++I) {
    std::smatch Parts;
    ASSERT_TRUE(std::regex_match(Links[I], Parts, Url)) << Links[I];
    Hosts.push_back(Parts[1]);
    EXPECT_EQ(Parts[3].matched ? std::stoi(Parts[3]) : 80, Form[I].Port) << Links[I];
    EXPECT_NE(Parts[3], "80") << "the default port is left out";
    EXPECT_TRUE(std::regex_match(std::string(Parts[4]), std::regex(Form[I].Path))) << Links[I];
  }
  EXPECT_EQ(std::set<std::string>(Hosts.begin(), Hosts.end()).size(), 11u);
  const std::vector<std::vector<int>> SharedHosts = {{2, 3},  {4, 5},   {7, 8, 15},
                                                     {9, 11}, {12, 18}, {16, 17}};
  for (const auto &Group : SharedHosts)
    for (int Entry : Group)
      EXPECT_EQ(Hosts[Entry - 1], Hosts[Group[0] - 1]) << "entry " << Entry;
  EXPECT_TRUE(Links[10].starts_with(Links[8] + "/")) << "entry 11 extends entry 9's path";
  EXPECT_EQ(Links[16].substr(0, Links[16].find("/services/")),
            Links[15].substr(0, Links[15].find("/wsdl/")));
}

} // namespace
