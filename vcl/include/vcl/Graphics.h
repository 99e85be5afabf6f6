// Colours, fonts and cursors, with the values the stored layouts and the program use.
#pragma once

#include "vcl/Classes.h"

#include <cstdint>
#include <set>

// 0x00BBGGRR for a fixed colour; 0xFF0000nn for the system's colour number nn.
using TColor = std::uint32_t;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGreen = 0x008000;
constexpr TColor clWhite = 0xFFFFFF;

enum class TFontCharset { DEFAULT_CHARSET, ANSI_CHARSET };
using enum TFontCharset;

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using enum TFontStyle;
using TFontStyles = std::set<TFontStyle>;

// A control's font; any change is passed on to the control that owns it.
class TFont {
public:
  explicit TFont(std::function<void()> OnChange);
  TFont(const TFont &) = delete;
  TFont &operator=(const TFont &) = delete;

  TProperty<AnsiString> Name;
  // Negative: the character height in pixels at 96 pixels per inch, as the layouts store it.
  TProperty<int> Height;
  TProperty<TColor> Color;
  TProperty<TFontStyles> Style;
  TProperty<TFontCharset> Charset;

  // Copies every value and tells the owner once.
  void Assign(const TFont &Source);

private:
  std::function<void()> FOnChange;
  void Changed();
};

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;
