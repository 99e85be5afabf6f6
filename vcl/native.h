// What a backend provides to the layer: native windows and controls, the message loop, the
// cursor, the message box and the program's own file name and resources. Only the layer's own
// sources include this; each backend implements all of it in its own file.
#pragma once

#include "vcl/Forms.h"

#include <exception>
#include <optional>

namespace vcl::native {

using TWidgetPtr = std::unique_ptr<TWidget, TWidgetDeleter>;

enum class TKind { Form, Button, Label, Memo };

// Makes the widget of Control, inside Parent (none for a form). A button's or form's native
// events come back as Control.Click() and, for the main form's closing, the loop's end.
TWidgetPtr Create(TKind Kind, TControl &Control, TWidget *Parent);
void Destroy(TWidget *Widget);

void SetBounds(TWidget &Widget, int Left, int Top, int Width, int Height);
void SetText(TWidget &Widget, const AnsiString &Text);
AnsiString GetText(const TWidget &Widget);
void AppendLine(TWidget &Widget, const AnsiString &Line);
void SetFont(TWidget &Widget, const TFont &Font);
void SetColor(TWidget &Widget, TColor Color);
void SetFrame(TWidget &Widget, TFormBorderStyle Style, const TBorderIcons &Icons);
void SetTabOrder(const std::vector<TWidget *> &Order);
void SetFocus(TWidget &Widget);
// Shows a form at its stored position, or centred on the desktop or screen.
void Show(TWidget &Widget, TPosition Position);
struct TSize {
  int Width, Height;
};
TSize TextExtent(const TFont &Font, const AnsiString &Text);

void Initialize(const AnsiString &Title);
// Returns when the main form's window has been closed.
void Run(TWidget &MainForm);
void ProcessMessages();
void SetCursor(TCursor Cursor);
void ShowMessageBox(const AnsiString &Caption, const AnsiString &Text);

std::string ExecutablePath();
std::optional<std::string> LoadResource(const std::string &Name);

// Runs a handler for a native event. Whatever it throws stays on this side of the toolkit's (or
// the system's) frames: the application shows it and the loop goes on.
template <class F> void Dispatch(F Handler) noexcept {
  try {
    Handler();
  } catch (...) {
    try {
      Application->HandleException(std::current_exception());
    } catch (...) {
    }
  }
}

// The layer's way to SetBounds. A stored layout may hold any int, but no window system places or
// sizes a window past 16 bits, and the backends add places to sizes: so places are kept to
// -32768..32767 and sizes to 0..32767 here, once for every backend.
void PlaceWidget(TWidget &Widget, int Left, int Top, int Width, int Height);

} // namespace vcl::native
