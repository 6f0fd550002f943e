#pragma once

// The unit's side of the line: the three frame kinds, the unit's own numbers for the
// slots, and how a frame is built from the record. Needs the record, nothing of the
// serial component; a live frame carries the parameter number it is given.

#include "ConfigRecord.h"
#include "Parameters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace cantavel {

// Command bytes of the three frame kinds.
inline constexpr std::uint8_t kLiveCommand = 0x26;  // 3 bytes
inline constexpr std::uint8_t kPresetUpload = 0x25; // 19 bytes
inline constexpr std::uint8_t kModeUpload = 0x3A;   // 27 bytes
inline constexpr std::size_t kLiveFrameSize = 3;
inline constexpr std::size_t kPresetFrameSize = 2 + kEffectPresetSize;
inline constexpr std::size_t kModeFrameSize = 2 + kModeRecordSize;
inline constexpr std::size_t kLongestFrame = kModeFrameSize;

using FrameBuffer = std::array<std::uint8_t, kLongestFrame>;

// The unit's own number for a slot: 6, 0, 1, 2, 3, 4, 5 for slots 0 to 6.
std::uint8_t deviceIndex(int slot);
// The slot a device index stands for, given the frame kind; -1 when none.
int slotForDeviceIndex(std::uint8_t command, std::uint8_t index);
// Length of the frame a command byte starts, 0 for a byte that starts none.
std::size_t frameLength(std::uint8_t command);
// Length of a slot's upload frame: a mode record for mode slots, else an effect preset.
std::size_t slotFrameLength(int slot);

// A live command: the parameter's number and a value.
std::size_t buildLiveFrame(FrameBuffer& frame, std::uint8_t live, std::uint8_t value);
// The upload frame of a slot (0 to 6). For a mode slot the record's mode copy is
// brought up to date first, and stays so. Returns the frame's length.
std::size_t buildSlotFrame(FrameBuffer& frame, ConfigRecord& record, int slot);

} // namespace cantavel
