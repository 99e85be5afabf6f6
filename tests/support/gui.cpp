#include "gui.h"

#include <vcl.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

TBoxAnswerer::TBoxAnswerer(Qt::Key Key) : FKey(Key) {
  QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
  FTimer.start(5);
}

void TBoxAnswerer::Poll() {
  auto *Box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
  if (!Box || !Box->isVisible())
    return;
  // The box's text is its one label; any other label would be an icon.
  std::string Text;
  bool HasIcon = false;
  for (const QLabel *Label : Box->findChildren<QLabel *>()) {
    HasIcon |= !Label->pixmap().isNull();
    if (!Label->text().isEmpty())
      Text = Label->text().toStdString();
  }
  const QCursor *Cursor = QGuiApplication::overrideCursor();
  QPoint Offset = Box->frameGeometry().center() - Box->screen()->geometry().center();
  Boxes.push_back(
      {Box->windowTitle().toStdString(), Text, Cursor && Cursor->shape() == Qt::WaitCursor, HasIcon,
       static_cast<int>(Box->findChildren<QPushButton *>().size()), Offset.manhattanLength() <= 1});
  QTest::keyClick(Box, FKey);
}

// Windows of these tests live on Qt's offscreen platform, so they run without a display.
int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  return RUN_ALL_TESTS();
}
