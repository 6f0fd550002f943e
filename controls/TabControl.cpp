#include "TabControl.h"

#include <QShortcut>
#include <QSignalBlocker>

namespace cantavel {

TTabControl::TTabControl(QWidget* parent)
    : QWidget(parent), bar_(new QTabBar(this)), pane_(new QFrame(this)) {
    bar_->setObjectName(QStringLiteral("tabs"));
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    pane_->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    pane_->lower();
    connect(bar_, &QTabBar::currentChanged, this, [this] {
        if (OnChange) {
            OnChange(this);
        }
    });
}

QStringList TTabControl::Tabs() const {
    QStringList captions;
    for (int i = 0; i < bar_->count(); ++i) {
        captions << bar_->tabText(i);
    }
    return captions;
}

void TTabControl::SetTabs(const QStringList& captions) {
    const QSignalBlocker quiet(bar_);
    while (bar_->count() > 0) {
        bar_->removeTab(0);
    }
    for (const QString& caption : captions) {
        bar_->addTab(caption);
    }
    resizeEvent(nullptr);
}

void TTabControl::SetTabIndexQuietly(int index) {
    const QSignalBlocker quiet(bar_);
    bar_->setCurrentIndex(index);
}

QRect TTabControl::DisplayRect() const {
    return pane_->geometry();
}

void TTabControl::resizeEvent(QResizeEvent*) {
    const int barHeight = bar_->sizeHint().height();
    bar_->setGeometry(2, 2, width() - 4, barHeight);
    pane_->setGeometry(0, 2 + barHeight - 1, width(), height() - barHeight - 1);
}

void TTabControl::StepWithCtrlTab(QWidget* scope) {
    const auto step = [this](int by) {
        if (bar_->count() > 0) {
            bar_->setCurrentIndex((bar_->currentIndex() + by + bar_->count()) % bar_->count());
        }
    };
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), scope), &QShortcut::activated, this,
            [step] { step(1); });
    // Shift turns Tab into Backtab; either spelling of the combination goes back.
    for (const QKeyCombination keys :
         {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, Qt::CTRL | Qt::Key_Backtab}) {
        connect(new QShortcut(QKeySequence(keys), scope), &QShortcut::activated, this,
                [step] { step(-1); });
    }
}

} // namespace cantavel
