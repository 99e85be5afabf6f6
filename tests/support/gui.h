// For tests of windows on Qt's offscreen platform: answers the message boxes the code shows.
#pragma once

#include <vcl.h>

#include "../main_form.h"

#include <QObject>
#include <QTimer>
#include <Qt>

#include <vector>

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
