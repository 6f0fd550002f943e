#include "Protocol.h"

#include <cstring>

namespace cantavel {

std::uint8_t deviceIndex(int slot) {
    static constexpr std::array<std::uint8_t, kSlotCount> kIndex{6, 0, 1, 2, 3, 4, 5};
    return kIndex.at(static_cast<std::size_t>(slot));
}

int slotForDeviceIndex(std::uint8_t command, std::uint8_t index) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const std::uint8_t kind = isModeSlot(slot) ? kModeUpload : kPresetUpload;
        if (kind == command && deviceIndex(slot) == index) {
            return slot;
        }
    }
    return -1;
}

std::size_t frameLength(std::uint8_t command) {
    switch (command) {
    case kLiveCommand:
        return kLiveFrameSize;
    case kPresetUpload:
        return kPresetFrameSize;
    case kModeUpload:
        return kModeFrameSize;
    default:
        return 0;
    }
}

std::size_t slotFrameLength(int slot) {
    return isModeSlot(slot) ? kModeFrameSize : kPresetFrameSize;
}

std::size_t buildLiveFrame(FrameBuffer& frame, std::uint8_t live, std::uint8_t value) {
    frame[0] = kLiveCommand;
    frame[1] = live;
    frame[2] = value;
    return kLiveFrameSize;
}

std::size_t buildSlotFrame(FrameBuffer& frame, ConfigRecord& record, int slot) {
    frame[1] = deviceIndex(slot); // checks the slot
    if (isModeSlot(slot)) {
        record.syncModeFromPreset(slot);
        frame[0] = kModeUpload;
        std::memcpy(frame.data() + 2, &record.mode(slot), kModeRecordSize);
        return kModeFrameSize;
    }
    frame[0] = kPresetUpload;
    std::memcpy(frame.data() + 2, &record.preset(slot), kEffectPresetSize);
    return kPresetFrameSize;
}

} // namespace cantavel
