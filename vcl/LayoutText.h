// The text form of a stored layout, read into a tree of objects and their property values.
#pragma once

#include "vcl/Classes.h"

#include <string_view>

namespace vcl::layout {

struct TLayoutValue {
  enum class TKind { Integer, String, Identifier, Set } Kind;
  long long Integer = 0;
  AnsiString Text;               // a string's text or an identifier
  std::vector<AnsiString> Items; // a set's members
};

struct TLayoutProperty {
  AnsiString Name; // dotted for a sub-object: "Font.Height"
  TLayoutValue Value;
  int Line;
};

struct TLayoutObject {
  AnsiString Name, ClassName;
  int Line;
  std::vector<TLayoutProperty> Properties;
  std::vector<TLayoutObject> Children;
};

// EReadError, "line N: ...", for anything that is not a well-formed layout.
TLayoutObject Parse(std::string_view Text);

[[noreturn]] void Fail(int Line, const AnsiString &What);

} // namespace vcl::layout
