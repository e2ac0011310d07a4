#pragma once

#include <QLineEdit>
#include <QRect>
#include <QString>
#include <QWidget>

#include <limits>
#include <type_traits>

namespace ui {

// The windows are laid out in twips, 15 to the pixel at 96 dots per inch, for a small 8-point
// system font. Every position is scaled by one factor so that captions in today's larger and
// wider default fonts still fit; Qt adds the screen's own high-DPI scaling on top.
double layoutScale();
int twips(int value);
QRect twipsRect(int left, int top, int width, int height);

// A control of the window's design: its object name and its place, already in pixels.
template <typename W> W *place(QWidget *parent, const char *name, QRect geometry) {
    auto *w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    // Values are free text of any length; Qt's default limit of 32,767 characters would show a
    // longer value from a file cut, and the next keystroke would store the cut text.
    if constexpr (std::is_base_of_v<QLineEdit, W>)
        w->setMaxLength(std::numeric_limits<int>::max());
    return w;
}

// Moves a window, frame included, to the middle of the screen it is on.
void centerOnScreen(QWidget *window);

} // namespace ui
