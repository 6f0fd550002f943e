#include "Knob.h"

#include "Accessibility.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QWheelEvent>

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cantavel {

namespace knob {

int nearest(double x) {
    // The default rounding mode rounds to nearest with halves to even.
    return static_cast<int>(std::nearbyint(x));
}

int ConstrainValue(int min, int max, int value) {
    if (value > max) {
        return max;
    }
    if (value < min) {
        return min;
    }
    return value;
}

PaintBox paintBox(int width, int height, int position, bool rotationEffect) {
    PaintBox b{};
    b.W = width - 4;
    b.H = height - 4;
    if (rotationEffect && position % 2 != 0) {
        b.H += 1; // one row taller at every odd value
    }
    b.cx = b.W / 2;
    b.cy = b.H / 2;
    b.ix = b.W / 6;
    b.iy = b.H / 6;
    b.ox = b.W / 32;
    b.oy = b.H / 32;
    return b;
}

std::optional<Mark> markFor(const PaintBox& b, int min, int max, int position) {
    if (position < 0 || max == min) {
        return std::nullopt;
    }
    const double mid = (static_cast<double>(min) + static_cast<double>(max)) / 2;
    const double theta = (position - mid) / (static_cast<double>(max) - min) * 5;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    Mark m{};
    m.theta = theta;
    m.point = QPoint(nearest(b.cx + (b.cx - b.ix) * s), nearest(b.cy - (b.cy - b.iy) * c));
    m.outer = QPoint(nearest(b.cx + (b.cx - b.ox) * s), nearest(b.cy - (b.cy - b.oy) * c));
    return m;
}

int valueFromPoint(int width, int height, int min, int max, int x, int y) {
    const int cx = width / 2;
    const int cy = height / 2;
    double d = nearest(
        std::sqrt(static_cast<double>(cx - x) * (cx - x) + static_cast<double>(cy - y) * (cy - y)));
    if (d == 0) {
        d = 0.0001;
    }
    double theta = 0;
    if (y < cy) {
        theta = std::asin(std::clamp((x - cx) / d, -1.0, 1.0));
    } else {
        const double phi = std::asin(std::clamp((cx - x) / d, -1.0, 1.0));
        theta = x > cx ? phi + std::numbers::pi : phi - std::numbers::pi;
    }
    return nearest((static_cast<double>(max) - min) * theta / 5 +
                   (static_cast<double>(min) + max) / 2);
}

} // namespace knob

TmKnob::TmKnob(QWidget* owner) : QWidget(owner) {
    resize(60, 60);
    // What lies outside the face is left to the parent, so that the knob sits on
    // whatever its parent paints (a group box is darker than a button's face).
    SetColor(rgbColor(189, 204, 181));
    SetDrag(true);
    // Reached by Tab, a click or the wheel, and turned by keys.
    setFocusPolicy(Qt::StrongFocus);
    installControlAccessibility();
}

void TmKnob::SetCurValue(int value) {
    if (value == position_) {
        return;
    }
    position_ = knob::ConstrainValue(min_, max_, value);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, position_);
        QAccessible::updateAccessibility(&changed);
    }
    repaintNow();
    KnobChange();
}

void TmKnob::SetMaxValue(int value) {
    if (value == max_) {
        return;
    }
    max_ = value;
    repaintNow();
}

void TmKnob::SetColor(TColor value) {
    faceColor_ = value;
    repaintNow();
}

void TmKnob::SetTickColor(TColor value) {
    if (value == tickColor_) {
        return;
    }
    tickColor_ = value;
    repaintNow();
}

void TmKnob::SetDrag(bool value) {
    if (value == allowUserDrag_) {
        return;
    }
    allowUserDrag_ = value;
    repaintNow();
}

void TmKnob::SetMarkStyle(TMarkStyle value) {
    if (value == markStyle_) {
        return;
    }
    markStyle_ = value;
    repaintNow();
}

void TmKnob::KnobChange() {
    if (OnChange) {
        OnChange(this, position_);
    }
}

void TmKnob::UpdatePosition(int x, int y) {
    SetCurValue(knob::valueFromPoint(width(), height(), min_, max_, x, y));
    repaintNow();
}

void TmKnob::repaintNow() {
    repaint(); // painted before the call returns (when visible)
}

void TmKnob::Paint(QPainter& p) const {
    const QPalette& palette = this->palette();
    const QColor face = resolveColor(faceColor_, palette);
    const QColor tick = resolveColor(tickColor_, palette);

    const knob::PaintBox b = knob::paintBox(width(), height(), position_, rotationEffect_);

    const auto ellipse = [&p](int x1, int y1, int x2, int y2) {
        p.drawEllipse(QRect(x1, y1, x2 - x1, y2 - y1));
    };
    p.setBrush(face);
    p.setPen(QPen(resolveColor(cl3DLight, palette), 2));
    ellipse(1, 1, b.W - 1, b.H - 1);
    p.setPen(QPen(resolveColor(clBtnShadow, palette), 2));
    ellipse(3, 3, b.W + 2, b.H + 2);
    // A rounded rectangle whose corners are as large as itself: the face.
    p.setPen(QPen(resolveColor(clBtnFace, palette), 1));
    ellipse(2, 2, b.W, b.H);

    const std::optional<knob::Mark> mark = knob::markFor(b, min_, max_, position_);
    if (!mark) {
        return;
    }
    QPen pen(tick, 3);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(face);
    const QPoint at = mark->point;
    if (markStyle_ == TMarkStyle::msLine) {
        p.drawLine(at, mark->outer);
    } else {
        p.setBrush(tick);
        // Corner ellipse (X + 3) x (Y + 3): a full dot wherever X and Y are at least 3.
        const QRect box(at.x() - 3, at.y() - 3, 6, 6);
        p.drawRoundedRect(box, std::max(0, at.x() + 3) / 2.0, std::max(0, at.y() + 3) / 2.0);
    }
}

QImage TmKnob::Render(qreal devicePixelRatio) const {
    const qreal ratio = std::max<qreal>(1, devicePixelRatio);
    QImage image(QSize(std::max(1, width()), std::max(1, height())) * ratio,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter offscreen(&image);
    Paint(offscreen);
    return image;
}

void TmKnob::paintEvent(QPaintEvent*) {
    // Composed off screen at the screen's own pixel density and copied in one
    // operation, so the control never flickers and is sharp on a scaled screen.
    QPainter painter(this);
    painter.drawImage(0, 0, Render(devicePixelRatioF()));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void TmKnob::ChangeByOperator(int value) {
    if (!allowUserDrag_) {
        return;
    }
    const int next = knob::ConstrainValue(min_, max_, value);
    if (next != position_) {
        SetCurValue(next);
    }
}

void TmKnob::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        ChangeByOperator(position_ + 1);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        ChangeByOperator(position_ - 1);
        break;
    case Qt::Key_PageUp:
        ChangeByOperator(position_ + 10);
        break;
    case Qt::Key_PageDown:
        ChangeByOperator(position_ - 10);
        break;
    case Qt::Key_Home:
        ChangeByOperator(min_);
        break;
    case Qt::Key_End:
        ChangeByOperator(max_);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// One step per notch (15 degrees); a fine wheel adds up until it makes one.
void TmKnob::wheelEvent(QWheelEvent* event) {
    wheelRest_ += event->angleDelta().y();
    const int steps = wheelRest_ / 120;
    wheelRest_ %= 120;
    if (steps != 0) {
        ChangeByOperator(position_ + steps);
    }
    event->accept();
}

void TmKnob::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    event->accept(); // keep the mouse grab for the drag
    if (!allowUserDrag_) {
        return;
    }
    dragging_ = true;
    const QPoint at = event->position().toPoint();
    UpdatePosition(at.x(), at.y());
    repaintNow();
}

void TmKnob::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    if (dragging_) {
        const QPoint at = event->position().toPoint();
        UpdatePosition(at.x(), at.y());
    }
}

void TmKnob::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    dragging_ = false;
}

} // namespace cantavel
