// For tests of windows on Qt's offscreen platform: answers the message boxes the code shows.
#pragma once

#include <vcl.h>

#include <QObject>
#include <QTimer>
#include <Qt>

#include <string>
#include <vector>

// The program's main window, made once per test process from its stored layout, and shown.
template <class T> void ShowMainForm(T *&Reference) {
  if (!Reference) {
    Application->CreateForm(Reference);
    Reference->Show();
  }
}

struct TShownBox {
  std::string Title, Text;
  bool Hourglass; // the wait cursor was up while the box was shown
  bool HasIcon;   // the box shows an icon
  int Buttons;    // how many buttons it offers
  bool Centred;   // on its screen
};

// While it lives, each message box that opens is recorded and closed with Key.
class TBoxAnswerer {
public:
  explicit TBoxAnswerer(Qt::Key Key = Qt::Key_Return);
  TBoxAnswerer(const TBoxAnswerer &) = delete;
  TBoxAnswerer &operator=(const TBoxAnswerer &) = delete;
  std::vector<TShownBox> Boxes;

private:
  QTimer FTimer;
  Qt::Key FKey;
  void Poll();
};
