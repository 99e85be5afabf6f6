#include "vcl/Graphics.h"

TFont::TFont(std::function<void()> OnChange)
    : Name([this](const auto &) { Changed(); }, "MS Sans Serif"),
      Height([this](const auto &) { Changed(); }, -11),
      Color([this](const auto &) { Changed(); }, clWindowText),
      Style([this](const auto &) { Changed(); }),
      Charset([this](const auto &) { Changed(); }, DEFAULT_CHARSET),
      FOnChange(std::move(OnChange)) {}

void TFont::Assign(const TFont &Source) {
  Name.Store(Source.Name);
  Height.Store(Source.Height);
  Color.Store(Source.Color);
  Style.Store(Source.Style);
  Charset.Store(Source.Charset);
  Changed();
}

void TFont::Changed() {
  FOnChange();
}
