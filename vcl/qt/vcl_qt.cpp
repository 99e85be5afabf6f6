// The Qt 6 Widgets backend, in the classic "Windows" style.
#include "vcl_qt.h"

#include "BoxText.h"
#include "native.h"
#include "session_bus.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <QVBoxLayout>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace vcl::native {

struct TWidget {
  TKind Kind;
  QPointer<QWidget> Widget;
  bool FixedSize = false;
  bool Centred = false; // kept centred from its first showing on
};

namespace {

QString Q(const AnsiString &S) {
  return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size()));
}

// The frame an X11 window manager has put around a window, as it announces it, in the window's
// own (scaled) pixels; none elsewhere or before it has. Qt's own idea of the frame can stay stale
// when the frame comes late.
std::optional<QMargins> WindowManagerFrame(const QWidget &Window) {
  auto *X11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (QGuiApplication::platformName() != "xcb" || !X11 || !X11->connection() ||
      !Window.windowHandle())
    return std::nullopt;
  xcb_connection_t *Connection = X11->connection();
  static const xcb_atom_t Extents = [Connection] {
    const char Name[] = "_NET_FRAME_EXTENTS";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> Reply(
        xcb_intern_atom_reply(Connection, xcb_intern_atom(Connection, 0, sizeof Name - 1, Name),
                              nullptr),
        &free);
    return Reply ? Reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  }();
  std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> Reply(
      xcb_get_property_reply(
          Connection,
          xcb_get_property(Connection, 0, Window.winId(), Extents, XCB_ATOM_CARDINAL, 0, 4),
          nullptr),
      &free);
  if (!Reply || Reply->format != 32 || xcb_get_property_value_length(Reply.get()) != 16)
    return std::nullopt;
  const auto *V = static_cast<const std::uint32_t *>(xcb_get_property_value(Reply.get()));
  // The manager counts screen pixels; at a scale of 2 a 21-pixel title bar is 10.5 of the window's.
  const qreal Scale = Window.devicePixelRatioF();
  auto Logical = [Scale](std::uint32_t Pixels) { return int(std::lround(Pixels / Scale)); };
  return QMargins(Logical(V[0]), Logical(V[2]), Logical(V[1]), Logical(V[3])); // l, r, t, b
}

// Centres a window, frame included, on an area as it is shown, then keeps at it for a moment: a
// message box lays itself out as it is shown, and a window manager frames a window only some time
// after mapping.
class TCentring : public QObject {
public:
  TCentring(QWidget &Window, std::function<QRect()> Area)
      : QObject(&Window), FWindow(Window), FArea(std::move(Area)) {
    Window.installEventFilter(this);
    FTimer.setInterval(25);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Settle(); });
  }

protected:
  bool eventFilter(QObject *, QEvent *Event) override {
    if (Event->type() == QEvent::Show) {
      FWindow.move(Target(Frame()));
      FSteady = 0;
      FSince.start();
      FTimer.start();
    }
    return false;
  }

private:
  QWidget &FWindow;
  std::function<QRect()> FArea;
  QTimer FTimer;
  QElapsedTimer FSince;
  int FSteady = 0;

  QMargins Frame() const {
    QRect Outer = FWindow.frameGeometry(), Inner = FWindow.geometry();
    return WindowManagerFrame(FWindow).value_or(
        QMargins(Inner.left() - Outer.left(), Inner.top() - Outer.top(),
                 Outer.right() - Inner.right(), Outer.bottom() - Inner.bottom()));
  }

  // Where the frame's top left corner goes; moving a top-level window places its frame.
  QPoint Target(const QMargins &Frame) const {
    QRect Area = FArea();
    QSize Outer = FWindow.size().grownBy(Frame);
    return {Area.x() + (Area.width() - Outer.width()) / 2,
            Area.y() + (Area.height() - Outer.height()) / 2};
  }

  // Done once the window has stayed centred in its frame for a few ticks; a window manager that
  // adds no frame leaves it where it first went, checked for three seconds.
  void Settle() {
    const QMargins Margins = Frame();
    const QPoint Corner = Target(Margins);
    if (FWindow.geometry().topLeft() - QPoint(Margins.left(), Margins.top()) != Corner) {
      FSteady = 0;
      FWindow.move(Corner);
    } else if (!Margins.isNull() && ++FSteady == 3) {
      FTimer.stop();
    }
    if (FSince.hasExpired(3000))
      FTimer.stop();
  }
};

QRect ScreenOfActiveWindow() {
  QWidget *Active = QApplication::activeWindow();
  QScreen *Display = Active ? Active->screen() : QGuiApplication::primaryScreen();
  return Display->geometry();
}

class TFormWindow : public QWidget {
public:
  bool QuitOnClose = false;

protected:
  void closeEvent(QCloseEvent *Event) override {
    Event->accept();
    if (QuitOnClose)
      QCoreApplication::quit();
  }
};

QColor ToQColor(TColor Color, QPalette::ColorRole SystemRole) {
  if ((Color & 0xFF000000) == 0xFF000000) {
    switch (Color) {
    case clWindowText:
      return QApplication::palette().color(QPalette::WindowText);
    case clBtnFace:
      return QApplication::palette().color(QPalette::Button);
    case clWindow:
      return QApplication::palette().color(QPalette::Base);
    default:
      return QApplication::palette().color(SystemRole);
    }
  }
  return {static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
          static_cast<int>((Color >> 16) & 0xFF)};
}

// Fitted to the pixel grid, as the classic look draws its faces: at 8 points this keeps a caption
// about as narrow as the classic face, so that "Validar Links" leaves its button's face around it.
QFont ClassicFont(const QString &Name) {
  QFont Result(Name);
  Result.setHintingPreference(QFont::PreferFullHinting);
  return Result;
}

// A negative height is the character height in pixels; a positive one the whole cell's.
QFont ToQFont(const TFont &Font) {
  QFont Result = ClassicFont(Q(Font.Name));
  const TFontStyles &Style = Font.Style;
  Result.setBold(Style.contains(fsBold));
  Result.setItalic(Style.contains(fsItalic));
  Result.setUnderline(Style.contains(fsUnderline));
  Result.setStrikeOut(Style.contains(fsStrikeOut));
  // In 64 bits and clamped: a layout may give any int, and no screen is taller than this.
  constexpr long long MaxPixels = 4096;
  long long Height = Font.Height;
  if (Height > 0) {
    Result.setPixelSize(100);
    Height = std::llround(static_cast<double>(Height) * 100 / QFontMetricsF(Result).height());
  }
  Result.setPixelSize(static_cast<int>(std::clamp(std::llabs(Height), 1LL, MaxPixels)));
  return Result;
}

QPalette::ColorRole TextRole(TKind Kind) {
  switch (Kind) {
  case TKind::Button:
    return QPalette::ButtonText;
  case TKind::Memo:
    return QPalette::Text;
  default:
    return QPalette::WindowText;
  }
}

QWidget *Make(TKind Kind, TControl &Control, QWidget *Parent) {
  switch (Kind) {
  case TKind::Form:
    return new TFormWindow;
  case TKind::Button: {
    auto *Button = new QPushButton(Parent);
    // Enter on the focused button clicks it, as in a dialog.
    Button->setAutoDefault(true);
    QObject::connect(Button, &QPushButton::clicked,
                     [&Control] { Dispatch([&] { Control.Click(); }); });
    return Button;
  }
  case TKind::Label: {
    auto *Label = new QLabel(Parent);
    Label->setTextFormat(Qt::PlainText);
    Label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return Label;
  }
  case TKind::Memo: {
    auto *Memo = new QPlainTextEdit(Parent);
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Memo->setTabChangesFocus(true);
    return Memo;
  }
  }
  return nullptr;
}

} // namespace

TWidgetPtr Create(TKind Kind, TControl &Control, TWidget *Parent) {
  QWidget *Widget = Make(Kind, Control, Parent ? Parent->Widget.data() : nullptr);
  Widget->setObjectName(Q(Control.Name));
  return TWidgetPtr(new TWidget{Kind, Widget});
}

void Destroy(TWidget *Widget) {
  delete Widget->Widget.data();
  delete Widget;
}

void SetBounds(TWidget &W, int Left, int Top, int Width, int Height) {
  if (W.Kind != TKind::Form) {
    W.Widget->setGeometry(Left, Top, Width, Height);
    return;
  }
  W.Widget->move(Left, Top);
  if (W.FixedSize)
    W.Widget->setFixedSize(Width, Height);
  else
    W.Widget->resize(Width, Height);
}

void SetText(TWidget &W, const AnsiString &Text) {
  switch (W.Kind) {
  case TKind::Form:
    W.Widget->setWindowTitle(Q(Text));
    break;
  case TKind::Button:
    static_cast<QPushButton *>(W.Widget.data())->setText(Q(Text));
    break;
  case TKind::Label:
    static_cast<QLabel *>(W.Widget.data())->setText(Q(Text));
    break;
  case TKind::Memo:
    static_cast<QPlainTextEdit *>(W.Widget.data())->setPlainText(Q(Text));
    break;
  }
}

AnsiString GetText(const TWidget &W) {
  return static_cast<QPlainTextEdit *>(W.Widget.data())->toPlainText().toStdString();
}

void AppendLine(TWidget &W, const AnsiString &Line) {
  static_cast<QPlainTextEdit *>(W.Widget.data())->appendPlainText(Q(Line));
}

void SetFont(TWidget &W, const TFont &Font) {
  W.Widget->setFont(ToQFont(Font));
  QPalette Palette = W.Widget->palette();
  Palette.setColor(TextRole(W.Kind), ToQColor(Font.Color, TextRole(W.Kind)));
  W.Widget->setPalette(Palette);
}

void SetColor(TWidget &W, TColor Color) {
  QPalette Palette = W.Widget->palette();
  Palette.setColor(QPalette::Window, ToQColor(Color, QPalette::Window));
  W.Widget->setPalette(Palette);
  W.Widget->setAutoFillBackground(true);
}

void SetFrame(TWidget &W, TFormBorderStyle Style, const TBorderIcons &Icons) {
  W.FixedSize = Style != bsSizeable;
  Qt::WindowFlags Flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (Icons.contains(biSystemMenu))
    Flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (Icons.contains(biMinimize) && Style != bsDialog)
    Flags |= Qt::WindowMinimizeButtonHint;
  if (Icons.contains(biMaximize) && Style == bsSizeable)
    Flags |= Qt::WindowMaximizeButtonHint;
  W.Widget->setWindowFlags(Flags);
  if (W.FixedSize)
    W.Widget->setFixedSize(W.Widget->size());
}

void SetTabOrder(const std::vector<TWidget *> &Order) {
  for (size_t I = 1; I < Order.size(); ++I)
    QWidget::setTabOrder(Order[I - 1]->Widget, Order[I]->Widget);
}

void SetFocus(TWidget &W) {
  W.Widget->setFocus(Qt::OtherFocusReason);
}

void Show(TWidget &W, TPosition Position) {
  if (Position != poDesigned && !W.Centred) {
    W.Centred = true;
    QScreen *Display = QGuiApplication::primaryScreen();
    new TCentring(*W.Widget, [Display, Position] {
      return Position == poDesktopCenter ? Display->virtualGeometry() : Display->geometry();
    });
  }
  W.Widget->show();
  W.Widget->activateWindow();
}

TSize TextExtent(const TFont &Font, const AnsiString &Text) {
  QFontMetrics Metrics(ToQFont(Font));
  return {Metrics.horizontalAdvance(Q(Text)), Metrics.height()};
}

void Initialize(const AnsiString &Title) {
  if (QCoreApplication::instance())
    return;
  // Qt keeps argc and argv; the first argument names the program to the desktop (WM_CLASS).
  static int Argc = 1;
  static std::string Argv0 = Title.empty() ? "Zelvatorim" : Title;
  static char *Argv[] = {Argv0.data(), nullptr};
  KeepToTheSessionBusThatRuns();
  // Never destroyed, as Application is not; the analyzer reports that on the next line.
  // NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
  new QApplication(Argc, Argv);
  QCoreApplication::setApplicationName(Q(Title));
  // NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)
  QApplication::setStyle(QStyleFactory::create("Windows"));
  QApplication::setWindowIcon(QIcon(":/MAINICON"));
  QApplication::setQuitOnLastWindowClosed(false);
  // Layouts name the classic Windows face; these have close metrics and are free.
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "Arial", "DejaVu Sans"});
  // What a window's own layout does not set, message boxes among them, uses the classic face.
  QFont Default = ClassicFont("MS Sans Serif");
  Default.setPixelSize(11);
  QApplication::setFont(Default);
}

void Run(TWidget &MainForm) {
  static_cast<TFormWindow *>(MainForm.Widget.data())->QuitOnClose = true;
  if (MainForm.Widget->isVisible())
    QApplication::exec();
}

void ProcessMessages() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

void SetCursor(TCursor Cursor) {
  if (!QCoreApplication::instance())
    return;
  if (Cursor == crDefault) {
    while (QGuiApplication::overrideCursor())
      QGuiApplication::restoreOverrideCursor();
    return;
  }
  QCursor Shape(Cursor == crHourGlass ? Qt::WaitCursor : Qt::ArrowCursor);
  if (QGuiApplication::overrideCursor())
    QGuiApplication::changeOverrideCursor(Shape);
  else
    QGuiApplication::setOverrideCursor(Shape);
}

void ShowMessageBox(const AnsiString &Caption, const AnsiString &Text) {
  // The window it reports on bounds its width: a box is never wider than its program's window.
  const QWidget *Owner = QApplication::activeWindow();
  QDialog Box;
  Box.setWindowTitle(Q(Caption));
  Box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  Box.setWindowModality(Qt::ApplicationModal);
  auto *Message = new qt::TBoxText(Q(Text), &Box);
  auto *Ok = new QPushButton("OK", &Box);
  Ok->setDefault(true);
  Ok->setMinimumSize(75, 23);
  QObject::connect(Ok, &QPushButton::clicked, &Box, &QDialog::accept);

  // Even margins all round, the text block and the button centred in them.
  constexpr int Margin = 12;
  auto *Layout = new QVBoxLayout(&Box);
  Layout->setSizeConstraint(QLayout::SetFixedSize);
  Layout->setContentsMargins(Margin, Margin, Margin, Margin);
  Layout->setSpacing(Margin);
  Layout->addWidget(Message, 0, Qt::AlignHCenter);
  Layout->addWidget(Ok, 0, Qt::AlignHCenter);
  // About fifty characters a line reads well; the screen bounds it where there is no window.
  int Limit = std::min(50 * Message->fontMetrics().averageCharWidth(),
                       ScreenOfActiveWindow().width() - 2 * Margin);
  if (Owner)
    Limit = std::min(Limit, Owner->width() - 2 * Margin);
  Message->WrapWithin(Limit);

  // Placed before its window exists, so that its position counts with the frame, as a form's does.
  Box.move(0, 0);
  new TCentring(Box, ScreenOfActiveWindow);
  Box.exec();
}

std::string ExecutablePath() {
  std::error_code Error;
  return std::filesystem::read_symlink("/proc/self/exe", Error).string();
}

std::optional<std::string> LoadResource(const std::string &Name) {
  QFile File(":/" + QString::fromStdString(Name));
  if (!File.open(QIODevice::ReadOnly))
    return std::nullopt;
  return File.readAll().toStdString();
}

} // namespace vcl::native

QWidget *vcl::qt::WidgetOf(const TControl &Control) {
  return Control.Native() ? Control.Native()->Widget.data() : nullptr;
}
