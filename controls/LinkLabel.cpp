#include "LinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

namespace cantavel {

const QString TTextUrl::kDefaultUrl = QStringLiteral("https://example.com/");

TTextUrl::TTextUrl(QWidget* owner) : QLabel(owner), url_(kDefaultUrl) {
    setText(url_);
}

QColor TTextUrl::fontColor() const {
    return palette().color(foregroundRole());
}

void TTextUrl::setFontColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(foregroundRole(), color);
    setPalette(p);
}

void TTextUrl::CMMouseEnter() {
    SavedCursor = cursor();
    setCursor(Qt::PointingHandCursor);
    SavedFontColor = fontColor();
    setFontColor(resolveColor(highlightColor_, palette()));
}

void TTextUrl::CMMouseLeave() {
    setCursor(SavedCursor);
    setFontColor(SavedFontColor);
}

// The label's own handling of the two notifications is replaced, not extended.
void TTextUrl::enterEvent(QEnterEvent*) {
    CMMouseEnter();
}

void TTextUrl::leaveEvent(QEvent*) {
    CMMouseLeave();
}

void TTextUrl::mousePressEvent(QMouseEvent* event) {
    // Any button; whether a handler could open the link is not reported.
    (void)QDesktopServices::openUrl(QUrl(url_));
    event->accept();
}

} // namespace cantavel
