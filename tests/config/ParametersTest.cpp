// The parameter table against the documents' tables, written out here by hand: a
// wrong byte, bit or number in the table shows as a wrong row.

#include "Parameters.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <stdexcept>
#include <string>

namespace cantavel {
namespace {

struct GoldenRow {
    std::uint8_t live;
    const char* key;
    RecordPart part;
    std::size_t byte;
    std::uint8_t mask;
    int min;
    int max;
    const char* control;
};

constexpr RecordPart P = RecordPart::Preset;
constexpr RecordPart M = RecordPart::Mode;

// Live number, field, where it lives, the range sent, and the control.
const GoldenRow kGolden[] = {
    {0, "echoDelay", P, 7, 0xFF, 2, 247, "TrackBar11"},
    {1, "echoRepeat", P, 8, 0xFF, 0, 80, "TrackBar12"},
    {2, "echoLevel", P, 9, 0xFF, 0, 80, "TrackBar13"},
    {3, "reverbTime", P, 10, 0xFF, 0, 80, "TrackBar14"},
    {4, "reverbLevel", P, 11, 0xFF, 0, 80, "TrackBar15"},
    {5, "micBass", P, 12, 0xFF, 0, 20, "TrackBar16"},
    {6, "micMiddle", P, 13, 0xFF, 0, 20, "TrackBar17"},
    {7, "micTreble", P, 14, 0xFF, 0, 20, "TrackBar18"},
    {8, "fbEx", P, 1, 0xFF, 0, 3, "ComboBox6"},
    {9, "musicBass", P, 3, 0xFF, 0, 20, "TrackBar5"},
    {10, "musicMiddle", P, 4, 0xFF, 0, 20, "TrackBar7"},
    {11, "musicTreble", P, 5, 0xFF, 0, 20, "TrackBar10"},
    {12, "musicBalance", P, 6, 0xFF, 0, 20, "TrackBar9"},
    {13, "center", M, 2, 0x08, 0, 1, "ComboBox3"},
    {14, "aux", M, 2, 0x30, 0, 2, "ComboBox4"},
    {15, "musicIn", M, 2, 0x07, 0, 3, "ComboBox5"},
    {16, "swFreq", P, 15, 0xFF, 50, 250, "UpDown2"},
    {17, "swVol1", M, 4, 0xFF, 1, 100, "UpDown1"},
    {19, "musicVolume", M, 6, 0xFF, 0, 63, "mKnob2"},
    {20, "micVolume", M, 8, 0xFF, 0, 42, "mKnob3"},
    {21, "effectVolume", P, 16, 0xFF, 0, 80, "mKnob1"},
    {26, "inputSource", M, 1, 0x07, 0, 4, "ComboBox2"},
    {27, "keyIndex", P, 2, 0xFF, 0, 10, "ComboBox1"},
    {48, "musicVolMax", M, 7, 0xFF, 1, 63, "UpDown4"},
    {49, "micVolMax", M, 9, 0xFF, 1, 42, "UpDown3"},
    {50, "swVol2", M, 23, 0xFF, 1, 100, "UpDown5"},
};

TEST(ParameterTable, EveryRowIsWhereTheDocumentsPutIt) {
    ASSERT_EQ(std::size(kGolden), parameterTable().size());
    std::set<std::string> seen;
    for (const GoldenRow& g : kGolden) {
        SCOPED_TRACE(g.key);
        const Parameter* p = findParameterByLive(g.live);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p, findParameterByKey(g.key));
        EXPECT_EQ(&parameter(p->id), p);
        EXPECT_EQ(p->field.part, g.part);
        EXPECT_EQ(p->field.byte, g.byte);
        EXPECT_EQ(p->field.mask, g.mask);
        EXPECT_EQ(p->minValue, g.min);
        EXPECT_EQ(p->maxValue, g.max);
        EXPECT_STREQ(p->control, g.control);
        EXPECT_TRUE(seen.insert(p->name).second) << "two parameters named " << p->name;

        // The field reads exactly its byte and bits of its slot, in every slot.
        for (int slot = 0; slot < kSlotCount; ++slot) {
            ConfigRecord record{};
            const std::size_t at = (g.part == P ? slot * 17 : 119 + slot * 25) + g.byte;
            record.image()[at] = g.mask;
            EXPECT_EQ(p->field.get(record, slot), p->field.widthMask()) << "slot " << slot;
            record.image()[at] = static_cast<std::uint8_t>(~g.mask);
            EXPECT_EQ(p->field.get(record, slot), 0) << "slot " << slot;
            EXPECT_EQ(p->field.imageOffset(slot), at);
        }
    }
    ConfigRecord record{};
    EXPECT_THROW(parameter(ParameterId::Aux).field.get(record, kSlotCount), std::out_of_range);
    EXPECT_THROW(parameter(ParameterId::EchoDelay).field.set(record, -1, 5), std::out_of_range);
    EXPECT_EQ(findParameterByLive(18), nullptr);
    EXPECT_EQ(findParameterByKey("marker"), nullptr);
}

// Writing a field changes its own bits and no other bit of the record.
TEST(ParameterTable, SettingAFieldTouchesOnlyItsBits) {
    std::mt19937 random(20261208);
    for (const Parameter& p : parameterTable()) {
        SCOPED_TRACE(p.key);
        for (int round = 0; round < 20; ++round) {
            ConfigRecord record{};
            for (std::uint8_t& b : record.image()) {
                b = static_cast<std::uint8_t>(random());
            }
            const ConfigRecord before = record;
            const int slot = static_cast<int>(random() % kSlotCount);
            const unsigned value = p.minValue + random() % (p.maxValue - p.minValue + 1u);
            p.field.set(record, slot, value);
            EXPECT_EQ(p.field.get(record, slot), value);
            const std::size_t at = p.field.imageOffset(slot);
            for (std::size_t i = 0; i < kConfigImageSize; ++i) {
                const std::uint8_t kept = i == at ? static_cast<std::uint8_t>(~p.field.mask) : 0xFF;
                EXPECT_EQ(record.image()[i] & kept, before.image()[i] & kept) << "byte " << i;
            }
        }
    }
}

TEST(ParameterTable, TonesAreShownAndPlacedAroundTen) {
    const Parameter& tone = parameter(ParameterId::MicTreble);
    EXPECT_EQ(tone.shown(20), 10);
    EXPECT_EQ(tone.shown(0), -10);
    EXPECT_EQ(tone.position(20), -10); // the slider's top
    EXPECT_EQ(tone.storedFromPosition(tone.position(3)), 3);
    EXPECT_EQ(tone.storedFromShown(tone.shown(17)), 17);
    const Parameter& plain = parameter(ParameterId::EchoDelay);
    EXPECT_EQ(plain.shown(180), 180);
    EXPECT_EQ(plain.position(180), 180);
}

} // namespace
} // namespace cantavel
