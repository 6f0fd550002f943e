// The editor on a Linux desktop: serial devices in the Com Port menu, unsaved work,
// undo and redo, recent files, keyboard and screen reader.

#include "CommandLine.h"
#include "ConfigFile.h"
#include "Knob.h"
#include "Settings.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QSet>
#include <QTimer>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPointer>

#include <sys/stat.h>

namespace cantavel {
namespace {

using namespace std::chrono_literals;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DeviceMenu : public testing::WindowTest {
protected:
    // Opens Device > Com Port and returns the device items below the COM items.
    QList<QAction*> openPortMenu() {
        auto* menu = child<QMenu>("Connect1");
        Q_EMIT menu->aboutToShow();
        QList<QAction*> items;
        for (QAction* item : menu->actions()) {
            if (item->objectName() == QStringLiteral("SerialDevice")) {
                items << item;
            }
        }
        return items;
    }
};

TEST_F(DeviceMenu, ListsDevicesWhenOpenedAndChoosingOneMakesItThePortKeptInTheSettings) {
    EXPECT_EQ(devices.asked, 0) << "nothing is enumerated at start-up";
    const QString other = dir.filePath(QStringLiteral("ttyOTHER"));
    QFile(other).open(QIODevice::WriteOnly);
    state.portPaths.insert(QStringLiteral("COM3"), other);
    devices.list = {{pty.slavePath(), pty.slavePath(), QStringLiteral("Fake UART (pts)")},
                    {other, other, QStringLiteral("Other Adapter (ttyOTHER)")}};

    QList<QAction*> items = openPortMenu();
    EXPECT_EQ(devices.asked, 1);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Fake UART (pts)"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Other Adapter (ttyOTHER)\tCOM3"))
        << "a device the settings map is listed once, with its port name";
    EXPECT_TRUE(items[0]->isChecked()) << "the fixture's port is the pty";

    // The mapped device is its COM item.
    items[1]->trigger();
    EXPECT_EQ(state.comPortName, QStringLiteral("COM3"));
    EXPECT_EQ(checkedItems("Connect1"), (QStringList{"COM3", "Other Adapter (ttyOTHER)\tCOM3"}));

    // A device of its own: the port of the next command, no COM item checked.
    items = openPortMenu();
    EXPECT_EQ(devices.asked, 2) << "listed afresh at each opening";
    items[0]->trigger();
    EXPECT_EQ(state.comPortName, pty.slavePath());
    EXPECT_EQ(state.comPortNumber, 0);
    EXPECT_EQ(checkedItems("Connect1"), QStringList{"Fake UART (pts)"});
    EXPECT_EQ(linkOn().size(), 27) << "Link opens the chosen device";

    form->close();
    const QByteArray ini = readAll(settingsPath());
    EXPECT_TRUE(ini.contains("COM=" + pty.slavePath().toUtf8() + "\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("index=0\n")) << ini.constData();
}

TEST_F(DeviceMenu, ARememberedDeviceThatIsGoneShowsAsNotConnectedAndSaysWhyWhenUsed) {
    state.comPortName = QStringLiteral("/dev/serial/by-id/usb-Gone_Adapter-if00-port0");
    state.comPortNumber = 0;
    const QList<QAction*> items = openPortMenu();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->text(),
              QStringLiteral("/dev/serial/by-id/usb-Gone_Adapter-if00-port0 (not connected)"));
    EXPECT_TRUE(items[0]->isChecked());

    action("Link1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Open serial port failure!"));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(QStringLiteral("No such file or directory")))
        << dialogs.messages[0].detail.toStdString();
    EXPECT_FALSE(action("Link1")->isChecked());
}

// COM1 to COM15 open ttyS0 to ttyS14 unless the settings say otherwise: such a device
// is its COM item, and listing it again by its device name offered it twice.
TEST_F(DeviceMenu, ADeviceThatACOMItemOpensIsNotListedAgain) {
    const SerialDevice uart0{"/dev/ttyS0", "/dev/ttyS0", "ttyS0"};
    const SerialDevice uart3{"/dev/ttyS3", "/dev/ttyS3", "ttyS3"};
    const SerialDevice usb{pty.slavePath(), pty.slavePath(), "FT232R USB UART (ttyUSB0)"};
    devices.list = {uart0, uart3, usb};
    const QString elsewhere = dir.filePath(QStringLiteral("ttyOTHER"));
    struct Case {
        const char* what;
        QMap<QString, QString> ports;
        QString current;
        QStringList listed;
    };
    const Case cases[] = {
        {"COM1 and COM4 are the UARTs", {}, "COM2", {"FT232R USB UART (ttyUSB0)"}},
        {"com1 is given another device",
         {{"com1", elsewhere}},
         "COM2",
         {"ttyS0", "FT232R USB UART (ttyUSB0)"}},
        {"the UART was chosen by its path",
         {},
         "/dev/ttyS0",
         {"ttyS0", "FT232R USB UART (ttyUSB0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        state.portPaths = c.ports;
        state.comPortName = c.current;
        QStringList listed;
        for (const QAction* item : openPortMenu()) {
            listed << item->text();
            EXPECT_EQ(item->isChecked(), item->text() == "ttyS0" && c.current.startsWith('/'))
                << "the chosen path keeps its mark: " << item->text().toStdString();
        }
        EXPECT_EQ(listed, c.listed);
    }
}

// ---------------------------------------------------------------------------------
// Unsaved work

const QString kTitle = QStringLiteral("Digital Cantavel Processor v1.5");
using Answer = EditorDialogs::Answer;

class Unsaved : public testing::WindowTest {
protected:
    void change() { child<QSlider>("TrackBar11")->setValue(100); } // Delay, no gesture
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void writeFile(const QString& path, std::uint8_t delay) {
        ConfigRecord r;
        r.resetToDefaults();
        r.preset(0).echoDelay = delay;
        ASSERT_TRUE(saveConfigFile(path, r).ok);
    }
};

TEST_F(Unsaved, TheCaptionMarksAChangeUntilSavedOrUndone) {
    EXPECT_EQ(form->windowTitle(), kTitle);
    change();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("*") + kTitle);
    dialogs.answers << file("a.cfg");
    action("Save1")->trigger();
    const QString named = kTitle + QStringLiteral("  [%1]").arg(file("a.cfg"));
    EXPECT_EQ(form->windowTitle(), named) << "saved: no mark, and the file's name";
    child<QSlider>("TrackBar11")->setValue(120);
    QCoreApplication::processEvents(); // the change is a step of its own
    EXPECT_TRUE(form->IsModified());
    action("Undo1")->trigger();
    EXPECT_EQ(record().preset(0).echoDelay, 100);
    EXPECT_EQ(form->windowTitle(), named) << "back where it was saved";
    action("Undo1")->trigger(); // saving kept the steps before it
    EXPECT_NE(record().preset(0).echoDelay, 100);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("*") + named);
}

// Sending a mode slot brings its record's copies of the effect values up to date,
// and the record then differs from what was saved: the caption says so, as closing
// does by asking.
TEST_F(Unsaved, ADeviceCommandThatChangesTheRecordMarksTheCaption) {
    for (const char* command : {"Upload1", "Configuator1", "Link1"}) {
        SCOPED_TRACE(command);
        action("New1")->trigger();
        ASSERT_EQ(form->windowTitle(), kTitle);
        action(command)->trigger();
        sent();
        EXPECT_TRUE(form->IsModified());
        EXPECT_EQ(form->windowTitle(), QStringLiteral("*") + kTitle);
        if (action("Link1")->isChecked()) {
            action("Link1")->trigger();
        }
    }
}

// New, Open and closing ask the same question; Cancel leaves everything, Discard
// goes on, Save goes on only when the save succeeded.
TEST_F(Unsaved, NewOpenAndCloseAskAndOnlyGoOnWhenTheWorkIsSafe) {
    writeFile(file("other.cfg"), 50);
    const std::vector<std::pair<const char*, std::function<void()>>> actions = {
        {"New", [&] { action("New1")->trigger(); }},
        {"Open",
         [&] {
             dialogs.answers << file("other.cfg");
             action("Open1")->trigger();
         }},
        {"Close", [&] { form->close(); }},
    };
    for (const auto& [what, run] : actions) {
        SCOPED_TRACE(what);
        change();
        dialogs.questions.clear();
        // Cancel; then Save whose dialog is cancelled: both leave everything.
        for (const Answer answer : {Answer::Cancel, Answer::Save}) {
            dialogs.answers.clear();
            if (answer == Answer::Save) {
                dialogs.answers << QString(); // the save dialog, cancelled
            }
            dialogs.saveAnswers = {answer};
            run();
            EXPECT_EQ(dialogs.questions.size(), 1);
            dialogs.questions.clear();
            EXPECT_EQ(record().preset(0).echoDelay, 100);
            EXPECT_TRUE(form->isVisible());
            EXPECT_TRUE(form->windowTitle().startsWith('*'));
        }
        EXPECT_EQ(dialogs.dialogsRun.count(QStringLiteral("OpenDialog1")), 0)
            << "Open asks before its dialog";
        // Save to a file, and the action goes on.
        dialogs.answers.clear();
        dialogs.answers << file("saved.cfg");
        dialogs.saveAnswers = {Answer::Save};
        run();
        EXPECT_EQ(dialogs.questions, QStringList{"Save changes to Untitled?"});
        ConfigRecord saved;
        ASSERT_TRUE(loadConfigFile(file("saved.cfg"), saved).ok);
        EXPECT_EQ(saved.preset(0).echoDelay, 100);
        QFile::remove(file("saved.cfg"));
        if (form->isVisible()) {
            EXPECT_NE(record().preset(0).echoDelay, 100);
            action("New1")->trigger();
            state.currentFileName.clear();
        }
        dialogs.dialogsRun.clear();
    }
    EXPECT_TRUE(QFile::exists(settingsPath())) << "closing still writes the settings";
}

// The question as the operator meets it: each answer can be given by its underlined
// letter, Discard included, and Escape cancels.
TEST(SaveQuestion, EveryAnswerHasItsKey) {
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        Answer answer;
    };
    const Case cases[] = {{Qt::Key_D, Qt::AltModifier, Answer::Discard},
                          {Qt::Key_S, Qt::AltModifier, Answer::Save},
                          {Qt::Key_Escape, Qt::NoModifier, Answer::Cancel}};
    for (const Case& c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
        QTimer::singleShot(0, [&] {
            QPointer<QWidget> box = QApplication::activeModalWidget();
            ASSERT_TRUE(box && box->objectName() == QStringLiteral("SaveChanges"));
            box->activateWindow(); // mnemonics work in the active window
            EXPECT_TRUE(QTest::qWaitForWindowActive(box));
            // Where the key goes: the focused button.
            QWidget* focused = QApplication::focusWidget();
            QTest::keyClick(focused ? focused : box.data(), c.key, c.modifiers);
            // A mnemonic clicks its button after a short show of it being pressed.
            if (!QTest::qWaitFor([&] { return !box || !box->isVisible(); }, 2000)) {
                static_cast<QDialog*>(box.data())->reject(); // the key did nothing
            }
        });
        WidgetDialogs dialogs;
        EXPECT_EQ(dialogs.askToSave(nullptr, kTitle, QStringLiteral("Save changes to a.cfg?")),
                  c.answer);
    }
}

TEST_F(Unsaved, ValuesBroughtIntoRangeOnLoadingAreAChangeButNoStep) {
    writeFile(file("low.cfg"), 0); // Delay 0 is below the slider's 2
    dialogs.answers << file("low.cfg");
    action("Open1")->trigger();
    EXPECT_EQ(record().preset(0).echoDelay, 2);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("*%1  [%2]").arg(kTitle, file("low.cfg")));
    EXPECT_FALSE(action("Undo1")->isEnabled());
    dialogs.saveAnswers = {Answer::Cancel};
    action("New1")->trigger();
    EXPECT_EQ(dialogs.questions, QStringList{"Save changes to low.cfg?"});
}

// ---------------------------------------------------------------------------------
// Undo and redo

using Undo = testing::WindowTest;

QKeyEvent keyEvent(QEvent::Type type, int key, bool autoRepeat) {
    return QKeyEvent(type, key, Qt::NoModifier, QString(), autoRepeat);
}

TEST_F(Undo, AHeldKeyOrADragIsOneStepAndUndoSendsTheValueBackLive) {
    linkOn();
    auto* delay = child<QSlider>("TrackBar11");
    const int start = delay->value();
    delay->setFocus();
    // A held arrow key: one press, repeats, one release.
    QKeyEvent press = keyEvent(QEvent::KeyPress, Qt::Key_Right, false);
    QApplication::sendEvent(delay, &press);
    for (int i = 0; i < 4; ++i) {
        QKeyEvent repeat = keyEvent(QEvent::KeyPress, Qt::Key_Right, true);
        QApplication::sendEvent(delay, &repeat);
    }
    QKeyEvent release = keyEvent(QEvent::KeyRelease, Qt::Key_Right, false);
    QApplication::sendEvent(delay, &release);
    EXPECT_EQ(delay->value(), start + 5);
    // A knob dragged through several values.
    auto* knob = child<TmKnob>("mKnob1");
    const int knobStart = knob->Position();
    QTest::mousePress(knob, Qt::LeftButton, {}, {32, 0});
    QTest::mouseMove(knob, {50, 5});
    QTest::mouseMove(knob, {64, 32});
    QTest::mouseRelease(knob, Qt::LeftButton, {}, {64, 32});
    const int knobAfter = knob->Position();
    ASSERT_NE(knobAfter, knobStart);
    sent();

    action("Undo1")->trigger();
    EXPECT_EQ(knob->Position(), knobStart) << "the whole drag";
    EXPECT_EQ(text("Edit14"), QString::number(knobStart));
    EXPECT_EQ(sent(), hex("26 15") + QByteArray(1, static_cast<char>(knobStart)));
    action("Undo1")->trigger();
    EXPECT_EQ(delay->value(), start) << "the whole held key";
    EXPECT_EQ(record().preset(0).echoDelay, start);
    EXPECT_EQ(sent(), hex("26 00") + QByteArray(1, static_cast<char>(start)));
    EXPECT_FALSE(action("Undo1")->isEnabled());

    action("Redo1")->trigger();
    action("Redo1")->trigger();
    EXPECT_EQ(record().preset(0).echoDelay, start + 5);
    EXPECT_EQ(record().preset(0).effectVolume, knobAfter);
    EXPECT_FALSE(action("Redo1")->isEnabled());
    EXPECT_EQ(action("Undo1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    EXPECT_EQ(action("Redo1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
}

// Under X a held key repeats as releases and presses at one time stamp, and the
// toolkit misses some of them as repeats (it looks for the press before it has come
// in): such a release and press are still the held key. A new stroke, later, is a
// step of its own, and so is a change of another control meanwhile.
TEST_F(Undo, AHeldKeyWhoseRepeatsLookLikeStrokesIsStillOneStep) {
    auto* delay = child<QSlider>("TrackBar11");
    const int start = delay->value();
    delay->setFocus();
    const auto key = [&](QEvent::Type type, ulong time) {
        QKeyEvent event = keyEvent(type, Qt::Key_Right, false);
        event.setTimestamp(time);
        QApplication::sendEvent(delay, &event);
    };
    key(QEvent::KeyPress, 1000);
    for (const ulong repeat : {1500ul, 1533ul, 1566ul}) {
        key(QEvent::KeyRelease, repeat);
        key(QEvent::KeyPress, repeat);
    }
    key(QEvent::KeyRelease, 1600);
    child<QSlider>("TrackBar12")->setValue(3); // Repeat, by another hand
    key(QEvent::KeyPress, 2000);
    key(QEvent::KeyRelease, 2100);
    ASSERT_EQ(delay->value(), start + 5);

    const std::vector<std::pair<int, int>> undone = {{start + 4, 3}, {start + 4, 40}, {start, 40}};
    for (const auto& [delayAfter, repeatAfter] : undone) {
        action("Undo1")->trigger();
        EXPECT_EQ(record().preset(0).echoDelay, delayAfter);
        EXPECT_EQ(record().preset(0).echoRepeat, repeatAfter);
    }
    EXPECT_FALSE(action("Undo1")->isEnabled());

    // A key pressed and let go while the mouse drags a knob does not cut the drag.
    auto* knob = child<TmKnob>("mKnob1");
    const int knobStart = knob->Position();
    knob->setFocus();
    QTest::mousePress(knob, Qt::LeftButton, {}, {32, 0});
    QTest::keyPress(knob, Qt::Key_Shift);
    QTest::mouseMove(knob, {50, 5});
    QTest::keyRelease(knob, Qt::Key_Shift);
    QTest::qWait(300);
    QTest::mouseMove(knob, {64, 32});
    QTest::mouseRelease(knob, Qt::LeftButton, {}, {64, 32});
    ASSERT_NE(knob->Position(), knobStart);
    action("Undo1")->trigger();
    EXPECT_EQ(knob->Position(), knobStart);
}

TEST_F(Undo, AStepOfAnotherTabShowsThatTabAsTheOperatorWouldAndNewForgetsAll) {
    clickTab(2);
    child<QSlider>("TrackBar13")->setValue(77); // Echo on slot 2
    QCoreApplication::processEvents();
    clickTab(5);
    linkOn();
    child<QWidget>("Edit8")->setFocus(); // a read-only value box takes no Ctrl+Z of its own
    QTest::keyClick(form->focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(tabs()->currentIndex(), 2);
    EXPECT_FALSE(action("Link1")->isChecked()) << "entering a numbered tab ends Link";
    EXPECT_NE(record().preset(2).echoLevel, 77);
    EXPECT_EQ(child<QSlider>("TrackBar13")->value(), record().preset(2).echoLevel);
    QTest::keyClick(form->focusWidget(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(record().preset(2).echoLevel, 77);

    action("New1")->trigger();
    EXPECT_FALSE(action("Undo1")->isEnabled());
    EXPECT_FALSE(action("Redo1")->isEnabled());
}

// Music Vol Max drew the volume down with it; undoing the step puts both back, in
// the order that lets the knob take its old value again.
TEST_F(Undo, AStepThatChangedTwoFieldsTakesBothBack) {
    record().mode(0).musicVolMax = 40;
    record().mode(0).musicVolume = 40;
    form->TabControl1Change(nullptr);
    linkOn();
    clickUpDown("UpDown4", false); // 40 -> 39, the volume with it
    EXPECT_EQ(sent(), hex("26 30 27 26 13 27"));
    action("Undo1")->trigger();
    EXPECT_EQ(record().mode(0).musicVolMax, 40);
    EXPECT_EQ(record().mode(0).musicVolume, 40);
    EXPECT_EQ(text("Edit15"), QStringLiteral("40"));
    EXPECT_EQ(sent(), hex("26 30 28 26 13 28"));
}

// ---------------------------------------------------------------------------------
// Files from elsewhere: recent files, files handed over by a later start

TEST_F(Unsaved, RecentFilesKeepTheLastEightAndDropOneThatIsGone) {
    for (int i = 0; i < 10; ++i) {
        const QString path = file("f%1.cfg").arg(i);
        writeFile(path, static_cast<std::uint8_t>(10 + i));
        dialogs.answers << path;
        action("Open1")->trigger();
    }
    auto* recent = child<QMenu>("RecentFiles");
    QList<QAction*> items = recent->actions();
    ASSERT_EQ(items.size(), 8);
    EXPECT_EQ(items[0]->text(), QStringLiteral("&1 f9.cfg"));
    EXPECT_EQ(items[7]->text(), QStringLiteral("&8 f2.cfg"));

    items[3]->trigger(); // f6
    EXPECT_EQ(record().preset(0).echoDelay, 16);
    EXPECT_EQ(recent->actions()[0]->text(), QStringLiteral("&1 f6.cfg"));

    QFile::remove(file("f8.cfg"));
    recent->actions()[2]->trigger(); // f8
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.endsWith(QStringLiteral("f8.cfg no longer exists.")));
    EXPECT_EQ(recent->actions().size(), 7);
    EXPECT_EQ(record().preset(0).echoDelay, 16) << "nothing else changed";

    // A file that is there but cannot be opened says why and stays listed.
    QFile::remove(file("f5.cfg"));
    ASSERT_TRUE(QFile::link(file("f5.cfg"), file("f5.cfg"))); // a link to itself
    recent->actions()[3]->trigger();                          // f5
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].detail, QStringLiteral("Too many levels of symbolic links"));
    EXPECT_EQ(recent->actions().size(), 7);

    form->close();
    RuntimeState reread;
    readSettings(settingsPath(), reread);
    EXPECT_EQ(reread.recentFiles.size(), 7);
    EXPECT_EQ(reread.recentFiles.first(), file("f6.cfg"));
}

// A file from the command line or a later start goes the way of File > Open.
TEST_F(Unsaved, AFileFromOutsideThatCannotBeReadChangesNothingAndOneOfOtherLengthLoads) {
    QDir(dir.path()).mkdir(QStringLiteral("folder.cfg"));
    const QByteArray before = QByteArray(reinterpret_cast<const char*>(record().image().data()),
                                         static_cast<qsizetype>(record().image().size()));
    // A FIFO without a writer once froze the window in open(), and /dev/zero opened
    // as a preset.
    ASSERT_EQ(::mkfifo(QFile::encodeName(file("pipe.cfg")).constData(), 0600), 0);
    for (const QString& path :
         {file("missing.cfg"), file("folder.cfg"), file("pipe.cfg"), QStringLiteral("/dev/zero")}) {
        const std::string name = path.toStdString();
        dialogs.messages.clear();
        EXPECT_FALSE(form->OpenFile(path)) << name;
        ASSERT_EQ(dialogs.messages.size(), 1u) << name;
        EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Cannot open %1").arg(path));
        EXPECT_EQ(form->windowTitle(), kTitle);
        EXPECT_TRUE(state.currentFileName.isEmpty());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(record().image().data()), 294), before);
    }
    QFile shortFile(file("short.cfg"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
    shortFile.write(QByteArray(100, '\x07'));
    shortFile.close();
    EXPECT_TRUE(form->OpenFile(file("short.cfg")));
    EXPECT_EQ(record().image()[99], 7);
    EXPECT_EQ(record().image()[100], static_cast<std::uint8_t>(before[100]))
        << "the rest as it was";
}

TEST_F(Unsaved, AHandedOverFileWaitsForARunningCommandAndThenOpens) {
    writeFile(file("handed.cfg"), 99);
    clock.after(300ms, [&] { EXPECT_TRUE(form->HandOverFile(file("handed.cfg"), 1).queued()); });
    action("Upload1")->trigger(); // runs its waits on the fake clock
    EXPECT_EQ(record().preset(0).echoDelay, 180) << "not while the upload ran";
    QCoreApplication::processEvents();
    EXPECT_EQ(record().preset(0).echoDelay, 99) << "opened once the upload ended";
    EXPECT_EQ(form->windowTitle(), QStringLiteral("%1  [%2]").arg(kTitle, file("handed.cfg")));
    EXPECT_EQ(sent().size(), 27) << "the upload sent the record it started with, whole";

    // The same while a dialog is open (the About box, say): it waits for it to close.
    writeFile(file("later.cfg"), 77);
    QDialog modal(form.get());
    bool openedWhileModal = true;
    QTimer::singleShot(0, &modal, [&] {
        EXPECT_TRUE(form->HandOverFile(file("later.cfg"), 2).queued());
        QTimer::singleShot(300, &modal, [&] {
            openedWhileModal = record().preset(0).echoDelay == 77;
            modal.accept();
        });
    });
    modal.exec();
    EXPECT_FALSE(openedWhileModal);
    EXPECT_TRUE(QTest::qWaitFor([&] { return record().preset(0).echoDelay == 77; }, 1000))
        << "opened once the dialog closed";
}

// Files handed over one after another before the window is free: the latest start's
// is the one asked about; cancelling keeps the work, and one message names every
// file, none of which was opened.
TEST_F(Unsaved, CancellingTheQuestionOfAHandedOverFileNamesEveryFileNotOpened) {
    change();
    EXPECT_TRUE(form->HandOverFile(file("a.cfg"), 10).queued());
    EXPECT_EQ(form->HandOverFile(file("b.cfg"), 5).supersededBy, file("a.cfg"));
    EXPECT_TRUE(form->HandOverFile(file("c.cfg"), 20).queued());
    dialogs.saveAnswers = {Answer::Cancel};
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(form->IsModified());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              QStringLiteral("None of the 3 files handed over was opened."));
    EXPECT_EQ(dialogs.messages[0].detail,
              QStringList({"The question about unsaved changes was cancelled.",
                           "Not opened:", file("c.cfg"), file("b.cfg"), file("a.cfg")})
                  .join(QLatin1Char('\n')));
}

// ---------------------------------------------------------------------------------
// Keyboard and screen reader

using Keyboard = testing::WindowTest;

TEST_F(Keyboard, KnobsTakeFocusInTabOrderAndKeysSendAsTheMouseDoes) {
    // Every knob is reached by Tab.
    QWidget* first = child<QWidget>("ComboBox2");
    QSet<QString> reached;
    for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus) {
            reached << w->objectName();
        }
    }
    for (const char* knob : {"mKnob1", "mKnob2", "mKnob3"}) {
        EXPECT_TRUE(reached.contains(QLatin1String(knob))) << knob;
    }

    linkOn();
    auto* knob = child<TmKnob>("mKnob2"); // Music volume
    knob->setFocus();
    const int start = knob->Position();
    QTest::keyClick(knob, Qt::Key_Right);
    EXPECT_EQ(record().mode(0).musicVolume, start + 1);
    EXPECT_EQ(text("Edit15"), QString::number(start + 1));
    QTest::keyClick(knob, Qt::Key_PageDown);
    QTest::keyClick(knob, Qt::Key_Home);
    EXPECT_EQ(sent(), hex("26 13") + QByteArray(1, static_cast<char>(start + 1)) + hex("26 13") +
                          QByteArray(1, static_cast<char>(start - 9)) + hex("26 13 00"));
    EXPECT_EQ(record().mode(0).musicVolume, 0);
    action("Undo1")->trigger();
    EXPECT_EQ(record().mode(0).musicVolume, start - 9) << "each key stroke is a step";
}

TEST_F(Keyboard, CtrlTabGoesThroughTheTabsAsClicksWould) {
    linkOn();
    QTest::keyClick(form.get(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs()->currentIndex(), 1);
    EXPECT_FALSE(action("Link1")->isChecked()) << "a numbered tab ends Link, as a click does";
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload 1"));
    QTest::keyClick(form.get(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(form.get(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs()->currentIndex(), 6) << "round from the first to the last";
}

TEST_F(Keyboard, EveryControlHasItsLabelsNameAndTellsItsValue) {
    for (const Parameter& p : parameterTable()) {
        QWidget* control = child<QWidget>(p.control);
        const QString expected = p.id == ParameterId::MusicVolume ? QStringLiteral("Music volume")
                                 : p.id == ParameterId::MicVolume ? QStringLiteral("Mic volume")
                                                                  : QString::fromLatin1(p.name);
        EXPECT_EQ(control->accessibleName(), expected) << p.control;
        if (p.valueEdit) {
            EXPECT_EQ(child<QWidget>(p.valueEdit)->accessibleName(),
                      expected + QStringLiteral(" value"));
        }
    }
    EXPECT_EQ(child<QWidget>("TrackBar11")->accessibleName(), QStringLiteral("Delay"));
    for (const char* name : {"mKnob1", "UpDown2"}) {
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(child<QWidget>(name));
        ASSERT_NE(reader, nullptr);
        QAccessibleValueInterface* value = reader->valueInterface();
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(reader->text(QAccessible::Name), child<QWidget>(name)->accessibleName());
        const int max = value->maximumValue().toInt();
        value->setCurrentValue(max - 1); // an assistive tool sets it: a change like any
        EXPECT_EQ(value->currentValue().toInt(), max - 1) << name;
        EXPECT_EQ(reader->text(QAccessible::Value), QString::number(max - 1));
    }
    EXPECT_EQ(record().preset(0).effectVolume, 79);
    EXPECT_EQ(record().preset(0).swFreq, 249);
    EXPECT_EQ(text("LabeledEdit2"), QStringLiteral("249"));
}

// Qt alone names a list by its current item, a group inside another by the outer
// title, a tone slider by its position (minus the tone) and the up-down arrows not at
// all. tests/a11y reads the same through AT-SPI in the real program.
TEST_F(Keyboard, ListsGroupsTonesAndArrowsTellWhatTheOperatorSees) {
    const auto reader = [this](const char* name) {
        QAccessibleInterface* found = QAccessible::queryAccessibleInterface(child<QWidget>(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    };
    for (const Parameter& p : parameterTable()) {
        if (p.kind != ControlKind::List) {
            continue;
        }
        QAccessibleInterface* list = reader(p.control);
        const QString item = child<QComboBox>(p.control)->currentText();
        EXPECT_EQ(list->role(), QAccessible::ComboBox);
        EXPECT_EQ(list->text(QAccessible::Name), QString::fromLatin1(p.name)) << p.control;
        EXPECT_EQ(list->text(QAccessible::Value), item) << p.control;
        ASSERT_NE(list->textInterface(), nullptr) << p.control;
        EXPECT_EQ(list->textInterface()->text(0, -1), item) << p.control;
    }
    EXPECT_EQ(reader("GroupBox3")->text(QAccessible::Name), QStringLiteral("Music"));
    EXPECT_EQ(reader("GroupBox4")->text(QAccessible::Name), QStringLiteral("Mic"));

    // A tone set by an assistive tool is the tone shown and stored.
    QAccessibleValueInterface* treble = reader("TrackBar18")->valueInterface();
    ASSERT_NE(treble, nullptr);
    treble->setCurrentValue(7);
    EXPECT_EQ(text("Edit13"), QStringLiteral("7"));
    EXPECT_EQ(record().preset(0).micTreble, 17);
    EXPECT_EQ(treble->currentValue().toInt(), 7);
    EXPECT_EQ(treble->maximumValue().toInt(), 10);
    EXPECT_EQ(reader("TrackBar18")->text(QAccessible::Value), QStringLiteral("7"));

    // The arrows, by their pair's name; pressing one is a click.
    auto* upDown = child<QWidget>("UpDown2");
    QAccessibleInterface* up =
        QAccessible::queryAccessibleInterface(upDown->findChild<QWidget*>(QStringLiteral("next")));
    QAccessibleInterface* down =
        QAccessible::queryAccessibleInterface(upDown->findChild<QWidget*>(QStringLiteral("prev")));
    ASSERT_TRUE(up && down);
    EXPECT_EQ(up->text(QAccessible::Name), QStringLiteral("SW FREQ up"));
    EXPECT_EQ(down->text(QAccessible::Name), QStringLiteral("SW FREQ down"));
    ASSERT_NE(up->actionInterface(), nullptr);
    up->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(text("LabeledEdit2"), QStringLiteral("101"));
    EXPECT_EQ(record().preset(0).swFreq, 101);

    // Lists elsewhere (the file dialogs'): the label whose buddy they are, else the item.
    QWidget panel;
    QLabel label(QStringLiteral("Files of &type:"), &panel);
    QComboBox labelled(&panel);
    QComboBox alone(&panel);
    label.setBuddy(&labelled);
    for (QComboBox* list : {&labelled, &alone}) {
        list->addItems({QStringLiteral("Config Files"), QStringLiteral("All Files")});
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&labelled)->text(QAccessible::Name),
              QStringLiteral("Files of type:"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&alone)->text(QAccessible::Name),
              QStringLiteral("Config Files"));
}

TEST(CommandLineTest, FileHelpVersionAndWhatIsNotUnderstood) {
    using A = CommandLine::Action;
    struct Case {
        QStringList arguments;
        A action;
        QString file;
    };
    const Case cases[] = {
        {{}, A::Run, {}},
        {{"presets/live.cfg"}, A::Run, "/home/op/presets/live.cfg"},
        {{"../x.cfg"}, A::Run, "/home/x.cfg"},
        {{"/abs/y.cfg"}, A::Run, "/abs/y.cfg"},
        {{"-platform", "offscreen", "a.cfg"}, A::Run, "/home/op/a.cfg"},
        {{"-style=fusion", "-reverse"}, A::Run, {}},
        {{"--", "-dash.cfg"}, A::Run, "/home/op/-dash.cfg"},
        {{"--help"}, A::Help, {}},
        {{"-h", "a.cfg"}, A::Help, {}},
        {{"--version"}, A::Version, {}},
        {{"--bogus"}, A::Error, {}},
        {{"-x"}, A::Error, {}},
        {{"a.cfg", "b.cfg"}, A::Error, {}},
    };
    for (const Case& c : cases) {
        const CommandLine line =
            parseCommandLine(QStringList{"cantavel"} + c.arguments, QStringLiteral("/home/op"));
        EXPECT_EQ(line.action, c.action) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.file, c.file) << c.arguments.join(' ').toStdString();
    }
    EXPECT_EQ(parseCommandLine({"cantavel", "--version"}, "/").text,
              QStringLiteral("Cantavel 1.0.0.0\n"));
    EXPECT_TRUE(parseCommandLine({"cantavel", "--bogus"}, "/").text.contains("bogus"));
}

TEST(SerialDevices, TheStablePathIsTheByIdLinkToTheNodeWhereThereIsOne) {
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(node).open(QIODevice::WriteOnly);
    QDir().mkpath(dir.filePath(QStringLiteral("by-id")));
    const QString link = dir.filePath(QStringLiteral("by-id/usb-FTDI_FT232R_A5-if00-port0"));
    ASSERT_TRUE(QFile::link(node, link));
    EXPECT_EQ(stableSerialPath(node, dir.filePath(QStringLiteral("by-id"))), link);
    EXPECT_EQ(stableSerialPath(dir.filePath(QStringLiteral("ttyUSB1")),
                               dir.filePath(QStringLiteral("by-id"))),
              dir.filePath(QStringLiteral("ttyUSB1")));
    EXPECT_TRUE(sameDevice(link, node));
    EXPECT_EQ(serialDeviceLabel(QStringLiteral("FT232R USB UART"), QStringLiteral("ttyUSB0")),
              QStringLiteral("FT232R USB UART (ttyUSB0)"));
    EXPECT_EQ(serialDeviceLabel(QString(), QStringLiteral("ttyS0")), QStringLiteral("ttyS0"));
}

} // namespace
} // namespace cantavel
