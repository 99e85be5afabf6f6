// The window as the stored layout builds it, and layouts the reader must refuse.
#include "gui.h"
#include "uZelvatorim.h"
#include "vcl_qt.h"
#include "wininet_record.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QWidget *W(TControl *C) {
  return vcl::qt::WidgetOf(*C);
}

class Window : public testing::Test {
protected:
  static void SetUpTestSuite() { ShowMainForm(Form1); }
  void SetUp() override {
    wininet::record::Reset();
    QApplication::setActiveWindow(W(Form1));
  }
};

TEST_F(Window, HasTheStoredValues) {
  QWidget *Form = W(Form1);
  EXPECT_EQ(Form->windowTitle(), "Telvaro Zelvatorim de Links - v.23.10vo0(VE)");
  EXPECT_EQ(Form->size(), QSize(481, 237));
  EXPECT_EQ(Form->minimumSize(), Form->maximumSize()) << "the user cannot resize it";
  Qt::WindowFlags Flags = Form->windowFlags();
  EXPECT_TRUE(Flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(Flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(Flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Form->palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  EXPECT_EQ(Form1->Left, 442);
  EXPECT_EQ(Form1->Top, 217);
  EXPECT_EQ(Form1->Font->Name, "MS Sans Serif");

  struct {
    TControl *Control;
    QRect Geometry;
    int PixelSize;
    bool Bold;
    QPalette::ColorRole Role;
    QColor Color;
  } Controls[] = {
      {Form1->btn2, {16, 9, 75, 25}, 11, false, QPalette::ButtonText, Qt::black},
      {Form1->memolista,
       {16, 41, 452, 161},
       11,
       false,
       QPalette::Text,
       QApplication::palette().color(QPalette::WindowText)},
  };
  for (const auto &C : Controls) {
    SCOPED_TRACE(C.Control->Name);
    EXPECT_EQ(W(C.Control)->geometry(), C.Geometry);
    EXPECT_EQ(W(C.Control)->font().pixelSize(), C.PixelSize);
    EXPECT_EQ(W(C.Control)->font().bold(), C.Bold);
    EXPECT_EQ(W(C.Control)->palette().color(C.Role), C.Color);
  }
  EXPECT_FALSE(Form1->btn2->ParentFont);
  EXPECT_TRUE(Form1->memolista->ParentFont) << "the memo takes the window's font";
  EXPECT_EQ(Form1->btn2->TabOrder, 0);
  EXPECT_EQ(Form1->memolista->TabOrder, 1);
}

TEST_F(Window, ButtonCaptionFitsUnclipped) {
  auto *Button = static_cast<QPushButton *>(W(Form1->btn2));
  EXPECT_EQ(Button->text(), "Validar Links");
  // The classic style draws a 2-pixel bevel and a focus frame inside the 75-pixel button.
  EXPECT_LE(Button->fontMetrics().horizontalAdvance(Button->text()), 75 - 12);
  EXPECT_EQ(QFontInfo(Button->font()).family(), "Liberation Sans");
}

TEST_F(Window, MemoIsAnEditableWrappedBoxWithoutScrollBars) {
  auto *Memo = static_cast<QPlainTextEdit *>(W(Form1->memolista));
  EXPECT_FALSE(Memo->isReadOnly());
  EXPECT_EQ(Memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(Memo->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(Memo->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
}

TEST_F(Window, StatusLineIsBoldAndSizedToItsCaption) {
  auto *Label = static_cast<QLabel *>(W(Form1->lblmsg));
  EXPECT_EQ(Label->font().pixelSize(), 13);
  EXPECT_TRUE(Label->font().bold());
  EXPECT_EQ(Label->pos(), QPoint(98, 16));
  const QString Captions[] = {"", "Por favor aguarde, validando links..."};
  for (const QString &Caption : Captions) {
    Form1->lblmsg->Caption = Caption.toStdString();
    QFontMetrics Metrics(Label->font());
    EXPECT_EQ(Label->size(), QSize(Metrics.horizontalAdvance(Caption.isEmpty() ? " " : Caption),
                                   Metrics.height()));
    EXPECT_EQ(Form1->lblmsg->Width, Label->width());
  }
}

TEST_F(Window, OpensCentredWithTheFocusOnTheButton) {
  QRect Desktop = QGuiApplication::primaryScreen()->virtualGeometry();
  EXPECT_LE((W(Form1)->frameGeometry().center() - Desktop.center()).manhattanLength(), 1);
  EXPECT_EQ(QApplication::focusWidget(), W(Form1->btn2));
}

TEST_F(Window, TabMovesBetweenButtonAndTextBox) {
  W(Form1->btn2)->setFocus();
  QTest::keyClick(W(Form1->btn2), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), W(Form1->memolista));
  QTest::keyClick(W(Form1->memolista), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), W(Form1->btn2));
  EXPECT_EQ(Form1->memolista->Lines->Count, 0) << "Tab is not typed into the text box";
}

TEST_F(Window, EnterOnTheButtonStartsOneRun) {
  TBoxAnswerer Answer;
  W(Form1->btn2)->setFocus();
  QTest::keyClick(W(Form1->btn2), Qt::Key_Return);
  ASSERT_EQ(Answer.Boxes.size(), 1u);
  EXPECT_EQ(Answer.Boxes[0].Text, "Validação concluída com sucesso!");
  int Opens = 0;
  for (const std::string &Call : wininet::record::Calls())
    Opens += Call.starts_with("InternetOpenUrlA");
  EXPECT_EQ(Opens, 18);
}

TEST(Layout, RefusesWhatItCannotRead) {
  const std::string Head = "object Form1: TForm1\n  Caption = 'x'\n";
  const struct {
    std::string Text, Error;
  } Cases[] = {
      {Head + "  Color = \n", "line 3: a value is missing"},
      {Head + "  Caption = 'open\nend\n", "line 3: unterminated string"},
      {Head + "  object b: TButton\n  end\n", "line 5: the text ends before the 'end' of 'Form1'"},
      {Head + "end\nend\n", "line 4: text after the final 'end'"},
      {Head + "  Left 1\nend\n", "line 3: expected '=' after 'Left'"},
      {Head + "  Wiidth = 10\nend\n", "line 3: unknown property Wiidth of TForm1"},
      {Head + "  object b: TButton\n    Glyph = 1\n  end\nend\n",
       "line 4: unknown property Glyph of TButton"},
      {Head + "  object m: TMemo\n    Caption = 'x'\n  end\nend\n",
       "line 4: unknown property Caption of TMemo"},
      {Head + "  object b: TButton\n    OnClick = btn3Click\n  end\nend\n",
       "line 4: unknown handler btn3Click of TForm1"},
      {Head + "  object e: TEdit\n  end\nend\n", "line 3: unknown class TEdit"},
      {Head + "  Position = poCentre\nend\n", "line 3: unknown value 'poCentre' for Position"},
      {Head + "  BorderIcons = [biSystemMenu, biHelp]\nend\n",
       "line 3: unknown value 'biHelp' for BorderIcons"},
      {Head + "  Left = 'ten'\nend\n", "line 3: Left takes a number"},
      {Head + "  Left = 99999999999\nend\n", "line 3: malformed number"},
      {"object Form2: TForm2\nend\n", "line 1: the layout is of class TForm2, not TForm1"},
      {Head + "  object btn2: TButton\n  end\n  object btn2: TButton\n  end\nend\n",
       "line 5: a second component named btn2"},
      {Head + "  object btn2: TLabel\n  end\nend\n",
       "line 3: btn2 is not of the class its field expects"},
      {Head + "end\n", "line 1: the layout has no component btn2"},
  };
  for (const auto &Case : Cases) {
    TForm1 Form(Application);
    try {
      LoadLayout(Form, Case.Text, TForm1::Published);
      ADD_FAILURE() << "accepted:\n" << Case.Text;
    } catch (const EReadError &E) {
      EXPECT_EQ(E.Message, "Layout line " + Case.Error.substr(5)) << Case.Text;
    }
  }
}

TEST(Layout, ReadsStringsAsTheComponentLibraryWritesThem) {
  TForm Form(Application);
  LoadLayout(Form,
             "object F: TForm\n  Caption = 'It''s '#225'gua'#13#10 +\n    'x'\n"
             "  Color = $0000FF\nend\n",
             {"TForm", {}, {}});
  EXPECT_EQ(Form.Caption, "It's água\r\nx");
  EXPECT_EQ(Form.Color, clRed);
}

} // namespace
