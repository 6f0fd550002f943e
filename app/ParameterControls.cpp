#include "ParameterControls.h"

#include "Accessibility.h"
#include "Counted.h"
#include "Knob.h"
#include "ParameterValues.h"
#include "PresetDocument.h"
#include "UpDown.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>

#include <chrono>
#include <utility>

namespace cantavel {

namespace {
// How long a released key's step stays open for a repeat that X reported as a release
// and a press: the press comes with the release, so this is slack for a busy window.
constexpr std::chrono::milliseconds kRepeatGrace{100};
} // namespace

ParameterControls::ParameterControls(PresetDocument& document, std::function<int()> shownSlot,
                                     QObject* parent)
    : QObject(parent), document_(document), shownSlot_(std::move(shownSlot)),
      releaseTimer_(new QTimer(this)) {
    releaseTimer_->setSingleShot(true);
    releaseTimer_->setInterval(kRepeatGrace);
    connect(releaseTimer_, &QTimer::timeout, this, [this] { document_.closeStep(); });
    connect(&document_, &PresetDocument::valueChanged, this,
            [this](int slot, ParameterId id, unsigned, unsigned) { documentChanged(slot, id); });
}

void ParameterControls::bind(ParameterId id, QWidget* control, QLineEdit* valueEdit,
                             std::function<void()> handler) {
    const Parameter& p = parameter(id);
    controls_[static_cast<std::size_t>(id)] = control;
    valueEdits_[static_cast<std::size_t>(id)] = valueEdit;
    switch (p.kind) {
    case ControlKind::Slider:
        connect(static_cast<QSlider*>(control), &QSlider::valueChanged, this, handler);
        break;
    case ControlKind::List: // lists report only the operator's picks
        connect(static_cast<QComboBox*>(control), &QComboBox::activated, this, handler);
        break;
    case ControlKind::UpDown:
        static_cast<TUpDown*>(control)->OnClick = [handler](QObject*, TUpDown::TUDBtnType) {
            handler();
        };
        break;
    case ControlKind::Knob:
        static_cast<TmKnob*>(control)->OnChange = [handler](QObject*, int) { handler(); };
        break;
    }
    if (p.kind != ControlKind::List) { // a list's pick is one change by itself
        watchGestures(control);
    }
    // What a screen reader says: the label's name. The two volume knobs are labelled
    // with their input alone.
    const QString name = QString::fromLatin1(p.name);
    control->setAccessibleName(p.kind == ControlKind::Knob && p.field.part == RecordPart::Mode
                                   ? name + QStringLiteral(" volume")
                                   : name);
    if (valueEdit) {
        valueEdit->setAccessibleName(control->accessibleName() + QStringLiteral(" value"));
    }
    if (p.display == Display::Tone) {
        // A tone slider stands at minus its tone; readers hear the tone itself.
        showNegatedValue(static_cast<QSlider*>(control));
    }
}

int ParameterControls::position(ParameterId id) const {
    QWidget* widget = control(id);
    switch (parameter(id).kind) {
    case ControlKind::Slider:
        return static_cast<QSlider*>(widget)->value();
    case ControlKind::List:
        return static_cast<QComboBox*>(widget)->currentIndex();
    case ControlKind::UpDown:
        return static_cast<TUpDown*>(widget)->Position();
    case ControlKind::Knob:
        return static_cast<TmKnob*>(widget)->Position();
    }
    return -1;
}

void ParameterControls::changed(ParameterId id) {
    if (showing_ > 0) {
        return; // the control is being set to what the record holds
    }
    const Parameter& p = parameter(id);
    const int at = position(id);
    const int slot = shownSlot_();
    if (slotKind(slot) == SlotKind::None || (p.kind == ControlKind::List && at < 0)) {
        return; // no tab, or a list with nothing picked
    }
    const int shown = p.kind == ControlKind::List ? at : p.shown(p.storedFromPosition(at));
    if (!gesture_ && releaseTimer_->isActive()) {
        finishRelease(); // the key's step ends before a change of another kind
    }
    switch (document_.setValue(slot, id, shown)) {
    case PresetDocument::SetResult::Changed:
        break;
    case PresetDocument::SetResult::Unchanged:
        return;
    case PresetDocument::SetResult::OutOfRange:
    case PresetDocument::SetResult::NotOnSlot:
        show(p, slot); // the control goes back to what the record holds
        return;
    }
    if (!gesture_ && !closePending_) {
        // A change without a held button or key is a step by itself, ended once the
        // event that made it has been handled.
        closePending_ = true;
        QTimer::singleShot(0, this, [this] {
            closePending_ = false;
            if (!gesture_) {
                document_.closeStep();
            }
        });
    }
}

// A value the document changed is shown when its slot is, with the value its limit
// bounds.
void ParameterControls::documentChanged(int slot, ParameterId id) {
    const Parameter& p = parameter(id);
    if (slot == shownSlot_() && slotHas(slot, p)) {
        show(p, slot);
        if (const Parameter* bound = boundBy(p)) {
            show(*bound, slot);
        }
    }
}

void ParameterControls::show(int slot, RecordPart part) {
    for (const Parameter& p : parameterTable()) {
        if (p.field.part == part) {
            show(p, slot);
        }
    }
}

// A knob or up-down under a limit first takes the limit its slot sets.
void ParameterControls::show(const Parameter& p, int slot) {
    const Counted showing(showing_);
    const ConfigRecord& record = document_.record();
    const int at = p.position(p.field.get(record, slot));
    const ValueRange range = shownRange(record, slot, p);
    QWidget* widget = control(p.id);
    QLineEdit* edit = valueEdits_[static_cast<std::size_t>(p.id)];
    switch (p.kind) {
    case ControlKind::Slider:
        static_cast<QSlider*>(widget)->setValue(at);
        edit->setText(QString::number(shownValue(record, slot, p)));
        break;
    case ControlKind::List:
        selectItem(static_cast<QComboBox*>(widget), at);
        break;
    case ControlKind::UpDown: {
        auto* upDown = static_cast<TUpDown*>(widget);
        if (limitOf(p)) {
            upDown->SetMax(range.max);
        }
        upDown->SetPosition(at);
        edit->setText(QString::number(upDown->Position()));
        break;
    }
    case ControlKind::Knob: {
        auto* knob = static_cast<TmKnob*>(widget);
        if (limitOf(p)) {
            knob->SetMaxValue(range.max);
        }
        knob->SetCurValue(at);
        edit->setText(QString::number(knob->Position()));
        break;
    }
    }
}

void ParameterControls::selectItem(QComboBox* list, int index) {
    // An index beyond the items shows no selection; the record keeps its value.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// Presses and key strokes on a slider, knob or up-down, so that a drag or a held key
// makes one step: the step ends when the button or key is released.
void ParameterControls::watchGestures(QWidget* widget) {
    widget->installEventFilter(this);
    for (QWidget* part : widget->findChildren<QWidget*>()) {
        part->installEventFilter(this);
    }
}

// A press begins a gesture unless one is under way: what was open before it is a
// step of its own.
void ParameterControls::beginGesture() {
    if (!gesture_) {
        finishRelease();
    }
    gesture_ = true;
}

void ParameterControls::finishRelease() {
    releaseTimer_->stop();
    document_.closeStep();
}

void ParameterControls::endGesture() {
    releaseTimer_->stop();
    gesture_ = mouseHeld_;
}

// A key held down repeats. X reports each repeat as a release and a press at one
// time stamp, and the toolkit marks them as repeats only when the press has come in
// by the time it handles the release: the step of a released key ends once no press
// of it at the release's time has followed. A key let go while the mouse drags ends
// nothing.
bool ParameterControls::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        beginGesture();
        mouseHeld_ = true;
        break;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat()) {
            break;
        }
        if (releaseTimer_->isActive() && key->key() == releasedKey_ &&
            key->timestamp() == releasedAt_) {
            releaseTimer_->stop(); // the same key, still held
            gesture_ = true;
            break;
        }
        beginGesture();
        break;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::FocusOut:
        mouseHeld_ = false;
        endGesture();
        document_.closeStep();
        break;
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() && gesture_ && !mouseHeld_) {
            gesture_ = false;
            releasedKey_ = key->key();
            releasedAt_ = key->timestamp();
            releaseTimer_->start();
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cantavel
