#include "Colors.h"

#include <QApplication>

namespace cantavel {

QColor resolveColor(TColor color, const QPalette& palette) {
    if (!isSystemColor(color)) {
        return QColor(static_cast<int>(color & 0xFF), static_cast<int>(color >> 8 & 0xFF),
                      static_cast<int>(color >> 16 & 0xFF));
    }
    switch (color) {
    case clBtnFace:
        return palette.color(QPalette::Active, QPalette::Button);
    case clBtnShadow:
        return palette.color(QPalette::Active, QPalette::Dark);
    case cl3DLight:
        return palette.color(QPalette::Active, QPalette::Midlight);
    case clGradientActiveCaption: {
        // Qt has no caption gradient; the light end of a title bar gradient is the
        // selection colour washed towards the base colour.
        const QColor high = palette.color(QPalette::Active, QPalette::Highlight);
        const QColor base = palette.color(QPalette::Active, QPalette::Base);
        return QColor((high.red() * 2 + base.red() * 3) / 5,
                      (high.green() * 2 + base.green() * 3) / 5,
                      (high.blue() * 2 + base.blue() * 3) / 5);
    }
    default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
}

QColor resolveColor(TColor color) {
    return resolveColor(color, QApplication::palette());
}

} // namespace cantavel
