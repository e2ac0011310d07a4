#include "geometry.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace ui {

double layoutScale() {
    // The line height and the width of the lower-case alphabet in the 8-point font the layout
    // was drawn for. Today's default fonts are wider for their height, so both count.
    constexpr double designLineHeight = 13.0;
    constexpr double designAlphabetWidth = 140.0;
    static const double scale = [] {
        const QFontMetricsF metrics(QApplication::font());
        const double alphabet =
            metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyz"));
        return std::max({1.0, metrics.height() / designLineHeight, alphabet / designAlphabetWidth});
    }();
    return scale;
}

int twips(int value) {
    return int(std::lround(value / 15.0 * layoutScale()));
}

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

void centerOnScreen(QWidget *window) {
    if (const QScreen *screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

} // namespace ui
