#pragma once

// What kind each of the seven preset slots is. "Default", "Mode A" and "Mode B"
// (slots 0, 5 and 6) are mode slots: the unit takes their whole mode record, and the
// window edits their Default Setting. Slots "1" to "4" are effect presets only.

#include <array>

namespace cantavel {

inline constexpr int kSlotCount = 7;

enum class SlotKind { Mode, Preset, None };

inline constexpr std::array<int, 3> kModeSlots{0, 5, 6};

// None for a number that names no slot (no tab selected, -1).
constexpr SlotKind slotKind(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        return SlotKind::None;
    }
    return slot == 0 || slot == 5 || slot == 6 ? SlotKind::Mode : SlotKind::Preset;
}

constexpr bool isModeSlot(int slot) {
    return slotKind(slot) == SlotKind::Mode;
}

constexpr bool isPresetSlot(int slot) {
    return slotKind(slot) == SlotKind::Preset;
}

} // namespace cantavel
