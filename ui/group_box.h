// A group box drawn as a classic dialog draws one: an etched frame whose
// top line runs through the middle of the title, the title inset from the
// left and the line broken behind it, all within the control's rectangle.
#pragma once

#include <QGroupBox>

namespace ferrotick::ui {

class CGroupBox : public QGroupBox {
  Q_OBJECT

 public:
  CGroupBox(const QString& title, QWidget* parent);

  // The title's text with a little space each side, in the box's own
  // coordinates; empty without a title.
  QRect TitleRect() const;
  // The y of the frame's top line.
  int FrameTop() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace ferrotick::ui
