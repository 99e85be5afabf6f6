// The program's main window as the window tests make it, and what they saw of a message box:
// the same on every backend.
#pragma once

#include <vcl.h>

#include <string>

// The program's main window, made once per test process from its stored layout, and shown.
template <class T> void ShowMainForm(T *&Reference) {
  if (!Reference) {
    Application->CreateForm(Reference);
    Reference->Show();
  }
}

struct TShownBox {
  std::string Title, Text;
  bool Hourglass; // the wait cursor was up over the box, and over the window it disabled
  bool HasIcon;   // the box shows an icon
  int Buttons;    // how many buttons it offers
  bool Centred;   // on its screen
};
