#include "Accessibility.h"

#include "Knob.h"
#include "UpDown.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

namespace cantavel {

namespace {

// Set on a slider that shows minus its position.
constexpr char kNegatedValue[] = "cantavelShowsNegatedValue";

// A widget the reader is told a value of.
class ValueAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    using QAccessibleWidget::QAccessibleWidget;
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
};

// A control with Min, Max and Position, told to the reader as a value.
template <typename Control> class ValueControlAccessible final : public ValueAccessible {
public:
    ValueControlAccessible(Control* control, QAccessible::Role role)
        : ValueAccessible(control, role) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return QString::number(control()->Position());
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return control()->Position(); }
    QVariant maximumValue() const override { return control()->Max(); }
    QVariant minimumValue() const override { return control()->Min(); }
    QVariant minimumStepSize() const override { return 1; }
    // A value set by an assistive tool is a change by the operator.
    void setCurrentValue(const QVariant& value) override {
        control()->ChangeByOperator(value.toInt());
    }

private:
    Control* control() const { return static_cast<Control*>(widget()); }
};

// One arrow of an up-down: "<name> up" or "<name> down" after the pair's name, which
// may be given after the arrows were made.
class UpDownArrowAccessible final : public QAccessibleWidget {
public:
    explicit UpDownArrowAccessible(QToolButton* arrow)
        : QAccessibleWidget(arrow, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty()) {
            return QAccessibleWidget::text(t);
        }
        const QString pair = widget()->parentWidget()->accessibleName();
        const QString way =
            arrow()->arrowType() == Qt::UpArrow ? QStringLiteral("up") : QStringLiteral("down");
        return pair.isEmpty() ? way : pair + QLatin1Char(' ') + way;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            arrow()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QToolButton* arrow() const { return static_cast<QToolButton*>(widget()); }
};

// A drop-down list that cannot be typed into: named by its label, its current item
// told as its value and as its text (which is where readers on Linux look for it).
class ListAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ListAccessible(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return name();
        case QAccessible::Value:
            return list()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    // The items, as the popup's view shows them.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            if (list()->view()->isVisible()) {
                list()->hidePopup();
            } else {
                list()->showPopup();
            }
            return;
        }
        QAccessibleWidget::doAction(name);
    }

    // The current item as read-only text.
    QString text(int startOffset, int endOffset) const override {
        const QString item = list()->currentText();
        const qsizetype start = std::clamp<qsizetype>(startOffset, 0, item.size());
        const qsizetype end =
            endOffset < 0 ? item.size() : std::clamp<qsizetype>(endOffset, start, item.size());
        return item.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(list()->currentText().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = offset;
        *endOffset = offset;
        return {};
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }

    QString name() const {
        if (const QString given = widget()->accessibleName(); !given.isEmpty()) {
            return given;
        }
        if (const QWidget* parent = widget()->parentWidget()) {
            for (const QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                if (label->buddy() == widget()) {
                    QString text = label->text();
                    text.remove(QLatin1Char('&'));
                    return text;
                }
            }
        }
        return list()->currentText(); // nothing names it better
    }
};

// A slider that shows minus its position.
class NegatedSliderAccessible final : public ValueAccessible {
public:
    explicit NegatedSliderAccessible(QSlider* slider)
        : ValueAccessible(slider, QAccessible::Slider) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return QString::number(-slider()->value());
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return -slider()->value(); }
    QVariant maximumValue() const override { return -slider()->minimum(); }
    QVariant minimumValue() const override { return -slider()->maximum(); }
    QVariant minimumStepSize() const override { return slider()->singleStep(); }
    void setCurrentValue(const QVariant& value) override { slider()->setValue(-value.toInt()); }

private:
    QSlider* slider() const { return static_cast<QSlider*>(widget()); }
};

QAccessibleInterface* describe(const QString& className, QObject* object) {
    if (className == QLatin1String(TmKnob::staticMetaObject.className())) {
        return new ValueControlAccessible<TmKnob>(static_cast<TmKnob*>(object), QAccessible::Dial);
    }
    if (className == QLatin1String(TUpDown::staticMetaObject.className())) {
        return new ValueControlAccessible<TUpDown>(static_cast<TUpDown*>(object),
                                                   QAccessible::SpinBox);
    }
    if (className == QLatin1String("QToolButton") && qobject_cast<TUpDown*>(object->parent())) {
        return new UpDownArrowAccessible(static_cast<QToolButton*>(object));
    }
    if (className == QLatin1String("QComboBox")) {
        if (auto* list = qobject_cast<QComboBox*>(object); list && !list->isEditable()) {
            return new ListAccessible(list);
        }
    }
    if (className == QLatin1String("QSlider") && object->property(kNegatedValue).toBool()) {
        return new NegatedSliderAccessible(static_cast<QSlider*>(object));
    }
    return nullptr;
}

} // namespace

void installControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(describe);
        return true;
    }();
    (void)installed;
}

void showNegatedValue(QSlider* slider) {
    installControlAccessibility();
    slider->setProperty(kNegatedValue, true);
    // A description made before (a reader listened while the slider was set up) would
    // go on telling the position: it makes way for ours.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(slider);
    if (made && !dynamic_cast<NegatedSliderAccessible*>(made)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

} // namespace cantavel
