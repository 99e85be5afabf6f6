// The main window as the stored layout builds it, read back from the real windows.
#include "fake_wininet.h"
#include "gui.h"
#include "uZelvatorim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

HWND H(TControl *Control) {
  return vcl::win32::HandleOf(*Control);
}

LOGFONTA FontOf(HWND Window) {
  LOGFONTA Font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Window, WM_GETFONT, 0, 0)), sizeof Font, &Font);
  return Font;
}

// Where a control sits in its form's client area.
RECT PlaceOf(HWND Window) {
  RECT Place;
  GetWindowRect(Window, &Place);
  MapWindowPoints(nullptr, GetParent(Window), reinterpret_cast<POINT *>(&Place), 2);
  return Place;
}

SIZE TextSize(HWND Window, const std::string &Text) {
  HDC DC = GetDC(Window);
  HGDIOBJ Previous =
      SelectObject(DC, reinterpret_cast<HFONT>(SendMessageA(Window, WM_GETFONT, 0, 0)));
  SIZE Size{};
  GetTextExtentPoint32A(DC, Text.c_str(), static_cast<int>(Text.size()), &Size);
  SelectObject(DC, Previous);
  ReleaseDC(Window, DC);
  return Size;
}

class Window : public testing::Test {
protected:
  static void SetUpTestSuite() {
    ShowMainForm(Form1);
    Application->ProcessMessages();
  }
  void SetUp() override { fake_wininet::Reset(); }
};

TEST_F(Window, IsAFixedFrameWithTheStoredClientSizeCentredOnTheDesktop) {
  HDC Screen = GetDC(nullptr);
  ASSERT_EQ(GetDeviceCaps(Screen, LOGPIXELSY), 96) << "the values below are those at 96 dpi";
  ReleaseDC(nullptr, Screen);

  HWND Form = H(Form1);
  EXPECT_EQ(ClassOf(Form), "TForm");
  EXPECT_EQ(TextOf(Form), "Telvaro Zelvatorim de Links - v.23.10vo0(VE)");
  RECT Client;
  GetClientRect(Form, &Client);
  EXPECT_EQ(Client.right, 481);
  EXPECT_EQ(Client.bottom, 237);

  const LONG_PTR Style = GetWindowLongPtrA(Form, GWL_STYLE);
  EXPECT_TRUE(Style & WS_SYSMENU);
  EXPECT_TRUE(Style & WS_MINIMIZEBOX);
  EXPECT_FALSE(Style & WS_MAXIMIZEBOX) << "no maximise button";
  EXPECT_FALSE(Style & WS_THICKFRAME) << "not resizable";
  EXPECT_TRUE(IsWindowVisible(Form));

  RECT Frame;
  GetWindowRect(Form, &Frame);
  EXPECT_LE(std::abs(Frame.left + Frame.right - GetSystemMetrics(SM_CXVIRTUALSCREEN)), 1);
  EXPECT_LE(std::abs(Frame.top + Frame.bottom - GetSystemMetrics(SM_CYVIRTUALSCREEN)), 1);
}

TEST_F(Window, ControlsHaveTheStoredPlacesFontsAndTexts) {
  const SIZE Blank = TextSize(H(Form1->lblmsg), " ");
  const struct {
    TControl *Control;
    std::string Class;
    RECT Place;
    LONG FontHeight;
    bool Bold;
    std::string Text;
  } Cases[] = {
      {Form1->btn2, "Button", {16, 9, 16 + 75, 9 + 25}, -11, false, "Validar Links"},
      {Form1->memolista, "Edit", {16, 41, 16 + 452, 41 + 161}, -11, false, ""},
      // Sized to its empty caption: one blank wide.
      {Form1->lblmsg, "Static", {98, 16, 98 + Blank.cx, 16 + Blank.cy}, -13, true, ""},
  };
  for (const auto &Case : Cases) {
    HWND Control = H(Case.Control);
    SCOPED_TRACE(Case.Class);
    EXPECT_EQ(ClassOf(Control), Case.Class);
    EXPECT_EQ(GetParent(Control), H(Form1));
    RECT Place = PlaceOf(Control);
    EXPECT_EQ(Place.left, Case.Place.left);
    EXPECT_EQ(Place.top, Case.Place.top);
    EXPECT_EQ(Place.right, Case.Place.right);
    EXPECT_EQ(Place.bottom, Case.Place.bottom);
    LOGFONTA Font = FontOf(Control);
    EXPECT_STREQ(Font.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(Font.lfHeight, Case.FontHeight);
    EXPECT_EQ(Font.lfWeight, Case.Bold ? FW_BOLD : FW_NORMAL);
    EXPECT_EQ(TextOf(Control), Case.Text);
  }
}

TEST_F(Window, TheTextBoxWrapsWordsHasNoScrollBarsAndKeepsEveryLine) {
  HWND Memo = H(Form1->memolista);
  const LONG_PTR Style = GetWindowLongPtrA(Memo, GWL_STYLE);
  EXPECT_TRUE(Style & ES_MULTILINE);
  EXPECT_TRUE(Style & ES_AUTOVSCROLL) << "without it, text past the visible lines is refused";
  EXPECT_FALSE(Style & ES_AUTOHSCROLL) << "words wrap";
  EXPECT_FALSE(Style & (WS_VSCROLL | WS_HSCROLL));
  EXPECT_TRUE(GetWindowLongPtrA(Memo, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

  Form1->memolista->Clear();
  for (int I = 0; I < 40; ++I)
    Form1->memolista->Lines->Add("linha " + std::to_string(I));
  EXPECT_EQ(Form1->memolista->Lines->Count, 40);
  EXPECT_EQ((*Form1->memolista->Lines)[39], "linha 39");
  EXPECT_EQ(SendMessageA(Memo, EM_GETLINECOUNT, 0, 0), 41) << "40 lines and the caret's";
  Form1->memolista->Clear();
}

TEST_F(Window, TheStatusLineSizesItselfToItsCaption) {
  Form1->lblmsg->Caption = "Links bloqueados:";
  HWND Label = H(Form1->lblmsg);
  const SIZE Text = TextSize(Label, "Links bloqueados:");
  RECT Place = PlaceOf(Label);
  EXPECT_EQ(Place.right - Place.left, Text.cx);
  EXPECT_EQ(Place.bottom - Place.top, Text.cy);
  Form1->lblmsg->Caption = "";
}

TEST_F(Window, TheButtonHasTheFocusAndTheKeysOfADialog) {
  EXPECT_EQ(GetActiveWindow(), H(Form1));
  EXPECT_EQ(GetFocus(), H(Form1->btn2)) << "the first control in tab order";
  PressKey(VK_TAB);
  EXPECT_EQ(GetFocus(), H(Form1->memolista));
  PressKey(VK_TAB);
  EXPECT_EQ(GetFocus(), H(Form1->btn2));

  TBoxAnswerer Boxes;
  PressKey(VK_RETURN);
  EXPECT_EQ(fake_wininet::Urls.size(), 18u) << "Enter on the button starts one run";
  ASSERT_EQ(Boxes.Boxes.size(), 1u);
  EXPECT_EQ(Boxes.Boxes[0].Text, "Validação concluída com sucesso!");
}

// Scaling as Windows 8.1 and later do it, for processes started while it holds: a program is
// unaware of the screen's density unless it says otherwise, and is then shown at 96 dpi,
// stretched as a bitmap. (Wine otherwise takes every program as aware.)
class TPerMonitorScaling {
public:
  TPerMonitorScaling() {
    const DWORD Version = 0x1000;
    RegSetKeyValueA(HKEY_CURRENT_USER, Key, "DpiScalingVer", REG_DWORD, &Version, sizeof Version);
  }
  TPerMonitorScaling(const TPerMonitorScaling &) = delete;
  TPerMonitorScaling &operator=(const TPerMonitorScaling &) = delete;
  ~TPerMonitorScaling() { RegDeleteKeyValueA(HKEY_CURRENT_USER, Key, "DpiScalingVer"); }

private:
  static constexpr char Key[] = "Control Panel\\Desktop";
};

const char AwarenessChild[] = "ZELVATORIM_AWARENESS_CHILD";

// The layer's start-up, which this test program went through as the program does, declares it.
// Checked in a copy of this process started under that scaling, which this one was not; a suite
// of its own, so that the copy shows no window to take the activation from the tests'.
TEST(StartUp, DeclaresTheProcessAwareOfTheScreensDensity) {
  if (std::getenv(AwarenessChild)) {
    EXPECT_TRUE(IsProcessDPIAware());
    return;
  }
  TPerMonitorScaling Scaling;
  char Self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, Self, MAX_PATH);
  const std::string Name = testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string Command = std::string("\"") + Self + "\" --gtest_filter=StartUp." + Name;
  SetEnvironmentVariableA(AwarenessChild, "1");
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Child{};
  const BOOL Started = CreateProcessA(Self, Command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &Startup, &Child);
  SetEnvironmentVariableA(AwarenessChild, nullptr);
  ASSERT_TRUE(Started);
  DWORD ExitCode = 259;
  if (WaitForSingleObject(Child.hProcess, 60000) == WAIT_OBJECT_0)
    GetExitCodeProcess(Child.hProcess, &ExitCode);
  CloseHandle(Child.hThread);
  CloseHandle(Child.hProcess);
  EXPECT_EQ(ExitCode, 0u) << "the copy found itself unaware, or did not end";
}

} // namespace
