#include "ParameterValues.h"

#include <algorithm>
#include <array>

namespace cantavel {

namespace {

constexpr std::array<const char*, kSlotCount> kTitles{"Default", "1",      "2",     "3",
                                                      "4",       "Mode A", "Mode B"};
constexpr std::array<const char*, kSlotCount> kKeys{"default", "1",      "2",     "3",
                                                    "4",       "mode-a", "mode-b"};

// The rules between values of one slot: a value may not exceed its limit. A volume
// follows its maximum down when that is lowered; SW VOL 2 keeps what it holds and
// shows at most SW VOL 1, its stored value taking the limit at its next change.
struct LimitRule {
    ParameterId value;
    ParameterId limit;
    bool follows;
};
constexpr std::array<LimitRule, 3> kLimitRules{{
    {ParameterId::MusicVolume, ParameterId::MusicVolMax, true},
    {ParameterId::MicVolume, ParameterId::MicVolMax, true},
    {ParameterId::SwVol2, ParameterId::SwVol1, false},
}};

void store(ConfigRecord& record, int slot, const Parameter& p, int shown) {
    p.field.set(record, slot, static_cast<unsigned>(p.storedFromShown(shown)));
}

} // namespace

QString slotTitle(int slot) {
    return slot >= 0 && slot < kSlotCount ? QString::fromLatin1(kTitles[slot]) : QString();
}

QString slotOfFile(const QString& file, int slot) {
    return QStringLiteral("%1, %2").arg(
        file, isPresetSlot(slot) ? QStringLiteral("slot ") + slotTitle(slot) : slotTitle(slot));
}

QString slotKey(int slot) {
    return slot >= 0 && slot < kSlotCount ? QString::fromLatin1(kKeys[slot]) : QString();
}

int slotFromName(QStringView name) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (name.compare(QLatin1String(kKeys[slot]), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String(kTitles[slot]), Qt::CaseInsensitive) == 0) {
            return slot;
        }
    }
    if (name.size() == 1 && name[0].unicode() >= u'0' && name[0].unicode() < u'0' + kSlotCount) {
        return name[0].unicode() - u'0';
    }
    return -1;
}

namespace {

// A name as it is compared: lower case, without spaces.
QString plainName(QStringView name) {
    QString plain;
    for (const QChar c : name) {
        if (!c.isSpace()) {
            plain += c.toLower();
        }
    }
    return plain;
}

} // namespace

const Parameter* limitOf(const Parameter& p) {
    for (const LimitRule& rule : kLimitRules) {
        if (rule.value == p.id) {
            return &parameter(rule.limit);
        }
    }
    return nullptr;
}

const Parameter* followerOf(const Parameter& limit) {
    for (const LimitRule& rule : kLimitRules) {
        if (rule.limit == limit.id && rule.follows) {
            return &parameter(rule.value);
        }
    }
    return nullptr;
}

const Parameter* boundBy(const Parameter& limit) {
    for (const LimitRule& rule : kLimitRules) {
        if (rule.limit == limit.id) {
            return &parameter(rule.value);
        }
    }
    return nullptr;
}

const Parameter* parameterFromName(QStringView name) {
    const QString plain = plainName(name);
    if (plain.isEmpty()) {
        return nullptr;
    }
    for (const Parameter& p : parameterTable()) {
        if (plain == plainName(QString::fromLatin1(p.key)) ||
            plain == plainName(QString::fromLatin1(p.name))) {
            return &p;
        }
    }
    return nullptr;
}

Assignment parseAssignment(const QString& text) {
    Assignment a;
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (dot <= 0 || equals <= dot + 1) {
        return a;
    }
    a.slotName = text.left(dot);
    a.name = text.mid(dot + 1, equals - dot - 1);
    a.value = text.mid(equals + 1);
    a.slot = slotFromName(a.slotName);
    a.parameter = parameterFromName(a.name);
    a.fault = a.slot < 0     ? Assignment::Fault::Slot
              : !a.parameter ? Assignment::Fault::Parameter
                             : Assignment::Fault::None;
    return a;
}

bool slotHas(int slot, const Parameter& p) {
    return slotKind(slot) == SlotKind::Mode ||
           (slotKind(slot) == SlotKind::Preset && p.field.part == RecordPart::Preset);
}

std::vector<const Parameter*> slotParameters(int slot) {
    std::vector<const Parameter*> shown;
    for (const Parameter& p : parameterTable()) {
        if (slotHas(slot, p)) {
            shown.push_back(&p);
        }
    }
    return shown;
}

const QStringList& listItems(const Parameter& p) {
    static const std::array<QStringList, kParameterCount> items = [] {
        std::array<QStringList, kParameterCount> all;
        for (const Parameter& q : parameterTable()) {
            if (q.items) {
                all[static_cast<std::size_t>(q.id)] =
                    QString::fromLatin1(q.items).split(QLatin1Char('|'));
            }
        }
        return all;
    }();
    return items[static_cast<std::size_t>(p.id)];
}

ValueRange fullRange(const Parameter& p) {
    if (p.kind == ControlKind::List) {
        return {0, static_cast<int>(listItems(p).size()) - 1};
    }
    const int a = p.shown(p.minValue);
    const int b = p.shown(p.maxValue);
    return {std::min(a, b), std::max(a, b)};
}

ValueRange storedRange(const Parameter& p) {
    if (p.kind == ControlKind::List) {
        return {0, static_cast<int>(listItems(p).size()) - 1};
    }
    return {p.minValue, p.maxValue};
}

ValueRange shownRange(const ConfigRecord& record, int slot, const Parameter& p) {
    if (const Parameter* limit = limitOf(p)) {
        return {p.minValue, shownValue(record, slot, *limit)};
    }
    return fullRange(p);
}

int shownValue(const ConfigRecord& record, int slot, const Parameter& p) {
    const int stored = p.field.get(record, slot);
    if (p.kind == ControlKind::List) {
        return stored < listItems(p).size() ? stored : -1;
    }
    const ValueRange range = shownRange(record, slot, p);
    return std::clamp(p.shown(stored), range.min, range.max);
}

QString shownText(const ConfigRecord& record, int slot, const Parameter& p) {
    const int value = shownValue(record, slot, p);
    if (p.kind == ControlKind::List) {
        return value < 0 ? QString() : listItems(p)[value];
    }
    return QString::number(value);
}

QString shownOrNone(const QString& shown) {
    return shown.isEmpty() ? QStringLiteral("(none)") : shown;
}

std::vector<const Parameter*> rangedOnShowing(int slot) {
    std::vector<const Parameter*> ranged;
    if (slotKind(slot) == SlotKind::Mode) {
        for (const Parameter& p : parameterTable()) {
            if (p.kind == ControlKind::Knob && p.field.part == RecordPart::Mode) {
                ranged.push_back(&p);
            }
        }
    }
    for (const Parameter* p : slotParameters(slot)) {
        if (p->field.part == RecordPart::Preset &&
            (p->kind == ControlKind::Slider || p->kind == ControlKind::Knob)) {
            ranged.push_back(p);
        }
    }
    return ranged;
}

void bringIntoRange(ConfigRecord& record, int slot) {
    for (const Parameter* p : rangedOnShowing(slot)) {
        store(record, slot, *p, shownValue(record, slot, *p));
    }
}

} // namespace cantavel
