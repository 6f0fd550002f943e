#pragma once

// Sliders drawn as track bars: the channel, its ticks and the thumb's travel start and
// end a few pixels inside the control. A label that ends where the control begins
// then does not touch the bar, and a thumb at either end stays clear of whatever
// lies just beyond the control (the value displays under the vertical ones).
// The ticks are all of one colour, a vertical channel fills from its bottom whichever
// end its minimum is at, and the keyboard focus is a dotted frame around the control.

#include <QProxyStyle>

class QStyleOptionSlider;

namespace cantavel {

class TTrackBarStyle final : public QProxyStyle {
    Q_OBJECT

public:
    // Pixels between each end of the control and the channel.
    static constexpr int kInset = 8;

    // Over the application's style.
    TTrackBarStyle();

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    SubControl hitTestComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     const QPoint& point, const QWidget* widget) const override;

    // The option with its rectangle drawn in from both ends along the slider.
    static QStyleOptionSlider inset(const QStyleOptionSlider& option);
    // A vertical bar whose minimum is at its top, turned the other way up with its thumb
    // where it was: the base style fills the channel below the thumb.
    static QStyleOptionSlider filledFromBelow(const QStyleOptionSlider& option);

private:
    // Set while the base style works on an option already drawn in: the places it
    // looks up through this style are not drawn in a second time.
    mutable bool insetGiven_ = false;
};

} // namespace cantavel
