#include "uZelvatorim.h"

int main() {
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception &E) {
    Application->ShowException(E);
    return 1;
  }
  return 0;
}
