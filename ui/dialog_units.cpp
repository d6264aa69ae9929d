#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace ferrotick::ui {
namespace {

// a * b / c rounded half away from zero, for the non-negative values here.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  return static_cast<int>((product + c / 2) / c);
}

int BaseWidthOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return (letters / 26 + 1) / 2;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
    : m_nBaseWidth(BaseWidthOf(font)),
      m_nBaseHeight(QFontMetrics(font).height()) {}

CDialogUnits::CDialogUnits(int baseWidth, int baseHeight)
    : m_nBaseWidth(baseWidth), m_nBaseHeight(baseHeight) {}

int CDialogUnits::X(int units) const { return MulDiv(units, m_nBaseWidth, 4); }

int CDialogUnits::Y(int units) const { return MulDiv(units, m_nBaseHeight, 8); }

QRect CDialogUnits::Rect(int x, int y, int width, int height) const {
  // Map the corners, not the extent, so that neighbours never overlap by
  // a rounding pixel.
  const int left = X(x);
  const int top = Y(y);
  return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize CDialogUnits::Size(int width, int height) const {
  return QSize(X(width), Y(height));
}

}  // namespace ferrotick::ui
