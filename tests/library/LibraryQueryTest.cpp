// The library's search: what a query means, and which slots it finds.

#include "LibraryQuery.h"
#include "LibrarySnapshot.h"
#include "ParameterValues.h"

#include <gtest/gtest.h>

#include <random>

namespace cantavel {
namespace {

using Kind = LibraryTerm::Kind;
using Op = LibraryTerm::Op;

// One term per row, or the start of the error it must give.
TEST(LibraryQuery, UnderstandsEachFormOfTerm) {
    struct Row {
        const char* text;
        Kind kind;
        bool negated;
        const char* key; // parameter, or nullptr
        Op op;
        int value;
        const char* word; // word or tag text
    };
    const Row rows[] = {
        {"ballad", Kind::Word, false, nullptr, Op::Equal, 0, "ballad"},
        {"-Ballad", Kind::Word, true, nullptr, Op::Equal, 0, "ballad"},
        {"rock'n'roll", Kind::Word, false, nullptr, Op::Equal, 0, "rock'n'roll"},
        {"a;b", Kind::Word, false, nullptr, Op::Equal, 0, "a;b"},
        {"live-set", Kind::Word, false, nullptr, Op::Equal, 0, "live-set"},
        {"wow!", Kind::Word, false, nullptr, Op::Equal, 0, "wow!"},
        {"\"live set\"", Kind::Word, false, nullptr, Op::Equal, 0, "live set"},
        {"-\"live set\"", Kind::Word, true, nullptr, Op::Equal, 0, "live set"},
        {"\"half", Kind::Word, false, nullptr, Op::Equal, 0, "\"half"},
        {"delay>=200", Kind::Value, false, "echoDelay", Op::GreaterOrEqual, 200, ""},
        {"ECHODELAY<=3", Kind::Value, false, "echoDelay", Op::LessOrEqual, 3, ""},
        {"key=#+2", Kind::Value, false, "keyIndex", Op::Equal, 7, ""},
        {"key>b-1", Kind::Value, false, "keyIndex", Op::Greater, 4, ""},
        {"input=dvd", Kind::Value, false, "inputSource", Op::Equal, 2, ""},
        {"aux=mic+music", Kind::Value, false, "aux", Op::Equal, 2, ""},
        {"F.B-EX!=2", Kind::Value, false, "fbEx", Op::NotEqual, 2, ""},
        {"-musicbass<-3", Kind::Value, true, "musicBass", Op::Less, -3, ""},
        {"musicvolmax==63", Kind::Value, false, "musicVolMax", Op::Equal, 63, ""},
        {"delay>99999999999", Kind::Value, false, "echoDelay", Op::Greater, 100000, ""},
        {"tag:Ballad", Kind::Tag, false, nullptr, Op::Equal, 0, "ballad"},
        {"-TAG:\"Live Set\"", Kind::Tag, true, nullptr, Op::Equal, 0, "live set"},
        {"-tag:';DROP", Kind::Tag, true, nullptr, Op::Equal, 0, "';drop"},
        {"is:fav", Kind::Favourite, false, nullptr, Op::Equal, 0, ""},
        {"-is:dup", Kind::Duplicate, true, nullptr, Op::Equal, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const LibraryQuery q = parseLibraryQuery(QString::fromUtf8(row.text));
        ASSERT_TRUE(q.ok()) << q.error.toStdString();
        ASSERT_EQ(q.terms.size(), 1u);
        const LibraryTerm& t = q.terms[0];
        EXPECT_EQ(t.kind, row.kind);
        EXPECT_EQ(t.negated, row.negated);
        if (row.key) {
            ASSERT_NE(t.parameter, nullptr);
            EXPECT_STREQ(t.parameter->key, row.key);
            EXPECT_EQ(t.op, row.op);
            EXPECT_EQ(t.value, row.value);
        } else {
            EXPECT_EQ(t.text, QString::fromUtf8(row.word));
        }
    }
}

TEST(LibraryQuery, SaysWhatItDidNotUnderstandAndKeepsNoTerms) {
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"ballad dealy>=200", "no parameter 'dealy'"},
        {"delay>=abc", "'abc' is not a whole number"},
        {"input=cd", "'cd' is not one of BGM, AUX, DVD, TV, AUTO"},
        {"delay>=", "wants a value"},
        {">=200", "names no parameter"},
        {"tag:", "wants a tag"},
        {"is:loud", "is not known"},
        {"ballad - live", "a lone '-'"},
        {"a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h i j k l m n o p q r "
         "s t u v w x y z a b c d e f g h i j k l m",
         "it takes at most 64"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const LibraryQuery q = parseLibraryQuery(QString::fromUtf8(row.text));
        EXPECT_FALSE(q.ok());
        EXPECT_TRUE(q.terms.empty());
        EXPECT_TRUE(q.error.contains(QString::fromUtf8(row.error))) << q.error.toStdString();
    }
    // The reason is shown under the search box: a long term is quoted by its ends, or
    // the label would widen the window to fit it.
    const QString longTerm(4000, QLatin1Char('z'));
    for (const QString& text :
         {longTerm + QStringLiteral(">=1"), QStringLiteral("delay>=") + longTerm,
          QStringLiteral("input=") + longTerm, QStringLiteral("is:") + longTerm,
          QStringLiteral("delay>=") + longTerm + QStringLiteral("!"),
          QStringLiteral(">=") + longTerm}) {
        SCOPED_TRACE(text.right(20).toStdString());
        const LibraryQuery q = parseLibraryQuery(text);
        EXPECT_FALSE(q.ok());
        EXPECT_LT(q.error.size(), 300) << q.error.left(300).toStdString();
    }
    const LibraryQuery huge = parseLibraryQuery(QString(1 << 20, QLatin1Char('a')));
    EXPECT_FALSE(huge.ok());
    EXPECT_TRUE(parseLibraryQuery(u"  \t ").terms.empty());
}

// A snapshot of two files: a fresh record, and one whose slots were changed.
LibrarySnapshot twoFiles() {
    LibrarySnapshot s;
    ConfigRecord fresh{};
    fresh.resetToDefaults();
    ConfigRecord changed = fresh;
    EXPECT_EQ(setShownValue(changed, 0, parameter(ParameterId::EchoDelay), QStringLiteral("220")),
              QString());
    EXPECT_EQ(setShownValue(changed, 0, parameter(ParameterId::MusicVolume), QStringLiteral("5")),
              QString());
    EXPECT_EQ(setShownValue(changed, 3, parameter(ParameterId::KeyIndex), QStringLiteral("#+2")),
              QString());
    const std::pair<const char*, ConfigRecord*> records[] = {{"fresh.cfg", &fresh},
                                                             {"live/ballads.cfg", &changed}};
    for (const auto& [name, record] : records) {
        LibraryFile f;
        f.name = QString::fromUtf8(name);
        f.path = QStringLiteral("/lib/") + f.name;
        f.preset = true;
        f.firstSlot = int(s.allSlots.size());
        for (int slot = 0; slot < kSlotCount; ++slot) {
            LibrarySlot ls;
            ls.file = int(s.files.size());
            ls.slot = slot;
            std::memcpy(ls.preset.data(), &record->preset(slot), kEffectPresetSize);
            std::memcpy(ls.mode.data(), &record->mode(slot), kModeRecordSize);
            ls.shown = shownValues(*record, slot);
            ls.sound = soundOf(ls.shown);
            s.allSlots.push_back(ls);
        }
        s.files.push_back(f);
    }
    s.allSlots[9].tags = {QStringLiteral("Ballad")};
    s.allSlots[10].favourite = true;
    s.allSlots[11].note = QStringLiteral("for the Friday crowd");
    LibraryFile other;
    other.name = QStringLiteral("notes.cfg");
    s.files.push_back(other);
    s.finish();
    return s;
}

// Found slots as "file index:slot", in the listing's order.
std::vector<QString> found(const LibrarySnapshot& s, const char* query) {
    std::vector<QString> names;
    const LibraryMatches m = s.search(parseLibraryQuery(QString::fromUtf8(query)));
    for (const int i : m.matched) {
        names.push_back(QStringLiteral("%1:%2").arg(s.allSlots[i].file).arg(s.allSlots[i].slot));
    }
    for (const int f : m.otherFiles) {
        names.push_back(QStringLiteral("%1:-").arg(f));
    }
    return names;
}

TEST(LibrarySearch, FindsSlotsByWhatTheyHoldAndWhatTheyAreCalled) {
    const LibrarySnapshot s = twoFiles();
    using V = std::vector<QString>;
    EXPECT_EQ(found(s, "delay>=200"), V{"1:0"});
    EXPECT_EQ(found(s, "key=#+2"), V{"1:3"});
    // The Default Setting is only on the mode slots, and so is its opposite.
    EXPECT_EQ(found(s, "musicVolume<10"), V{"1:0"});
    EXPECT_EQ(found(s, "-musicVolume<10"), (V{"0:0", "0:5", "0:6", "1:5", "1:6"}));
    // Words: the file's name, a tag, a note; a file that is no preset by name only.
    EXPECT_EQ(found(s, "ballads key=#+2"), V{"1:3"});
    EXPECT_EQ(found(s, "friday"), V{"1:4"});
    EXPECT_EQ(found(s, "tag:ballad"), V{"1:2"});
    EXPECT_EQ(found(s, "is:fav"), V{"1:3"});
    EXPECT_EQ(found(s, "notes"), V{"2:-"});
    EXPECT_TRUE(found(s, "notes is:fav").empty());
    EXPECT_TRUE(found(s, "delay>=abc").empty()); // nothing stale
    // Slots that sound alike: only the changed ones have no twin.
    EXPECT_EQ(found(s, "-is:dup"), (V{"1:0", "1:3"}));
    EXPECT_EQ(s.allSlots[8].sameAs, 1);
    EXPECT_EQ(s.slotName(s.allSlots[8].sameAs), QStringLiteral("fresh.cfg, slot 1"));
    EXPECT_EQ(s.slotName(12), QStringLiteral("live/ballads.cfg, Mode A"));
    EXPECT_TRUE(s.summary(7).contains(QStringLiteral("Delay 220"))) << s.summary(7).toStdString();
    EXPECT_TRUE(s.summary(0).isEmpty());
}

// A slot taken from the library carries exactly the bytes it was indexed with.
TEST(LibrarySearch, ASlotsRecordHoldsItsBytesAndItsShownValues) {
    std::mt19937 random(25);
    for (int round = 0; round < 50; ++round) {
        ConfigRecord r{};
        for (auto& byte : r.image()) {
            byte = std::uint8_t(random());
        }
        const int slot = int(random() % kSlotCount);
        LibrarySlot s;
        s.slot = slot;
        std::memcpy(s.preset.data(), &r.preset(slot), kEffectPresetSize);
        std::memcpy(s.mode.data(), &r.mode(slot), kModeRecordSize);
        const ConfigRecord back = s.record();
        EXPECT_EQ(std::memcmp(&back.preset(slot), &r.preset(slot), kEffectPresetSize), 0);
        EXPECT_EQ(std::memcmp(&back.mode(slot), &r.mode(slot), kModeRecordSize), 0);
        EXPECT_EQ(shownValues(back, slot), shownValues(r, slot));
    }
}

} // namespace
} // namespace cantavel
