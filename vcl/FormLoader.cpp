// Builds a form from its layout text. Every name is checked: a layout the program does not fully
// understand is refused, never half applied.
#include "LayoutText.h"
#include "vcl/Forms.h"

#include <algorithm>
#include <limits>

using namespace vcl::layout;

namespace {

using TKind = TLayoutValue::TKind;

const TLayoutValue &Expect(const TLayoutProperty &P, TKind Kind, const char *What) {
  if (P.Value.Kind != Kind)
    Fail(P.Line, P.Name + " takes " + What);
  return P.Value;
}

int Integer(const TLayoutProperty &P) {
  long long V = Expect(P, TKind::Integer, "a number").Integer;
  if (V < std::numeric_limits<int>::min() || V > std::numeric_limits<int>::max())
    Fail(P.Line, P.Name + " is out of range");
  return static_cast<int>(V);
}

AnsiString String(const TLayoutProperty &P) {
  return Expect(P, TKind::String, "a string").Text;
}

template <class E> using TNames = std::initializer_list<std::pair<const char *, E>>;

template <class E> E Named(const TLayoutProperty &P, const AnsiString &Word, TNames<E> Names) {
  for (const auto &[Name, Value] : Names)
    if (Word == Name)
      return Value;
  Fail(P.Line, "unknown value '" + Word + "' for " + P.Name);
}

template <class E> E Enum(const TLayoutProperty &P, TNames<E> Names) {
  return Named(P, Expect(P, TKind::Identifier, "a name").Text, Names);
}

template <class E> std::set<E> Set(const TLayoutProperty &P, TNames<E> Names) {
  std::set<E> Members;
  for (const AnsiString &Item : Expect(P, TKind::Set, "a set [...]").Items)
    Members.insert(Named(P, Item, Names));
  return Members;
}

bool Boolean(const TLayoutProperty &P) {
  return Enum<bool>(P, {{"True", true}, {"False", false}});
}

TColor Color(const TLayoutProperty &P) {
  if (P.Value.Kind == TKind::Integer)
    return static_cast<TColor>(Integer(P));
  return Enum<TColor>(P, {{"clWindowText", clWindowText},
                          {"clBtnFace", clBtnFace},
                          {"clWindow", clWindow},
                          {"clBlack", clBlack},
                          {"clRed", clRed},
                          {"clGreen", clGreen},
                          {"clWhite", clWhite}});
}

bool SetFont(TFont &Font, const TLayoutProperty &P) {
  if (P.Name == "Font.Name")
    Font.Name = String(P);
  else if (P.Name == "Font.Height")
    Font.Height = Integer(P);
  else if (P.Name == "Font.Color")
    Font.Color = Color(P);
  else if (P.Name == "Font.Style")
    Font.Style = Set<TFontStyle>(P, {{"fsBold", fsBold},
                                     {"fsItalic", fsItalic},
                                     {"fsUnderline", fsUnderline},
                                     {"fsStrikeOut", fsStrikeOut}});
  else if (P.Name == "Font.Charset")
    Font.Charset = Enum<TFontCharset>(
        P, {{"DEFAULT_CHARSET", DEFAULT_CHARSET}, {"ANSI_CHARSET", ANSI_CHARSET}});
  else
    return false;
  return true;
}

class TLoader {
public:
  TLoader(TForm &Form, const TPublishedTable &Published) : FForm(Form), FPublished(Published) {}

  void Load(const TLayoutObject &Root) {
    if (Root.ClassName != FPublished.ClassName)
      Fail(Root.Line, "the layout is of class " + Root.ClassName + ", not " + FPublished.ClassName);
    FForm.Name = Root.Name;
    FForm.HandleNeeded();
    for (const TLayoutProperty &P : Root.Properties)
      if (!SetFormProperty(P))
        Unknown(P, FPublished.ClassName);
    for (const TLayoutObject &Child : Root.Children)
      LoadChild(Child);
    for (const TPublishedField &Field : FPublished.Fields)
      if (!FForm.FindComponent(Field.Name))
        Fail(Root.Line, "the layout has no component " + AnsiString(Field.Name));
  }

private:
  TForm &FForm;
  const TPublishedTable &FPublished;

  [[noreturn]] static void Unknown(const TLayoutProperty &P, const AnsiString &ClassName) {
    Fail(P.Line, "unknown property " + P.Name + " of " + ClassName);
  }

  TNotifyEvent Handler(const TLayoutProperty &P) {
    const AnsiString &Name = Expect(P, TKind::Identifier, "a handler name").Text;
    const auto Method = std::ranges::find(FPublished.Methods, Name, &TPublishedMethod::Name);
    if (Method == FPublished.Methods.end())
      Fail(P.Line, "unknown handler " + Name + " of " + FPublished.ClassName);
    return Method->Bind(FForm);
  }

  bool SetFormProperty(const TLayoutProperty &P) {
    if (P.Name == "Left")
      FForm.Left = Integer(P);
    else if (P.Name == "Top")
      FForm.Top = Integer(P);
    else if (P.Name == "ClientWidth")
      FForm.ClientWidth = Integer(P);
    else if (P.Name == "ClientHeight")
      FForm.ClientHeight = Integer(P);
    else if (P.Name == "Caption")
      FForm.Caption = String(P);
    else if (P.Name == "Color")
      FForm.Color = Color(P);
    else if (P.Name == "Position")
      FForm.Position = Enum<TPosition>(P, {{"poDesigned", poDesigned},
                                           {"poDesktopCenter", poDesktopCenter},
                                           {"poScreenCenter", poScreenCenter}});
    else if (P.Name == "BorderStyle")
      FForm.BorderStyle = Enum<TFormBorderStyle>(
          P, {{"bsSizeable", bsSizeable}, {"bsSingle", bsSingle}, {"bsDialog", bsDialog}});
    else if (P.Name == "BorderIcons")
      FForm.BorderIcons = Set<TBorderIcon>(
          P,
          {{"biSystemMenu", biSystemMenu}, {"biMinimize", biMinimize}, {"biMaximize", biMaximize}});
    else if (P.Name == "OnClick")
      FForm.OnClick = Handler(P);
    else
      return SetFont(*FForm.Font, P);
    return true;
  }

  bool SetControlProperty(TControl &C, const TLayoutProperty &P) {
    auto *Windowed = dynamic_cast<TWinControl *>(&C);
    if (P.Name == "Left")
      C.Left = Integer(P);
    else if (P.Name == "Top")
      C.Top = Integer(P);
    else if (P.Name == "Width")
      C.Width = Integer(P);
    else if (P.Name == "Height")
      C.Height = Integer(P);
    else if (P.Name == "Caption" && !dynamic_cast<TMemo *>(&C))
      C.Caption = String(P);
    else if (P.Name == "ParentFont")
      C.ParentFont = Boolean(P);
    else if (P.Name == "TabOrder" && Windowed)
      Windowed->TabOrder = Integer(P);
    else if (P.Name == "OnClick")
      C.OnClick = Handler(P);
    else
      return SetFont(*C.Font, P);
    return true;
  }

  static std::unique_ptr<TControl> Make(const TLayoutObject &Object, TForm &Owner) {
    if (Object.ClassName == "TButton")
      return std::make_unique<TButton>(&Owner);
    if (Object.ClassName == "TLabel")
      return std::make_unique<TLabel>(&Owner);
    if (Object.ClassName == "TMemo")
      return std::make_unique<TMemo>(&Owner);
    Fail(Object.Line, "unknown class " + Object.ClassName);
  }

  void LoadChild(const TLayoutObject &Object) {
    if (FForm.FindComponent(Object.Name))
      Fail(Object.Line, "a second component named " + Object.Name);
    if (!Object.Children.empty())
      Fail(Object.Children.front().Line, Object.ClassName + " cannot hold other components");
    TControl *Control = FForm.Own(Make(Object, FForm));
    Control->Name = Object.Name;
    Control->SetParent(&FForm);
    for (const TLayoutProperty &P : Object.Properties)
      if (!SetControlProperty(*Control, P))
        Unknown(P, Object.ClassName);
    for (const TPublishedField &Field : FPublished.Fields)
      if (Object.Name == Field.Name && !Field.Assign(FForm, *Control))
        Fail(Object.Line, Object.Name + " is not of the class its field expects");
  }
};

} // namespace

void LoadLayout(TForm &Form, std::string_view Text, const TPublishedTable &Published) {
  TLoader(Form, Published).Load(Parse(Text));
}
