#pragma once

// TTabControl: a strip of tabs over one shared client area. The controls on the area
// stay the same for every tab; only what they show changes. Selecting a tab from the
// program can be done quietly, without the change event.

#include <QFrame>
#include <QStringList>
#include <QTabBar>
#include <QWidget>

#include <functional>

namespace cantavel {

class TTabControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList Tabs READ Tabs WRITE SetTabs)

public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TTabControl(QWidget* parent = nullptr);

    // Fired when the user selects another tab.
    TNotifyEvent OnChange;

    QStringList Tabs() const;
    void SetTabs(const QStringList& captions);
    // The selected tab, -1 when none.
    int TabIndex() const { return bar_->currentIndex(); }
    // Selects a tab without firing OnChange.
    void SetTabIndexQuietly(int index);
    QTabBar* TabBar() const { return bar_; }
    // Ctrl+Tab and Ctrl+Shift+Tab anywhere in `scope` go through the tabs as clicks
    // on them would.
    void StepWithCtrlTab(QWidget* scope);
    QRect DisplayRect() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabBar* bar_;
    QFrame* pane_;
};

} // namespace cantavel
