// The layout text reader on any bytes: it either gives a tree or refuses with a line-numbered
// EReadError. Anything else (a crash, another exception, a sanitizer report) is a fault.
#include "LayoutText.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char *>(Data), Size);
  try {
    const vcl::layout::TLayoutObject Root = vcl::layout::Parse(Text);
    if (Root.Name.empty() || Root.ClassName.empty())
      std::abort(); // a tree always names its root
  } catch (const EReadError &E) {
    if (E.Message.rfind("Layout line ", 0) != 0)
      std::abort();
  }
  return 0;
}
