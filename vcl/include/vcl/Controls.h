// The controls a form is built from. Each keeps its values here and mirrors them in a native
// widget of the backend, made when the control is placed on its form.
#pragma once

#include "vcl/Graphics.h"

class TWinControl;
namespace vcl::native {
struct TWidget;
struct TWidgetDeleter {
  void operator()(TWidget *Widget) const;
};
} // namespace vcl::native

class TControl : public TComponent {
public:
  explicit TControl(TComponent *AOwner);
  ~TControl() override;

  TProperty<int> Left, Top, Width, Height;
  TProperty<AnsiString> Caption;
  // True: the control follows its parent's font; set to false by any change of its own font.
  TProperty<bool> ParentFont;
  TFont *const Font{&FFont};
  TNotifyEvent OnClick;

  // Places the control on its parent, which makes its native widget if the parent has one.
  void SetParent(TWinControl *AParent);
  void Click();
  // Makes the native widget now if there is none yet.
  void HandleNeeded();
  vcl::native::TWidget *Native() const { return FNative.get(); }

protected:
  virtual std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter>
  CreateNative(vcl::native::TWidget *ParentWidget) = 0;
  // Brings a new native widget up to date with every value.
  virtual void UpdateNative();
  virtual void BoundsChanged();
  virtual void CaptionChanged();
  virtual void FontChanged();
  // A form's window stands alone; every other control needs its parent's.
  virtual bool IsTopLevel() const { return false; }

private:
  friend class TWinControl;
  TFont FFont;
  bool FFollowingParent = false;
  TWinControl *FParent = nullptr;
  std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter> FNative;
  void FollowParentFont();
};

// A control that can hold others and take the keyboard focus.
class TWinControl : public TControl {
public:
  using TControl::TControl;
  TProperty<int> TabOrder{[](const int &) {}};
  // The focusable controls in tab order.
  std::vector<TWinControl *> TabList() const;

protected:
  void UpdateNative() override;
  void FontChanged() override;

private:
  friend class TControl;
  std::vector<TControl *> FControls;
};

class TButton : public TWinControl {
public:
  using TWinControl::TWinControl;

protected:
  std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter>
  CreateNative(vcl::native::TWidget *ParentWidget) override;
};

// Sizes itself to its caption, as a label does by default.
class TLabel : public TControl {
public:
  using TControl::TControl;

protected:
  std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter>
  CreateNative(vcl::native::TWidget *ParentWidget) override;
  void BoundsChanged() override;
  void CaptionChanged() override;
  void FontChanged() override;
};

class TMemo;

// A memo's text seen as lines; a final line break does not start a line of its own.
class TMemoLines {
public:
  explicit TMemoLines(TMemo &Memo);
  void Add(const AnsiString &S);
  AnsiString operator[](int Index) const;
  TReadOnlyProperty<int> Count;

private:
  TMemo &FMemo;
  std::vector<AnsiString> Split() const;
};

// Multi-line, editable, word-wrapped, without scroll bars, with a sunken border.
class TMemo : public TWinControl {
public:
  using TWinControl::TWinControl;
  TMemoLines *const Lines{&FLines};
  void Clear();

protected:
  std::unique_ptr<vcl::native::TWidget, vcl::native::TWidgetDeleter>
  CreateNative(vcl::native::TWidget *ParentWidget) override;
  // A memo shows its lines, not a caption.
  void CaptionChanged() override {}

private:
  TMemoLines FLines{*this};
};
