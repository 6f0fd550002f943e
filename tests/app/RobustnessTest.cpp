// What the editor does with hostile surroundings: binary settings, folders where
// files should be, a device that goes away mid-upload, a settings folder it cannot
// write, and a long run of live changes.

#include "LineRecorder.h"
#include "Serialcomm.h"
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
    runtimeState() = RuntimeState{};
    createWindow(false);
    EXPECT_EQ(runtimeState().comPortName, QStringLiteral("COM1"));
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
    EXPECT_TRUE(runtimeState().currentFileName.isEmpty());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(Robust, DeviceUnpluggedDuringUploadAllEndsItWithOneMessage) {
    QTimer::singleShot(1200, form.get(), [this] { pty.closeMaster(); });
    const auto started = std::chrono::steady_clock::now();
    action("Configuator1")->trigger();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms) << "the upload ended early";
    testing::pumpFor(300ms);
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
    runtimeState() = RuntimeState{};
    // /proc takes no new files, whoever asks.
    form = std::make_unique<TForm1>(
        TForm1Options{QStringLiteral("/proc/cantavel-no-such/cantavel.ini"), &dialogs});
    form->show();
    EXPECT_EQ(runtimeState().comPortName, QStringLiteral("COM1"));
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
