#include "LayoutText.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace vcl::layout {

void Fail(int Line, const AnsiString &What) {
  throw EReadError("Layout line " + std::to_string(Line) + ": " + What);
}

namespace {

bool IsIdentStart(char C) {
  return std::isalpha(static_cast<unsigned char>(C)) || C == '_';
}
bool IsIdentChar(char C) {
  return std::isalnum(static_cast<unsigned char>(C)) || C == '_';
}

void AppendUtf8(AnsiString &Out, unsigned long Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

class TReader {
public:
  explicit TReader(std::string_view Text) : FText(Text) {}

  TLayoutObject ReadRoot() {
    SkipBlanks();
    TLayoutObject Root = ReadObject();
    SkipBlanks();
    if (!AtEnd())
      Fail(FLine, "text after the final 'end'");
    return Root;
  }

private:
  std::string_view FText;
  size_t FPos = 0;
  int FLine = 1;
  int FDepth = 0;

  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }

  // Blanks include line breaks: values never span lines except after '+'.
  void SkipBlanks() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(Peek()))) {
      if (Peek() == '\n')
        ++FLine;
      ++FPos;
    }
  }

  void SkipSpaces() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\r')
      ++FPos;
  }

  void EndOfLine() {
    SkipSpaces();
    if (!AtEnd() && Peek() != '\n')
      Fail(FLine, "unexpected '" + AnsiString(1, Peek()) + "' at the end of the line");
  }

  AnsiString Identifier(const char *What) {
    if (!IsIdentStart(Peek()))
      Fail(FLine, AtEnd() ? AnsiString("the text ends where ") + What + " should be"
                          : AnsiString("expected ") + What);
    size_t Start = FPos;
    while (IsIdentChar(Peek()))
      ++FPos;
    return AnsiString(FText.substr(Start, FPos - Start));
  }

  AnsiString QualifiedName() {
    AnsiString Name = Identifier("a property name");
    while (Peek() == '.') {
      ++FPos;
      Name += '.' + Identifier("a property name after '.'");
    }
    return Name;
  }

  TLayoutObject ReadObject() {
    // Deep nesting only comes from broken or hostile text; a real form is two levels deep.
    if (++FDepth > 32)
      Fail(FLine, "components nested too deeply");
    TLayoutObject Object;
    Object.Line = FLine;
    if (Identifier("'object'") != "object")
      Fail(FLine, "expected 'object'");
    SkipSpaces();
    Object.Name = Identifier("a component name");
    SkipSpaces();
    if (Peek() != ':')
      Fail(FLine, "expected ':' and a class name after '" + Object.Name + "'");
    ++FPos;
    SkipSpaces();
    Object.ClassName = Identifier("a class name");
    EndOfLine();
    for (;;) {
      SkipBlanks();
      if (AtEnd())
        Fail(FLine, "the text ends before the 'end' of '" + Object.Name + "'");
      size_t Mark = FPos;
      AnsiString Word = QualifiedName();
      if (Word == "end") {
        EndOfLine();
        break;
      }
      if (Word == "object") {
        FPos = Mark;
        Object.Children.push_back(ReadObject());
        continue;
      }
      if (!Object.Children.empty())
        Fail(FLine, "property '" + Word + "' after the components of '" + Object.Name + "'");
      Object.Properties.push_back(ReadProperty(std::move(Word)));
    }
    --FDepth;
    return Object;
  }

  TLayoutProperty ReadProperty(AnsiString Name) {
    TLayoutProperty Property{std::move(Name), {}, FLine};
    SkipSpaces();
    if (Peek() != '=')
      Fail(FLine, "expected '=' after '" + Property.Name + "'");
    ++FPos;
    SkipSpaces();
    Property.Value = ReadValue();
    EndOfLine();
    return Property;
  }

  TLayoutValue ReadValue() {
    char C = Peek();
    if (C == '\'' || C == '#')
      return {TLayoutValue::TKind::String, 0, ReadString(), {}};
    if (C == '-' || C == '$' || std::isdigit(static_cast<unsigned char>(C)))
      return {TLayoutValue::TKind::Integer, ReadInteger(), {}, {}};
    if (C == '[')
      return ReadSet();
    if (IsIdentStart(C))
      return {TLayoutValue::TKind::Identifier, 0, Identifier("a value"), {}};
    Fail(FLine, AtEnd() || C == '\n'
                    ? AnsiString("a value is missing")
                    : "unsupported value starting with '" + AnsiString(1, C) + "'");
  }

  long long ReadInteger() {
    bool Negative = Peek() == '-';
    if (Negative)
      ++FPos;
    int Base = 10;
    if (Peek() == '$') {
      Base = 16;
      ++FPos;
    }
    size_t Start = FPos;
    while (std::isxdigit(static_cast<unsigned char>(Peek())))
      ++FPos;
    unsigned long long Magnitude = 0;
    auto [End, Error] = std::from_chars(FText.data() + Start, FText.data() + FPos, Magnitude, Base);
    if (FPos == Start || Error != std::errc() || End != FText.data() + FPos ||
        Magnitude > static_cast<unsigned long long>(std::numeric_limits<int>::max()) + 1ULL ||
        IsIdentChar(Peek()))
      Fail(FLine, "malformed number");
    return Negative ? -static_cast<long long>(Magnitude) : static_cast<long long>(Magnitude);
  }

  // 'quoted' pieces ('' is a quote) and #code characters, joined; '+' continues on the next line.
  AnsiString ReadString() {
    AnsiString Out;
    for (;;) {
      if (Peek() == '\'') {
        ReadQuoted(Out);
      } else if (Peek() == '#') {
        ReadCharacterCode(Out);
      } else {
        SkipSpaces();
        if (Peek() != '+')
          return Out;
        ++FPos;
        SkipBlanks();
        if (Peek() != '\'' && Peek() != '#')
          Fail(FLine, "expected a string after '+'");
      }
    }
  }

  // 'text', with '' for a quote, on one line.
  void ReadQuoted(AnsiString &Out) {
    ++FPos;
    for (;;) {
      if (AtEnd() || Peek() == '\n')
        Fail(FLine, "unterminated string");
      char C = FText[FPos++];
      if (C == '\'') {
        if (Peek() != '\'')
          return;
        ++FPos;
      }
      Out += C;
    }
  }

  // #code: one character by its decimal code point, in UTF-8.
  void ReadCharacterCode(AnsiString &Out) {
    ++FPos;
    size_t Start = FPos;
    while (std::isdigit(static_cast<unsigned char>(Peek())) && FPos - Start < 8)
      ++FPos;
    unsigned long Code = 0;
    std::from_chars(FText.data() + Start, FText.data() + FPos, Code);
    if (FPos == Start || Code == 0 || Code > 0x10FFFF || (Code >= 0xD800 && Code < 0xE000))
      Fail(FLine, "malformed character code");
    AppendUtf8(Out, Code);
  }

  TLayoutValue ReadSet() {
    TLayoutValue Set{TLayoutValue::TKind::Set, 0, {}, {}};
    ++FPos;
    SkipSpaces();
    if (Peek() == ']') {
      ++FPos;
      return Set;
    }
    for (;;) {
      SkipSpaces();
      Set.Items.push_back(Identifier("a set member"));
      SkipSpaces();
      if (Peek() == ']') {
        ++FPos;
        return Set;
      }
      if (Peek() != ',')
        Fail(FLine, "expected ',' or ']' in a set");
      ++FPos;
    }
  }
};

} // namespace

TLayoutObject Parse(std::string_view Text) {
  return TReader(Text).ReadRoot();
}

} // namespace vcl::layout
