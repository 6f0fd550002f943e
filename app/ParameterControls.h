#pragma once

// The parameters' controls on a form, bound to the preset document: each shows the
// record's value on the slot shown, and what the operator does with one goes to the
// document, a drag or a held key as one step to take back.

#include "Parameters.h"

#include <QObject>

#include <array>
#include <cstddef>
#include <functional>
#include <variant>

class QComboBox;
class QLineEdit;
class QSlider;
class QTimer;
class QWidget;

namespace cantavel {

class PresetDocument;
class TmKnob;
class TUpDown;

// A window's handler of a control's changes. A binding cannot be made without one:
// there is no empty handler to leave out or to give as nullptr. (Whether a pointer
// to a member function is null cannot be asked at compile time in a build with
// -fsanitize=null, so the type answers it instead.)
template <typename Window> class ControlHandler {
public:
    using Member = void (Window::*)();
    constexpr ControlHandler(Member member) : member_(member) {}
    ControlHandler(std::nullptr_t) = delete;
    constexpr Member member() const { return member_; }

private:
    Member member_;
};

// A parameter's control on a form (the form's member, of the control's kind) and the
// window's handler of its changes.
template <typename Form, typename Window> struct ControlBinding {
    using Control = std::variant<QSlider * Form::*, QComboBox * Form::*, TUpDown * Form::*,
                                 TmKnob * Form::*>; // in ControlKind's order
    ParameterId id;
    Control control;
    ControlHandler<Window> handler;
};

// Whether the bindings hold every parameter once, in the table's order, each with a
// control of its kind (and, as every binding does, a handler): a condition the
// window's table is checked against when it compiles.
template <typename Form, typename Window, std::size_t N>
constexpr bool everyParameterBound(const std::array<ControlBinding<Form, Window>, N>& bindings) {
    if (N != kParameterCount) {
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        const auto& b = bindings[i];
        if (static_cast<std::size_t>(b.id) != i ||
            b.control.index() != static_cast<std::size_t>(parameter(b.id).kind) ||
            std::visit([](auto member) { return member == nullptr; }, b.control)) {
            return false;
        }
    }
    return true;
}

class ParameterControls : public QObject {
    Q_OBJECT

public:
    ParameterControls(PresetDocument& document, std::function<int()> shownSlot,
                      QObject* parent = nullptr);

    // A parameter's control and the edit that shows its value (null for none);
    // `handler` runs for every change the control reports.
    void bind(ParameterId id, QWidget* control, QLineEdit* valueEdit,
              std::function<void()> handler);
    QWidget* control(ParameterId id) const { return controls_[static_cast<std::size_t>(id)]; }

    // What every handler does: the control's value goes to the document, which keeps
    // the rules between values; what it changes comes back to the controls.
    void changed(ParameterId id);
    // Puts a slot's values of one part of the record into their controls without
    // running their handlers.
    void show(int slot, RecordPart part);
    void show(const Parameter& p, int slot);
    // An undo or redo ends a held key's gesture; the rest of a drag is a step of its own.
    void endGesture();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int position(ParameterId id) const;
    void documentChanged(int slot, ParameterId id);
    void watchGestures(QWidget* widget);
    void beginGesture();
    void finishRelease();
    static void selectItem(QComboBox* list, int index);

    PresetDocument& document_;
    std::function<int()> shownSlot_;
    std::array<QWidget*, kParameterCount> controls_{};
    std::array<QLineEdit*, kParameterCount> valueEdits_{};
    int showing_ = 0;        // controls being set to the record's values
    bool gesture_ = false;   // a button or key held on a parameter control
    bool mouseHeld_ = false; // the gesture is the mouse's
    bool closePending_ = false;
    // A key released moments ago, whose step stays open until it is clear that no
    // repeat of it follows.
    QTimer* releaseTimer_;
    int releasedKey_ = 0;
    quint64 releasedAt_ = 0;
};

} // namespace cantavel
