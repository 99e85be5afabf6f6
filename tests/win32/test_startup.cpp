// The built program started as the system starts it: its first window follows the show command
// it was given, and closing the window ends it with exit code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The program sits at the top of the build folder, two levels above this test.
std::string ProgramPath() {
  char Path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, Path, MAX_PATH);
  std::string Folder(Path);
  for (int Up = 0; Up < 3; ++Up)
    Folder.resize(Folder.find_last_of('\\'));
  return Folder + "\\Zelvatorim.exe";
}

struct TFound {
  DWORD Process;
  HWND Window;
};

BOOL CALLBACK FindForm(HWND Window, LPARAM Param) {
  auto *Found = reinterpret_cast<TFound *>(Param);
  DWORD Process = 0;
  char Class[16] = "";
  GetWindowThreadProcessId(Window, &Process);
  GetClassNameA(Window, Class, sizeof Class);
  if (Process == Found->Process && std::string(Class) == "TForm" && IsWindowVisible(Window)) {
    Found->Window = Window;
    return FALSE;
  }
  return TRUE;
}

// The program, started with a show command, until its main window is up.
class TProgram {
public:
  explicit TProgram(WORD Show) {
    const std::string Program = ProgramPath();
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESHOWWINDOW;
    Startup.wShowWindow = Show;
    std::string Command = "\"" + Program + "\"";
    if (!CreateProcessA(Program.c_str(), Command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &Startup, &FStarted))
      return;
    WaitForInputIdle(FStarted.hProcess, 10000);
    TFound Found{FStarted.dwProcessId, nullptr};
    for (int Try = 0; Try < 200 && !Found.Window; ++Try) {
      EnumWindows(FindForm, reinterpret_cast<LPARAM>(&Found));
      if (!Found.Window)
        Sleep(50);
    }
    Window = Found.Window;
  }
  TProgram(const TProgram &) = delete;
  TProgram &operator=(const TProgram &) = delete;
  ~TProgram() {
    if (!FStarted.hProcess)
      return;
    TerminateProcess(FStarted.hProcess, 2); // only if Close did not end it
    CloseHandle(FStarted.hThread);
    CloseHandle(FStarted.hProcess);
  }
  HWND Window = nullptr;

  // Closes the main window as its frame's close button does; the program's exit code.
  DWORD Close() {
    PostMessageA(Window, WM_CLOSE, 0, 0);
    DWORD ExitCode = 259;
    if (WaitForSingleObject(FStarted.hProcess, 10000) == WAIT_OBJECT_0)
      GetExitCodeProcess(FStarted.hProcess, &ExitCode);
    return ExitCode;
  }

private:
  PROCESS_INFORMATION FStarted{};
};

TEST(Startup, FollowsTheShowCommandAndEndsWithZeroWhenClosed) {
  const struct {
    std::string Name;
    WORD Show;
    bool Maximised, Minimised;
  } Cases[] = {
      {"normal", SW_SHOWNORMAL, false, false},
      {"maximised", SW_SHOWMAXIMIZED, true, false},
      {"minimised without activation", SW_SHOWMINNOACTIVE, false, true},
      {"hidden is shown normally", SW_HIDE, false, false},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TProgram Program(Case.Show);
    ASSERT_NE(Program.Window, nullptr) << ProgramPath();
    EXPECT_EQ(bool(IsZoomed(Program.Window)), Case.Maximised);
    EXPECT_EQ(bool(IsIconic(Program.Window)), Case.Minimised);
    EXPECT_EQ(Program.Close(), 0u);
  }
}

// The screen's density, as the system setting gives it to programs started while it holds.
class TScreenDensity {
public:
  explicit TScreenDensity(DWORD Dpi) {
    RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &Dpi,
                    sizeof Dpi);
  }
  TScreenDensity(const TScreenDensity &) = delete;
  TScreenDensity &operator=(const TScreenDensity &) = delete;
  ~TScreenDensity() {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels");
  }
};

// The height of a line of text in a face at a character height, in pixels.
LONG LineHeight(LONG CharacterHeight, LONG Weight) {
  HFONT Font = CreateFontA(-CharacterHeight, 0, 0, 0, Weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
  HDC Screen = GetDC(nullptr);
  HGDIOBJ Previous = SelectObject(Screen, Font);
  TEXTMETRICA Metrics{};
  GetTextMetricsA(Screen, &Metrics);
  SelectObject(Screen, Previous);
  ReleaseDC(nullptr, Screen);
  DeleteObject(Font);
  return Metrics.tmHeight;
}

RECT PlaceIn(HWND Form, HWND Control) {
  RECT Place;
  GetWindowRect(Control, &Place);
  MapWindowPoints(nullptr, Form, reinterpret_cast<POINT *>(&Place), 2);
  return Place;
}

TEST(Startup, ScalesItsLayoutAndFontsToTheScreensDensity) {
  TScreenDensity Dense(144);
  TProgram Program(SW_SHOWNORMAL);
  ASSERT_NE(Program.Window, nullptr);
  RECT Client;
  GetClientRect(Program.Window, &Client);
  EXPECT_EQ(Client.right, 722); // 481 x 1.5, rounded
  EXPECT_EQ(Client.bottom, 356);
  HWND Button = FindWindowExA(Program.Window, nullptr, "Button", nullptr);
  RECT Place = PlaceIn(Program.Window, Button);
  EXPECT_EQ(Place.left, 24);
  EXPECT_EQ(Place.top, 14);
  EXPECT_EQ(Place.right - Place.left, 113);
  EXPECT_EQ(Place.bottom - Place.top, 38);

  // The fonts, 11 and 13 pixels at 96 dpi, are 17 and 20 here. Fonts live in their own
  // process, so they are read from what the controls lay out: the status line is as tall as its
  // bold font's line, and the text box puts its lines that far apart.
  HWND Status = FindWindowExA(Program.Window, nullptr, "Static", nullptr);
  Place = PlaceIn(Program.Window, Status);
  EXPECT_NEAR(Place.bottom - Place.top, LineHeight(20, FW_BOLD), 1) << "through 96 dpi and back";
  HWND Memo = FindWindowExA(Program.Window, nullptr, "Edit", nullptr);
  DWORD_PTR Ignored;
  SendMessageTimeoutA(Memo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("a\r\nb"), SMTO_ABORTIFHUNG,
                      5000, &Ignored);
  const auto Top = [Memo](int Character) {
    return static_cast<short>(HIWORD(SendMessageA(Memo, EM_POSFROMCHAR, Character, 0)));
  };
  EXPECT_EQ(Top(3) - Top(0), LineHeight(17, FW_NORMAL));
  EXPECT_EQ(Program.Close(), 0u);
}

} // namespace
