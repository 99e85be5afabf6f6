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
  const std::string Program = ProgramPath();
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESHOWWINDOW;
    Startup.wShowWindow = Case.Show;
    PROCESS_INFORMATION Started{};
    std::string Command = "\"" + Program + "\"";
    ASSERT_TRUE(CreateProcessA(Program.c_str(), Command.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &Startup, &Started))
        << Program;
    WaitForInputIdle(Started.hProcess, 10000);
    TFound Found{Started.dwProcessId, nullptr};
    for (int Try = 0; Try < 200 && !Found.Window; ++Try) {
      EnumWindows(FindForm, reinterpret_cast<LPARAM>(&Found));
      if (!Found.Window)
        Sleep(50);
    }
    ASSERT_NE(Found.Window, nullptr);
    EXPECT_EQ(bool(IsZoomed(Found.Window)), Case.Maximised);
    EXPECT_EQ(bool(IsIconic(Found.Window)), Case.Minimised);

    PostMessageA(Found.Window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(Started.hProcess, 10000), WAIT_OBJECT_0);
    DWORD ExitCode = 1;
    GetExitCodeProcess(Started.hProcess, &ExitCode);
    EXPECT_EQ(ExitCode, 0u);
    CloseHandle(Started.hThread);
    CloseHandle(Started.hProcess);
  }
}

} // namespace
