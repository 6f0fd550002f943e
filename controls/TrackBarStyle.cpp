#include "TrackBarStyle.h"

#include <QStyleOptionSlider>

namespace cantavel {

TTrackBarStyle::TTrackBarStyle() : QProxyStyle(nullptr) {}

QStyleOptionSlider TTrackBarStyle::inset(const QStyleOptionSlider& option) {
    QStyleOptionSlider drawn(option);
    if (option.orientation == Qt::Horizontal) {
        drawn.rect.adjust(kInset, 0, -kInset, 0);
    } else {
        drawn.rect.adjust(0, kInset, 0, -kInset);
    }
    return drawn;
}

// Drawing, the parts' places and the hit test all use the inset rectangle, so a
// press maps to the value under the thumb as it is drawn.
void TTrackBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                        QPainter* painter, const QWidget* widget) const {
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        control == CC_Slider && slider) {
        const QStyleOptionSlider drawn = inset(*slider);
        QProxyStyle::drawComplexControl(control, &drawn, painter, widget);
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QRect TTrackBarStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                     SubControl sub, const QWidget* widget) const {
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        control == CC_Slider && slider) {
        const QStyleOptionSlider drawn = inset(*slider);
        return QProxyStyle::subControlRect(control, &drawn, sub, widget);
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

QStyle::SubControl TTrackBarStyle::hitTestComplexControl(ComplexControl control,
                                                         const QStyleOptionComplex* option,
                                                         const QPoint& point,
                                                         const QWidget* widget) const {
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        control == CC_Slider && slider) {
        const QStyleOptionSlider drawn = inset(*slider);
        return QProxyStyle::hitTestComplexControl(control, &drawn, point, widget);
    }
    return QProxyStyle::hitTestComplexControl(control, option, point, widget);
}

} // namespace cantavel
