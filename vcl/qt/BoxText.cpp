#include "BoxText.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace vcl::qt {

TBoxText::TBoxText(const QString &Text, QWidget *Parent) : QLabel(Text, Parent) {
  setTextFormat(Qt::PlainText);
}

void TBoxText::WrapWithin(int Limit) {
  Limit = std::max(Limit, 1);
  const int Most = LayOut(Limit).Lines;
  int Narrow = 1, Wide = Limit;
  while (Narrow < Wide) {
    const int Middle = Narrow + (Wide - Narrow) / 2;
    if (LayOut(Middle).Lines <= Most)
      Wide = Middle;
    else
      Narrow = Middle + 1;
  }
  FWidth = Wide;
  setFixedSize(LayOut(FWidth).Size);
}

QStringList TBoxText::Lines() const {
  const QString Text = Printable();
  QTextLayout Layout(Text, font(), this);
  LayOut(Layout, FWidth);
  QStringList Result;
  for (int I = 0; I < Layout.lineCount(); ++I) {
    const QTextLine Line = Layout.lineAt(I);
    QString Shown = Text.mid(Line.textStart(), Line.textLength());
    while (!Shown.isEmpty() && Shown.back().isSpace()) // blanks and the line feed
      Shown.chop(1);
    Result << Shown;
  }
  return Result;
}

void TBoxText::paintEvent(QPaintEvent *) {
  QPainter Painter(this);
  Painter.setPen(palette().color(QPalette::WindowText));
  QTextLayout Layout(Printable(), font(), this);
  LayOut(Layout, FWidth);
  Layout.draw(&Painter, {0, 0});
}

TBoxText::TExtent TBoxText::LayOut(QTextLayout &Layout, int Width) {
  QTextOption Option;
  Option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Layout.setTextOption(Option);
  Layout.beginLayout();
  int Count = 0;
  qreal Height = 0, Widest = 0;
  for (QTextLine Line = Layout.createLine(); Line.isValid(); Line = Layout.createLine()) {
    Line.setLineWidth(Width);
    Line.setPosition({0, Height});
    Height += Line.height();
    Widest = std::max(Widest, Line.naturalTextWidth());
    ++Count;
  }
  Layout.endLayout();
  return {Count, QSize(int(std::ceil(Widest)), int(std::ceil(Height)))};
}

TBoxText::TExtent TBoxText::LayOut(int Width) const {
  QTextLayout Layout(Printable(), font(), this);
  return LayOut(Layout, Width);
}

// Line feeds as the layout engine knows them.
QString TBoxText::Printable() const {
  QString Result = text();
  Result.replace(u'\n', QChar::LineSeparator);
  return Result;
}

} // namespace vcl::qt
