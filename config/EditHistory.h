#pragma once

// The edits an operator can take back: each step is what one change did to the
// record (a slider drag or a held key is one step, however many positions it
// passed), on the slot that was shown.

#include "Parameters.h"

#include <cstddef>
#include <deque>
#include <vector>

namespace cantavel {

struct FieldChange {
    ParameterId id;
    unsigned before;
    unsigned after;
};

struct EditStep {
    int slot = -1;
    // In the order they were made; a field changed twice in a step keeps its first
    // `before` and its last `after`.
    std::vector<FieldChange> changes;
};

class EditHistory {
public:
    // The oldest steps are forgotten beyond this many.
    static constexpr std::size_t kMaxSteps = 1000;

    // Adds a change to the open step (opening one); a change on another slot
    // closes the open step first.
    void record(int slot, const FieldChange& change);
    // Ends the open step: kept when it changed anything, and then nothing is left
    // to redo.
    void closeStep();
    bool stepOpen() const { return !open_.changes.empty(); }

    bool canUndo() const { return !undo_.empty() || stepOpen(); }
    bool canRedo() const { return !redo_.empty() && !stepOpen(); }
    // The slot of the closed step an undo or a redo would take; -1 for none.
    int undoSlot() const { return undo_.empty() ? -1 : undo_.back().slot; }
    int redoSlot() const { return redo_.empty() ? -1 : redo_.back().slot; }
    // The step to take back (closing the open one first); it moves to the redo side.
    EditStep takeUndo();
    // The step to make again; it moves back to the undo side.
    EditStep takeRedo();
    void clear();

private:
    std::deque<EditStep> undo_;
    std::vector<EditStep> redo_;
    EditStep open_;
};

} // namespace cantavel
