// Frames as the unit expects them, byte for byte.

#include "Protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace cantavel {
namespace {

std::vector<int> bytesOf(const FrameBuffer& frame, std::size_t length) {
    return {frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length)};
}

TEST(Protocol, DeviceIndicesGoBothWays) {
    const std::uint8_t expected[] = {6, 0, 1, 2, 3, 4, 5};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(deviceIndex(slot), expected[slot]);
        const std::uint8_t command = isModeSlot(slot) ? kModeUpload : kPresetUpload;
        EXPECT_EQ(slotForDeviceIndex(command, expected[slot]), slot);
        EXPECT_EQ(slotFrameLength(slot), frameLength(command));
    }
    EXPECT_EQ(slotForDeviceIndex(kPresetUpload, 4), -1);
    EXPECT_EQ(slotForDeviceIndex(kModeUpload, 0), -1);
    EXPECT_EQ(slotForDeviceIndex(kLiveCommand, 0), -1);
    EXPECT_EQ(frameLength(0x00), 0u);
}

// Every parameter's value leaves as the third byte of its live command, and inside
// its slot's upload frame at the byte the record keeps it in.
TEST(Protocol, EveryParameterReachesItsFrames) {
    for (const Parameter& p : parameterTable()) {
        SCOPED_TRACE(p.key);
        ConfigRecord record{};
        record.resetToDefaults();
        const int slot = p.field.part == RecordPart::Preset ? 3 : 5;
        p.field.set(record, slot, p.maxValue);

        FrameBuffer frame{};
        EXPECT_EQ(bytesOf(frame, buildLiveFrame(frame, p.live, p.field.get(record, slot))),
                  (std::vector<int>{0x26, p.live, p.maxValue}));

        const std::size_t length = buildSlotFrame(frame, record, slot);
        ASSERT_EQ(length, slotFrameLength(slot));
        EXPECT_EQ(frame[1], deviceIndex(slot));
        const std::uint8_t byte = frame[2 + p.field.byte];
        EXPECT_EQ(ModeRecord::readBits(byte, p.field.mask), p.maxValue);
    }
}

TEST(Protocol, ModeFramesCarryTheSlotsEffectFields) {
    ConfigRecord record{};
    record.resetToDefaults();
    record.preset(6).echoDelay = 99;
    record.preset(6).effectVolume = 7;
    FrameBuffer frame{};
    ASSERT_EQ(buildSlotFrame(frame, record, 6), kModeFrameSize);
    EXPECT_EQ(bytesOf(frame, kModeFrameSize),
              (std::vector<int>{0x3A, 0x05, 0x55, 0x04, 0x20, 0x05, 0x64, 0x14, 0x19,
                                0x3A, 0x19, 0x23, 0x0A, 0x0A, 0x0A, 0x0A, 0x63, 0x28,
                                0x28, 0x14, 0x05, 0x0A, 0x0A, 0x0A, 0x64, 0x32, 0x07}));
    EXPECT_EQ(record.mode(6).effectVolumeCopy, 7) << "the copies stay in the record";
}

} // namespace
} // namespace cantavel
