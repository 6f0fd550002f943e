#include "PresetDocument.h"

#include "ParameterValues.h"
#include "SlotKind.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>
#include <utility>

namespace cantavel {

namespace {

// The parameters a slot shows, the limits of other values first.
std::vector<const Parameter*> limitsFirst(int slot) {
    std::vector<const Parameter*> shown = slotParameters(slot);
    std::stable_partition(shown.begin(), shown.end(),
                          [](const Parameter* p) { return boundBy(*p) != nullptr; });
    return shown;
}

} // namespace

PresetDocument::PresetDocument(ConfigRecord& record, QString* fileName, QObject* parent)
    : QObject(parent), record_(record), fileName_(fileName ? fileName : &ownFileName_) {
    markUnmodified(true);
}

FileResult PresetDocument::load(const QString& path, qint64* fileSize) {
    if (inTrial()) {
        // What a file that cannot be read leaves is the record as it was.
        putBackTrial();
    }
    FileResult read = loadConfigFile(path, record_, fileSize);
    if (read) {
        *fileName_ = path;
        markUnmodified(true);
    }
    return read;
}

FileResult PresetDocument::save(const QString& path) {
    if (inTrial()) {
        putBackTrial(); // what is saved is the operator's own values
    }
    closeStep();
    FileResult written = saveConfigFile(path, record_);
    if (written) {
        *fileName_ = path;
        markUnmodified(false);
    }
    return written;
}

void PresetDocument::makeNew() {
    endTrial();
    record_.resetToDefaults();
    fileName_->clear();
    markUnmodified(true);
}

bool PresetDocument::isModified() const {
    if (inTrial()) {
        const ConfigRecord own = withoutTrial();
        return !std::equal(savedImage_.begin(), savedImage_.end(), own.image().begin());
    }
    return !std::equal(savedImage_.begin(), savedImage_.end(), record_.image().begin());
}

void PresetDocument::markUnmodified(bool forgetHistory) {
    std::copy(record_.image().begin(), record_.image().end(), savedImage_.begin());
    if (forgetHistory) {
        history_.clear(); // a new record or another file: nothing of before applies
    }
    emit historyChanged();
}

void PresetDocument::store(int slot, const Parameter& p, unsigned value) {
    const unsigned before = p.field.get(record_, slot);
    p.field.set(record_, slot, value);
    const unsigned after = p.field.get(record_, slot);
    if (before == after) {
        return;
    }
    if (recording_ && inTrial()) {
        // An edit during a trial is made to what is shown: the trial is kept first,
        // as the start of the edit's step. The value before the edit is the trial's.
        p.field.set(record_, slot, before);
        adoptTrial(true);
        p.field.set(record_, slot, value);
    }
    if (recording_) {
        history_.record(slot, {p.id, before, after});
    }
    emit valueChanged(slot, p.id, before, after);
    if (recording_) {
        emit historyChanged();
    }
}

PresetDocument::SetResult PresetDocument::setValue(int slot, ParameterId id, int shown,
                                                   Limits limits) {
    const Parameter& p = parameter(id);
    if (!slotHas(slot, p)) {
        return SetResult::NotOnSlot;
    }
    const ValueRange range = limits == Limits::Keep ? shownRange(record_, slot, p) : fullRange(p);
    if (shown < range.min || shown > range.max) {
        return SetResult::OutOfRange;
    }
    // A list stores its item's index cut to the field's width; the others their value.
    const unsigned value = p.kind == ControlKind::List
                               ? static_cast<unsigned>(shown) & p.field.widthMask()
                               : static_cast<unsigned>(p.storedFromShown(shown));
    const unsigned before = p.field.get(record_, slot);
    const Parameter* follower = followerOf(p);
    const int followerBefore = follower ? shownValue(record_, slot, *follower) : 0;
    store(slot, p, value);
    if (follower && followerBefore > shown) {
        store(slot, *follower, static_cast<unsigned>(follower->storedFromShown(shown)));
        return SetResult::Changed;
    }
    return p.field.get(record_, slot) == before ? SetResult::Unchanged : SetResult::Changed;
}

QString PresetDocument::setText(int slot, const Parameter& p, const QString& text, Limits limits) {
    if (!slotHas(slot, p)) {
        return QStringLiteral("%1 is part of the Default Setting, which only Default, Mode A "
                              "and Mode B have")
            .arg(QLatin1String(p.key));
    }
    int shown = 0;
    QString asked; // the number as the message repeats it
    if (p.kind == ControlKind::List) {
        const QStringList& items = listItems(p);
        const auto it = std::find_if(items.begin(), items.end(), [&](const QString& item) {
            return item.compare(text, Qt::CaseInsensitive) == 0;
        });
        if (it == items.end()) {
            return QStringLiteral("'%1' is not one of %2")
                .arg(text, items.join(QStringLiteral(", ")));
        }
        shown = static_cast<int>(it - items.begin());
    } else {
        bool number = false;
        shown = text.toInt(&number);
        asked = QString::number(shown);
        if (!number) {
            // Digits too many for any value are a number out of range, not something else.
            static const QRegularExpression digits(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
            if (!digits.match(text).hasMatch()) {
                return QStringLiteral("'%1' is not a whole number").arg(text);
            }
            asked = text.trimmed();
            shown = asked.startsWith(QLatin1Char('-')) ? std::numeric_limits<int>::min()
                                                       : std::numeric_limits<int>::max();
        }
    }
    if (setValue(slot, p.id, shown, limits) == SetResult::OutOfRange) {
        const ValueRange range =
            limits == Limits::Keep ? shownRange(record_, slot, p) : fullRange(p);
        const Parameter* limit = limits == Limits::Keep ? limitOf(p) : nullptr;
        return QStringLiteral("%1 is out of range: %2 to %3%4")
            .arg(asked)
            .arg(range.min)
            .arg(range.max)
            .arg(limit ? QStringLiteral(" (%1 is %2)").arg(QLatin1String(limit->key)).arg(range.max)
                       : QString());
    }
    return {};
}

void PresetDocument::bringIntoRange(int slot) {
    const bool recording = std::exchange(recording_, false);
    for (const Parameter* p : rangedOnShowing(slot)) {
        store(slot, *p, static_cast<unsigned>(p->storedFromShown(shownValue(record_, slot, *p))));
    }
    recording_ = recording;
}

void PresetDocument::replaceSlot(int slot, const ConfigRecord& from, int fromSlot,
                                 std::span<const ParameterId> only) {
    compound([&] { assignSlot(slot, from, fromSlot, only); });
}

void PresetDocument::assignSlot(int slot, const ConfigRecord& from, int fromSlot,
                                std::span<const ParameterId> only) {
    const auto given = [&](const Parameter& p) {
        return only.empty() || std::find(only.begin(), only.end(), p.id) != only.end();
    };
    // A limit first, so that the value under it is not held to the old one.
    for (const Parameter* p : limitsFirst(slot)) {
        if (slotHas(fromSlot, *p) && given(*p)) {
            (void)setValue(slot, p->id, shownValue(from, fromSlot, *p));
        }
    }
}

void PresetDocument::storeUnrecorded(int slot, const ConfigRecord& from, int fromSlot) {
    const bool recording = std::exchange(recording_, false);
    // Stored as they are (a file's value no control can show included), limits first
    // so that the unit hears a raised limit before the value under it.
    for (const Parameter* p : limitsFirst(slot)) {
        if (slotHas(fromSlot, *p)) {
            store(slot, *p, p->field.get(from, fromSlot));
        }
    }
    recording_ = recording;
}

void PresetDocument::beginTrial(int slot) {
    if (inTrial()) {
        putBackTrial();
    }
    if (slotKind(slot) == SlotKind::None) {
        return;
    }
    aside_ = record_;
    trialSlot_ = slot;
    emit historyChanged(); // the trial can be taken back
}

ConfigRecord PresetDocument::withoutTrial() const {
    ConfigRecord own = record_;
    if (inTrial()) {
        for (const Parameter* p : slotParameters(trialSlot_)) {
            p->field.set(own, trialSlot_, p->field.get(aside_, trialSlot_));
        }
    }
    return own;
}

void PresetDocument::tryValues(const ConfigRecord& from, int fromSlot) {
    if (!inTrial()) {
        return;
    }
    storeUnrecorded(trialSlot_, from, fromSlot);
    bringIntoRange(trialSlot_);
}

void PresetDocument::putBackTrial() {
    if (!inTrial()) {
        return;
    }
    const int slot = std::exchange(trialSlot_, -1);
    storeUnrecorded(slot, aside_, slot);
    emit historyChanged();
    emit trialEnded(false, false);
}

void PresetDocument::keepTrial() {
    if (inTrial()) {
        adoptTrial(false);
        closeStep();
    }
}

void PresetDocument::adoptTrial(bool byEdit) {
    const int slot = std::exchange(trialSlot_, -1);
    for (const Parameter* p : slotParameters(slot)) {
        const unsigned before = p->field.get(aside_, slot);
        const unsigned after = p->field.get(record_, slot);
        if (before != after) {
            history_.record(slot, {p->id, before, after});
        }
    }
    emit historyChanged();
    emit trialEnded(true, byEdit);
}

void PresetDocument::endTrial() {
    if (std::exchange(trialSlot_, -1) >= 0) {
        emit trialEnded(false, false);
    }
}

void PresetDocument::compound(const std::function<void()>& change) {
    closeStep();
    change();
    closeStep();
}

void PresetDocument::closeStep() {
    history_.closeStep();
    emit historyChanged();
}

int PresetDocument::undoSlot() {
    if (inTrial()) {
        return trialSlot_;
    }
    history_.closeStep();
    return history_.undoSlot();
}

int PresetDocument::redoSlot() const {
    return history_.canRedo() ? history_.redoSlot() : -1;
}

void PresetDocument::undo() {
    if (inTrial()) {
        putBackTrial(); // taking the trial back is the undo
        return;
    }
    replay(history_.takeUndo(), true);
}

void PresetDocument::redo() {
    putBackTrial();
    history_.closeStep();
    replay(history_.takeRedo(), false);
}

void PresetDocument::replay(const EditStep& step, bool undo) {
    const bool recording = std::exchange(recording_, false);
    for (const FieldChange& change : step.changes) {
        store(step.slot, parameter(change.id), undo ? change.before : change.after);
    }
    recording_ = recording;
    emit historyChanged();
}

AssignmentFault applyAssignments(PresetDocument& document, const QStringList& assignments) {
    using Kind = AssignmentFault::Kind;
    const ConfigRecord& record = document.record();
    // A volume stored above its maximum shows the maximum, which the window stores as
    // it shows the slot: raising the maximum must not bring the stored value into
    // view. Such a volume is first taken at what it shows, before any value is set.
    for (const QString& text : assignments) {
        const Assignment a = parseAssignment(text);
        const Parameter* follower = a.parameter ? followerOf(*a.parameter) : nullptr;
        if (a.fault == Assignment::Fault::None && follower && slotHas(a.slot, *follower)) {
            (void)document.setValue(a.slot, follower->id, shownValue(record, a.slot, *follower),
                                    PresetDocument::Limits::Defer);
        }
    }
    // What each assignment asked for, judged against the limits its slot ends with;
    // of several for one parameter, the last.
    struct Asked {
        qsizetype index;
        Assignment assignment;
        int shown;
    };
    std::vector<Asked> asked;
    for (qsizetype i = 0; i < assignments.size(); ++i) {
        const Assignment a = parseAssignment(assignments[i]);
        switch (a.fault) {
        case Assignment::Fault::Form:
            return {Kind::Form, i, a, {}};
        case Assignment::Fault::Slot:
            return {Kind::Slot, i, a, {}};
        case Assignment::Fault::Parameter:
            return {Kind::Parameter, i, a, {}};
        case Assignment::Fault::None:
            break;
        }
        if (QString why =
                document.setText(a.slot, *a.parameter, a.value, PresetDocument::Limits::Defer);
            !why.isEmpty()) {
            return {Kind::Value, i, a, std::move(why)};
        }
        std::erase_if(asked, [&](const Asked& earlier) {
            return earlier.assignment.slot == a.slot && earlier.assignment.parameter == a.parameter;
        });
        asked.push_back({i, a, a.parameter->shown(a.parameter->field.get(record, a.slot))});
    }
    for (const Asked& value : asked) {
        const Assignment& a = value.assignment;
        const Parameter* limit = limitOf(*a.parameter);
        const int most = limit ? shownValue(record, a.slot, *limit) : value.shown;
        if (value.shown > most) {
            return {Kind::Limit, value.index, a,
                    QStringLiteral("above %1.%2, which is %3")
                        .arg(slotKey(a.slot), QLatin1String(limit->key))
                        .arg(most)};
        }
    }
    return {};
}

QString setShownValue(ConfigRecord& record, int slot, const Parameter& p, const QString& value) {
    PresetDocument document(record);
    return document.setText(slot, p, value);
}

} // namespace cantavel
