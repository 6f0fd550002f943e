#pragma once

// The record an operator edits, as one document: the file it came from, what that
// file held (so whether anything changed), and the changes that can be taken back.
// Every change goes through here and keeps the rules between values of a slot; what
// changed is signalled, so that a window can show it and a link can send it.

#include "ConfigFile.h"
#include "ConfigRecord.h"
#include "EditHistory.h"
#include "ParameterValues.h"
#include "Parameters.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace cantavel {

class PresetDocument : public QObject {
    Q_OBJECT

public:
    // Edits `record`, which the caller owns and keeps for as long as the document
    // lives; the file's name lives in `fileName` when one is given.
    explicit PresetDocument(ConfigRecord& record, QString* fileName = nullptr,
                            QObject* parent = nullptr);

    const ConfigRecord& record() const { return record_; }
    const QString& fileName() const { return *fileName_; }

    // The record from a file: on success the document names it, nothing is modified
    // and no step of before applies. On failure nothing changed.
    FileResult load(const QString& path, qint64* fileSize = nullptr);
    // The record into a file, which the document then names; the steps are kept.
    FileResult save(const QString& path);
    // The default record, of no file.
    void makeNew();

    // The record differs from what was last loaded, saved or made new.
    bool isModified() const;
    using Image = std::array<std::uint8_t, kConfigImageSize>;
    const Image& savedImage() const { return savedImage_; }

    // How a value beyond the limit another value of its slot sets is taken: refused,
    // or stored for the caller to judge once several values are in.
    enum class Limits { Keep, Defer };
    enum class SetResult { Changed, Unchanged, OutOfRange, NotOnSlot };
    // Sets a parameter of a slot to a value as the window shows it (a list's item
    // by index). Lowering a volume's maximum below it brings the volume down too.
    SetResult setValue(int slot, ParameterId id, int shown, Limits limits = Limits::Keep);
    // The same from text (a number, or a list item in any case); empty when set,
    // otherwise why not, and the record is unchanged.
    QString setText(int slot, const Parameter& p, const QString& text,
                    Limits limits = Limits::Keep);
    // Showing a slot: its sliders and knobs at the value they can show. Not a step
    // of its own: it is what the record holds as shown.
    void bringIntoRange(int slot);
    // Every parameter `slot` shows takes `fromSlot`'s value in `from`, as one step:
    // limits before the values under them, the slot's other bytes kept. `only`, when
    // not empty, names the parameters that change.
    void replaceSlot(int slot, const ConfigRecord& from, int fromSlot,
                     std::span<const ParameterId> only = {});
    // Changes made by `change` form one step.
    void compound(const std::function<void()>& change);

    // A trial: other values on a slot, shown and sent as any change is, but no edit
    // yet. The slot's own values wait aside. Putting the trial back brings them
    // back; keeping it makes the values shown one step from them. An edit made
    // during a trial is made to the values shown and keeps the trial first, in the
    // same step, so that one undo brings back the values aside. Saving puts a trial
    // back first; undo puts it back and is done; loading or a new record ends it.
    void beginTrial(int slot);
    bool inTrial() const { return trialSlot_ >= 0; }
    int trialSlot() const { return trialSlot_; }
    // The record as it is with the values aside on the trial's slot.
    ConfigRecord withoutTrial() const;
    // Slot `fromSlot`'s values of `from` on the trial's slot, limits first, the values
    // the slot shows brought into range; those of a parameter `fromSlot` has not stay.
    void tryValues(const ConfigRecord& from, int fromSlot);
    void putBackTrial();
    // The trial's values as one step (joined to the step open, if any, on its slot).
    void keepTrial();

    // Undo and redo. A change opens a step or adds to the open one; closing it
    // makes it one step to take back.
    void closeStep();
    bool canUndo() const { return history_.canUndo() || inTrial(); }
    bool canRedo() const { return history_.canRedo(); }
    // The slot the next undo (closing the open step) or redo changes; -1 for none.
    int undoSlot();
    int redoSlot() const;
    // Takes a step back or makes it again: its values as they were, in the order
    // they were made.
    void undo();
    void redo();

signals:
    void valueChanged(int slot, cantavel::ParameterId id, unsigned before, unsigned after);
    // Undo or redo became possible or impossible, or the record became unmodified.
    void historyChanged();
    // A trial has ended: its values kept (`kept`; by an edit made during it when
    // `byEdit`) or not.
    void trialEnded(bool kept, bool byEdit);

private:
    void store(int slot, const Parameter& p, unsigned value);
    void markUnmodified(bool forgetHistory);
    void replay(const EditStep& step, bool undo);
    // Every parameter both slots have takes `from`'s value, limits first.
    void assignSlot(int slot, const ConfigRecord& from, int fromSlot,
                    std::span<const ParameterId> only);
    // `fromSlot`'s values of `from` stored on `slot` as they are, limits first, as no
    // step.
    void storeUnrecorded(int slot, const ConfigRecord& from, int fromSlot);
    // The trial's values recorded as changes from the values aside; the trial ends.
    void adoptTrial(bool byEdit);
    void endTrial();

    ConfigRecord& record_;
    QString ownFileName_;
    QString* fileName_;
    Image savedImage_{};
    EditHistory history_;
    bool recording_ = true; // off while showing brings values into range or a step replays
    int trialSlot_ = -1;
    ConfigRecord aside_{}; // the record as the trial began; its slot's values wait here
};

// Assignments as `cantavel-cfg set` takes them (SLOT.PARAMETER=VALUE), applied to the
// document's record in their order, each value within its field's range, and then
// every limit between values of a slot judged once all of them are in. The first
// fault ends it; the record may then hold some of the values, so a caller that must
// change nothing on a fault works on a copy.
struct AssignmentFault {
    enum class Kind { None, Form, Slot, Parameter, Value, Limit };
    Kind kind = Kind::None;
    qsizetype index = -1;  // the assignment at fault
    Assignment assignment; // as parsed
    QString why;           // Value and Limit: what is wrong with the value
};
AssignmentFault applyAssignments(PresetDocument& document, const QStringList& assignments);

} // namespace cantavel
