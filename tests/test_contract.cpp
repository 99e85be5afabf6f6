// The probe's exact dealings with the system's Internet API, and the run's error path, against a
// stand-in that records every call.
#include "gui.h"
#include "uZelvatorim.h"
#include "wininet_handles.h"
#include "wininet_record.h"

#include "vcl_qt.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using wininet::record::Calls;
using wininet::record::TScript;

class Probe : public testing::Test {
protected:
  static void SetUpTestSuite() { ShowMainForm(Form1); }
  void TearDown() override { EXPECT_EQ(wininet::OpenHandleCount(), 0); }
};

TScript Answering(std::optional<std::string> Status) {
  TScript Script;
  Script.Status = [Status](auto &) { return Status; };
  return Script;
}

TEST_F(Probe, CallsTheApiWithTheExactArgumentsInOrder) {
  wininet::record::Reset();
  EXPECT_TRUE(Form1->TestarLink("http://a.example:2020/x?wsdl"));
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{
                R"(InternetOpenA("test_contract", 4, null, null, 0x0) -> S1)",
                R"(InternetOpenUrlA(S1, "http://a.example:2020/x?wsdl", null, 0, 0x200, 0) -> U1)",
                "HttpQueryInfoA(U1, 19, buffer, 513, 0)",
                "InternetCloseHandle(U1)",
                "InternetCloseHandle(S1)",
            }));
}

TEST_F(Probe, ClosesTheSessionWhenNoUrlHandleCameBack) {
  wininet::record::Reset(Answering(std::nullopt));
  EXPECT_FALSE(Form1->TestarLink("http://a.example"));
  EXPECT_EQ(Calls().size(), 3u);
  EXPECT_EQ(Calls().back(), "InternetCloseHandle(S1)");
}

TEST_F(Probe, ClosesWhatItHasWhenNoSessionCameBack) {
  TScript Script;
  Script.NoSession = true;
  wininet::record::Reset(Script);
  EXPECT_FALSE(Form1->TestarLink("http://a.example"));
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         R"(InternetOpenA("test_contract", 4, null, null, 0x0) -> null)",
                         R"(InternetOpenUrlA(null, "http://a.example", null, 0, 0x200, 0) -> null)",
                         "InternetCloseHandle(null)",
                     }));
}

TEST_F(Probe, ClosesBothWhenTheQueryFails) {
  TScript Script;
  Script.QueryFails = true;
  wininet::record::Reset(Script);
  EXPECT_FALSE(Form1->TestarLink("http://a.example"));
  EXPECT_EQ(Calls().size(), 5u);
}

TEST_F(Probe, OnlyExactly200And401AreReachable) {
  const struct {
    std::string Status;
    bool Reachable;
  } Cases[] = {{"200", true},   {"401", true}, {"404", false}, {"500", false},  {"403", false},
               {"2000", false}, {"20", false}, {"", false},    {"200 ", false}, {" 401", false}};
  for (const auto &Case : Cases) {
    wininet::record::Reset(Answering(Case.Status));
    EXPECT_EQ(Form1->TestarLink("http://a.example"), Case.Reachable) << '"' << Case.Status << '"';
  }
}

TEST_F(Probe, TwoProbesOfOneUrlEachOpenTheirOwnSession) {
  wininet::record::Reset();
  Form1->TestarLink("http://a.example");
  Form1->TestarLink("http://a.example");
  EXPECT_EQ(Calls()[5], R"(InternetOpenA("test_contract", 4, null, null, 0x0) -> S2)");
  EXPECT_EQ(Calls()[9], "InternetCloseHandle(S2)");
}

TEST_F(Probe, AnErrorInsideTheRunIsShownAndTheCursorRestored) {
  TScript Script;
  Script.Status = [](const std::string &Url) -> std::optional<std::string> {
    if (Url.find("nfe") != std::string::npos)
      throw Exception("sem memória");
    return "404";
  };
  wininet::record::Reset(Script);
  TBoxAnswerer Answer;
  Form1->ValidarLinks();
  ASSERT_EQ(Answer.Boxes.size(), 1u);
  EXPECT_EQ(Answer.Boxes[0].Text, "Erro: sem memória");
  EXPECT_FALSE(Answer.Boxes[0].Hourglass) << "the cursor is restored before the error is shown";
  EXPECT_EQ(Screen->Cursor, crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  // The status line and the list stay as they were when the error came.
  EXPECT_EQ(Form1->lblmsg->Caption, "Por favor aguarde, validando links...");
  EXPECT_EQ(Form1->memolista->Lines->Count, 6);
}

TEST_F(Probe, AnErrorOfAnotherKindReachesTheLoopWhichShowsItAndGoesOn) {
  TScript Script;
  Script.Status = [](auto &) -> std::optional<std::string> { throw std::runtime_error("falha"); };
  wininet::record::Reset(Script);
  TBoxAnswerer Answer;
  QTest::mouseClick(vcl::qt::WidgetOf(*Form1->btn2), Qt::LeftButton);
  ASSERT_EQ(Answer.Boxes.size(), 1u);
  EXPECT_EQ(Answer.Boxes[0].Title, "test_contract");
  EXPECT_EQ(Answer.Boxes[0].Text, "falha");
  EXPECT_EQ(Screen->Cursor, crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
