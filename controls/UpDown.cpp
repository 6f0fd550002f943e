#include "UpDown.h"

#include "Accessibility.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QStylePainter>
#include <QToolButton>

#include <algorithm>

namespace cantavel {

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setObjectName(QStringLiteral("next"));
    down_->setObjectName(QStringLiteral("prev"));
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus); // the pair takes focus as one
        b->setIconSize(QSize(7, 5));
    }
    connect(up_, &QToolButton::clicked, this, [this] { Click(TUDBtnType::btNext); });
    connect(down_, &QToolButton::clicked, this, [this] { Click(TUDBtnType::btPrev); });
    setFocusPolicy(Qt::StrongFocus);
    resize(sizeHint());
    installControlAccessibility();
}

void TUpDown::SetMin(int value) {
    min_ = value;
    max_ = std::max(max_, min_);
    SetPosition(position_);
}

void TUpDown::SetMax(int value) {
    max_ = value;
    min_ = std::min(min_, max_);
    SetPosition(position_);
}

void TUpDown::SetPosition(int value) {
    moveTo(std::clamp(value, min_, max_));
}

// A screen reader speaks the value it is told of, not one it would have to ask for.
void TUpDown::moveTo(int position) {
    if (position == position_) {
        return;
    }
    position_ = position;
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, position_);
        QAccessible::updateAccessibility(&changed);
    }
}

void TUpDown::Click(TUDBtnType button) {
    const int step = button == TUDBtnType::btNext ? increment_ : -increment_;
    const int next = std::clamp(position_ + step, min_, max_);
    if (next == position_) {
        return; // at a limit: nothing changed, nothing fires
    }
    moveTo(next);
    if (OnClick) {
        OnClick(this, button);
    }
}

void TUpDown::ChangeByOperator(int value) {
    const int target = std::clamp(value, min_, max_);
    while (position_ != target) {
        const int before = position_;
        Click(target > position_ ? TUDBtnType::btNext : TUDBtnType::btPrev);
        if (position_ == before || increment_ <= 0) {
            break;
        }
        if ((target - before) * (target - position_) < 0) {
            break; // an increment larger than the rest of the way went past it
        }
    }
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        Click(TUDBtnType::btNext);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        Click(TUDBtnType::btPrev);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

// A one-pixel border stays free around the buttons for the focus frame.
void TUpDown::resizeEvent(QResizeEvent*) {
    const int inner = height() - 2;
    const int half = inner / 2;
    up_->setGeometry(1, 1, width() - 2, half);
    down_->setGeometry(1, 1 + half, width() - 2, inner - half);
}

void TUpDown::paintEvent(QPaintEvent*) {
    if (!hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace cantavel
