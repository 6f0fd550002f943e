// Finding a sound in the window: Compare swaps a tab with its saved values, Blend
// moves it towards another slot while the unit listens, Randomize changes it within
// bounds. Each is one step to take back, and in Link mode on "Default" the unit
// hears exactly what changes.

#include "EventPump.h"
#include "ParameterValues.h"
#include "Protocol.h"
#include "SoundDialogs.h"
#include "SoundTools.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include <cstring>
#include <functional>
#include <map>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Sound = testing::WindowTest;
using Image = PresetDocument::Image;
using testing::imageOf;

// The live frames in bytes from the line: live number to the values sent, in order.
std::map<int, std::vector<int>> liveFrames(const QByteArray& bytes) {
    std::map<int, std::vector<int>> frames;
    EXPECT_EQ(bytes.size() % 3, 0) << bytes.toHex(' ').toStdString();
    for (qsizetype i = 0; i + 2 < bytes.size(); i += 3) {
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[i]), kLiveCommand);
        frames[static_cast<std::uint8_t>(bytes[i + 1])].push_back(
            static_cast<std::uint8_t>(bytes[i + 2]));
    }
    return frames;
}

int field(const ConfigRecord& r, int slot, ParameterId id) {
    return parameter(id).field.get(r, slot);
}

// Mode A differs from Default in every parameter, within ranges and limits.
void makeModeADiffer(ConfigRecord& r) {
    for (const Parameter* p : slotParameters(5)) {
        const int items = p->kind == ControlKind::List ? static_cast<int>(listItems(*p).size()) : 0;
        const int top = items ? items - 1 : p->maxValue;
        const int now = p->field.get(r, 0);
        p->field.set(r, 5, static_cast<unsigned>(now == top ? (items ? 0 : p->minValue) : top));
    }
    r.mode(5).musicVolume = r.mode(5).musicVolMax;
    r.mode(5).micVolume = r.mode(5).micVolMax;
    r.mode(5).swVol2 = r.mode(5).swVol1;
}

TEST_F(Sound, CompareSwapsWithTheSavedValuesAndTheUnitHearsWhatDiffers) {
    linkOn();
    const ConfigRecord saved = record();
    ASSERT_EQ(form->Document().setValue(0, ParameterId::EchoDelay, 100),
              PresetDocument::SetResult::Changed);
    ASSERT_EQ(form->Document().setValue(0, ParameterId::Center, 1),
              PresetDocument::SetResult::Changed);
    form->Document().closeStep();
    const ConfigRecord own = record();
    (void)sent();

    QAction* compare = action("Compare1");
    EXPECT_EQ(compare->shortcut(), QKeySequence(Qt::Key_F5));
    compare->trigger();
    EXPECT_TRUE(compare->isChecked());
    EXPECT_TRUE(imageOf(record()) == imageOf(saved));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("*Digital Cantavel Processor v1.5  (comparing "
                                                  "with saved)"))
        << "the operator's own values are still unsaved";
    EXPECT_EQ(text("Edit6"), QStringLiteral("180"));
    const std::map<int, std::vector<int>> toSaved{{0, {180}}, {13, {0}}};
    EXPECT_EQ(liveFrames(sent()), toSaved);

    compare->trigger();
    EXPECT_FALSE(compare->isChecked());
    EXPECT_TRUE(imageOf(record()) == imageOf(own));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("*Digital Cantavel Processor v1.5"));
    const std::map<int, std::vector<int>> toOwn{{0, {100}}, {13, {1}}};
    EXPECT_EQ(liveFrames(sent()), toOwn);

    // Saving while comparing saves the operator's values, not the ones compared.
    compare->trigger();
    const QString path = dir.filePath(QStringLiteral("own.cfg"));
    ASSERT_TRUE(form->Document().save(path));
    EXPECT_FALSE(compare->isChecked());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QByteArray(reinterpret_cast<const char*>(own.image().data()), kConfigImageSize));
}

// An edit while comparing is made to the saved values shown, ends the comparison
// (told once), and one undo brings back the values it replaced.
TEST_F(Sound, AnEditWhileComparingKeepsTheShownSideAndOneUndoBringsBackTheOwn) {
    ASSERT_EQ(form->Document().setValue(0, ParameterId::EchoDelay, 100),
              PresetDocument::SetResult::Changed);
    form->Document().closeStep();
    const ConfigRecord own = record();
    for (int round = 0; round < 2; ++round) {
        action("Compare1")->trigger();
        child<QSlider>("TrackBar12")->setValue(70); // Repeat, from the saved 40
        EXPECT_FALSE(action("Compare1")->isChecked());
        EXPECT_EQ(record().preset(0).echoDelay, 180) << "the saved value shown was kept";
        EXPECT_EQ(record().preset(0).echoRepeat, 70);
        EXPECT_FALSE(form->windowTitle().contains(QStringLiteral("comparing")));
        testing::handlePending();
        EXPECT_EQ(dialogs.messages.size(), 1u) << "told once, not at each edit";
        action("Undo1")->trigger();
        EXPECT_TRUE(imageOf(record()) == imageOf(own)) << "round " << round;
    }
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Comparing has ended."));
    // Undo while comparing is the end of the comparison, nothing more.
    action("Compare1")->trigger();
    action("Undo1")->trigger();
    EXPECT_FALSE(action("Compare1")->isChecked());
    EXPECT_TRUE(imageOf(record()) == imageOf(own));
}

// Leaving a compared "Default" in Link mode, with Link kept (Mode A) or ended (a
// numbered tab, the Link item): the unit is left holding the operator's own values,
// as the record does.
TEST_F(Sound, LeavingAComparisonInLinkModeLeavesTheUnitWithTheOwnValues) {
    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"Mode A", [&] { clickTab(5); }},
        {"tab 2", [&] { clickTab(2); }},
        {"Link off", [&] { action("Link1")->trigger(); }},
    };
    int round = 0;
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        clickTab(0);
        if (!action("Link1")->isChecked()) {
            linkOn();
        }
        ++round;
        std::map<int, std::vector<int>> own;
        for (const auto& [id, shown] :
             {std::pair{ParameterId::EchoDelay, 100}, std::pair{ParameterId::EchoRepeat, 10},
              std::pair{ParameterId::ReverbTime, 10}, std::pair{ParameterId::MicBass, 1}}) {
            ASSERT_EQ(form->Document().setValue(0, id, shown + round),
                      PresetDocument::SetResult::Changed);
            own[parameter(id).live] = {field(record(), 0, id)};
        }
        form->Document().closeStep();
        action("Compare1")->trigger();
        (void)sent();
        leave();
        EXPECT_FALSE(action("Compare1")->isChecked());
        EXPECT_EQ(record().preset(0).echoDelay, 100 + round);
        EXPECT_EQ(liveFrames(sent()), own);
    }
}

// The blend dragged from A to B with Link on: the unit's last value of each parameter
// is the window's, frames waited while the line was busy (the newest value of each
// going out), OK is one step, and Cancel brings A back to the record and the unit.
TEST_F(Sound, ABlendDraggedInLinkModeEndsWithTheUnitHoldingWhatTheDialogShows) {
    makeModeADiffer(record());
    form->LoadPresetControls(0);
    linkOn();
    const ConfigRecord a = record();
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        const auto before = form->Link().livePacing();
        dialogs.runDialog = [&](QDialog& d) {
            auto& blend = dynamic_cast<BlendDialog&>(d);
            blend.setSource(4); // "Mode A": the tabs other than Default, in order
            EXPECT_EQ(blend.sources()[4].slot, 5);
            for (int percent = 0; percent <= 100; ++percent) {
                blend.setPercent(percent); // faster than the line: values wait
            }
            EXPECT_TRUE(testing::pumpUntil([&] { return form->Link().livePacing().waiting == 0; }));
            return ok ? QDialog::Accepted : QDialog::Rejected;
        };
        action("Blend1")->trigger();
        // Cancel's way back to A waits for the line as the blend did.
        EXPECT_TRUE(testing::pumpUntil([&] { return form->Link().livePacing().waiting == 0; }));
        const std::map<int, std::vector<int>> frames = liveFrames(sent());
        const auto after = form->Link().livePacing();
        EXPECT_GT(after.coalesced, before.coalesced);
        const ConfigRecord expected = ok ? blendSlots(a, 0, a, 5, 100).record : a;
        EXPECT_TRUE(imageOf(record()) == imageOf(expected));
        for (const Parameter& p : parameterTable()) {
            const auto it = frames.find(p.live);
            ASSERT_NE(it, frames.end()) << p.key << ": every parameter differed, so each moved";
            EXPECT_EQ(it->second.back(), static_cast<int>(p.field.get(record(), 0))) << p.key;
        }
    }
    action("Undo1")->trigger();
    EXPECT_TRUE(imageOf(record()) == imageOf(a)) << "OK kept the blend as one step";
}

// A blend cancelled and "Default" left at once, while the way back to A still waits
// for the line: whether Link stays on (Mode A) or ends (a numbered tab, the Link
// item), the unit is left holding A.
TEST_F(Sound, DefaultLeftAsABlendEndsLeavesTheUnitWithWhatTheRecordHolds) {
    makeModeADiffer(record());
    form->LoadPresetControls(0);
    const ConfigRecord a = record();
    dialogs.runDialog = [&](QDialog& d) {
        auto& blend = dynamic_cast<BlendDialog&>(d);
        blend.setSource(4); // "Mode A"
        blend.setPercent(100);
        EXPECT_TRUE(testing::pumpUntil([&] { return form->Link().livePacing().waiting == 0; }));
        return QDialog::Rejected;
    };
    const std::vector<std::pair<const char*, std::function<void()>>> ways{
        {"Mode A", [&] { clickTab(5); }},
        {"tab 2", [&] { clickTab(2); }},
        {"Link off", [&] { action("Link1")->trigger(); }},
    };
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        clickTab(0);
        if (!action("Link1")->isChecked()) {
            linkOn();
        }
        (void)sent();
        action("Blend1")->trigger();
        ASSERT_GT(form->Link().livePacing().waiting, 0u) << "the way back to A still waits";
        leave();
        const std::map<int, std::vector<int>> frames = liveFrames(sent());
        for (const Parameter* p : slotParameters(0)) {
            EXPECT_EQ(field(record(), 0, p->id), field(a, 0, p->id)) << p->key;
            const auto it = frames.find(p->live);
            ASSERT_NE(it, frames.end()) << p->key;
            EXPECT_EQ(it->second.back(), field(a, 0, p->id)) << p->key;
        }
    }
}

// Default blended towards an effect preset: its Default Setting stays, and the dialog
// says so. A port lost meanwhile ends Link with the hang-up message; the dialog goes
// on, offline.
TEST_F(Sound, ABlendWithAnEffectPresetKeepsTheDefaultSettingAndOutlivesALostPort) {
    record().preset(2).echoDelay = 40;
    record().preset(2).keyIndex = 9;
    record().mode(2).musicVolume = 3; // a numbered slot's mode record is no Default Setting
    linkOn();
    const ConfigRecord a = record();
    dialogs.runDialog = [&](QDialog& d) {
        auto& blend = dynamic_cast<BlendDialog&>(d);
        blend.setSource(1); // "2"
        auto* note = blend.findChild<QLabel*>(QStringLiteral("BlendNote"));
        EXPECT_TRUE(note && note->text().contains(QStringLiteral("Default Setting of Default "
                                                                 "stays")));
        auto* link = blend.findChild<QLabel*>(QStringLiteral("BlendLink"));
        EXPECT_TRUE(link && link->text().startsWith(QStringLiteral("Link is on")));
        blend.setPercent(25);
        pty.closeMaster();
        EXPECT_TRUE(testing::pumpUntil([&] { return !dialogs.messages.empty(); }));
        testing::handlePending();
        EXPECT_TRUE(link && link->text().startsWith(QStringLiteral("Link is off")));
        blend.setPercent(50);
        return QDialog::Accepted;
    };
    action("Blend1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("The connection to the unit was lost."));
    EXPECT_FALSE(action("Link1")->isChecked());
    EXPECT_EQ(record().preset(0).echoDelay, 110); // 180 + (40 - 180) / 2
    EXPECT_EQ(record().preset(0).keyIndex, 9);
    EXPECT_EQ(std::memcmp(&record().mode(0), &a.mode(0), kModeRecordSize), 0);
}

// Randomize with the levels locked: every level byte as it was, the rest what the
// seed gives, as one step; an amount out of range is refused with the range named.
TEST_F(Sound, RandomizeLeavesTheLevelsLockedAndIsOneStep) {
    const ConfigRecord a = record();
    dialogs.runDialog = [&](QDialog& d) {
        auto* amount = d.findChild<QSpinBox*>(QStringLiteral("RandomizeAmount"));
        auto* seed = d.findChild<QLineEdit*>(QStringLiteral("RandomizeSeed"));
        auto* error = d.findChild<QLabel*>(QStringLiteral("RandomizeError"));
        EXPECT_FALSE(d.findChild<QCheckBox*>(QStringLiteral("RandomizeUnlockLevels"))->isChecked());
        amount->findChild<QLineEdit*>()->setText(QStringLiteral("3"));
        d.accept();
        EXPECT_TRUE(error->text().contains(QStringLiteral("5 to 100")))
            << error->text().toStdString();
        EXPECT_EQ(d.result(), QDialog::Rejected);
        amount->setValue(100);
        seed->setText(QStringLiteral("4294967296"));
        d.accept();
        EXPECT_TRUE(error->text().contains(QStringLiteral("4294967295")));
        seed->setText(QStringLiteral("20261209"));
        d.accept();
        return d.result();
    };
    action("Randomize1")->trigger();
    const SlotChange expected = randomizeSlot(a, 0, 100, kUnlockedGroups, 20261209);
    EXPECT_TRUE(imageOf(record()) == imageOf(expected.record));
    EXPECT_GT(expected.changed.size(), 10u);
    for (const ParameterId id :
         {ParameterId::EffectVolume, ParameterId::MusicVolume, ParameterId::MicVolume,
          ParameterId::MusicVolMax, ParameterId::MicVolMax, ParameterId::SwVol1,
          ParameterId::SwVol2}) {
        EXPECT_EQ(field(record(), 0, id), field(a, 0, id)) << parameter(id).key;
    }
    action("Undo1")->trigger();
    EXPECT_TRUE(imageOf(record()) == imageOf(a));
}

// Every label of the two dialogs that offers an Alt key takes the keyboard to its
// field, and a screen reader hears it without the '&'.
TEST_F(Sound, TheDialogsLabelsWithAnAltKeyLeadToTheirFields) {
    BlendDialog blend(form.get(), 0, QStringLiteral("Default"),
                      {{QStringLiteral("1"), record(), 1}}, 0);
    RandomizeDialog randomize(form.get(), QStringLiteral("Default"), 1);
    for (QDialog* dialog : std::initializer_list<QDialog*>{&blend, &randomize}) {
        for (const QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->text().contains(QLatin1Char('&'))) {
                EXPECT_NE(label->buddy(), nullptr)
                    << dialog->objectName().toStdString() << ": " << label->text().toStdString();
            }
        }
    }
}

} // namespace
} // namespace cantavel
