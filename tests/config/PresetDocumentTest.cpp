// The preset document without a window: its rules between values, its steps taken
// back and made again, and what it tells its listeners.

#include "PresetDocument.h"
#include "ParameterValues.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace cantavel {
namespace {

using enum ParameterId;
using Image = PresetDocument::Image;

Image imageOf(const ConfigRecord& record) {
    Image image{};
    std::memcpy(image.data(), record.image().data(), kConfigImageSize);
    return image;
}

struct Change {
    int slot;
    ParameterId id;
    unsigned before;
    unsigned after;
    bool operator==(const Change&) const = default;
};

class Document : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&document, &PresetDocument::valueChanged,
                         [this](int slot, ParameterId id, unsigned before, unsigned after) {
                             changes.push_back({slot, id, before, after});
                         });
    }
    static ConfigRecord defaults() {
        ConfigRecord r{};
        r.resetToDefaults();
        return r;
    }
    ConfigRecord record = defaults();
    PresetDocument document{record};
    std::vector<Change> changes;
};

// Every step of a script taken back restores the record byte for byte, and made
// again gives it as it was after the step; a step of several values puts them back
// in the order they were made, so that a maximum is raised before the volume under it
// returns and the unit never hears a volume above its maximum.
TEST_F(Document, UndoAndRedoRestoreEveryStepExactly) {
    const std::vector<std::function<void()>> steps = {
        [&] { document.setValue(0, EchoDelay, 120); },
        [&] { document.setValue(0, MusicVolMax, 10); }, // Music volume 25 comes down with it
        [&] { document.setValue(3, KeyIndex, 8); },
        [&] {
            document.compound([&] {
                document.setValue(5, MicBass, -4);
                document.setValue(5, MicBass, 6); // one change: first before, last after
                document.setValue(5, Aux, 2);
            });
        },
        [&] { document.setValue(6, SwFreq, 249); },
    };
    std::vector<Image> after{imageOf(record)};
    for (const auto& step : steps) {
        step();
        document.closeStep();
        after.push_back(imageOf(record));
    }
    EXPECT_EQ(record.mode(0).musicVolume, 10);
    EXPECT_TRUE(document.isModified());
    for (std::size_t i = steps.size(); i > 0; --i) {
        ASSERT_TRUE(document.canUndo());
        changes.clear();
        document.undo();
        EXPECT_EQ(imageOf(record), after[i - 1]) << "undo of step " << i;
        if (i == 2) {
            EXPECT_EQ(changes,
                      (std::vector<Change>{{0, MusicVolMax, 10, 58}, {0, MusicVolume, 10, 25}}));
        }
    }
    EXPECT_FALSE(document.canUndo());
    EXPECT_FALSE(document.isModified());
    for (std::size_t i = 1; i <= steps.size(); ++i) {
        ASSERT_TRUE(document.canRedo());
        document.redo();
        EXPECT_EQ(imageOf(record), after[i]) << "redo of step " << i;
    }
    EXPECT_FALSE(document.canRedo());

    // A new change after an undo leaves nothing to redo; a step that came back where
    // it started is no step.
    document.undo();
    document.setValue(1, EchoLevel, 3);
    document.closeStep();
    EXPECT_FALSE(document.canRedo());
    const int before = record.preset(2).echoLevel;
    document.setValue(2, EchoLevel, before + 1);
    document.setValue(2, EchoLevel, before);
    document.closeStep();
    EXPECT_EQ(document.undoSlot(), 1);
}

// The rules read the slot's own values only. Kept, a value beyond its slot's limit
// is refused; deferred (for several values checked together) it is stored.
TEST_F(Document, LimitsAreSetByTheSlotsOwnValues) {
    record.mode(0).swVol1 = 40;
    record.mode(0).musicVolMax = 5;
    record.mode(5).swVol1 = 100;
    record.mode(5).musicVolMax = 63;
    struct Case {
        int slot;
        ParameterId id;
        int value;
        PresetDocument::SetResult kept;
    };
    using enum PresetDocument::SetResult;
    const Case cases[] = {
        {5, SwVol2, 90, Changed},        {0, SwVol2, 41, OutOfRange},
        {0, SwVol2, 40, Changed},        {5, MusicVolume, 60, Changed},
        {0, MusicVolume, 6, OutOfRange}, {0, MusicVolume, 5, Changed},
        {2, MusicVolume, 1, NotOnSlot},  {1, EchoDelay, 1, OutOfRange},
        {1, EchoDelay, 2, Changed},      {0, Aux, 3, OutOfRange},
    };
    for (const Case& c : cases) {
        const ConfigRecord saved = record;
        EXPECT_EQ(document.setValue(c.slot, c.id, c.value), c.kept)
            << c.slot << " " << parameter(c.id).key << "=" << c.value;
        if (c.kept == OutOfRange && c.id != Aux && c.id != EchoDelay) {
            record = saved;
            EXPECT_EQ(document.setValue(c.slot, c.id, c.value, PresetDocument::Limits::Defer),
                      Changed);
            EXPECT_LT(shownValue(record, c.slot, parameter(c.id)), c.value)
                << "shown at most its limit";
        }
    }

    // Lowering SW VOL 1 keeps SW VOL 2 as stored; lowering a maximum brings its
    // volume down with it, as one step.
    record.mode(6).swVol2 = 80;
    document.setValue(6, SwVol1, 30);
    EXPECT_EQ(record.mode(6).swVol2, 80);
    EXPECT_EQ(shownValue(record, 6, parameter(SwVol2)), 30);
    record.mode(6).micVolume = 30;
    const unsigned maxBefore = record.mode(6).micVolMax;
    changes.clear();
    document.setValue(6, MicVolMax, 12);
    EXPECT_EQ(changes,
              (std::vector<Change>{{6, MicVolMax, maxBefore, 12}, {6, MicVolume, 30, 12}}));
}

// A slot put over another takes every value its tab shows through the rules, as one
// step: its limits first, so a volume is not held to the maximum it replaces; bytes
// no parameter covers stay the target's.
TEST_F(Document, ReplacingASlotIsOneStepThatKeepsTheRestOfTheRecord) {
    std::mt19937 random(77);
    ConfigRecord from{};
    from.resetToDefaults();
    for (std::uint8_t& b : from.image()) {
        b = static_cast<std::uint8_t>(random());
    }
    from.mode(6).musicVolMax = 60;
    from.mode(6).musicVolume = 55;
    record.mode(5).musicVolMax = 3;
    record.mode(5).musicVolume = 2;
    const Image before = imageOf(record);
    const ConfigRecord kept = record;

    document.replaceSlot(5, from, 6);
    EXPECT_EQ(record.mode(5).musicVolume, 55);
    Image covered{};
    for (const Parameter* p : slotParameters(5)) {
        // A list that shows no item gives nothing: the target keeps its own.
        const int given = shownValue(from, 6, *p);
        EXPECT_EQ(shownValue(record, 5, *p), given >= 0 ? given : p->field.get(kept, 5)) << p->key;
        covered[p->field.imageOffset(5)] = 1;
    }
    const Image now = imageOf(record);
    for (std::size_t i = 0; i < kConfigImageSize; ++i) {
        if (!covered[i]) {
            EXPECT_EQ(now[i], before[i]) << "byte " << i;
        }
    }
    document.undo();
    EXPECT_EQ(imageOf(record), before);
    EXPECT_FALSE(document.canUndo());
}

// Loading forgets the steps and makes what the file held the unmodified state;
// saving keeps the steps; a failed load changes nothing.
TEST_F(Document, FilesSetWhatCountsAsUnmodified) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.cfg"));
    document.setValue(0, EchoRepeat, 12);
    ASSERT_TRUE(document.save(path));
    EXPECT_FALSE(document.isModified());
    EXPECT_TRUE(document.canUndo());
    EXPECT_EQ(document.fileName(), path);
    document.undo();
    EXPECT_TRUE(document.isModified());

    EXPECT_FALSE(document.load(dir.filePath(QStringLiteral("missing.cfg"))));
    EXPECT_EQ(document.fileName(), path);
    EXPECT_TRUE(document.isModified());
    ASSERT_TRUE(document.load(path));
    EXPECT_FALSE(document.isModified());
    EXPECT_FALSE(document.canUndo());
    EXPECT_EQ(record.preset(0).echoRepeat, 12);
    document.makeNew();
    EXPECT_TRUE(document.fileName().isEmpty());
    EXPECT_FALSE(document.isModified());
}

} // namespace
} // namespace cantavel
