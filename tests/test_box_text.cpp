// A message box's text as the box lays it out: within its width, in even lines, nothing cut off.
#include "BoxText.h"
#include "gui.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

namespace {

const QString Blocked = "Entre em contato com o Técnico de Informática e solicite a liberação dos "
                        "links bloqueados!";
// No break opportunity inside it, by Unicode's rules (a URL's slashes would give some).
const QString LongWord = "Erro: " + QString(40, u'W');

TEST(BoxText, WrapsWithinItsLimitInEvenLinesAndShowsEveryCharacter) {
  const struct {
    const char *Name;
    QString Text;
    int Limit;
    QStringList Lines; // empty: not fixed by the case, only by the rules below
  } Cases[] = {
      {"the run's advice, two lines where one would be too wide",
       Blocked,
       300,
       {"Entre em contato com o Técnico de Informática",
        "e solicite a liberação dos links bloqueados!"}},
      {"a short text stays one line",
       "Validação concluída com sucesso!",
       300,
       {"Validação concluída com sucesso!"}},
      {"a line feed starts a line", "Erro:\nsem rede", 300, {"Erro:", "sem rede"}},
      {"a word wider than the box breaks inside", LongWord, 150, {}},
      {"no room at all still shows every character", "ab cd", 0, {}},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    vcl::qt::TBoxText Text(Case.Text);
    Text.WrapWithin(Case.Limit);
    const QStringList Lines = Text.Lines();
    if (!Case.Lines.isEmpty()) {
      EXPECT_EQ(Lines, Case.Lines);
    }
    EXPECT_LE(Text.width(), std::max(Case.Limit, QFontMetrics(Text.font()).maxWidth()));
    QString Shown = Lines.join(""), Given = Case.Text;
    EXPECT_EQ(Shown.remove(' '), Given.remove(' ').remove('\n')) << "characters lost";
    EXPECT_GE(Text.height(), Lines.size() * QFontMetrics(Text.font()).height()) << "lines cut off";

    // Even: a pixel narrower would take another line.
    if (Lines.size() > 1 && Case.Limit > 0) {
      vcl::qt::TBoxText Narrower(Case.Text);
      Narrower.WrapWithin(Text.width() - 1);
      EXPECT_GT(Narrower.Lines().size(), Lines.size());
    }
  }
}

} // namespace
