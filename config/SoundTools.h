#pragma once

// Finding a sound from slots already there: a blend of two slots (at a small percent
// a nudge of one towards the other), and random changes within bounds a live rig
// can bear. Each gives a record to take a slot's values from and the parameters that
// change; the window tries them on a slot and cantavel-cfg writes them, both through
// the preset document.

#include "ConfigRecord.h"
#include "Parameters.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace cantavel {

struct SlotChange {
    ConfigRecord record;              // the first record, its slot changed
    std::vector<ParameterId> changed; // the parameters whose values differ, table order
};

inline constexpr int kBlendMin = 0;
inline constexpr int kBlendMax = 100;

// Slot `slotA` of `a` moved `percent` of the way towards slot `slotB` of `b`: each
// number A + (B - A) x percent / 100 on the stored values, rounded half away from
// zero, inside its range and under its limit; a list (the key among them) takes B's
// item from 50 % on. Parameters slot B has not (a mode slot's Default Setting against
// an effect preset) keep A's values. At 0 % nothing changes.
SlotChange blendSlots(const ConfigRecord& a, int slotA, const ConfigRecord& b, int slotB,
                      int percent);
// Whether a blend keeps slot A's Default Setting because slot B has none.
bool blendKeepsDefaultSetting(int slotA, int slotB);

// What Randomize may change, in groups an operator ticks. The levels can hurt a room
// and change only when unlocked on purpose.
enum class RandomGroup : std::uint8_t { MusicTone, MicTone, Echo, Reverb, Key, Switches, Levels };
inline constexpr int kRandomGroupCount = 7;
using RandomGroups = std::uint8_t; // a bit per group
constexpr RandomGroups groupBit(RandomGroup g) {
    return static_cast<RandomGroups>(1U << static_cast<unsigned>(g));
}
inline constexpr RandomGroups kUnlockedGroups = 0x3F; // every group but the levels
inline constexpr RandomGroups kAllGroups = 0x7F;

// The group a parameter belongs to.
RandomGroup randomGroupOf(ParameterId id);
// "music-tone", "mic-tone", "echo", "reverb", "key", "switches", "levels"; and the
// window's names for them ("Music tone", ...).
QString randomGroupKey(RandomGroup g);
QString randomGroupTitle(RandomGroup g);
// Every group's key, for messages and help: "music-tone, mic-tone, ...".
QString randomGroupKeys();
// A comma-separated list of keys, in any case; null with `why` set for an unknown one.
std::optional<RandomGroups> parseRandomGroups(const QString& list, QString* why);

inline constexpr int kAmountMin = 5;
inline constexpr int kAmountMax = 100;

// Each parameter of the groups that `slot` shows moves to a value drawn evenly from
// those within `amount` % of its range around where it is (inside the range, and a
// level under its limit). The draws come from std::mt19937 seeded with `seed`, one
// per parameter in the table's order (limits before the values under them), mapped
// to a range by integer arithmetic alone: the same seed gives the same values on
// every machine.
SlotChange randomizeSlot(const ConfigRecord& record, int slot, int amount, RandomGroups groups,
                         std::uint32_t seed);

// A seed as typed: decimal digits alone, 0 to 4294967295; null for anything else.
std::optional<std::uint32_t> seedFromText(const QString& text);
// A seed for a randomize nobody chose one for.
std::uint32_t freshSeed();

// The ranges named when a value is refused.
QString blendRangeText();  // "the blend must be 0 to 100 %"
QString amountRangeText(); // "the amount must be 5 to 100 %"
QString seedRangeText();   // "a seed is a whole number 0 to 4294967295"

} // namespace cantavel
