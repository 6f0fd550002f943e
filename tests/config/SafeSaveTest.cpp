// Saving never leaves less than was there: a full disk keeps the old file, devices
// and FIFOs stay what they are, links stay links.

#include "SafeSave.h"
#include "ConfigFile.h"
#include "FullDisk.h"
#include "Settings.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <array>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A terminal nobody reads takes a few bytes and then nothing: a PDF exported to it
// once held the window until the terminal went away. The save gives up instead, after
// 5 s; here (in a child of its own) after a tenth of a second.
TEST(SafeSave, ATargetThatTakesNothingFailsTheSaveInsteadOfHoldingIt) {
    EXPECT_EQ(stallLimit(), std::chrono::seconds(5));
    int master = -1;
    int slave = -1;
    std::array<char, 64> name{};
    ASSERT_EQ(::openpty(&master, &slave, name.data(), nullptr, nullptr), 0);
    ::close(slave);
    const QString terminal = QString::fromLatin1(name.data());
    const int status = testing::runWithin(20, [&] {
        setStallLimitForTesting(std::chrono::milliseconds(100));
        const FileResult r = saveFileSafely(terminal, QByteArray(1 << 20, 'x'));
        return !r && r.reason.startsWith(QLatin1String("It took nothing for 0.1 s")) ? 0 : 1;
    });
    ::close(master);
    EXPECT_EQ(status, 0) << "-2: it waited for ever";
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

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A save replaces the file by rename, which the folder allows but the file itself may
// not: a read-only file, another user's. Such a save is refused as a plain write would
// be, and a save never changes who owns the file or may use it. Root (no permission
// refuses it) keeps the owner and mode as before.
TEST(SafeSave, AFilesOwnProtectionHolds) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of another user need root";
    }
    constexpr uid_t kNobody = 65534;
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
    testing::makeTraversable(shared);
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        const char* refusal; // nullptr: nobody may save it
    };
    const Case cases[] = {
        {"read-only.cfg", kNobody, 0444, "Permission denied"},
        {"roots.cfg", 0, 0644, "Permission denied"},
        {"roots-open.cfg", 0, 0666, "It belongs to root; saving it would make it yours"},
        {"own.cfg", kNobody, 0640, nullptr},
    };
    const QByteArray old(294, 'o');
    for (const Case& c : cases) {
        const QString path = shared + '/' + QLatin1String(c.name);
        ASSERT_TRUE(writeFile(path, old));
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.mode), 0);
    }
    const int failed = testing::runUnprivileged([&] {
        for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
            const FileResult r =
                saveConfigFile(shared + '/' + QLatin1String(cases[i].name), someRecord());
            if (cases[i].refusal ? r || !r.reason.startsWith(QLatin1String(cases[i].refusal))
                                 : !r) {
                std::fprintf(stderr, "%s: %s\n", cases[i].name, qPrintable(r.reason));
                return i + 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(failed, 0) << "the case that went wrong, counted from 1 (see stderr)";
    for (const Case& c : cases) {
        const QString path = shared + '/' + QLatin1String(c.name);
        const struct stat st = statOf(path);
        EXPECT_EQ(st.st_uid, c.owner) << c.name;
        EXPECT_EQ(st.st_mode & 07777, c.mode) << c.name;
        EXPECT_EQ(readFile(path) == old, c.refusal != nullptr) << c.name;
    }
    EXPECT_EQ(QDir(shared).entryList(QDir::Files | QDir::Hidden).size(),
              static_cast<qsizetype>(std::size(cases)))
        << "no temporary left behind";

    // Root is refused nothing: the file is saved and stays nobody's, read-only.
    const QString readOnly = shared + QStringLiteral("/read-only.cfg");
    ASSERT_TRUE(saveConfigFile(readOnly, someRecord()));
    EXPECT_NE(readFile(readOnly), old);
    EXPECT_EQ(statOf(readOnly).st_uid, kNobody);
    EXPECT_EQ(statOf(readOnly).st_mode & 07777, 0444u);
}

// A save killed half-way leaves its temporary. The next save of the same file removes
// it, but never one that a running save still holds, nor a file of the user's that
// only looks like one. The target may be write-only (a temporary takes its mode):
// such a temporary was once never removed. Run as an unprivileged user, since root
// would open a write-only file all the same.
TEST(SafeSave, TheNextSaveRemovesTheTemporaryOfAKilledOne) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("live.cfg"));
    ASSERT_TRUE(writeFile(target, "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0200), 0);
    const QStringList lookalikes = {".live.cfg.abc123", ".live.cfg.0123456789-abcdef",
                                    ".other.cfg.0123456789-abcdef"};
    for (const QString& name : lookalikes) {
        ASSERT_TRUE(writeFile(dir.filePath(name), "mine"));
    }
    if (::geteuid() == 0) { // the folder and its files become nobody's
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        names << QStringLiteral(".");
        for (const QString& name : names) {
            ASSERT_EQ(::chown(QFile::encodeName(dir.filePath(name)).constData(), 65534, 65534), 0);
        }
        testing::makeTraversable(dir.path());
    }
    const auto hidden = [&] {
        QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral("live.cfg"));
        for (const QString& name : lookalikes) {
            names.removeAll(name);
        }
        return names;
    };
    const int step = testing::runUnprivileged([&] {
        // A save from a pipe that never ends: it waits, holding its temporary.
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return 1;
        }
        const pid_t saver = ::fork();
        if (saver == 0) {
            ::close(pipeFds[1]);
            ::_exit(saveFileSafelyFrom(target, pipeFds[0]) ? 0 : 1);
        }
        ::close(pipeFds[0]);
        QStringList held;
        for (int i = 0; i < 500 && held.isEmpty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            held = hidden();
        }
        if (held.size() != 1) {
            return 2; // the waiting save's temporary
        }
        if (!saveFileSafely(target, "second") || hidden() != held) {
            return 3; // a save that runs keeps its temporary
        }
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        ::close(pipeFds[1]);
        if (hidden() != held) {
            return 4; // the killed save left it
        }
        if (!saveFileSafely(target, "third") || !hidden().isEmpty()) {
            return 5; // the next save removed it
        }
        return 0;
    });
    EXPECT_EQ(step, 0) << "the step that went wrong";
    for (const QString& name : lookalikes) {
        EXPECT_EQ(readFile(dir.filePath(name)), QByteArray("mine")) << name.toStdString();
    }
    if (::geteuid() == 0) {
        EXPECT_EQ(readFile(target), QByteArray("third"));
    }
}

} // namespace
} // namespace cantavel
