// Forms, the application object, the screen and the message box.
#pragma once

#include "vcl/Controls.h"

#include <exception>
#include <string_view>

enum class TPosition { poDesigned, poDesktopCenter, poScreenCenter };
using enum TPosition;

enum class TFormBorderStyle { bsSizeable, bsSingle, bsDialog };
using enum TFormBorderStyle;

enum class TBorderIcon { biSystemMenu, biMinimize, biMaximize };
using enum TBorderIcon;
using TBorderIcons = std::set<TBorderIcon>;

class TForm : public TWinControl {
public:
  using TWinControl::TWinControl;

  TProperty<TColor> Color{[this](const TColor &) { ColorChanged(); }, clBtnFace};
  TProperty<int> ClientWidth{[this](const int &) { BoundsChanged(); }};
  TProperty<int> ClientHeight{[this](const int &) { BoundsChanged(); }};
  TProperty<TPosition> Position{[](const TPosition &) {}, poDesigned};
  TProperty<TFormBorderStyle> BorderStyle{[this](const auto &) { FrameChanged(); }, bsSizeable};
  TProperty<TBorderIcons> BorderIcons{[this](const auto &) { FrameChanged(); },
                                      {biSystemMenu, biMinimize, biMaximize}};

  // Shows the form where its Position puts it, with the focus on its first control in tab order.
  void Show();

protected:
  std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter>
  CreateNative(vcl::native::TWidget *ParentWidget) override;
  void UpdateNative() override;
  void BoundsChanged() override;
  bool IsTopLevel() const override { return true; }

private:
  bool FShown = false;
  void FrameChanged();
  void ColorChanged();
};

// What a form class lets its stored layout bind by name: its control fields and its handlers.
struct TPublishedField {
  const char *Name;
  std::function<bool(TForm &Form, TComponent &Component)> Assign;
};
struct TPublishedMethod {
  const char *Name;
  std::function<TNotifyEvent(TForm &Form)> Bind;
};
struct TPublishedTable {
  const char *ClassName;
  std::vector<TPublishedField> Fields;
  std::vector<TPublishedMethod> Methods;
};

template <class F, class C> TPublishedField PublishField(const char *Name, C *F::*Field) {
  return {Name, [Field](TForm &Form, TComponent &Component) {
            auto *Typed = dynamic_cast<C *>(&Component);
            if (Typed)
              static_cast<F &>(Form).*Field = Typed;
            return Typed != nullptr;
          }};
}
template <class F> TPublishedMethod PublishMethod(const char *Name, void (F::*Method)(TObject *)) {
  return {Name, [Method](TForm &Form) -> TNotifyEvent {
            F *Self = &static_cast<F &>(Form);
            return [Self, Method](TObject *Sender) { (Self->*Method)(Sender); };
          }};
}

// Builds a form from layout text: every component, value and handler; EReadError naming the line
// for anything malformed or unknown.
void LoadLayout(TForm &Form, std::string_view Text, const TPublishedTable &Published);

class TApplication : public TComponent {
public:
  TApplication();

  // Made once from the executable's file name; the agent of every probe and every box's caption.
  const AnsiString Title;

  void Initialize();
  // Creates a form of class T from the layout stored under its class name; the first is the main.
  template <class T> void CreateForm(T *&Reference) {
    auto Form = std::make_unique<T>(this);
    LoadLayout(*Form, StoredLayout(T::Published.ClassName), T::Published);
    Reference = Form.get();
    AddForm(Own(std::move(Form)));
  }
  // Shows the main form and handles messages until it is closed.
  void Run();
  void ProcessMessages();
  // What the message loop does with an exception that left a handler: shows it and goes on.
  void HandleException(std::exception_ptr E);
  void ShowException(const std::exception &E);

private:
  TForm *FMainForm = nullptr;
  static AnsiString StoredLayout(const char *ClassName);
  void AddForm(TForm *Form);
};

class TScreen : public TComponent {
public:
  TScreen();
  // While not crDefault, every window of the application shows this cursor.
  TProperty<TCursor> Cursor;
};

// Exists before main's first statement, as the platform's application object does.
extern TApplication *Application;
extern TScreen *Screen;

// A modal box with the application title as caption, no icon and one "OK", centred on the screen.
void ShowMessage(const AnsiString &Msg);

// The title rule: the file name without its folders, cut before its first full stop, everything
// after the first character in lower case, at most 255 characters.
AnsiString TitleFromFileName(std::string_view Path);
