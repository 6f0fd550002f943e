#include "Accessibility.h"

#include "Knob.h"
#include "UpDown.h"

#include <QAccessibleWidget>

namespace cantavel {

namespace {

// A control with Min, Max and Position, told to the reader as a value.
template <typename Control>
class ValueControlAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    ValueControlAccessible(Control* control, QAccessible::Role role)
        : QAccessibleWidget(control, role) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
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

QAccessibleInterface* describe(const QString& className, QObject* object) {
    if (className == QLatin1String(TmKnob::staticMetaObject.className())) {
        return new ValueControlAccessible<TmKnob>(static_cast<TmKnob*>(object), QAccessible::Dial);
    }
    if (className == QLatin1String(TUpDown::staticMetaObject.className())) {
        return new ValueControlAccessible<TUpDown>(static_cast<TUpDown*>(object),
                                                   QAccessible::SpinBox);
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

} // namespace cantavel
