#pragma once

// One slot's values on their way from one record to another: through the clipboard
// (Edit > Copy Slot and Paste Slot), a drag from the library onto a tab, or a text
// file of assignments that `cantavel-cfg set` reads back.
//
// Two forms travel together. Our own MIME type carries the slot's bytes exactly; the
// text form is `cantavel-cfg set` assignments, one per line ("default.echoDelay=120"),
// which any text editor can show and any script can change.

#include "ConfigRecord.h"
#include "Parameters.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QMimeData;

namespace cantavel {

inline constexpr char kSlotMimeType[] = "application/x-cantavel-slot";

// A slot as it travels: a record that holds its values at `slot` (the other slots of
// `record` are defaults and mean nothing) and where it came from, for messages
// ("live/ballads.cfg, slot 3"; empty when unknown).
struct SlotTransfer {
    ConfigRecord record;
    int slot = 0;
    QString source;
    // The parameters it gives: those a text names; empty for every one the slot
    // shows (our own form carries them all).
    std::vector<ParameterId> given = {};
};

// The slot `slot` of `record` as clipboard or drag data: our MIME type and the text
// form.
std::unique_ptr<QMimeData> slotMimeData(const ConfigRecord& record, int slot,
                                        const QString& source = QString());

// The slot in `data`: from our MIME type when present, otherwise from a text form
// whose assignments all name one slot. Nothing when neither holds a slot; `why`
// (when given) then says what was wrong with the text.
std::optional<SlotTransfer> slotFromMimeData(const QMimeData& data, QString* why = nullptr);

// The text form: every parameter the slot shows, one assignment per line, each
// ending in a newline.
QString slotAssignments(const ConfigRecord& record, int slot);

} // namespace cantavel
