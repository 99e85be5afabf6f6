// Whole validation runs in a real window, each link answered by the stand-in for the system's
// Internet calls.
#include "../builtin_links.h"
#include "fake_wininet.h"
#include "gui.h"
#include "uZelvatorim.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const std::string Blocked =
    "Entre em contato com o Técnico de Informática e solicite a liberação dos links bloqueados!";
const std::string AllClear = "Validação concluída com sucesso!";

HWND H(TControl *Control) {
  return vcl::win32::HandleOf(*Control);
}

// The lines as the text box itself holds them.
std::vector<std::string> ShownLines() {
  std::vector<std::string> Lines;
  const std::string Text = TextOf(H(Form1->memolista));
  for (size_t Start = 0; Start < Text.size();) {
    size_t End = Text.find("\r\n", Start);
    if (End == std::string::npos)
      End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 2;
  }
  return Lines;
}

class Run : public testing::Test {
protected:
  static void SetUpTestSuite() { ShowMainForm(Form1); }
  void SetUp() override { fake_wininet::Reset(); }
  void TearDown() override { EXPECT_EQ(fake_wininet::OpenHandles(), 0); }

  // A click on the button, as the mouse gives it; returns the one box the run showed.
  static TShownBox Validate(WPARAM Close = VK_RETURN) {
    TBoxAnswerer Boxes(Close);
    SendMessageA(H(Form1->btn2), BM_CLICK, 0, 0);
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
    return Boxes.Boxes.empty() ? TShownBox{} : Boxes.Boxes.front();
  }
  // The status line as the layer holds it and as the label paints it.
  static void ExpectStatus(const std::string &Caption, TColor Color, COLORREF Painted) {
    EXPECT_EQ(Form1->lblmsg->Caption, Caption);
    EXPECT_EQ(Form1->lblmsg->Font->Color, Color);
    EXPECT_EQ(TextOf(H(Form1->lblmsg)), Caption);
    HDC DC = CreateCompatibleDC(nullptr);
    SendMessageA(H(Form1), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(DC),
                 reinterpret_cast<LPARAM>(H(Form1->lblmsg)));
    EXPECT_EQ(GetTextColor(DC), Painted);
    DeleteDC(DC);
  }
  static void ExpectCursorRestored() {
    EXPECT_EQ(Screen->Cursor, crDefault);
    SendMessageA(H(Form1), WM_SETCURSOR, reinterpret_cast<WPARAM>(H(Form1)),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_NE(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
  }
};

TEST_F(Run, ProbesEveryLinkInOrderAndReportsTheOutcome) {
  const struct {
    std::string Name;
    std::function<int(const std::string &)> Answer;
    std::vector<std::string> Listed;
    std::string Status, Message;
    TColor Color;
    COLORREF Painted;
    WPARAM Close;
  } Cases[] = {
      {"all clear",
       [](auto &) { return 200; },
       {},
       "Todos os links estão liberados!",
       AllClear,
       clGreen,
       RGB(0, 128, 0),
       VK_RETURN},
      {"401 counts as open",
       [](auto &) { return 401; },
       {},
       "Todos os links estão liberados!",
       AllClear,
       clGreen,
       RGB(0, 128, 0),
       VK_ESCAPE},
      {"no network", [](auto &) { return 0; }, Links, "Links bloqueados:", Blocked, clRed,
       RGB(255, 0, 0), VK_RETURN},
      {"only entry 11 blocked",
       [](const std::string &Url) { return Url == Links[10] ? 404 : 200; },
       {Links[10]},
       "Links bloqueados:",
       Blocked,
       clRed,
       RGB(255, 0, 0),
       VK_ESCAPE},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    fake_wininet::Reset();
    fake_wininet::Answer = Case.Answer;
    TShownBox Box = Validate(Case.Close);
    EXPECT_EQ(fake_wininet::Urls, Links);
    EXPECT_EQ(fake_wininet::Agents, std::vector<std::string>(18, "test_run"));
    // Read back from the text box itself: every line, also those past its visible area.
    EXPECT_EQ(ShownLines(), Case.Listed);
    ExpectStatus(Case.Status, Case.Color, Case.Painted);
    EXPECT_EQ(Box.Title, "test_run");
    EXPECT_EQ(Box.Text, Case.Message);
    EXPECT_FALSE(Box.HasIcon);
    EXPECT_EQ(Box.Buttons, 1);
    EXPECT_TRUE(Box.Centred);
    EXPECT_TRUE(Box.Hourglass) << "the hourglass stays up while the box is shown";
    ExpectCursorRestored();
  }
}

TEST_F(Run, StartsFromAnEmptyTextBoxAndTheRunningStatus) {
  SetWindowTextA(H(Form1->memolista), "typed by the user\r\nsecond line");
  std::string StatusDuringProbes;
  bool Repainted = false;
  fake_wininet::Answer = [&](const std::string &Url) {
    if (Url == Links.front()) {
      StatusDuringProbes = TextOf(H(Form1->lblmsg));
      Repainted = !GetUpdateRect(H(Form1->lblmsg), nullptr, FALSE) &&
                  !GetUpdateRect(H(Form1->memolista), nullptr, FALSE);
    }
    return 200;
  };
  Validate();
  EXPECT_EQ(StatusDuringProbes, "Por favor aguarde, validando links...");
  EXPECT_TRUE(Repainted) << "the window is painted before the first probe";
  EXPECT_TRUE(ShownLines().empty());
}

TEST_F(Run, AnErrorIsShownAfterTheCursorIsRestored) {
  fake_wininet::Answer = [](const std::string &Url) -> int {
    if (Url == Links[4])
      throw Exception("sem rede");
    return 0;
  };
  TShownBox Box = Validate();
  EXPECT_EQ(Box.Text, "Erro: sem rede");
  EXPECT_FALSE(Box.Hourglass);
  EXPECT_EQ(Box.Title, "test_run");
  ExpectCursorRestored();
  // The lines and status stay as they stood when the error came.
  EXPECT_EQ(ShownLines(), std::vector<std::string>(Links.begin(), Links.begin() + 4));
  ExpectStatus("Por favor aguarde, validando links...", clWindowText,
               GetSysColor(COLOR_WINDOWTEXT));
}

// Another kind of exception leaves the run to the layer's own handling in the message loop,
// which shows it and goes on; it never unwinds through the system's frames.
TEST_F(Run, OtherExceptionsAreShownByTheLayerAndTheWindowGoesOn) {
  fake_wininet::Answer = [](const std::string &) -> int { throw std::runtime_error("falhou"); };
  TShownBox Box = Validate();
  EXPECT_EQ(Box.Text, "falhou");
  ExpectCursorRestored();
  fake_wininet::Reset();
  EXPECT_EQ(Validate().Text, AllClear) << "the button still works";
}

} // namespace
