#include <vcl.h>

#include <gtest/gtest.h>

TEST(Title, FollowsTheFileNameRule) {
  const std::string Long(300, 'A');
  const struct {
    std::string Path, Title;
  } Cases[] = {
      {"CheckLinks.exe", "Checklinks"},
      {"Link.Check.EXE", "Link"},
      {"/opt/Tools v2/bin/ZELVATORIM", "Zelvatorim"},
      {"C:\\Program Files\\Suporte\\Validador.exe", "Validador"},
      {"Z:\\tmp\\Link.Check.EXE", "Link"},
      {"\\\\servidor\\ferramentas\\CheckLinks.exe", "Checklinks"},
      {"C:/Mixed\\Separators/TESTE.v2.exe", "Teste"},
      {"zelvatorim", "zelvatorim"},
      {"Relatório.exe", "Relatório"},
      {Long + ".exe", "A" + std::string(254, 'a')},
      {".hidden", ""},
  };
  for (const auto &Case : Cases)
    EXPECT_EQ(TitleFromFileName(Case.Path), Case.Title) << Case.Path;
}

TEST(Title, NeverCutsACharacterInTwo) {
  if (std::string("ç").size() != 2)
    GTEST_SKIP() << "a single-byte code page has no character to cut";
  // 254 ASCII letters, then a two-byte letter that would straddle the 255th byte.
  std::string Title = TitleFromFileName("A" + std::string(253, 'b') + "ção.exe");
  EXPECT_EQ(Title, "A" + std::string(253, 'b'));
}

TEST(Title, IsTheApplicationTitleOfThisExecutable) {
  EXPECT_EQ(Application->Title, "test_title");
}
