#include "gui.h"

#include <vcl.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

TBoxAnswerer::TBoxAnswerer(Qt::Key Key) : FKey(Key) {
  QObject::connect(&FTimer, &QTimer::timeout, [this] { Poll(); });
  FTimer.start(5);
}

void TBoxAnswerer::Poll() {
  auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
  if (!Box || !Box->isVisible())
    return;
  const QCursor *Cursor = QGuiApplication::overrideCursor();
  Boxes.push_back({Box->windowTitle().toStdString(), Box->text().toStdString(),
                   Cursor && Cursor->shape() == Qt::WaitCursor, !Box->iconPixmap().isNull(),
                   static_cast<int>(Box->buttons().size())});
  QTest::keyClick(Box, FKey);
}

// Windows of these tests live on Qt's offscreen platform, so they run without a display.
int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  return RUN_ALL_TESTS();
}
