#include "geometry.h"

#include <QApplication>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace ui {

double layoutScale() {
    // The line height of the 8-point font the layout was drawn for.
    constexpr double designLineHeight = 13.0;
    static const double scale =
        std::max(1.0, QFontMetricsF(QApplication::font()).height() / designLineHeight);
    return scale;
}

int twips(int value) {
    return int(std::lround(value / 15.0 * layoutScale()));
}

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace ui
