#pragma once

// TmKnob: a rotary knob. Its face carries one mark that turns through 5 radians while
// Position runs from Min to Max; the gap of the sweep is at the bottom. Pressing a
// mouse button on it and dragging around its centre sets the value.
//
// The geometry lives in pure functions below, which the widget only draws.

#include "Colors.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace cantavel {

enum class TMarkStyle : std::uint8_t { msLine = 0, msCircle = 1 };

namespace knob {

// x rounded to the nearest integer, halves to the even neighbour.
int nearest(double x);

int ConstrainValue(int min, int max, int value);

// The drawing box of a knob of this size: W = width − 4, H = height − 4 (one row
// taller at odd positions with the rotation effect), its centre and the insets of
// the mark's inner and outer radius.
struct PaintBox {
    int W, H, cx, cy, ix, iy, ox, oy;
};
PaintBox paintBox(int width, int height, int position, bool rotationEffect);

// Where the mark goes: its point and, for a line, the outer end. None for a negative
// position, and none when Max equals Min (the sweep has no length to divide).
struct Mark {
    double theta;
    QPoint point;
    QPoint outer;
};
std::optional<Mark> markFor(const PaintBox& box, int min, int max, int position);

// The raw value a pointer at (x, y) in control coordinates stands for, before
// clamping. The reading centre is the control's own (width div 2, height div 2).
int valueFromPoint(int width, int height, int min, int max, int x, int y);

} // namespace knob

class TmKnob : public QWidget {
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(bool AllowUserDrag READ AllowUserDrag WRITE SetDrag)
    Q_PROPERTY(quint32 FaceColor READ FaceColor WRITE SetColor)
    Q_PROPERTY(quint32 TickColor READ TickColor WRITE SetTickColor)
    Q_PROPERTY(int Position READ Position WRITE SetCurValue)
    Q_PROPERTY(bool RotationEffect READ RotationEffect WRITE SetRotationEffect)
    Q_PROPERTY(TMarkStyle MarkStyle READ MarkStyle WRITE SetMarkStyle)
    Q_PROPERTY(int Max READ Max WRITE SetMaxValue)
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    // clang-format on

public:
    using TKnobChangeEvent = std::function<void(QObject* Sender, int Value)>;

    explicit TmKnob(QWidget* owner = nullptr);

    TKnobChangeEvent OnChange;

    int Max() const { return max_; }
    int Min() const { return min_; }
    int Position() const { return position_; }
    TColor FaceColor() const { return faceColor_; }
    TColor TickColor() const { return tickColor_; }
    bool AllowUserDrag() const { return allowUserDrag_; }
    TMarkStyle MarkStyle() const { return markStyle_; }
    bool RotationEffect() const { return rotationEffect_; }
    bool Dragging() const { return dragging_; }

    // Position: clamped into Min..Max, but compared unclamped, so a value outside the
    // range repaints and fires OnChange even when Position stays as it was.
    void SetCurValue(int value);
    // Does not re-clamp Position.
    void SetMaxValue(int value);
    // Min and RotationEffect are plain: stored, nothing repainted.
    void SetMin(int value) { min_ = value; }
    void SetRotationEffect(bool value) { rotationEffect_ = value; }
    // Stores and repaints without comparing.
    void SetColor(TColor value);
    void SetTickColor(TColor value);
    void SetDrag(bool value);
    void SetMarkStyle(TMarkStyle value);

    QSize sizeHint() const override { return {60, 60}; }

    // A change the operator makes without the pointer (keys, wheel, an assistive
    // tool): clamped into the range first, reported only when Position changes, and
    // only while AllowUserDrag allows the operator to turn the knob.
    void ChangeByOperator(int value);

    // The knob as painted, at a device pixel ratio (2 on a screen scaled by two): the
    // drawing is the same in logical pixels, with the detail of the device's.
    QImage Render(qreal devicePixelRatio) const;

protected:
    void KnobChange();
    void UpdatePosition(int x, int y);
    // Draws the knob into an off-screen image of the control's size.
    void Paint(QPainter& painter) const;

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Arrows by 1, Page Up and Page Down by 10, Home and End to the ends.
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void repaintNow();

    int max_ = 100;
    int min_ = 0;
    int position_ = 0;
    TColor faceColor_ = rgbColor(189, 204, 181);
    TColor tickColor_ = clBlack;
    bool allowUserDrag_ = true;
    bool dragging_ = false;
    TMarkStyle markStyle_ = TMarkStyle::msLine;
    bool rotationEffect_ = false;
    int wheelRest_ = 0; // eighths of a degree not yet a whole step
};

} // namespace cantavel
