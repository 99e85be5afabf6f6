// For tests of real windows under Wine: the main form, and message boxes answered as a user
// would answer them.
#pragma once

#include <vcl.h>

#include "../../main_form.h"

#include "vcl_win32.h"

#include <string>
#include <vector>

// While it lives, each message box that opens is recorded and closed by the key Key, sent to
// the control that has the focus, as the keyboard would.
class TBoxAnswerer {
public:
  explicit TBoxAnswerer(WPARAM Key = VK_RETURN);
  TBoxAnswerer(const TBoxAnswerer &) = delete;
  TBoxAnswerer &operator=(const TBoxAnswerer &) = delete;
  ~TBoxAnswerer();
  std::vector<TShownBox> Boxes;

private:
  WPARAM FKey;
  UINT_PTR FTimer;
  HWND FAnswered = nullptr;
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void Poll();
};

// A window's class name and its whole text, as the system reports them.
std::string ClassOf(HWND Window);
std::string TextOf(HWND Window);

// A key pressed on the focused control, and everything it leads to handled.
void PressKey(WPARAM Key);
