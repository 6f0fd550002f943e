#include "LabeledEdit.h"

#include <QEvent>

namespace cantavel {

TLabeledEdit::TLabeledEdit(QWidget* parent) : QLineEdit(parent), label_(new QLabel(parent)) {
    label_->setBuddy(this);
    placeLabel();
}

TLabeledEdit::~TLabeledEdit() {
    delete label_.data(); // the sibling goes with its edit
}

QString TLabeledEdit::EditLabelCaption() const {
    return label_ ? label_->text() : QString();
}

void TLabeledEdit::SetEditLabelCaption(const QString& text) {
    if (!label_) {
        return;
    }
    label_->setText(text);
    label_->adjustSize();
    placeLabel();
}

void TLabeledEdit::placeLabel() {
    if (!label_) {
        return;
    }
    label_->adjustSize();
    const QSize size = label_->size();
    label_->move(x() - kLabelSpacing - size.width(), y() + (height() - size.height()) / 2);
}

void TLabeledEdit::moveEvent(QMoveEvent* event) {
    QLineEdit::moveEvent(event);
    placeLabel();
}

void TLabeledEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeLabel();
}

void TLabeledEdit::showEvent(QShowEvent* event) {
    QLineEdit::showEvent(event);
    if (label_) {
        label_->setVisible(true);
    }
}

void TLabeledEdit::hideEvent(QHideEvent* event) {
    QLineEdit::hideEvent(event);
    if (label_ && isHidden()) {
        label_->setVisible(false);
    }
}

void TLabeledEdit::changeEvent(QEvent* event) {
    QLineEdit::changeEvent(event);
    if (!label_) {
        return;
    }
    if (event->type() == QEvent::EnabledChange) {
        label_->setEnabled(isEnabled());
    } else if (event->type() == QEvent::FontChange) {
        placeLabel();
    }
}

bool TLabeledEdit::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange && label_) {
        label_->setParent(parentWidget());
        label_->show();
        placeLabel();
    }
    return QLineEdit::event(event);
}

} // namespace cantavel
