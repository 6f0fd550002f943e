// What the editor does with hostile surroundings: binary settings, folders where
// files should be, a device that goes away mid-upload, a settings folder it cannot
// write, and a long run of live changes.

#include "LineRecorder.h"
#include "SerialPort.h"
#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QTimer>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Robust = testing::WindowTest;

TEST_F(Robust, BinarySettingsFileStartsWithTheDefaults) {
    form.reset();
    QFile f(settingsPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < 2000; ++i) {
        f.putChar(static_cast<char>((i * 97 + 13) & 0xFF));
    }
    f.close();
    state = RuntimeState{};
    createWindow(false);
    EXPECT_EQ(state.comPortName, QStringLiteral("COM1"));
    EXPECT_TRUE(action("COM11")->isChecked());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Robust, FolderInPlaceOfAConfigurationFileIsReported) {
    const QString folder = dir.filePath(QStringLiteral("folder.cfg"));
    ASSERT_TRUE(QDir().mkdir(folder));
    dialogs.answers << folder << folder;
    action("Open1")->trigger();
    action("SaveAs1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].detail, QStringLiteral("Is a directory"));
    EXPECT_EQ(dialogs.messages[1].detail, QStringLiteral("Is a directory"));
    EXPECT_TRUE(state.currentFileName.isEmpty());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(Robust, DeviceUnpluggedDuringUploadAllEndsItWithOneMessage) {
    // The adapter goes 1.2 s in, and the hang-up reaches the window.
    clock.at(1200ms, [this] {
        pty.closeMaster();
        testing::pumpUntil([this] { return !dialogs.messages.empty(); });
    });
    action("Configuator1")->trigger();
    EXPECT_EQ(clock.elapsed(), 1200ms) << "the upload ended there";
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("lost")));
    EXPECT_TRUE(dialogs.messages[0].detail.endsWith(
        QStringLiteral("\"2\", \"3\", \"4\", \"Mode A\" and \"Mode B\" did not reach the unit.")))
        << dialogs.messages[0].detail.toStdString();
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_EQ(form->Link().runningCommands(), 0);
}

TEST_F(Robust, SettingsThatCannotBeWrittenAreLetGoQuietly) {
    form.reset();
    state = RuntimeState{};
    // /proc takes no new files, whoever asks.
    form = std::make_unique<TForm1>(
        editorRecord, state,
        TForm1Options{QStringLiteral("/proc/cantavel-no-such/cantavel.ini"), &dialogs, &clock});
    form->show();
    EXPECT_EQ(state.comPortName, QStringLiteral("COM1"));
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Robust, TenThousandLiveChangesArriveAllAndInOrder) {
    linkOn();
    testing::LineRecorder line(pty.master());
    auto* delay = child<QSlider>("TrackBar11");
    QByteArray expected;
    int value = delay->value();
    for (int i = 0; i < 10000; ++i) {
        value = value >= 247 ? 2 : value + 1;
        delay->setValue(value);
        expected += QByteArray("\x26\x00", 2) + static_cast<char>(value);
    }
    ASSERT_TRUE(testing::pumpUntil([&] { return line.bytes().size() >= expected.size(); }, 20s));
    testing::pumpFor(100ms);
    EXPECT_EQ(line.bytes(), expected);
}

} // namespace
} // namespace cantavel
