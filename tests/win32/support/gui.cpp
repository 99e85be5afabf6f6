#include "gui.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TBoxAnswerer *Current = nullptr;

BOOL CALLBACK FindBox(HWND Window, LPARAM Found) {
  if (ClassOf(Window) == "#32770" && IsWindowVisible(Window)) {
    *reinterpret_cast<HWND *>(Found) = Window;
    return FALSE;
  }
  return TRUE;
}

TShownBox Inspect(HWND Box) {
  TShownBox Shown{TextOf(Box), "", false, false, 0, false};
  for (HWND Child = GetWindow(Box, GW_CHILD); Child; Child = GetWindow(Child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(Child))
      continue;
    const std::string Class = ClassOf(Child);
    const LONG_PTR Style = GetWindowLongPtrA(Child, GWL_STYLE);
    if (lstrcmpiA(Class.c_str(), "Button") == 0)
      ++Shown.Buttons;
    else if (lstrcmpiA(Class.c_str(), "Static") == 0 && (Style & SS_TYPEMASK) == SS_ICON)
      Shown.HasIcon |= SendMessageA(Child, STM_GETICON, 0, 0) != 0;
    else if (lstrcmpiA(Class.c_str(), "Static") == 0 && TextOf(Child).size() > Shown.Text.size())
      Shown.Text = TextOf(Child);
  }

  RECT Frame;
  GetWindowRect(Box, &Frame);
  MONITORINFO Monitor{};
  Monitor.cbSize = sizeof Monitor;
  GetMonitorInfoA(MonitorFromWindow(Box, MONITOR_DEFAULTTONEAREST), &Monitor);
  const RECT &Area = Monitor.rcMonitor;
  Shown.Centred = std::abs((Frame.left + Frame.right) - (Area.left + Area.right)) <= 2 &&
                  std::abs((Frame.top + Frame.bottom) - (Area.top + Area.bottom)) <= 2;

  // The mouse over the box: the cursor it shows is the one the box sets as it is asked.
  SetCursorPos((Frame.left + Frame.right) / 2, (Frame.top + Frame.bottom) / 2);
  SendMessageA(Box, WM_SETCURSOR, reinterpret_cast<WPARAM>(Box),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  Shown.Hourglass = GetCursor() == LoadCursor(nullptr, IDC_WAIT) && Screen->Cursor == crHourGlass;
  // And over the window it has disabled, which is asked with a hit test that finds no client.
  if (HWND Owner = GetWindow(Box, GW_OWNER)) {
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    SendMessageA(Owner, WM_SETCURSOR, reinterpret_cast<WPARAM>(Owner),
                 MAKELPARAM(static_cast<WORD>(HTERROR), WM_MOUSEMOVE));
    Shown.Hourglass &= GetCursor() == LoadCursor(nullptr, IDC_WAIT);
  }
  return Shown;
}

} // namespace

std::string ClassOf(HWND Window) {
  char Class[64] = "";
  GetClassNameA(Window, Class, sizeof Class);
  return Class;
}

std::string TextOf(HWND Window) {
  std::string Text(static_cast<size_t>(GetWindowTextLengthA(Window)) + 1, '\0');
  Text.resize(static_cast<size_t>(GetWindowTextA(Window, Text.data(), int(Text.size()))));
  return Text;
}

TBoxAnswerer::TBoxAnswerer(WPARAM Key) : FKey(Key) {
  Current = this;
  // cppcheck-suppress useInitializationList ; the timer starts once Current names this answerer
  FTimer = SetTimer(nullptr, 0, 10, &TBoxAnswerer::Tick);
}

TBoxAnswerer::~TBoxAnswerer() {
  KillTimer(nullptr, FTimer);
  Current = nullptr;
}

void CALLBACK TBoxAnswerer::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (Current)
    Current->Poll();
}

void TBoxAnswerer::Poll() {
  HWND Box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&Box));
  // A box that was answered stays up until its key arrives.
  if (!Box || Box == FAnswered)
    return;
  FAnswered = Box;
  Boxes.push_back(Inspect(Box));
  HWND Focus = GetFocus();
  PostMessageA(Focus && IsChild(Box, Focus) ? Focus : Box, WM_KEYDOWN, FKey, 1);
}

void PressKey(WPARAM Key) {
  PostMessageA(GetFocus(), WM_KEYDOWN, Key, 1);
  // The key's state bits as a key going up has them: released, and down before.
  PostMessageA(GetFocus(), WM_KEYUP, Key, static_cast<LPARAM>(0xC0000001));
  Application->ProcessMessages();
}

// The tests' windows are real ones on the display Wine was given.
int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  return RUN_ALL_TESTS();
}
