#include "EditHistory.h"

#include <algorithm>
#include <utility>

namespace cantavel {

void EditHistory::record(int slot, const FieldChange& change) {
    if (stepOpen() && open_.slot != slot) {
        closeStep();
    }
    open_.slot = slot;
    const auto same = std::find_if(open_.changes.begin(), open_.changes.end(),
                                   [&](const FieldChange& c) { return c.id == change.id; });
    if (same != open_.changes.end()) {
        same->after = change.after;
    } else {
        open_.changes.push_back(change);
    }
}

void EditHistory::closeStep() {
    EditStep step = std::exchange(open_, EditStep{});
    const bool changed = std::any_of(step.changes.begin(), step.changes.end(),
                                     [](const FieldChange& c) { return c.before != c.after; });
    if (!changed) {
        return; // a drag that came back where it started
    }
    undo_.push_back(std::move(step));
    if (undo_.size() > kMaxSteps) {
        undo_.pop_front();
    }
    redo_.clear();
}

EditStep EditHistory::takeUndo() {
    closeStep();
    if (undo_.empty()) {
        return {};
    }
    EditStep step = std::move(undo_.back());
    undo_.pop_back();
    redo_.push_back(step);
    return step;
}

EditStep EditHistory::takeRedo() {
    if (!canRedo()) {
        return {};
    }
    EditStep step = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back(step);
    return step;
}

void EditHistory::clear() {
    undo_.clear();
    redo_.clear();
    open_ = {};
}

} // namespace cantavel
