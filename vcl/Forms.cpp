#include "native.h"

#include <algorithm>
#include <cctype>
#include <iterator>

using namespace vcl;

native::TWidgetPtr TForm::CreateNative(native::TWidget *) {
  return native::Create(native::TKind::Form, *this, nullptr);
}

void TForm::UpdateNative() {
  ColorChanged();
  FrameChanged();
  TWinControl::UpdateNative();
}

// A form's size is that of its client area; Left and Top only count where Position says so.
void TForm::BoundsChanged() {
  if (Native())
    native::PlaceWidget(*Native(), Left, Top, ClientWidth, ClientHeight);
}

void TForm::FrameChanged() {
  if (Native())
    native::SetFrame(*Native(), BorderStyle, BorderIcons);
}

void TForm::ColorChanged() {
  if (Native())
    native::SetColor(*Native(), Color);
}

void TForm::Show() {
  HandleNeeded();
  std::vector<native::TWidget *> Order;
  std::ranges::transform(TabList(), std::back_inserter(Order), &TControl::Native);
  native::SetTabOrder(Order);
  native::Show(*Native(), FShown ? poDesigned : Position.Get());
  if (!FShown && !Order.empty())
    native::SetFocus(*Order.front());
  FShown = true;
}

TApplication::TApplication()
    : TComponent(nullptr), Title(TitleFromFileName(native::ExecutablePath())) {}

void TApplication::Initialize() {
  native::Initialize(Title);
}

void TApplication::Run() {
  if (!FMainForm)
    return;
  FMainForm->Show();
  native::Run(*FMainForm->Native());
}

void TApplication::ProcessMessages() {
  native::ProcessMessages();
}

void TApplication::HandleException(std::exception_ptr E) {
  try {
    std::rethrow_exception(std::move(E));
  } catch (const std::exception &X) {
    ShowException(X);
  } catch (...) {
    native::ShowMessageBox(Title, "An exception of an unknown type was raised.");
  }
}

void TApplication::ShowException(const std::exception &E) {
  native::ShowMessageBox(Title, E.what());
}

// Stored under the class name in capitals, as resources are named.
AnsiString TApplication::StoredLayout(const char *ClassName) {
  AnsiString Name = ClassName;
  for (char &C : Name)
    C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  std::optional<std::string> Text = native::LoadResource(Name);
  if (!Text)
    throw EReadError("Resource " + Name + " not found");
  return *Text;
}

void TApplication::AddForm(TForm *Form) {
  if (!FMainForm)
    FMainForm = Form;
}

TScreen::TScreen() : TComponent(nullptr), Cursor([](const TCursor &C) { native::SetCursor(C); }) {}

// Never destroyed: windows live until the process ends, and tearing them down during static
// destruction would outlive the native toolkit's own globals.
// NOLINTBEGIN(cert-err58-cpp): made before main, as the platform's own are; nothing could report
// a failure that early anyway.
TApplication *Application = new TApplication;
TScreen *Screen = new TScreen;
// NOLINTEND(cert-err58-cpp)

void ShowMessage(const AnsiString &Msg) {
  native::ShowMessageBox(Application->Title, Msg);
}

AnsiString TitleFromFileName(std::string_view Path) {
  if (size_t Slash = Path.find_last_of("/\\"); Slash != std::string_view::npos)
    Path.remove_prefix(Slash + 1);
  Path = Path.substr(0, Path.find('.'));
  AnsiString Title(Path.substr(0, 255));
  // Keep a multi-byte character whole when the cut falls inside it.
  if (Path.size() > 255)
    while (!Title.empty() && (static_cast<unsigned char>(Path[Title.size()]) & 0xC0) == 0x80)
      Title.pop_back();
  for (size_t I = 1; I < Title.size(); ++I)
    if (Title[I] >= 'A' && Title[I] <= 'Z')
      Title[I] = static_cast<char>(Title[I] - 'A' + 'a');
  return Title;
}
