// Any bytes as the main window's stored layout: the form is built in full, or refused with a
// line-numbered EReadError and nothing half applied survives. Widgets live on Qt's offscreen
// platform, so this needs no display.
#include "uZelvatorim.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Application->Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char *>(Data), Size);
  TForm1 Form(nullptr);
  try {
    LoadLayout(Form, Text, TForm1::Published);
    if (!Form.btn2 || !Form.memolista || !Form.lblmsg)
      std::abort(); // a loaded form has every control its class names
  } catch (const EReadError &E) {
    if (E.Message.rfind("Layout line ", 0) != 0)
      std::abort();
  }
  return 0;
}
