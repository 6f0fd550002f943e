// Blend and randomize without a window: the rounding and the lists of a blend, the
// bounds both keep, the groups a randomize leaves alone, and its values for a seed.

#include "SoundTools.h"

#include "ParameterValues.h"
#include "SlotKind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <random>
#include <vector>

namespace cantavel {
namespace {

using enum ParameterId;

ConfigRecord defaults() {
    ConfigRecord r{};
    r.resetToDefaults();
    return r;
}

int valueOf(const ConfigRecord& r, int slot, ParameterId id) {
    return parameter(id).field.get(r, slot);
}

// A record as a window could have left it: every value of every slot inside its range,
// a volume at most its maximum.
ConfigRecord shownRecord(std::mt19937& random) {
    ConfigRecord r = defaults();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            const ValueRange b = storedRange(*p);
            p->field.set(r, slot, std::uniform_int_distribution<int>(b.min, b.max)(random));
        }
        for (const Parameter* p : slotParameters(slot)) {
            if (const Parameter* limit = limitOf(*p)) {
                p->field.set(r, slot, std::min(p->field.get(r, slot), limit->field.get(r, slot)));
            }
        }
    }
    return r;
}

// Any bytes at all: values beyond their ranges, volumes above their maxima.
ConfigRecord anyRecord(std::mt19937& random) {
    ConfigRecord r{};
    for (std::uint8_t& byte : r.image()) {
        byte = static_cast<std::uint8_t>(random());
    }
    return r;
}

bool sameImage(const ConfigRecord& a, const ConfigRecord& b) {
    return std::ranges::equal(a.image(), b.image());
}

// What a change of `slot` must hold whatever it did: no byte but the slot's own fields
// touched, exactly the parameters that differ listed, each of those inside its range
// and, where it or its limit moved, at most its limit.
void expectSlotChange(const ConfigRecord& before, int slot, const SlotChange& change,
                      const std::string& what) {
    std::array<std::uint8_t, kConfigImageSize> fields{};
    std::vector<ParameterId> differ;
    for (const Parameter* p : slotParameters(slot)) {
        fields[p->field.imageOffset(slot)] |= p->field.mask;
        const int value = p->field.get(change.record, slot);
        if (value == p->field.get(before, slot)) {
            continue;
        }
        differ.push_back(p->id);
        const ValueRange b = storedRange(*p);
        EXPECT_TRUE(value >= b.min && value <= b.max) << what << ": " << p->key << " " << value;
        if (const Parameter* limit = limitOf(*p)) {
            EXPECT_LE(value, limit->field.get(change.record, slot)) << what << ": " << p->key;
        }
    }
    for (const Parameter* p : slotParameters(slot)) {
        const Parameter* limit = limitOf(*p);
        if (limit && limit->field.get(change.record, slot) != limit->field.get(before, slot)) {
            EXPECT_LE(p->field.get(change.record, slot), limit->field.get(change.record, slot))
                << what << ": " << p->key << " under its lowered limit";
        }
    }
    EXPECT_EQ(change.changed, differ) << what;
    for (std::size_t i = 0; i < kConfigImageSize; ++i) {
        EXPECT_EQ((before.image()[i] ^ change.record.image()[i]) & ~fields[i], 0)
            << what << ": byte " << i;
    }
}

// Each number moves (B - A) x percent / 100 of the way, rounded half away from zero in
// both directions; a list takes B's item from 50 % on, and only an item it can show; a
// volume comes no higher than its maximum. Slot A is the default, slot B Mode A.
TEST(Blend, RoundsHalfAwayFromZeroAndTakesListsFromHalfway) {
    const struct {
        ParameterId id;
        int a, b, percent, expected; // stored values
    } cases[] = {
        {EchoRepeat, 0, 5, 50, 3},                                   // +2.5
        {EchoRepeat, 5, 0, 50, 2},                                   // -2.5
        {EchoRepeat, 0, 5, 49, 2},                                   // +2.45
        {EchoRepeat, 10, 11, 49, 10},                                // +0.49
        {EchoRepeat, 11, 10, 50, 10},                                // -0.5
        {EchoRepeat, 0, 80, 1, 1},                                   // +0.8
        {EchoRepeat, 80, 0, 1, 79},     {EchoDelay, 2, 247, 33, 83}, // +80.85
        {MusicBass, 20, 0, 25, 15}, // a tone, on its stored 0 to 20
        {SwFreq, 250, 50, 0, 250},      {SwFreq, 250, 50, 100, 50},  {KeyIndex, 0, 10, 49, 0},
        {KeyIndex, 0, 10, 50, 10},      {KeyIndex, 10, 0, 50, 0},    {FbEx, 3, 1, 50, 1},
        {InputSource, 4, 0, 100, 0},    {KeyIndex, 3, 11, 100, 3}, // B's key is no item of the list
        {MusicVolume, 25, 63, 100, 58},                            // both maxima 58
        {MicVolume, 30, 0, 50, 15},
    };
    for (const auto& c : cases) {
        const std::string what = std::string(parameter(c.id).key) + " " + std::to_string(c.a) +
                                 " -> " + std::to_string(c.b) + " at " + std::to_string(c.percent);
        ConfigRecord a = defaults();
        ConfigRecord b = defaults();
        parameter(c.id).field.set(a, 0, c.a);
        parameter(c.id).field.set(b, 5, c.b);
        const SlotChange r = blendSlots(a, 0, b, 5, c.percent);
        EXPECT_EQ(valueOf(r.record, 0, c.id), c.expected) << what;
        EXPECT_EQ(r.changed,
                  c.expected == c.a ? std::vector<ParameterId>{} : std::vector<ParameterId>{c.id})
            << what;
    }
}

// Over any two records, slots and percents: only slot A's fields move, each inside its
// range and under its limit; 0 % changes no byte; a mode slot against slot 1 to 4 keeps
// its whole mode record. From records a window could have left, every number lands
// between A's and B's values, a list on one of them, and 100 % gives B's values.
TEST(Blend, AnyTwoRecordsKeepRangesLimitsAndTheRestOfTheRecord) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> anySlot(0, kSlotCount - 1);
    std::uniform_int_distribution<int> anyPercent(kBlendMin, kBlendMax);
    for (int i = 0; i < 3000; ++i) {
        const bool shown = i % 2 == 0;
        const ConfigRecord a = shown ? shownRecord(random) : anyRecord(random);
        const ConfigRecord b = shown ? shownRecord(random) : anyRecord(random);
        const int slotA = anySlot(random);
        const int slotB = anySlot(random);
        const int percent = i % 5 == 0 ? 0 : i % 5 == 1 ? 100 : anyPercent(random);
        const std::string what = "run " + std::to_string(i) + ": slot " + std::to_string(slotA) +
                                 " to " + std::to_string(slotB) + " at " + std::to_string(percent);
        const SlotChange r = blendSlots(a, slotA, b, slotB, percent);
        expectSlotChange(a, slotA, r, what);
        if (percent == 0) {
            EXPECT_TRUE(sameImage(r.record, a)) << what;
        }
        if (blendKeepsDefaultSetting(slotA, slotB)) {
            const std::size_t mode = offsetof(ConfigRecord, modes) + slotA * kModeRecordSize;
            EXPECT_TRUE(std::equal(a.image().begin() + mode,
                                   a.image().begin() + mode + kModeRecordSize,
                                   r.record.image().begin() + mode))
                << what;
        }
        if (!shown) {
            continue;
        }
        for (const Parameter* p : slotParameters(slotA)) {
            const int from = p->field.get(a, slotA);
            const int to = slotHas(slotB, *p) ? p->field.get(b, slotB) : from;
            const int value = p->field.get(r.record, slotA);
            if (percent == 100) {
                EXPECT_EQ(value, to) << what << ": " << p->key;
            }
            if (p->kind == ControlKind::List) {
                EXPECT_TRUE(value == from || value == to) << what << ": " << p->key;
            } else if (!limitOf(*p)) {
                EXPECT_TRUE(value >= std::min(from, to) && value <= std::max(from, to))
                    << what << ": " << p->key;
            }
        }
    }
}

// The same record, slot, amount, groups and seed give these values on every machine
// and with every standard library: the generator and the mapping to a range are fixed.
TEST(Randomize, GivesTheSameValuesForASeedEverywhere) {
    const ConfigRecord record = defaults();
    const SlotChange r = randomizeSlot(record, 0, 30, kAllGroups, 20261208);
    std::vector<int> values;
    for (const Parameter* p : slotParameters(0)) {
        values.push_back(p->field.get(r.record, 0));
    }
    // Worked out apart from this code, from the generator's published definition.
    EXPECT_EQ(values, (std::vector<int>{14, 6, 8, 10, 156, 62, 59, 12, 5,  15, 12, 16, 81,
                                        76, 0, 4, 4,  0,   2,  1,  70, 28, 61, 27, 8,  13}));
    EXPECT_TRUE(sameImage(randomizeSlot(record, 0, 30, kAllGroups, 20261208).record, r.record));
}

// Over many seeds, records, slots, amounts and groups: the same seed gives the same
// record; only the slot's fields move, each at most the amount's share of its range
// from where it was, inside its range and under its limit; a group not ticked keeps its
// values, and the levels keep theirs unless ticked.
TEST(Randomize, StaysNearWithinBoundsAndLeavesWhatIsNotTicked) {
    const ParameterId levels[] = {EffectVolume, MusicVolume, MicVolume, MusicVolMax,
                                  MicVolMax,    SwVol1,      SwVol2};
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> anySlot(0, kSlotCount - 1);
    std::uniform_int_distribution<int> anyAmount(kAmountMin, kAmountMax);
    std::uniform_int_distribution<int> anyGroups(0, kAllGroups);
    int moved = 0;
    for (std::uint32_t seed = 0; seed < 1500; ++seed) {
        const ConfigRecord record = shownRecord(random);
        const int slot = anySlot(random);
        const int amount = seed % 7 == 0   ? kAmountMin
                           : seed % 7 == 1 ? kAmountMax
                                           : anyAmount(random);
        const RandomGroups groups = seed % 3 == 0   ? kUnlockedGroups
                                    : seed % 3 == 1 ? kAllGroups
                                                    : static_cast<RandomGroups>(anyGroups(random));
        const std::string what = "seed " + std::to_string(seed) + ": slot " + std::to_string(slot) +
                                 ", " + std::to_string(amount) + " %, groups " +
                                 std::to_string(groups);
        const SlotChange r = randomizeSlot(record, slot, amount, groups, seed);
        EXPECT_TRUE(sameImage(randomizeSlot(record, slot, amount, groups, seed).record, r.record))
            << what;
        expectSlotChange(record, slot, r, what);
        moved += static_cast<int>(r.changed.size());
        for (const Parameter* p : slotParameters(slot)) {
            const int before = p->field.get(record, slot);
            const int after = p->field.get(r.record, slot);
            if (!(groups & groupBit(randomGroupOf(p->id)))) {
                EXPECT_EQ(after, before) << what << ": " << p->key << " not ticked";
            }
            const ValueRange b = storedRange(*p);
            EXPECT_LE(std::abs(after - before) * 100, amount * (b.max - b.min) + 50)
                << what << ": " << p->key;
        }
        if (!(groups & groupBit(RandomGroup::Levels))) {
            for (const ParameterId id : levels) {
                if (slotHas(slot, parameter(id))) {
                    EXPECT_EQ(valueOf(r.record, slot, id), valueOf(record, slot, id))
                        << what << ": " << parameter(id).key << " locked";
                }
            }
        }
    }
    EXPECT_GT(moved, 5000) << "values do move";
}

// Groups are named by their keys, in any case, with space around them; an unknown
// name, an empty one among them included, is refused with the names there are.
TEST(Randomize, GroupsAreNamedByTheirKeys) {
    const RandomGroups echo = groupBit(RandomGroup::Echo);
    const struct {
        const char* list;
        std::optional<RandomGroups> groups;
    } cases[] = {
        {"echo", echo},
        {" Echo , REVERB ", echo | groupBit(RandomGroup::Reverb)},
        {"echo,echo", echo},
        {"music-tone,mic-tone,echo,reverb,key,switches", kUnlockedGroups},
        {"levels,switches,key,reverb,echo,mic-tone,music-tone", kAllGroups},
        {"", std::nullopt},
        {"echo,", std::nullopt},
        {"echoes", std::nullopt},
        {"music tone", std::nullopt},
    };
    for (const auto& c : cases) {
        QString why;
        EXPECT_EQ(parseRandomGroups(QString::fromUtf8(c.list), &why), c.groups) << c.list;
        EXPECT_EQ(why.isEmpty(), c.groups.has_value()) << c.list;
        if (!c.groups) {
            EXPECT_TRUE(why.contains(QStringLiteral("is not a group: music-tone, mic-tone")))
                << why.toStdString();
        }
    }
    EXPECT_EQ(kUnlockedGroups, kAllGroups & ~groupBit(RandomGroup::Levels));
}

} // namespace
} // namespace cantavel
