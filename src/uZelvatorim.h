#pragma once

#include <vcl.h>

class TForm1 : public TForm {
public: // components bound by the stored layout
  TButton *btn2 = nullptr;
  TMemo *memolista = nullptr;
  TLabel *lblmsg = nullptr;
  void btn2Click(TObject *Sender);

  static const TPublishedTable Published;

public: // NOLINT(readability-redundant-access-specifiers): the unit's own, apart from the layout's
  explicit TForm1(TComponent *Owner) : TForm(Owner) {}
  void ValidarLinks();
  void LimparLista();
  bool TestarLink(const AnsiString &url);
};

extern TForm1 *Form1;
