#include "SoundTools.h"

#include "ParameterValues.h"
#include "SlotKind.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <limits>
#include <random>

namespace cantavel {

namespace {

int stored(const ConfigRecord& record, int slot, const Parameter& p) {
    return p.field.get(record, slot);
}

// (B - A) x percent / 100, rounded half away from zero.
int blendStep(int a, int b, int percent) {
    const int scaled = (b - a) * percent;
    return scaled >= 0 ? (scaled + 50) / 100 : -((-scaled + 50) / 100);
}

// A value that changed, or whose limit changed, is held under the limit; the
// changed parameters are listed in the table's order.
SlotChange finish(ConfigRecord result, const ConfigRecord& from, int slot) {
    SlotChange change{result, {}};
    for (const Parameter* p : slotParameters(slot)) {
        const Parameter* limit = limitOf(*p);
        const int value = stored(change.record, slot, *p);
        if (limit && (value != stored(from, slot, *p) ||
                      stored(change.record, slot, *limit) != stored(from, slot, *limit))) {
            const int most = stored(change.record, slot, *limit);
            if (value > most) {
                p->field.set(change.record, slot, static_cast<unsigned>(most));
            }
        }
    }
    for (const Parameter* p : slotParameters(slot)) {
        if (stored(change.record, slot, *p) != stored(from, slot, *p)) {
            change.changed.push_back(p->id);
        }
    }
    return change;
}

constexpr std::array<RandomGroup, kParameterCount> kGroupOf = [] {
    using enum ParameterId;
    using G = RandomGroup;
    std::array<RandomGroup, kParameterCount> g{};
    const auto put = [&g](ParameterId id, RandomGroup group) {
        g[static_cast<std::size_t>(id)] = group;
    };
    for (ParameterId id : {MusicBass, MusicMiddle, MusicTreble, MusicBalance}) {
        put(id, G::MusicTone);
    }
    for (ParameterId id : {MicBass, MicMiddle, MicTreble}) {
        put(id, G::MicTone);
    }
    for (ParameterId id : {EchoDelay, EchoRepeat, EchoLevel}) {
        put(id, G::Echo);
    }
    put(ReverbTime, G::Reverb);
    put(ReverbLevel, G::Reverb);
    put(KeyIndex, G::Key);
    for (ParameterId id : {FbEx, SwFreq, InputSource, Center, Aux, MusicIn}) {
        put(id, G::Switches);
    }
    for (ParameterId id :
         {EffectVolume, MusicVolume, MicVolume, MusicVolMax, MicVolMax, SwVol1, SwVol2}) {
        put(id, G::Levels);
    }
    return g;
}();

struct GroupName {
    const char* key;
    const char* title;
};
constexpr std::array<GroupName, kRandomGroupCount> kGroupNames{{
    {"music-tone", "Music tone"},
    {"mic-tone", "Mic tone"},
    {"echo", "Echo"},
    {"reverb", "Reverb"},
    {"key", "Key"},
    {"switches", "Switches and lists"},
    {"levels", "Levels"},
}};

// A value drawn evenly from [lo, hi] by multiplying and shifting: the generator's 32
// bits scaled to the range, the same on every machine.
int draw(std::mt19937& generator, int lo, int hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    const auto x = static_cast<std::uint64_t>(generator()) & 0xFFFFFFFFU;
    return lo + static_cast<int>((x * span) >> 32);
}

} // namespace

SlotChange blendSlots(const ConfigRecord& a, int slotA, const ConfigRecord& b, int slotB,
                      int percent) {
    ConfigRecord result = a;
    if (percent <= kBlendMin || slotKind(slotA) == SlotKind::None ||
        slotKind(slotB) == SlotKind::None) {
        return {result, {}};
    }
    percent = std::min(percent, kBlendMax);
    for (const Parameter* p : slotParameters(slotA)) {
        if (!slotHas(slotB, *p)) {
            continue; // B has no Default Setting: A's stays
        }
        const ValueRange range = storedRange(*p);
        const int from = stored(a, slotA, *p);
        const int to = stored(b, slotB, *p);
        int value = from;
        if (p->kind == ControlKind::List) {
            // An item B's list cannot show is no item to take.
            if (percent >= 50 && to >= range.min && to <= range.max) {
                value = to;
            }
        } else {
            value = std::clamp(from + blendStep(from, to, percent), range.min, range.max);
        }
        p->field.set(result, slotA, static_cast<unsigned>(value));
    }
    return finish(result, a, slotA);
}

bool blendKeepsDefaultSetting(int slotA, int slotB) {
    return isModeSlot(slotA) && isPresetSlot(slotB);
}

RandomGroup randomGroupOf(ParameterId id) {
    return kGroupOf[static_cast<std::size_t>(id)];
}

QString randomGroupKey(RandomGroup g) {
    return QLatin1String(kGroupNames[static_cast<std::size_t>(g)].key);
}

QString randomGroupTitle(RandomGroup g) {
    return QLatin1String(kGroupNames[static_cast<std::size_t>(g)].title);
}

std::optional<RandomGroups> parseRandomGroups(const QString& list, QString* why) {
    RandomGroups groups = 0;
    for (const QString& part : list.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        const auto it =
            std::find_if(kGroupNames.begin(), kGroupNames.end(), [&](const GroupName& g) {
                return name.compare(QLatin1String(g.key), Qt::CaseInsensitive) == 0;
            });
        if (it == kGroupNames.end()) {
            if (why) {
                *why =
                    QStringLiteral("'%1' is not a group: %2").arg(name.left(40), randomGroupKeys());
            }
            return std::nullopt;
        }
        groups |= static_cast<RandomGroups>(1U << (it - kGroupNames.begin()));
    }
    return groups;
}

SlotChange randomizeSlot(const ConfigRecord& record, int slot, int amount, RandomGroups groups,
                         std::uint32_t seed) {
    ConfigRecord result = record;
    if (slotKind(slot) == SlotKind::None) {
        return {result, {}};
    }
    amount = std::clamp(amount, kAmountMin, kAmountMax);
    std::mt19937 generator(seed);
    for (const Parameter* p : slotParameters(slot)) {
        if (!(groups & groupBit(randomGroupOf(p->id)))) {
            continue;
        }
        const ValueRange range = storedRange(*p);
        const int now = std::clamp(stored(record, slot, *p), range.min, range.max);
        const int reach = (amount * (range.max - range.min) + 50) / 100;
        int lo = std::max(range.min, now - reach);
        int hi = std::min(range.max, now + reach);
        if (const Parameter* limit = limitOf(*p)) {
            // The limit has had its draw already: it comes first in the table.
            hi = std::min(hi, stored(result, slot, *limit));
            lo = std::min(lo, hi);
        }
        const int value = draw(generator, lo, hi);
        if (value != stored(record, slot, *p)) {
            p->field.set(result, slot, static_cast<unsigned>(value));
        }
    }
    return finish(result, record, slot);
}

QString randomGroupKeys() {
    QStringList keys;
    for (const GroupName& g : kGroupNames) {
        keys << QLatin1String(g.key);
    }
    return keys.join(QStringLiteral(", "));
}

std::optional<std::uint32_t> seedFromText(const QString& text) {
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        })) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const QChar c : text) {
        value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t freshSeed() {
    std::random_device device;
    return static_cast<std::uint32_t>(device());
}

QString blendRangeText() {
    return QStringLiteral("the blend must be %1 to %2 %").arg(kBlendMin).arg(kBlendMax);
}

QString amountRangeText() {
    return QStringLiteral("the amount must be %1 to %2 %").arg(kAmountMin).arg(kAmountMax);
}

QString seedRangeText() {
    return QStringLiteral("a seed is a whole number 0 to %1")
        .arg(std::numeric_limits<std::uint32_t>::max());
}

} // namespace cantavel
