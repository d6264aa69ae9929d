// Dialog units: positions that scale with the dialog's font, so the window
// keeps its proportions whatever font and screen scale it gets.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace ferrotick::ui {

class CDialogUnits {
 public:
  // Base width: the mean width of the 52 letters A-Z and a-z, rounded;
  // base height: the font's line height.
  explicit CDialogUnits(const QFont& font);
  CDialogUnits(int baseWidth, int baseHeight);

  int BaseWidth() const { return m_nBaseWidth; }
  int BaseHeight() const { return m_nBaseHeight; }

  // x * base width / 4 and y * base height / 8, rounded to nearest.
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int m_nBaseWidth;
  int m_nBaseHeight;
};

}  // namespace ferrotick::ui
