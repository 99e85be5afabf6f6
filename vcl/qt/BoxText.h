// The text of a message box, laid out as a classic box lays it out.
#pragma once

#include <QLabel>
#include <QStringList>

class QTextLayout;

namespace vcl::qt {

// Lines break between words, and inside a word too long for a line, so that nothing is cut off
// (QLabel breaks between words only); a line feed starts a new line.
class TBoxText : public QLabel {
public:
  explicit TBoxText(const QString &Text, QWidget *Parent = nullptr);

  // Lines no wider than Limit, and as even as their number allows: laid out at the narrowest
  // width that takes no more lines than Limit does. The widget takes the text's own size.
  void WrapWithin(int Limit);
  // The text of each line as it shows, with the blank a line was broken at left off.
  QStringList Lines() const;

protected:
  void paintEvent(QPaintEvent *) override;

private:
  int FWidth = 0;
  struct TExtent {
    int Lines;
    QSize Size; // of the text itself, which may be narrower than the width it was laid out at
  };
  static TExtent LayOut(QTextLayout &Layout, int Width);
  TExtent LayOut(int Width) const;
  QString Printable() const;
};

} // namespace vcl::qt
