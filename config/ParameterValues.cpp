#include "ParameterValues.h"

#include <algorithm>
#include <array>

namespace cantavel {

namespace {

constexpr std::array<const char*, kSlotCount> kTitles{"Default", "1",      "2",     "3",
                                                      "4",       "Mode A", "Mode B"};
constexpr std::array<const char*, kSlotCount> kKeys{"default", "1",      "2",     "3",
                                                    "4",       "mode-a", "mode-b"};

// The knob of a volume takes the maximum its up-down shows.
const Parameter* maximumOf(ParameterId id) {
    switch (id) {
    case ParameterId::MusicVolume:
        return &parameter(ParameterId::MusicVolMax);
    case ParameterId::MicVolume:
        return &parameter(ParameterId::MicVolMax);
    default:
        return nullptr;
    }
}

// The volume a maximum limits.
const Parameter* volumeUnder(ParameterId id) {
    switch (id) {
    case ParameterId::MusicVolMax:
        return &parameter(ParameterId::MusicVolume);
    case ParameterId::MicVolMax:
        return &parameter(ParameterId::MicVolume);
    default:
        return nullptr;
    }
}

void store(ConfigRecord& record, int slot, const Parameter& p, int shown) {
    p.field.set(record, slot, static_cast<unsigned>(p.storedFromShown(shown)));
}

} // namespace

QString slotTitle(int slot) {
    return slot >= 0 && slot < kSlotCount ? QString::fromLatin1(kTitles[slot]) : QString();
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
    static const QStringList none;
    static const QStringList fbEx{"0", "1", "2", "3"};
    static const QStringList key{"b-5", "b-4", "b-3", "b-2", "b-1", "0",
                                 "#+1", "#+2", "#+3", "#+4", "#+5"};
    static const QStringList input{"BGM", "AUX", "DVD", "TV", "AUTO"};
    static const QStringList center{"Music", "Mic"};
    static const QStringList aux{"Mic", "Music", "Mic+Music"};
    static const QStringList musicIn{"L+R", "L+L", "R+R", "L-R"};
    switch (p.id) {
    case ParameterId::FbEx:
        return fbEx;
    case ParameterId::KeyIndex:
        return key;
    case ParameterId::InputSource:
        return input;
    case ParameterId::Center:
        return center;
    case ParameterId::Aux:
        return aux;
    case ParameterId::MusicIn:
        return musicIn;
    default:
        return none;
    }
}

ValueRange shownRange(const ConfigRecord& record, int slot, const Parameter& p) {
    if (p.kind == ControlKind::List) {
        return {0, static_cast<int>(listItems(p).size()) - 1};
    }
    if (const Parameter* max = maximumOf(p.id)) {
        return {p.minValue, shownValue(record, slot, *max)};
    }
    const int a = p.shown(p.minValue);
    const int b = p.shown(p.maxValue);
    return {std::min(a, b), std::max(a, b)};
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

void bringIntoRange(ConfigRecord& record, int slot) {
    for (const Parameter* p : slotParameters(slot)) {
        if (p->kind == ControlKind::Slider || p->kind == ControlKind::Knob) {
            store(record, slot, *p, shownValue(record, slot, *p));
        }
    }
}

QString setShownValue(ConfigRecord& record, int slot, const Parameter& p, const QString& value) {
    if (!slotHas(slot, p)) {
        return QStringLiteral("%1 is part of the Default Setting, which only Default, Mode A "
                              "and Mode B have")
            .arg(QLatin1String(p.key));
    }
    int shown = 0;
    if (p.kind == ControlKind::List) {
        const QStringList& items = listItems(p);
        const auto it = std::find_if(items.begin(), items.end(), [&](const QString& item) {
            return item.compare(value, Qt::CaseInsensitive) == 0;
        });
        if (it == items.end()) {
            return QStringLiteral("'%1' is not one of %2")
                .arg(value, items.join(QStringLiteral(", ")));
        }
        shown = static_cast<int>(it - items.begin());
    } else {
        bool number = false;
        shown = value.toInt(&number);
        const ValueRange range = shownRange(record, slot, p);
        if (!number) {
            return QStringLiteral("'%1' is not a whole number").arg(value);
        }
        if (shown < range.min || shown > range.max) {
            const Parameter* max = maximumOf(p.id);
            return QStringLiteral("%1 is out of range: %2 to %3%4")
                .arg(shown)
                .arg(range.min)
                .arg(range.max)
                .arg(max ? QStringLiteral(" (%1 is %2)").arg(QLatin1String(max->key)).arg(range.max)
                         : QString());
        }
    }
    // A volume above its new maximum comes down to it, as the knob does.
    const Parameter* volume = volumeUnder(p.id);
    const int volumeBefore = volume ? shownValue(record, slot, *volume) : 0;
    store(record, slot, p, shown);
    if (volume && volumeBefore > shown) {
        store(record, slot, *volume, shown);
    }
    return {};
}

} // namespace cantavel
