// An assignment as cantavel-cfg set takes it, on any text: parsing always ends; one
// it takes names a slot and a parameter that the same assignment written out again
// names too; and a value set through it reads back as given, changing nothing of
// other slots.

#include "ParameterValues.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace cantavel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Assignment a = parseAssignment(text);
    if (a.fault != Assignment::Fault::None) {
        return 0;
    }
    if (a.slot < 0 || a.slot >= kSlotCount || a.parameter == nullptr) {
        std::abort(); // taken without a slot or parameter
    }
    const QString again = slotKey(a.slot) + QLatin1Char('.') +
                          QString::fromLatin1(a.parameter->key) + QLatin1Char('=') + a.value;
    const Assignment reread = parseAssignment(again);
    if (reread.slot != a.slot || reread.parameter != a.parameter || reread.value != a.value) {
        std::abort(); // written out by its identifier, it means something else
    }

    ConfigRecord record{};
    record.resetToDefaults();
    const ConfigRecord before = record;
    if (!setShownValue(record, a.slot, *a.parameter, a.value).isEmpty()) {
        if (std::memcmp(record.image().data(), before.image().data(), kConfigImageSize) != 0) {
            std::abort(); // a refused value changed the record
        }
        return 0;
    }
    const Parameter& p = *a.parameter;
    const bool readsBack =
        p.kind == ControlKind::List
            ? shownText(record, a.slot, p).compare(a.value, Qt::CaseInsensitive) == 0
            : shownValue(record, a.slot, p) == a.value.toInt();
    if (!readsBack) {
        std::abort(); // the value set is not the value shown
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (slot == a.slot) {
            continue;
        }
        for (const Parameter* other : slotParameters(slot)) {
            if (other->field.get(record, slot) != other->field.get(before, slot)) {
                std::abort(); // another slot changed
            }
        }
    }
    return 0;
}
