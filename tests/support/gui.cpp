#include "gui.h"

#include <vcl.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
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
  auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
  if (!Box || !Box->isVisible())
    return;
  const QCursor *Cursor = QGuiApplication::overrideCursor();
  QPoint Offset = Box->frameGeometry().center() - Box->screen()->geometry().center();
  Boxes.push_back({Box->windowTitle().toStdString(), Box->text().toStdString(),
                   Cursor && Cursor->shape() == Qt::WaitCursor, !Box->iconPixmap().isNull(),
                   static_cast<int>(Box->buttons().size()), Offset.manhattanLength() <= 1});
  QTest::keyClick(Box, FKey);
}

// Windows of these tests live on Qt's offscreen platform, so they run without a display.
int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  return RUN_ALL_TESTS();
}
