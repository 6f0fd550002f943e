#include "ConfigRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace cantavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kDefaultPreset = {0x55, 0x00, 0x05, 0x0A, 0x0A, 0x0A, 0x0A, 0xB4, 0x28,
                              0x28, 0x14, 0x05, 0x0A, 0x0A, 0x0A, 0x64, 0x37};
const Bytes kDefaultMode = {0x55, 0x04, 0x20, 0x05, 0x64, 0x14, 0x19, 0x3A, 0x19,
                            0x23, 0x0A, 0x0A, 0x0A, 0x0A, 0x02, 0x00, 0x00, 0x00,
                            0x00, 0x0A, 0x0A, 0x0A, 0x64, 0x32, 0x0A};

Bytes bytesOf(const EffectPreset& p) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&p);
    return {b, b + sizeof p};
}
Bytes bytesOf(const ModeRecord& m) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&m);
    return {b, b + sizeof m};
}

TEST(ConfigRecord, StartsAllZero) {
    const ConfigRecord record;
    EXPECT_TRUE(std::all_of(record.image().begin(), record.image().end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST(ConfigRecord, ImageAfterStartUpHoldsDefaultsAndFourEmptyModeRecords) {
    ConfigRecord record;
    record.resetToDefaults();

    Bytes expected;
    for (int i = 0; i < kSlotCount; ++i) {
        expected.insert(expected.end(), kDefaultPreset.begin(), kDefaultPreset.end());
    }
    expected.insert(expected.end(), kDefaultMode.begin(), kDefaultMode.end());
    expected.insert(expected.end(), 4 * kModeRecordSize, 0);
    expected.insert(expected.end(), kDefaultMode.begin(), kDefaultMode.end());
    expected.insert(expected.end(), kDefaultMode.begin(), kDefaultMode.end());

    ASSERT_EQ(expected.size(), kConfigImageSize);
    EXPECT_EQ(Bytes(record.image().begin(), record.image().end()), expected);
}

TEST(ConfigRecord, ImageSlotsSitAtTheirOffsets) {
    ConfigRecord record;
    record.preset(3).echoDelay = 0xA1;
    record.mode(6).swVol2 = 0xB2;
    EXPECT_EQ(record.image()[17 * 3 + 7], 0xA1);
    EXPECT_EQ(record.image()[119 + 25 * 6 + 23], 0xB2);
}

TEST(ConfigRecord, SlotOutsideZeroToSixIsRefused) {
    ConfigRecord record;
    EXPECT_THROW(record.preset(7), std::out_of_range);
    EXPECT_THROW(record.mode(-1), std::out_of_range);
    EXPECT_NO_THROW(record.mode(6));
}

TEST(ConfigRecord, NewKeepsFreeBitsAndModeRecordsOneToFour) {
    ConfigRecord record;
    // As if a file had been opened: every byte set.
    std::fill(record.image().begin(), record.image().end(), std::uint8_t{0xFF});
    record.resetToDefaults();

    for (int slot = 1; slot <= 4; ++slot) {
        EXPECT_EQ(bytesOf(record.mode(slot)), Bytes(kModeRecordSize, 0xFF)) << "slot " << slot;
    }
    for (int slot : {0, 5, 6}) {
        Bytes expected = kDefaultMode;
        expected[1] = 0xE4; // free bits 5-7 kept, inputSource 4, fbExCopy 0
        expected[2] = 0xE0; // free bits 6-7 kept, aux 2
        EXPECT_EQ(bytesOf(record.mode(slot)), expected) << "slot " << slot;
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(bytesOf(record.preset(slot)), kDefaultPreset) << "slot " << slot;
    }
}

TEST(ConfigRecord, SyncModeFromPresetOnDefaults) {
    ConfigRecord record;
    record.resetToDefaults();
    record.syncModeFromPreset(0);
    const Bytes expected = {0x55, 0x04, 0x20, 0x05, 0x64, 0x14, 0x19, 0x3A, 0x19,
                            0x23, 0x0A, 0x0A, 0x0A, 0x0A, 0xB4, 0x28, 0x28, 0x14,
                            0x05, 0x0A, 0x0A, 0x0A, 0x64, 0x32, 0x37};
    EXPECT_EQ(bytesOf(record.mode(0)), expected);
    // The preset itself and the other slots are not touched.
    EXPECT_EQ(bytesOf(record.preset(0)), kDefaultPreset);
    EXPECT_EQ(bytesOf(record.mode(5)), kDefaultMode);
}

TEST(ConfigRecord, SyncCopiesOnlyTheEffectFieldsAndKeepsMarkersAndFreeBits) {
    ConfigRecord record;
    EffectPreset& p = record.preset(5);
    ModeRecord& m = record.mode(5);
    for (std::size_t i = 0; i < kEffectPresetSize; ++i) {
        reinterpret_cast<std::uint8_t*>(&p)[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    p.fbEx = 3;
    m.marker = 0x42; // a foreign marker stays
    m.byte1 = 0xE4;
    m.byte2 = 0xC7;
    m.byte5 = 0x99;
    m.swVol1 = 0x11;
    m.swVol2 = 0x22;

    record.syncModeFromPreset(5);

    EXPECT_EQ(m.byte1, 0xFC);
    EXPECT_EQ(m.fbExCopy(), 3);
    EXPECT_EQ(m.inputSource(), 4);
    EXPECT_EQ(m.keyCopy, p.keyIndex);
    for (std::size_t i = 0; i < m.effectCopy.size(); ++i) {
        EXPECT_EQ(m.effectCopy[i], 0x83 + i) << "effectCopy[" << i << "]";
    }
    EXPECT_EQ(m.effectVolumeCopy, p.effectVolume);
    EXPECT_EQ(m.marker, 0x42);
    EXPECT_EQ(m.byte2, 0xC7);
    EXPECT_EQ(m.byte5, 0x99);
    EXPECT_EQ(m.swVol1, 0x11);
    EXPECT_EQ(m.swVol2, 0x22);
    EXPECT_EQ(p.marker, 0x80); // the preset is only read
}

TEST(ConfigRecord, SyncUsesOnlyTheLowBitsOfFbEx) {
    ConfigRecord record;
    record.preset(6).fbEx = 0xFE;
    record.mode(6).byte1 = 0x00;
    record.syncModeFromPreset(6);
    EXPECT_EQ(record.mode(6).byte1, 0x10);
}

struct BitFieldCase {
    const char* name;
    void (ModeRecord::*set)(unsigned);
    std::uint8_t ModeRecord::*byte;
    std::uint8_t before;
    unsigned value;
    std::uint8_t after;
    friend void PrintTo(const BitFieldCase& c, std::ostream* os) { *os << c.name; }
};

class BitFieldWrite : public ::testing::TestWithParam<BitFieldCase> {};

TEST_P(BitFieldWrite, ReplacesOnlyItsOwnBits) {
    const BitFieldCase& c = GetParam();
    ModeRecord m{};
    m.*c.byte = c.before;
    (m.*c.set)(c.value);
    EXPECT_EQ(m.*c.byte, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    ModeRecord, BitFieldWrite,
    ::testing::Values(
        BitFieldCase{"InputSource1On0xFF", &ModeRecord::setInputSource, &ModeRecord::byte1, 0xFF, 1,
                     0xF9},
        BitFieldCase{"Aux1On0x00", &ModeRecord::setAux, &ModeRecord::byte2, 0x00, 1, 0x10},
        BitFieldCase{"Center1On0x20", &ModeRecord::setCenter, &ModeRecord::byte2, 0x20, 1, 0x28},
        BitFieldCase{"MusicIn3On0xF8", &ModeRecord::setMusicIn, &ModeRecord::byte2, 0xF8, 3, 0xFB},
        BitFieldCase{"FbExCopy2On0xE7", &ModeRecord::setFbExCopy, &ModeRecord::byte1, 0xE7, 2,
                     0xF7},
        // Values wider than the field are cut to its width, never spilling over.
        BitFieldCase{"InputSource9CutTo1", &ModeRecord::setInputSource, &ModeRecord::byte1, 0x00, 9,
                     0x01},
        BitFieldCase{"Center2CutTo0", &ModeRecord::setCenter, &ModeRecord::byte2, 0xFF, 2, 0xF7},
        BitFieldCase{"Aux7CutTo3", &ModeRecord::setAux, &ModeRecord::byte2, 0xC0, 7, 0xF0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModeRecord, BitFieldsReadShiftedDown) {
    ModeRecord m{};
    m.byte1 = 0b111'10'011;  // free 7, fbExCopy 2, inputSource 3
    m.byte2 = 0b11'10'1'101; // free 3, aux 2, center 1, musicIn 5
    EXPECT_EQ(m.inputSource(), 3);
    EXPECT_EQ(m.fbExCopy(), 2);
    EXPECT_EQ(m.musicIn(), 5);
    EXPECT_EQ(m.center(), 1);
    EXPECT_EQ(m.aux(), 2);
}

} // namespace
} // namespace cantavel
