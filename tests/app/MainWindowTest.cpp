// The main window's controls driven as the operator drives them, with the record
// and the bytes on the line checked.

#include "AboutBox.h"
#include "ConfigFile.h"
#include "Knob.h"
#include "LabeledEdit.h"
#include "ParameterValues.h"
#include "SerialPort.h"
#include "UpDown.h"
#include "WindowFixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

#include <random>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Window = testing::WindowTest;

TEST_F(Window, StartsOnDefaultWithEveryDisplayWritten) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Digital Cantavel Processor v1.5"));
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload Default"));
    EXPECT_EQ(tabs()->currentIndex(), 0);
    EXPECT_EQ(text("Edit6"), QStringLiteral("180"));
    EXPECT_EQ(text("Edit2"), QStringLiteral("0"));
    EXPECT_EQ(text("Edit14"), QStringLiteral("55"));
    EXPECT_EQ(text("Edit15"), QStringLiteral("25"));
    EXPECT_EQ(text("LabeledEdit2"), QStringLiteral("100"));
    EXPECT_EQ(text("LabeledEdit4"), QStringLiteral("58"));
    EXPECT_EQ(child<QComboBox>("ComboBox1")->currentText(), QStringLiteral("0"));
    EXPECT_EQ(child<QComboBox>("ComboBox2")->currentText(), QStringLiteral("AUTO"));
    EXPECT_EQ(child<QComboBox>("ComboBox4")->currentText(), QStringLiteral("Mic+Music"));
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(Window, LayoutMenuAndRangesAreAsDesigned) {
    EXPECT_EQ(form->centralWidget()->size(), QSize(704, 421));
    EXPECT_EQ(child<QWidget>("GroupBox2")->geometry(), QRect(8, 32, 193, 385));
    EXPECT_EQ(child<QWidget>("GroupBox1")->geometry(), QRect(209, 32, 493, 386));
    EXPECT_EQ(child<QWidget>("mKnob1")->geometry(), QRect(192, 232, 65, 65));
    EXPECT_EQ(child<QWidget>("TrackBar11")->geometry(), QRect(56, 16, 201, 33));
    EXPECT_EQ(child<QWidget>("TrackBar5")->geometry(), QRect(8, 40, 33, 161));
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    const auto* tone = child<QSlider>("TrackBar16");
    EXPECT_EQ(tone->orientation(), Qt::Vertical);
    EXPECT_EQ(tone->minimum(), -10);
    EXPECT_TRUE(tone->invertedAppearance()) << "-10 at the top";
    EXPECT_EQ(tone->pageStep(), 1);
    EXPECT_EQ(child<QSlider>("TrackBar11")->tickInterval(), 3);
    EXPECT_EQ(child<QSlider>("TrackBar11")->maximum(), 247);
    EXPECT_EQ(child<QSlider>("TrackBar13")->pageStep(), 2);
    EXPECT_EQ(child<TUpDown>("UpDown2")->Min(), 50);
    EXPECT_EQ(child<TUpDown>("UpDown3")->Max(), 42);
    EXPECT_EQ(child<TmKnob>("mKnob2")->Max(), 58) << "the shown slot's Music Vol Max";
    EXPECT_EQ(child<TmKnob>("mKnob3")->FaceColor(), clGradientActiveCaption);
    EXPECT_EQ(child<QLineEdit>("Edit2")->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(child<QLineEdit>("Edit6")->isReadOnly());

    QStringList ports;
    for (QAction* item : child<QMenu>("Connect1")->actions()) {
        ports << item->objectName() + "=" + item->text() + "/" + item->property("Tag").toString();
    }
    EXPECT_EQ(ports.size(), 15);
    EXPECT_EQ(ports.front(), QStringLiteral("COM11=COM1/1"));
    EXPECT_EQ(ports.back(), QStringLiteral("COM151=COM15/15"));
    EXPECT_TRUE(action("COM11")->isChecked());
    EXPECT_TRUE(action("Link1")->isCheckable());
    EXPECT_FALSE(action("Disconnect1")->isVisible());
    EXPECT_EQ(action("SaveAs1")->text().remove('&'), QStringLiteral("Save As..."));
    EXPECT_EQ(action("Close1")->text().remove('&'), QStringLiteral("Exit"));
    EXPECT_EQ(action("Open1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
}

// Every control's range is its parameter's range, through the way it is shown.
TEST_F(Window, EveryControlCoversItsParametersRange) {
    clickTab(5); // a mode slot: every control is enabled
    for (const Parameter& p : parameterTable()) {
        SCOPED_TRACE(p.key);
        const int low = std::min(p.position(p.minValue), p.position(p.maxValue));
        const int high = std::max(p.position(p.minValue), p.position(p.maxValue));
        switch (p.kind) {
        case ControlKind::Slider:
            EXPECT_EQ(child<QSlider>(p.control)->minimum(), low);
            EXPECT_EQ(child<QSlider>(p.control)->maximum(), high);
            break;
        case ControlKind::List:
            EXPECT_EQ(low, 0);
            EXPECT_EQ(child<QComboBox>(p.control)->count(), high + 1);
            break;
        case ControlKind::UpDown:
            EXPECT_EQ(child<TUpDown>(p.control)->Min(), low);
            EXPECT_EQ(child<TUpDown>(p.control)->Max(), high);
            break;
        case ControlKind::Knob: // the volume knobs' maxima follow their up-downs
            EXPECT_EQ(child<TmKnob>(p.control)->Min(), low);
            EXPECT_LE(child<TmKnob>(p.control)->Max(), high);
            break;
        }
        if (p.valueEdit) {
            EXPECT_TRUE(child<QLineEdit>(p.valueEdit)->isReadOnly());
        }
    }
}

TEST_F(Window, ToneSliderEndsShowTenAndMinusTen) {
    auto* bass = child<QSlider>("TrackBar5");
    bass->triggerAction(QAbstractSlider::SliderToMinimum); // the top
    EXPECT_EQ(text("Edit2"), QStringLiteral("10"));
    EXPECT_EQ(record().preset(0).musicBass, 20);
    bass->triggerAction(QAbstractSlider::SliderToMaximum); // the bottom
    EXPECT_EQ(text("Edit2"), QStringLiteral("-10"));
    EXPECT_EQ(record().preset(0).musicBass, 0);
    bass->setFocus();
    QTest::keyClick(bass, Qt::Key_Up); // the thumb moves up: one step towards +10 shown
    EXPECT_EQ(text("Edit2"), QStringLiteral("-9"));
    EXPECT_TRUE(sent().isEmpty()) << "Link is off";
}

TEST_F(Window, PickingKeyInLinkModeStoresAndSendsIt) {
    linkOn();
    pick(child<QComboBox>("ComboBox1"), 7); // "#+2"
    EXPECT_EQ(record().preset(0).keyIndex, 7);
    EXPECT_EQ(sent(), hex("26 1B 07"));
    pick(child<QComboBox>("ComboBox1"), 7); // the same item again
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(Window, CenterSendsTheFieldNotTheByte) {
    linkOn();
    pick(child<QComboBox>("ComboBox3"), 1); // "Mic"
    EXPECT_EQ(sent(), hex("26 0D 01"));
    EXPECT_EQ(record().mode(0).byte2, 0x28);
}

TEST_F(Window, MusicVolMaxDrawsTheKnobDownWithIt) {
    record().mode(0).musicVolMax = 41;
    record().mode(0).musicVolume = 40;
    form->TabControl1Change(nullptr);
    linkOn();
    clickUpDown("UpDown4", false); // 41 -> 40
    EXPECT_EQ(sent(), hex("26 30 28"));
    clickUpDown("UpDown4", false); // 40 -> 39
    EXPECT_EQ(sent(), hex("26 30 27 26 13 27"));
    EXPECT_EQ(text("Edit15"), QStringLiteral("39"));
    EXPECT_EQ(record().mode(0).musicVolume, 39);
}

// The review's case: Default's Music Vol Max lowered to 1 once cut Mode A's music
// volume to 1 when Mode A was shown or uploaded, and the cut went into the file.
TEST_F(Window, LoadingAModeSlotUsesItsOwnVolumeMaxima) {
    record().mode(0).musicVolMax = 2;
    record().mode(0).micVolMax = 2;
    record().mode(6).musicVolMax = 10;
    record().mode(6).musicVolume = 30; // above its own maximum: still brought down to it
    form->TabControl1Change(nullptr);
    linkOn();
    clickUpDown("UpDown4", false);
    clickUpDown("UpDown3", false);
    EXPECT_EQ(record().mode(0).musicVolume, 1);
    EXPECT_EQ(record().mode(0).micVolume, 1);
    sent();

    action("Configuator1")->trigger(); // reloads Mode A and Mode B on its way
    const QByteArray frames = sent();
    ASSERT_EQ(frames.size(), 157);
    const auto at = [&](int offset) { return static_cast<std::uint8_t>(frames[offset]); };
    EXPECT_EQ(at(103 + 2 + 6), 25) << "Mode A music volume";
    EXPECT_EQ(at(103 + 2 + 8), 25) << "Mode A mic volume";
    EXPECT_EQ(at(130 + 2 + 6), 10) << "Mode B music volume, cut to its own maximum";
    EXPECT_EQ(record().mode(5).musicVolume, 25);
    EXPECT_EQ(record().mode(5).micVolume, 25);

    clickTab(5);
    EXPECT_EQ(text("Edit15"), QStringLiteral("25"));
    EXPECT_EQ(child<TmKnob>("mKnob2")->Max(), 58);
    EXPECT_EQ(child<TmKnob>("mKnob3")->Max(), 35);
    EXPECT_EQ(record().mode(5).musicVolume, 25);
}

TEST_F(Window, LoweringSwVol1LeavesSwVol2InTheRecord) {
    record().mode(0).swVol1 = 51;
    record().mode(0).swVol2 = 60;
    form->TabControl1Change(nullptr);
    clickUpDown("UpDown1", false);
    EXPECT_EQ(record().mode(0).swVol1, 50);
    EXPECT_EQ(record().mode(0).swVol2, 60);
    EXPECT_EQ(text("LabeledEdit1"), QStringLiteral("50")) << "the up-down shows its new limit";
    clickUpDown("UpDown5", false); // its next click brings the record into range
    EXPECT_EQ(record().mode(0).swVol2, 49);
}

// Another slot's values once decided what showing a slot stored: a volume above its
// own maximum was cut or kept depending on where the knob stood, and SW VOL 2 was
// held to the SW VOL 1 of the slot shown before. Showing a slot now stores and shows
// what its own values say, whatever was shown before: the record after a random walk
// through the tabs is the one cantavel-cfg works out without a window.
TEST_F(Window, ShowingASlotGivesTheSameRecordWhateverWasShownBefore) {
    std::mt19937 random(1208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> tab(0, kSlotCount - 1);
    for (int round = 0; round < 12; ++round) {
        ConfigRecord given{};
        given.resetToDefaults();
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (const Parameter& p : parameterTable()) {
                // Half the time near the limits, volumes where a knob left at the
                // same value by another slot once kept them above their maxima.
                const int near = limitOf(p) ? 24 + byte(random) % 2 : 20 + byte(random) % 11;
                p.field.set(given, slot, static_cast<unsigned>(round % 2 ? byte(random) : near));
            }
        }
        for (int i = 0; i < 4; ++i) {
            clickTab(tab(random)); // whatever was shown before
        }
        const QString file = dir.filePath(QStringLiteral("given.cfg"));
        ASSERT_TRUE(saveConfigFile(file, given));
        ASSERT_TRUE(form->OpenFile(file));
        ConfigRecord expected = given;
        bringIntoRange(expected, tabs()->currentIndex()); // shown as it opens
        std::vector<int> order{0, 1, 2, 3, 4, 5, 6};
        std::shuffle(order.begin(), order.end(), random);
        for (const int slot : order) {
            clickTab(slot);
            bringIntoRange(expected, slot);
            for (const char* edit : {"Edit15", "Edit16", "LabeledEdit1", "Edit14"}) {
                const Parameter* p = nullptr;
                for (const Parameter& q : parameterTable()) {
                    p = q.valueEdit && QLatin1String(q.valueEdit) == QLatin1String(edit) ? &q : p;
                }
                ASSERT_NE(p, nullptr);
                if (slotHas(slot, *p)) {
                    EXPECT_EQ(text(edit), shownText(expected, slot, *p))
                        << "round " << round << ", slot " << slot << ", " << p->key;
                }
            }
        }
        ASSERT_EQ(std::memcmp(record().image().data(), expected.image().data(), kConfigImageSize),
                  0)
            << "round " << round;
    }
}

// The audit's case: Default's SW VOL 1 lowered to 40 once held Mode A's SW VOL 2 of 50
// to 40 although Mode A's own SW VOL 1 is 100, and one click stored 39.
TEST_F(Window, SwVol2IsHeldToItsOwnSlotsSwVol1) {
    record().mode(5).swVol1 = 100;
    record().mode(5).swVol2 = 50;
    form->TabControl1Change(nullptr);
    for (int i = 0; i < 60; ++i) {
        clickUpDown("UpDown1", false);
    }
    EXPECT_EQ(record().mode(0).swVol1, 40);
    clickTab(5);
    EXPECT_EQ(text("LabeledEdit1"), QStringLiteral("50"));
    clickUpDown("UpDown5", false);
    EXPECT_EQ(record().mode(5).swVol2, 49);
    clickUpDown("UpDown5", true);
    clickUpDown("UpDown5", true);
    EXPECT_EQ(record().mode(5).swVol2, 51);
}

// One random script of changes made through the window's controls and through
// cantavel-cfg set, one assignment a run: both files come out the same byte for byte.
TEST_F(Window, TheWindowAndCfgSetApplyTheSameRules) {
    const QString viaSet = dir.filePath(QStringLiteral("set.cfg"));
    ASSERT_TRUE(saveConfigFile(viaSet, record()));
    std::mt19937 random(2412);
    for (int step = 0; step < 40; ++step) {
        const int slot = std::uniform_int_distribution<int>(0, kSlotCount - 1)(random);
        const std::vector<const Parameter*> shown = slotParameters(slot);
        const Parameter& p =
            *shown[std::uniform_int_distribution<std::size_t>(0, shown.size() - 1)(random)];
        const ValueRange range = shownRange(record(), slot, p);
        const int value = std::uniform_int_distribution<int>(range.min, range.max)(random);
        const QString assignment =
            QStringLiteral("%1.%2=%3")
                .arg(slotKey(slot), QLatin1String(p.key),
                     p.kind == ControlKind::List ? listItems(p)[value] : QString::number(value));

        clickTab(slot);
        const int position =
            p.kind == ControlKind::List ? value : p.position(p.storedFromShown(value));
        switch (p.kind) {
        case ControlKind::Slider:
            child<QSlider>(p.control)->setValue(position);
            break;
        case ControlKind::List:
            pick(child<QComboBox>(p.control), position);
            break;
        case ControlKind::Knob:
            child<TmKnob>(p.control)->SetCurValue(position);
            break;
        case ControlKind::UpDown: {
            // Set beside the value, then the operator's last click onto it.
            auto* upDown = child<TUpDown>(p.control);
            const bool up = position > upDown->Min();
            upDown->SetPosition(up ? position - 1 : position + 1);
            clickUpDown(p.control, up);
            break;
        }
        }
        QProcess set;
        set.start(QStringLiteral(CANTAVEL_BUILD_DIR "/cantavel-cfg"),
                  {QStringLiteral("set"), viaSet, assignment});
        ASSERT_TRUE(set.waitForFinished(10000));
        ASSERT_EQ(set.exitCode(), 0)
            << assignment.toStdString() << ": " << set.readAllStandardError().toStdString();
    }
    ConfigRecord fromSet{};
    ASSERT_TRUE(loadConfigFile(viaSet, fromSet));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            EXPECT_EQ(p->field.get(record(), slot), p->field.get(fromSet, slot))
                << slotKey(slot).toStdString() << "." << p->key;
        }
    }
    EXPECT_EQ(std::memcmp(record().image().data(), fromSet.image().data(), kConfigImageSize), 0);
}

TEST_F(Window, UpDownAtItsLimitDoesNothing) {
    record().preset(0).swFreq = 250;
    form->TabControl1Change(nullptr);
    linkOn();
    clickUpDown("UpDown2", true);
    auto* updown = child<TUpDown>("UpDown2");
    updown->setFocus();
    QTest::keyClick(updown, Qt::Key_Up);
    EXPECT_EQ(text("LabeledEdit2"), QStringLiteral("250"));
    EXPECT_TRUE(sent().isEmpty());
    QTest::keyClick(updown, Qt::Key_Down);
    EXPECT_EQ(sent(), hex("26 10 F9"));
}

TEST_F(Window, ModeATabKeepsLinkButSendsNothing) {
    linkOn();
    clickTab(5);
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload Mode A"));
    EXPECT_TRUE(child<QGroupBox>("GroupBox2")->isEnabled());
    child<QSlider>("TrackBar12")->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(record().preset(5).echoRepeat, 41);
    EXPECT_EQ(record().preset(0).echoRepeat, 40);
    clickTab(0); // back to Default: everything fits, nothing is sent
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_TRUE(action("Link1")->isChecked());
    EXPECT_TRUE(form->Comm().IsOpen());
}

TEST_F(Window, NumberedTabEndsLinkAndGreysTheDefaultSetting) {
    record().preset(2).echoDelay = 99;
    record().mode(0).musicVolume = 7;
    linkOn();
    clickTab(2);
    EXPECT_FALSE(action("Link1")->isChecked());
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload 2"));
    EXPECT_FALSE(child<QGroupBox>("GroupBox2")->isEnabled());
    EXPECT_FALSE(child<QWidget>("mKnob2")->isEnabled());
    EXPECT_EQ(text("Edit6"), QStringLiteral("99"));
    EXPECT_EQ(text("Edit15"), QStringLiteral("7"));
    // The greyed values are those of the record now, not of the one New replaced.
    action("New1")->trigger();
    EXPECT_EQ(text("Edit15"), QString::number(record().mode(0).musicVolume));
}

TEST_F(Window, ValuesThatDoNotFitAreShownAtTheNearestEnd) {
    linkOn();
    record().preset(0).echoDelay = 0;
    record().preset(0).micBass = 200;
    record().mode(0).setAux(3);
    record().mode(0).swVol1 = 0;
    form->TabControl1Change(nullptr);
    EXPECT_EQ(text("Edit6"), QStringLiteral("2"));
    EXPECT_EQ(record().preset(0).echoDelay, 2);
    EXPECT_EQ(text("Edit11"), QStringLiteral("10"));
    EXPECT_EQ(record().preset(0).micBass, 20);
    EXPECT_EQ(child<QComboBox>("ComboBox4")->currentIndex(), -1);
    EXPECT_EQ(record().mode(0).aux(), 3) << "a list keeps the value until a pick";
    EXPECT_EQ(text("LabeledEdit5"), QStringLiteral("1"));
    EXPECT_EQ(record().mode(0).swVol1, 0) << "an up-down keeps it until a click";
    EXPECT_EQ(sent(), hex("26 00 02 26 05 14"));
}

TEST_F(Window, KnobPressSetsItsValueAndSendsIt) {
    linkOn();
    auto* knob = child<TmKnob>("mKnob1");
    QTest::mousePress(knob, Qt::LeftButton, {}, {32, 0});
    QTest::mouseRelease(knob, Qt::LeftButton, {}, {32, 0});
    EXPECT_EQ(text("Edit14"), QStringLiteral("40"));
    EXPECT_EQ(sent(), hex("26 15 28"));
}

TEST_F(Window, LinkOnUploadAllReloadsTheSlotItSelects) {
    record().preset(6).echoDelay = 123;
    linkOn();
    action("Configuator1")->trigger();
    EXPECT_EQ(tabs()->currentIndex(), 6);
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload Mode B"));
    EXPECT_EQ(text("Edit6"), QStringLiteral("123")) << "the window shows what edits write to";
    EXPECT_TRUE(action("Link1")->isChecked());
    EXPECT_EQ(sent().size(), 157);
}

// Upload, Upload All and Link each hold the port with the unit's line settings.
TEST_F(Window, EveryDeviceCommandHoldsThePortWithTheUnitsLine) {
    for (const char* command : {"Upload1", "Configuator1", "Link1"}) {
        QString mismatch = QStringLiteral("never looked");
        clock.after(100ms, [&] { mismatch = pty.unitLineMismatch(); });
        action(command)->trigger();
        EXPECT_EQ(mismatch.toStdString(), "") << command;
    }
    ASSERT_TRUE(action("Link1")->isChecked());
    EXPECT_EQ(pty.unitLineMismatch().toStdString(), "") << "Link keeps the port so";
}

TEST_F(Window, ClosingDuringAnUploadEndsItWithoutSending) {
    clock.after(300ms, [this] { form->close(); });
    action("Upload1")->trigger();
    EXPECT_EQ(clock.elapsed(), 300ms) << "the upload ended with the window";
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_EQ(form->Link().runningCommands(), 0);
}

// The seven frames of Upload All for this record, built from its bytes.
QByteArray uploadAllFrames(ConfigRecord r) {
    QByteArray frames;
    const char index[kSlotCount] = {6, 0, 1, 2, 3, 4, 5};
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const bool mode = slot == 0 || slot >= 5;
        if (mode) {
            r.syncModeFromPreset(slot);
        }
        frames += mode ? '\x3A' : '\x25';
        frames += index[slot];
        frames += mode ? QByteArray(reinterpret_cast<const char*>(&r.mode(slot)), 25)
                       : QByteArray(reinterpret_cast<const char*>(&r.preset(slot)), 17);
    }
    return frames;
}

// The review's case: "Mode A" clicked 1.3 s into Upload All once cut it short after
// three frames. Now every frame goes out; a numbered tab is shown at once and its
// end of Link waits for the end of the command.
TEST_F(Window, TabPicksDuringUploadAllNeitherStopNorChangeIt) {
    record().preset(2).echoDelay = 22;
    linkOn();
    const QByteArray expected = uploadAllFrames(record());
    QString shown;
    bool linkedMeanwhile = false;
    clock.after(1300ms, [this] { clickTab(5); });
    clock.after(2150ms, [&] { // while "3" is being sent
        clickTab(2);
        shown = text("Edit6") + ' ' + action("Upload1")->text().remove('&');
        linkedMeanwhile = action("Link1")->isChecked() && form->Comm().IsOpen();
    });
    action("Configuator1")->trigger();
    EXPECT_EQ(sent().toHex(' '), expected.toHex(' '));
    EXPECT_EQ(shown, QStringLiteral("22 Upload 2"));
    EXPECT_TRUE(linkedMeanwhile);
    EXPECT_EQ(tabs()->currentIndex(), 2) << "the last pick is selected at the end";
    EXPECT_FALSE(action("Link1")->isChecked()) << "...and ends Link then";
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_TRUE(dialogs.messages.empty());
}

// A click on the tab the command has just selected changes no tab, and was once
// lost: the window ended on "Mode B" with Link on, and the next edits went there. And
// a numbered tab picked on the way ends Link, as its click would have.
TEST_F(Window, TheLastTabClickedDuringUploadAllWinsWithTheLinkRuleOfEveryClick) {
    struct Case {
        std::vector<std::pair<std::chrono::milliseconds, int>> clicks; // into the command
        int endsOn;
        bool linkStays;
    };
    const Case cases[] = {
        {{{1600ms, 2}}, 2, false}, // "2" was selected at 1.5 s
        {{{1200ms, 1}, {2600ms, 0}}, 0, false},
        {{{1200ms, 5}, {2600ms, 0}}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endsOn);
        clickTab(0);
        linkOn();
        const QByteArray expected = uploadAllFrames(record());
        for (const auto& [when, tab] : c.clicks) {
            clock.after(when, [this, tab = tab] { clickTab(tab); });
        }
        action("Configuator1")->trigger();
        EXPECT_EQ(sent().toHex(' '), expected.toHex(' '));
        EXPECT_EQ(tabs()->currentIndex(), c.endsOn);
        EXPECT_EQ(action("Upload1")->text().remove('&'),
                  QStringLiteral("Upload ") + tabs()->tabText(c.endsOn));
        EXPECT_EQ(action("Link1")->isChecked(), c.linkStays);
        EXPECT_EQ(form->Comm().IsOpen(), c.linkStays);
        if (c.linkStays) {
            action("Link1")->trigger(); // off again for the next case
        }
    }
}

TEST_F(Window, NewDuringUploadAllSaysWhichSlotsDidNotReachTheUnit) {
    clock.after(1300ms, [this] { form->New1Click(); });
    action("Configuator1")->trigger();
    EXPECT_EQ(sent().size(), 27 + 19) << "two frames before New";
    EXPECT_FALSE(form->Comm().IsOpen());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].detail,
              QStringLiteral("New ended the upload before \"2\", \"3\", \"4\", \"Mode A\" and "
                             "\"Mode B\" reached the unit."));
}

TEST_F(Window, UploadSendsTheSlotChosenWhateverTabIsPickedMeanwhile) {
    record().preset(2).echoDelay = 22;
    clickTab(2);
    clock.after(300ms, [this] { clickTab(5); }); // while the port settles
    action("Upload1")->trigger();
    const QByteArray frame = sent();
    ASSERT_EQ(frame.size(), 19);
    EXPECT_EQ(frame.left(2), hex("25 01"));
    EXPECT_EQ(static_cast<std::uint8_t>(frame[2 + 7]), 22);
    EXPECT_EQ(tabs()->currentIndex(), 5);
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload Mode A"));
}

TEST_F(Window, UnpluggedDeviceEndsLinkWithOneMessage) {
    linkOn();
    pty.closeMaster();
    ASSERT_TRUE(testing::pumpUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_FALSE(form->Comm().IsOpen());
    testing::handlePending(); // the other thread's hang-up, if it asked for one too
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("lost")));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(pty.slavePath()));
    EXPECT_FALSE(action("Link1")->isChecked());
    EXPECT_FALSE(form->Comm().IsOpen());
}

TEST_F(Window, OpenFailureNamesThePortAndTheReason) {
    state.comPortName = QStringLiteral("/dev/cantavel-absent");
    action("Link1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Open serial port failure!"));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(QStringLiteral("/dev/cantavel-absent")));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(QStringLiteral("No such file")));
    EXPECT_FALSE(action("Link1")->isChecked());
}

// A port name as long as a path can be (the settings may hold one) is shortened in
// the message: a message box lays out all it is given, and once froze the window.
TEST_F(Window, LongPortNameIsShortenedInTheMessage) {
    const QString name = QStringLiteral("/dev/") + QStringLiteral("xxxxxxx/").repeated(500) + "end";
    state.comPortName = name;
    action("Link1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const QString detail = dialogs.messages[0].detail;
    EXPECT_LT(detail.size(), 300);
    EXPECT_TRUE(detail.startsWith(QStringLiteral("/dev/xxx"))) << detail.toStdString();
    EXPECT_TRUE(detail.contains(QStringLiteral("x/end: "))) << detail.toStdString();
    EXPECT_TRUE(detail.contains(QStringLiteral("No such file"))) << detail.toStdString();
}

TEST_F(Window, ComPortItemsKeepOneCheckMark) {
    action("COM121")->trigger();
    EXPECT_EQ(state.comPortName, QStringLiteral("COM12"));
    EXPECT_EQ(state.comPortNumber, 12);
    int checked = 0;
    for (QAction* item : child<QMenu>("Connect1")->actions()) {
        checked += item->isChecked() ? 1 : 0;
    }
    EXPECT_EQ(checked, 1);
    EXPECT_TRUE(action("COM121")->isChecked());
    action("COM121")->trigger(); // choosing it again keeps it checked
    EXPECT_TRUE(action("COM121")->isChecked());
}

// What a person once saw cut or crowded: the music column heads past their group,
// "Rev Time:" and "Rev Level:" against their bars, tone thumbs at the bottom end
// behind their displays, and a light square around each knob.
TEST_F(Window, EveryTextAndThumbIsWholeAndKnobsSitOnTheirGroup) {
    const auto* heads = child<QLabel>("Label2");
    const int headsRight = heads->x() + heads->fontMetrics().horizontalAdvance(heads->text());
    EXPECT_LE(headsRight, child<QWidget>("GroupBox3")->width() - 2);

    // The point where a slider's channel begins (horizontal) or its thumb's lowest
    // extent at the bottom end (vertical), in the parent's coordinates.
    const auto channel = [](QSlider* bar) {
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = bar->orientation();
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->maximum();
        option.upsideDown = bar->orientation() == Qt::Vertical ? !bar->invertedAppearance()
                                                               : bar->invertedAppearance();
        option.tickPosition = bar->tickPosition();
        option.tickInterval = bar->tickInterval();
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        const QStyle* style = bar->style();
        return std::pair{
            bar->pos() +
                style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, bar)
                    .topLeft(),
            bar->pos() +
                style->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar)
                    .bottomLeft()};
    };
    for (const auto& [label, bar] : {std::pair{"Label6", "TrackBar14"}, {"Label7", "TrackBar15"}}) {
        const auto* text = child<QLabel>(label);
        const int right = text->x() + text->fontMetrics().horizontalAdvance(text->text());
        EXPECT_LT(right + 2, channel(child<QSlider>(bar)).first.x()) << label;
    }
    for (const auto& [bar, display] : {std::pair{"TrackBar16", "Edit11"},
                                       {"TrackBar17", "Edit12"},
                                       {"TrackBar18", "Edit13"},
                                       {"TrackBar5", "Edit2"}}) {
        EXPECT_LT(channel(child<QSlider>(bar)).second.y(), child<QWidget>(display)->y()) << bar;
    }

    const QImage shown = form->grab().toImage();
    for (const char* name : {"mKnob1", "mKnob2", "mKnob3"}) {
        const auto* knob = child<QWidget>(name);
        const QPoint corner = knob->mapTo(form.get(), QPoint(0, 0));
        EXPECT_EQ(shown.pixelColor(corner), shown.pixelColor(corner - QPoint(2, 0))) << name;
    }
}

// "Mic" began right on the Effect group's frame line, and "SW FREQ:" touched that
// group's left side. Read off the drawn group: the rows and columns between a frame
// line and the nearest ink of the text must be clear.
TEST_F(Window, TitlesAndLabelsKeepClearOfTheFramesAroundThem) {
    auto* effect = child<QWidget>("GroupBox1");
    const QImage image = effect->grab().toImage();
    const auto line = [](QColor c) { return c.lightness() < 225; }; // frame or ink
    const auto ink = [](QColor c) { return c.lightness() < 128; };

    // The Effect frame's top line, left of the Mic group; the Mic frame's, right of its
    // title; the rows the title's letters take between them.
    const QRect mic = child<QWidget>("GroupBox4")->geometry();
    int effectLine = 0;
    while (effectLine < mic.y() + 4 && !line(image.pixelColor(mic.x() - 6, effectLine))) {
        ++effectLine;
    }
    int micLine = effectLine + 1;
    while (micLine < mic.bottom() && !line(image.pixelColor(mic.x() + 60, micLine))) {
        ++micLine;
    }
    int top = micLine;
    int bottom = effectLine;
    for (int y = effectLine; y < micLine; ++y) {
        for (int x = mic.x(); x < mic.x() + 40; ++x) {
            if (ink(image.pixelColor(x, y))) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    ASSERT_LE(top, bottom) << "no title between the lines " << effectLine << " and " << micLine;
    EXPECT_GE(top - effectLine, 2) << "the Mic title against the Effect frame";
    EXPECT_GE(micLine - bottom, 2) << "the Mic title against its own frame";

    // "SW FREQ:": its leftmost ink against the frame's left line, on the label's rows.
    const QLabel* label = child<TLabeledEdit>("LabeledEdit2")->EditLabel();
    int frame = 0;
    const int middle = label->geometry().center().y();
    while (frame < label->x() + 10 && !line(image.pixelColor(frame, middle))) {
        ++frame;
    }
    int left = label->geometry().right();
    for (int y = label->y(); y <= label->geometry().bottom(); ++y) {
        for (int x = frame + 1; x < left; ++x) {
            if (ink(image.pixelColor(x, y))) {
                left = x;
                break;
            }
        }
    }
    // Past the frame's two pixels, at least the room the label leaves before its edit.
    EXPECT_GT(left - frame, 2 + TLabeledEdit::kLabelSpacing) << "SW FREQ: against the frame";
}

} // namespace
} // namespace cantavel
