#pragma once

#include <QRect>

namespace ui {

// The windows are laid out in twips, 15 to the pixel at 96 dots per inch, for a small 8-point
// system font. Every position is scaled by one factor so that captions in today's larger and
// wider default fonts still fit; Qt adds the screen's own high-DPI scaling on top.
double layoutScale();
int twips(int value);
QRect twipsRect(int left, int top, int width, int height);

} // namespace ui
