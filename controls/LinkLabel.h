#pragma once

// TTextUrl: a label that acts as a hyperlink. Under the pointer it shows the hand
// cursor and its highlight colour; a press with any button opens its URL through the
// desktop's URL handler.

#include "Colors.h"

#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QString>

namespace cantavel {

class TTextUrl : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE SetUrl)
    Q_PROPERTY(quint32 HighlightColor READ HighlightColor WRITE SetColour)

public:
    static const QString kDefaultUrl;

    // Shows its link: the caption starts as the default URL.
    explicit TTextUrl(QWidget* owner = nullptr);

    QString URL() const { return url_; }
    // The caption is not touched; nothing is repainted.
    void SetUrl(const QString& value) { url_ = value; }
    TColor HighlightColor() const { return highlightColor_; }
    // Shows from the next time the pointer enters.
    void SetColour(TColor value) { highlightColor_ = value; }

protected:
    void CMMouseEnter();
    void CMMouseLeave();

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QColor fontColor() const;
    void setFontColor(const QColor& color);

    QString url_;
    QCursor SavedCursor;
    TColor highlightColor_ = clBlack;
    QColor SavedFontColor;
};

} // namespace cantavel
