// Saving never leaves less than was there: a full disk keeps the old file, devices
// and FIFOs stay what they are, links stay links.

#include "SafeSave.h"
#include "ConfigFile.h"
#include "FullDisk.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {
namespace {

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

mode_t typeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

ConfigRecord someRecord() {
    ConfigRecord record;
    record.resetToDefaults();
    record.preset(3).echoDelay = 201;
    return record;
}

// Tried as a user would: a good .cfg and the settings file on a disk that then fills.
TEST(SafeSave, FullDiskKeepsEveryOldFileAndLeavesNothingBehind) {
    testing::FullDisk disk;
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    const QString cfg = disk.path(QStringLiteral("show.cfg"));
    const QString ini = disk.path(QStringLiteral("cantavel.ini"));
    const QByteArray oldCfg(294, '\x42');
    const QByteArray oldIni("[Config]\nCOM=COM3\nindex=3\n\n[Ports]\nCOM3=/dev/ttyUSB0\n");
    ASSERT_TRUE(writeFile(cfg, oldCfg));
    ASSERT_TRUE(writeFile(ini, oldIni));
    ASSERT_TRUE(disk.fill());

    const FileResult over = saveConfigFile(cfg, someRecord());
    EXPECT_FALSE(over);
    EXPECT_EQ(over.reason, QStringLiteral("No space left on device"));
    EXPECT_EQ(readFile(cfg), oldCfg);

    const FileResult fresh = saveConfigFile(disk.path(QStringLiteral("new.cfg")), someRecord());
    EXPECT_FALSE(fresh);
    EXPECT_EQ(fresh.reason, QStringLiteral("No space left on device"));

    RuntimeState state;
    state.comPortName = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI");
    EXPECT_FALSE(writeSettings(ini, state));
    EXPECT_EQ(readFile(ini), oldIni);

    EXPECT_EQ(QDir(QFileInfo(cfg).path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"cantavel.ini", "filler", "show.cfg"}));
}

// A device node must stay a device: replacing it by rename would turn it into a
// regular file. Copies made here stand in for /dev/full and /dev/null.
TEST(SafeSave, DevicesAreWrittenInPlaceAndStayDevices) {
    QTemporaryDir dir;
    const QString full = dir.filePath(QStringLiteral("full"));
    const QString null = dir.filePath(QStringLiteral("null"));
    if (!testing::makeCharDevice(full, 1, 7) || !testing::makeCharDevice(null, 1, 3)) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    const FileResult toFull = saveConfigFile(full, someRecord());
    EXPECT_FALSE(toFull);
    EXPECT_EQ(toFull.reason, QStringLiteral("No space left on device"));
    EXPECT_EQ(typeOf(full), static_cast<mode_t>(S_IFCHR));

    EXPECT_TRUE(saveConfigFile(null, someRecord()));
    EXPECT_EQ(typeOf(null), static_cast<mode_t>(S_IFCHR));
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"full", "null"}));
}

TEST(SafeSave, FifoIsWrittenInPlaceAndRefusedWithoutAReader) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    const FileResult nobody = saveConfigFile(fifo, someRecord());
    EXPECT_FALSE(nobody) << "no reader: refused at once rather than waiting for ever";
    EXPECT_FALSE(nobody.reason.isEmpty());

    QByteArray received;
    std::thread reader([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
            received.append(buffer, n);
        }
        ::close(fd);
    });
    FileResult written = FileResult::failure({});
    for (int i = 0; i < 500 && !written; ++i) { // until the reader has opened its end
        written = saveConfigFile(fifo, someRecord());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reader.join();
    EXPECT_TRUE(written) << written.reason.toStdString();
    const ConfigRecord record = someRecord();
    const auto image = record.image();
    EXPECT_EQ(received, QByteArray(reinterpret_cast<const char*>(image.data()), 294));
    EXPECT_EQ(typeOf(fifo), static_cast<mode_t>(S_IFIFO));
}

TEST(SafeSave, LinksAreFollowedAndPermissionsKept) {
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.cfg"));
    const QString link = dir.filePath(QStringLiteral("link.cfg"));
    ASSERT_TRUE(writeFile(real, "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, link));

    ASSERT_TRUE(saveFileSafely(link, "new content"));
    EXPECT_EQ(typeOf(link), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(readFile(real), QByteArray("new content"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A link to a file not yet made: the file appears where the link points.
    const QString dangling = dir.filePath(QStringLiteral("later.cfg"));
    ASSERT_TRUE(QFile::link(QStringLiteral("made-later.cfg"), dangling));
    ASSERT_TRUE(saveFileSafely(dangling, "x"));
    EXPECT_EQ(typeOf(dangling), static_cast<mode_t>(S_IFLNK));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("made-later.cfg"))), QByteArray("x"));

    // A new file gets the mode the umask leaves.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(saveFileSafely(dir.filePath(QStringLiteral("fresh")), "y"));
    ::umask(mask);
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(QStringLiteral("fresh"))).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(SafeSave, CopiesAWholeDescriptor) {
    QTemporaryDir dir;
    QByteArray big;
    for (int i = 0; i < 200000; ++i) {
        big += static_cast<char>(i * 31 % 251);
    }
    const QString source = dir.filePath(QStringLiteral("source"));
    ASSERT_TRUE(writeFile(source, big));
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(saveFileSafelyFrom(dir.filePath(QStringLiteral("copy")), fd));
    ::close(fd);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("copy"))), big);
}

} // namespace
} // namespace cantavel
