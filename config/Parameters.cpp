#include "Parameters.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace cantavel {

std::size_t FieldRef::imageOffset(int slot) const {
    if (slot < 0 || slot >= kSlotCount) {
        throw std::out_of_range("preset slot " + std::to_string(slot) + " is not 0 to 6");
    }
    const auto s = static_cast<std::size_t>(slot);
    return part == RecordPart::Preset
               ? offsetof(ConfigRecord, presets) + s * kEffectPresetSize + byte
               : offsetof(ConfigRecord, modes) + s * kModeRecordSize + byte;
}

std::uint8_t FieldRef::get(const ConfigRecord& record, int slot) const {
    return ModeRecord::readBits(record.image()[imageOffset(slot)], mask);
}

void FieldRef::set(ConfigRecord& record, int slot, unsigned value) const {
    ModeRecord::writeBits(record.image()[imageOffset(slot)], mask, value);
}

const Parameter* findParameterByLive(std::uint8_t live) {
    const auto it = std::find_if(parameterTable().begin(), parameterTable().end(),
                                 [live](const Parameter& p) { return p.live == live; });
    return it == parameterTable().end() ? nullptr : &*it;
}

const Parameter* findParameterByKey(std::string_view key) {
    const auto it = std::find_if(parameterTable().begin(), parameterTable().end(),
                                 [key](const Parameter& p) { return key == p.key; });
    return it == parameterTable().end() ? nullptr : &*it;
}

} // namespace cantavel
