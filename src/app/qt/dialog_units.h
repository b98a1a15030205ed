// Dialog units of a font turned into pixels: a horizontal unit is a quarter of the font's average
// character width (the width of the 52 letters A-Z a-z divided by 52), a vertical unit an eighth
// of its character height. Rectangles are converted edge by edge, so that controls which touch in
// dialog units touch in pixels.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "app/qt/window_layout.h"

namespace qm::app::qt {

class DialogUnits {
  public:
    explicit DialogUnits(QFont const& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(DialogRect const& place) const;
    QSize Size(int width, int height) const;

    double averageCharWidth() const { return averageCharWidth_; }
    double charHeight() const { return charHeight_; }

  private:
    double averageCharWidth_;
    double charHeight_;
};

}  // namespace qm::app::qt
