// Small text helpers the settings readers share. Settings texts are bytes, read as ASCII.
#pragma once

#include <string>
#include <string_view>

namespace wininet::preconfig {

// Blanks and line ends: what pads and separates entries in a settings text.
inline constexpr std::string_view kSpace = " \t\r\n";

bool IsSpace(char c);
// Without the leading and trailing characters found in space.
std::string_view Trim(std::string_view text, std::string_view space = kSpace);
std::string Lower(std::string_view text);
// Only 0 to 9, or nothing at all.
bool IsDigits(std::string_view text);
// The value of a hexadecimal digit in either case, or -1.
int HexDigit(char c);

} // namespace wininet::preconfig
