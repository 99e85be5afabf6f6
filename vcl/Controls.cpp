#include "native.h"

#include <algorithm>

using namespace vcl;

void native::TWidgetDeleter::operator()(TWidget *Widget) const {
  native::Destroy(Widget);
}

void native::PlaceWidget(TWidget &Widget, int Left, int Top, int Width, int Height) {
  const auto Place = [](int Value) { return std::clamp(Value, -32768, 32767); };
  const auto Size = [](int Value) { return std::clamp(Value, 0, 32767); };
  native::SetBounds(Widget, Place(Left), Place(Top), Size(Width), Size(Height));
}

TControl::TControl(TComponent *AOwner)
    : TComponent(AOwner), Left([this](const int &) { BoundsChanged(); }),
      Top([this](const int &) { BoundsChanged(); }),
      Width([this](const int &) { BoundsChanged(); }),
      Height([this](const int &) { BoundsChanged(); }),
      Caption([this](const AnsiString &) { CaptionChanged(); }), ParentFont(
                                                                     [this](const bool &On) {
                                                                       if (On)
                                                                         FollowParentFont();
                                                                     },
                                                                     true),
      FFont([this] {
        if (!FFollowingParent)
          ParentFont.Store(false);
        FontChanged();
      }) {}

TControl::~TControl() = default;

void TControl::SetParent(TWinControl *AParent) {
  FParent = AParent;
  FParent->FControls.push_back(this);
  if (ParentFont)
    FollowParentFont();
  if (FParent->Native())
    HandleNeeded();
}

void TControl::Click() {
  if (OnClick)
    OnClick(this);
}

void TControl::HandleNeeded() {
  if (FNative)
    return;
  if (!FParent && !IsTopLevel())
    throw Exception("Control '" + Name + "' has no parent window");
  FNative = CreateNative(FParent ? FParent->Native() : nullptr);
  UpdateNative();
}

void TControl::UpdateNative() {
  FontChanged();
  CaptionChanged();
  BoundsChanged();
}

void TControl::BoundsChanged() {
  if (FNative)
    native::PlaceWidget(*FNative, Left, Top, Width, Height);
}

void TControl::CaptionChanged() {
  if (FNative)
    native::SetText(*FNative, Caption);
}

void TControl::FontChanged() {
  if (FNative)
    native::SetFont(*FNative, FFont);
}

void TControl::FollowParentFont() {
  if (!FParent)
    return;
  FFollowingParent = true;
  FFont.Assign(*FParent->Font);
  FFollowingParent = false;
}

void TWinControl::UpdateNative() {
  TControl::UpdateNative();
  for (TControl *Child : FControls)
    Child->HandleNeeded();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl *Child : FControls)
    if (Child->ParentFont)
      Child->FollowParentFont();
}

std::vector<TWinControl *> TWinControl::TabList() const {
  std::vector<TWinControl *> List;
  for (TControl *Child : FControls)
    if (auto *Focusable = dynamic_cast<TWinControl *>(Child))
      List.push_back(Focusable);
  std::stable_sort(List.begin(), List.end(),
                   [](TWinControl *A, TWinControl *B) { return A->TabOrder < B->TabOrder; });
  return List;
}

native::TWidgetPtr TButton::CreateNative(native::TWidget *ParentWidget) {
  return native::Create(native::TKind::Button, *this, ParentWidget);
}

native::TWidgetPtr TLabel::CreateNative(native::TWidget *ParentWidget) {
  return native::Create(native::TKind::Label, *this, ParentWidget);
}

// Sized to its caption whatever size it is given; an empty caption is as wide as one blank.
void TLabel::BoundsChanged() {
  const AnsiString &Text = Caption;
  native::TSize Size = native::TextExtent(*Font, Text.empty() ? " " : Text);
  Width.Store(Size.Width);
  Height.Store(Size.Height);
  TControl::BoundsChanged();
}

void TLabel::CaptionChanged() {
  TControl::CaptionChanged();
  BoundsChanged();
}

void TLabel::FontChanged() {
  TControl::FontChanged();
  BoundsChanged();
}

native::TWidgetPtr TMemo::CreateNative(native::TWidget *ParentWidget) {
  return native::Create(native::TKind::Memo, *this, ParentWidget);
}

void TMemo::Clear() {
  HandleNeeded();
  native::SetText(*Native(), "");
}

TMemoLines::TMemoLines(TMemo &Memo)
    : Count([this] { return static_cast<int>(Split().size()); }), FMemo(Memo) {}

void TMemoLines::Add(const AnsiString &S) {
  FMemo.HandleNeeded();
  native::AppendLine(*FMemo.Native(), S);
}

AnsiString TMemoLines::operator[](int Index) const {
  return Split().at(Index);
}

std::vector<AnsiString> TMemoLines::Split() const {
  std::vector<AnsiString> Lines;
  if (!FMemo.Native())
    return Lines;
  const AnsiString Text = native::GetText(*FMemo.Native());
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == AnsiString::npos)
      End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Lines;
}
