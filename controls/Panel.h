#pragma once

// A panel with an outer and an inner bevel, one pixel each, either raised, lowered or
// absent; the About dialog's frame has a lowered outer and a raised inner one.

#include <QFrame>

namespace cantavel {

class TPanel : public QFrame {
    Q_OBJECT

public:
    enum class TBevelCut { bvNone, bvLowered, bvRaised };
    Q_ENUM(TBevelCut)
    Q_PROPERTY(TBevelCut BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(TBevelCut BevelOuter READ BevelOuter WRITE SetBevelOuter)

    explicit TPanel(QWidget* parent = nullptr);

    TBevelCut BevelInner() const { return inner_; }
    void SetBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return outer_; }
    void SetBevelOuter(TBevelCut value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevelCut inner_ = TBevelCut::bvNone;
    TBevelCut outer_ = TBevelCut::bvRaised;
};

} // namespace cantavel
