// Setting values the way the operator gives them, and naming slots, without a window.
// (That the shown values agree with the window's controls is checked by the window's
// tests.)

#include "ParameterValues.h"

#include <gtest/gtest.h>

namespace cantavel {
namespace {

ConfigRecord defaults() {
    ConfigRecord r{};
    r.resetToDefaults();
    return r;
}

TEST(ParameterValues, SlotsAreNamedByKeyTitleOrNumber) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_EQ(slotFromName(slotKey(slot)), slot);
        EXPECT_EQ(slotFromName(slotTitle(slot).toUpper()), slot);
        EXPECT_EQ(slotFromName(QString::number(slot)), slot);
    }
    for (const char* none : {"", "7", "-1", "mode", "mode-c", "01", "default "}) {
        EXPECT_EQ(slotFromName(QString::fromLatin1(none)), -1) << none;
    }
    EXPECT_EQ(slotParameters(0).size(), kParameterCount);
    EXPECT_EQ(slotParameters(1).size(), 16u);
}

// A parameter is found by its identifier or the window's name, in any case and
// however spaced, and no name stands for two parameters.
TEST(ParameterValues, ParametersAreNamedByIdentifierOrWindowNameInAnyCase) {
    for (const Parameter& p : parameterTable()) {
        const QString key = QString::fromLatin1(p.key);
        const QString name = QString::fromLatin1(p.name);
        QString spaced = name;
        spaced.replace(QLatin1Char(' '), QStringLiteral("  ")).append(QLatin1Char(' '));
        QString joined = name;
        joined.remove(QLatin1Char(' '));
        for (const QString& given : {key, key.toUpper(), name, name.toLower(), spaced, joined}) {
            EXPECT_EQ(parameterFromName(given), &p) << given.toStdString();
        }
        for (const Parameter& other : parameterTable()) {
            if (&other != &p) {
                EXPECT_NE(parameterFromName(QString::fromLatin1(other.name)), &p);
            }
        }
    }
    for (const char* none : {"", " ", "echo-delay", "F.B", "key index 2", "volume", "music."}) {
        EXPECT_EQ(parameterFromName(QString::fromLatin1(none)), nullptr) << none;
    }
}

struct SetCase {
    const char* slot;
    const char* key;
    const char* value;
    const char* error; // nullptr when it is set
    int stored;        // the field afterwards
};

TEST(ParameterValues, ValuesAreCheckedAndStoredAsTheWindowStoresThem) {
    const SetCase cases[] = {
        {"default", "musicBass", "-10", nullptr, 0},
        {"default", "musicBass", "10", nullptr, 20},
        {"1", "micTreble", "3", nullptr, 13},
        {"1", "micTreble", "11", "11 is out of range: -10 to 10", 10},
        {"2", "echoDelay", "1", "1 is out of range: 2 to 247", 180},
        {"2", "echoDelay", "12x", "'12x' is not a whole number", 180},
        {"mode-a", "keyIndex", "#+3", nullptr, 8},
        {"mode-a", "keyIndex", "B-5", nullptr, 0},
        {"mode-a", "keyIndex", "3",
         "'3' is not one of b-5, b-4, b-3, b-2, b-1, 0, #+1, #+2, "
         "#+3, #+4, #+5",
         5},
        {"mode-b", "inputSource", "dvd", nullptr, 2},
        {"mode-b", "aux", "Mic+Music", nullptr, 2},
        {"default", "musicVolume", "58", nullptr, 58},
        {"default", "musicVolume", "59", "59 is out of range: 0 to 58 (musicVolMax is 58)", 25},
        {"3", "musicVolume", "10",
         "musicVolume is part of the Default Setting, which only Default, Mode A and Mode B "
         "have",
         0},
    };
    for (const SetCase& c : cases) {
        ConfigRecord r = defaults();
        const ConfigRecord before = r;
        const int slot = slotFromName(QString::fromLatin1(c.slot));
        const Parameter& p = *findParameterByKey(c.key);
        const QString error = setShownValue(r, slot, p, QString::fromLatin1(c.value));
        const std::string what = std::string(c.slot) + "." + c.key + "=" + c.value;
        EXPECT_EQ(error, c.error ? QString::fromLatin1(c.error) : QString()) << what;
        EXPECT_EQ(p.field.get(r, slot), c.stored) << what;
        if (c.error) {
            EXPECT_TRUE(std::ranges::equal(r.image(), before.image())) << what;
        }
    }
}

// Lowering a maximum below its volume brings the volume down with it, as the knob
// follows its up-down; raising it leaves the volume alone. Bits beside a packed list
// field stay as they were.
TEST(ParameterValues, AMaximumTakesItsVolumeDownAndListsKeepTheirNeighbours) {
    ConfigRecord r = defaults();
    ASSERT_EQ(setShownValue(r, 5, parameter(ParameterId::MicVolMax), QStringLiteral("12")),
              QString());
    EXPECT_EQ(r.mode(5).micVolMax, 12);
    EXPECT_EQ(r.mode(5).micVolume, 12);
    ASSERT_EQ(setShownValue(r, 5, parameter(ParameterId::MicVolMax), QStringLiteral("40")),
              QString());
    EXPECT_EQ(r.mode(5).micVolume, 12);
    EXPECT_EQ(r.mode(5).musicVolume, 25) << "the other volume is not touched";

    r.mode(6).byte2 = 0xC0 | r.mode(6).byte2;
    ASSERT_EQ(setShownValue(r, 6, parameter(ParameterId::Center), QStringLiteral("Mic")),
              QString());
    EXPECT_EQ(r.mode(6).center(), 1);
    EXPECT_EQ(r.mode(6).byte2 & 0xC0, 0xC0) << "the unit's free bits";
}

} // namespace
} // namespace cantavel
