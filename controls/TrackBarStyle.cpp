#include "TrackBarStyle.h"

#include <QPainter>
#include <QSlider>
#include <QStyleOptionSlider>

#include <utility>

namespace cantavel {

namespace {
// Sets a flag for as long as it lives.
class Raised {
public:
    explicit Raised(bool& flag) : flag_(flag), was_(std::exchange(flag, true)) {}
    ~Raised() { flag_ = was_; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& flag_;
    bool was_;
};
} // namespace

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

QStyleOptionSlider TTrackBarStyle::filledFromBelow(const QStyleOptionSlider& option) {
    QStyleOptionSlider turned(option);
    if (option.orientation == Qt::Vertical && !option.upsideDown) {
        turned.upsideDown = true;
        turned.sliderPosition = option.minimum + option.maximum - option.sliderPosition;
        turned.sliderValue = option.minimum + option.maximum - option.sliderValue;
    }
    return turned;
}

// Drawing, the parts' places and the hit test all use the inset rectangle, so a
// press maps to the value under the thumb as it is drawn. The base style draws the
// inset control at the origin, moved into place: it places ticks and the channel's
// highlight from the origin whatever the rectangle's corner.
//
// The parts are drawn one at a time in the base style's order, so that the ticks are
// drawn in their own colour: drawn together with the channel they took the colour of
// its highlight whenever the style had just made that afresh, and the first bar of each
// size came out blue, the others grey.
void TTrackBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                        QPainter* painter, const QWidget* widget) const {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || insetGiven_) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionSlider drawn = inset(*slider);
    const QPoint corner = drawn.rect.topLeft();
    drawn.rect.moveTopLeft(QPoint(0, 0));
    {
        const Raised given(insetGiven_);
        painter->save();
        painter->translate(corner);
        const SubControls parts[] = {SC_SliderGroove, SC_SliderTickmarks,
                                     ~(SC_SliderGroove | SC_SliderTickmarks)};
        for (const SubControls part : parts) {
            QStyleOptionSlider one = part == SC_SliderTickmarks ? drawn : filledFromBelow(drawn);
            one.subControls = drawn.subControls & part;
            if (one.subControls != SC_None) {
                QProxyStyle::drawComplexControl(control, &one, painter, widget);
            }
        }
        painter->restore();
    }
    if (slider->state & State_HasFocus) {
        painter->save();
        painter->setPen(QPen(slider->palette.color(QPalette::Highlight), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(slider->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
}

QRect TTrackBarStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                     SubControl sub, const QWidget* widget) const {
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        control == CC_Slider && slider && !insetGiven_) {
        const QStyleOptionSlider drawn = inset(*slider);
        const Raised given(insetGiven_);
        return QProxyStyle::subControlRect(control, &drawn, sub, widget);
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

QStyle::SubControl TTrackBarStyle::hitTestComplexControl(ComplexControl control,
                                                         const QStyleOptionComplex* option,
                                                         const QPoint& point,
                                                         const QWidget* widget) const {
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        control == CC_Slider && slider && !insetGiven_) {
        const QStyleOptionSlider drawn = inset(*slider);
        const Raised given(insetGiven_);
        return QProxyStyle::hitTestComplexControl(control, &drawn, point, widget);
    }
    return QProxyStyle::hitTestComplexControl(control, option, point, widget);
}

} // namespace cantavel
