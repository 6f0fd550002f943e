// What the editor does with hostile surroundings: binary settings, folders where
// files should be, a device that goes away mid-upload, a settings folder it cannot
// write, and a long run of live changes.

#include "LineRecorder.h"
#include "SerialPort.h"
#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <sys/stat.h>

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

// Settings that cannot be kept are told once, before the window goes (they were
// once lost without a word); the window closes all the same. One that cannot be
// read (a FIFO once kept the window from ever appearing) is told at start.
TEST_F(Robust, SettingsThatCannotBeReadOrWrittenAreToldAndTheWindowGoesOn) {
    const QString big = dir.filePath(QStringLiteral("big.ini"));
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Config]\nCOM=COM7\n;" + QByteArray(300 * 1024, 'x') + "\n");
    f.close();
    const QString fifo = dir.filePath(QStringLiteral("fifo.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Case {
        QString path;
        const char* atStart; // the reason told at start, if any
        const char* atClose;
    };
    const Case cases[] = {
        // /proc takes no new files, whoever asks.
        {QStringLiteral("/proc/cantavel-no-such/cantavel.ini"), nullptr, "No such file"},
        {big, "It is larger than 256 KiB", "It is larger than 256 KiB"},
        {fifo, "Not a regular file (a FIFO)", "Not a regular file (a FIFO)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        form.reset();
        state = RuntimeState{};
        dialogs.messages.clear();
        form = std::make_unique<TForm1>(editorRecord, state,
                                        TForm1Options{c.path, &dialogs, &clock, &devices});
        form->show();
        QCoreApplication::processEvents(); // told over the window, once it is shown
        EXPECT_EQ(state.comPortName, QStringLiteral("COM1"));
        ASSERT_EQ(dialogs.messages.size(), c.atStart ? 1u : 0u);
        if (c.atStart) {
            EXPECT_EQ(dialogs.messages[0].text,
                      QStringLiteral("Cannot read the settings %1").arg(c.path));
            EXPECT_TRUE(dialogs.messages[0].detail.startsWith(QLatin1String(c.atStart)));
        }
        dialogs.messages.clear();
        form->close();
        EXPECT_FALSE(form->isVisible());
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text,
                  QStringLiteral("Cannot save the settings %1").arg(c.path));
        EXPECT_TRUE(dialogs.messages[0].detail.startsWith(QLatin1String(c.atClose)))
            << dialogs.messages[0].detail.toStdString();
    }
    EXPECT_EQ(QFileInfo(big).size(), 300 * 1024 + 20) << "left as it was";
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
    EXPECT_EQ(line.bytes(), expected);
    EXPECT_EQ(form->Comm().BytesQueued(), 27 + static_cast<std::uint64_t>(expected.size()))
        << "nothing more on its way";
}

} // namespace
} // namespace cantavel
