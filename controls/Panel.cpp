#include "Panel.h"

#include <QPainter>

namespace cantavel {

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
}

void TPanel::SetBevelInner(TBevelCut value) {
    if (value != inner_) {
        inner_ = value;
        update();
    }
}

void TPanel::SetBevelOuter(TBevelCut value) {
    if (value != outer_) {
        outer_ = value;
        update();
    }
}

void TPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QRect edge = rect();
    // A raised bevel is lit from the top left; a lowered one the other way round.
    const auto bevel = [&](TBevelCut cut) {
        if (cut == TBevelCut::bvNone) {
            return;
        }
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const QColor& topLeft = cut == TBevelCut::bvRaised ? light : dark;
        const QColor& bottomRight = cut == TBevelCut::bvRaised ? dark : light;
        p.setPen(topLeft);
        p.drawLine(edge.topLeft(), edge.topRight());
        p.drawLine(edge.topLeft(), edge.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(edge.bottomLeft(), edge.bottomRight());
        p.drawLine(edge.topRight(), edge.bottomRight());
        edge.adjust(1, 1, -1, -1);
    };
    bevel(outer_);
    bevel(inner_);
}

} // namespace cantavel
