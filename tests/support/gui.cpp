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
#include <filesystem>
#include <string>

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

namespace {

// Qt keeps files in a private runtime folder, which a desktop session names in XDG_RUNTIME_DIR.
// Run without a session (over ssh, or as the build lists the tests), a test makes its own and
// removes it at the end, where Qt would warn and fall back on a folder in /tmp that it leaves.
class TRuntimeFolder {
public:
  TRuntimeFolder() {
    if (std::getenv("XDG_RUNTIME_DIR"))
      return;
    std::string Path = (std::filesystem::temp_directory_path() / "zelvatorim-test-XXXXXX").string();
    if (mkdtemp(Path.data())) {
      FPath = Path;
      setenv("XDG_RUNTIME_DIR", FPath.c_str(), 1);
    }
  }
  TRuntimeFolder(const TRuntimeFolder &) = delete;
  TRuntimeFolder &operator=(const TRuntimeFolder &) = delete;
  ~TRuntimeFolder() {
    std::error_code Ignored;
    if (!FPath.empty())
      std::filesystem::remove_all(FPath, Ignored);
  }

private:
  std::string FPath;
};

} // namespace

// Windows of these tests live on Qt's offscreen platform, so they run without a display.
int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  TRuntimeFolder Runtime;
  testing::InitGoogleTest(&argc, argv);
  Application->Initialize();
  return RUN_ALL_TESTS();
}
