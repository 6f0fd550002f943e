#pragma once

// TUpDown: an up-down button pair bound to no other control. Its click event fires
// only when a click or an arrow key really changed the position (never at a limit,
// never when the program sets the position). It does not wrap.

#include <QWidget>

#include <functional>

class QToolButton;

namespace cantavel {

class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)

public:
    enum class TUDBtnType { btNext, btPrev };
    using TUDClickEvent = std::function<void(QObject* Sender, TUDBtnType Button)>;

    explicit TUpDown(QWidget* parent = nullptr);

    TUDClickEvent OnClick;

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    int Increment() const { return increment_; }
    // Range changes bring the position into the new range; nothing fires.
    void SetMin(int value);
    void SetMax(int value);
    // Clamped into the range; nothing fires.
    void SetPosition(int value);
    void SetIncrement(int value) { increment_ = value; }

    // What a click on one of the buttons does.
    void Click(TUDBtnType button);
    // Clicks towards `value` until it is reached or a limit stops it (a value set by
    // an assistive tool): each step fires as a click does.
    void ChangeByOperator(int value);

    QSize sizeHint() const override { return {17, 24}; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void moveTo(int position);

    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    int increment_ = 1;
};

} // namespace cantavel
