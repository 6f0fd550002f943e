// A slot as another program may hand it over, through the clipboard or a drag: any
// bytes in our own form, and any text. Decoding always ends; a slot it takes is one
// of the seven, and taken again (in our form and as text) it gives the same values.

#include "ParameterValues.h"
#include "SlotTransfer.h"

#include <QMimeData>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace cantavel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

namespace {

void checkTaken(const SlotTransfer& taken) {
    if (taken.slot < 0 || taken.slot >= kSlotCount) {
        std::abort(); // taken without a slot
    }
    const auto again = slotMimeData(taken.record, taken.slot, taken.source);
    const auto back = slotFromMimeData(*again);
    if (!back || back->slot != taken.slot ||
        std::memcmp(&back->record.preset(taken.slot), &taken.record.preset(taken.slot),
                    kEffectPresetSize) != 0 ||
        std::memcmp(&back->record.mode(taken.slot), &taken.record.mode(taken.slot),
                    kModeRecordSize) != 0) {
        std::abort(); // handed over again, it is another slot
    }
    QMimeData text;
    text.setText(slotAssignments(taken.record, taken.slot));
    const auto fromText = slotFromMimeData(text);
    if (!fromText || fromText->slot != taken.slot) {
        std::abort(); // its own text is not taken back
    }
    for (const Parameter* p : slotParameters(taken.slot)) {
        // A list that shows no item has no line in the text.
        const QString shown = shownText(taken.record, taken.slot, *p);
        if (!shown.isEmpty() && shownText(fromText->record, taken.slot, *p) != shown) {
            std::abort(); // the text gives another value
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QMimeData ours;
    ours.setData(QString::fromLatin1(kSlotMimeType), bytes);
    if (const auto taken = slotFromMimeData(ours)) {
        checkTaken(*taken);
    }
    QMimeData text;
    text.setText(QString::fromUtf8(bytes));
    if (const auto taken = slotFromMimeData(text)) {
        checkTaken(*taken);
    }
    return 0;
}
