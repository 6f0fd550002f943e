#include "ConfigFile.h"
#include "Settings.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes imageOf(const ConfigRecord& record) {
    return {record.image().begin(), record.image().end()};
}

QByteArray pattern(int size, int seed) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    }
    return data;
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(data), data.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

struct LengthCase {
    const char* name;
    int fileSize;
    friend void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.fileSize << " bytes"; }
};

class LoadByLength : public ConfigFileTest, public ::testing::WithParamInterface<LengthCase> {};

// A file replaces as many leading bytes as it holds, up to the 294 of the image;
// everything after them keeps its previous value.
TEST_P(LoadByLength, ReplacesOnlyTheBytesTheFileHolds) {
    const int size = GetParam().fileSize;
    ConfigRecord record;
    record.resetToDefaults();
    const Bytes before = imageOf(record);
    const QByteArray data = pattern(size, 3);
    writeFile(path("x.cfg"), data);

    ASSERT_TRUE(loadConfigFile(path("x.cfg"), record));

    const Bytes after = imageOf(record);
    const int replaced = std::min<int>(size, static_cast<int>(kConfigImageSize));
    for (int i = 0; i < static_cast<int>(kConfigImageSize); ++i) {
        const std::uint8_t expected =
            i < replaced ? static_cast<std::uint8_t>(data[i]) : before[static_cast<std::size_t>(i)];
        ASSERT_EQ(after[static_cast<std::size_t>(i)], expected) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ConfigFile, LoadByLength,
                         ::testing::Values(LengthCase{"Empty", 0}, LengthCase{"Bytes100", 100},
                                           LengthCase{"Bytes293", 293}, LengthCase{"Bytes294", 294},
                                           LengthCase{"Bytes295", 295},
                                           LengthCase{"Bytes300", 300}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigFileTest, HundredByteFileReplacesPresetsZeroToFourAndPartOfFive) {
    ConfigRecord record;
    record.resetToDefaults();
    writeFile(path("short.cfg"), QByteArray(100, '\x01'));
    ASSERT_TRUE(loadConfigFile(path("short.cfg"), record));
    EXPECT_EQ(record.preset(4).effectVolume, 0x01);
    EXPECT_EQ(record.preset(5).micMiddle, 0x01); // byte 13 of preset 5 is file byte 98
    EXPECT_EQ(record.preset(5).micTreble, 0x01); // byte 14 is file byte 99, the last
    EXPECT_EQ(record.preset(5).swFreq, 100);     // byte 15 is beyond the file
    EXPECT_EQ(record.preset(6).marker, 0x55);
}

TEST_F(ConfigFileTest, SaveWritesExactlyTheImage) {
    ConfigRecord record;
    record.resetToDefaults();
    record.preset(2).echoDelay = 77;
    record.mode(3).byte5 = 0xEE;
    ASSERT_TRUE(saveConfigFile(path("out.cfg"), record));
    const QByteArray saved = readFile(path("out.cfg"));
    ASSERT_EQ(saved.size(), static_cast<qsizetype>(kConfigImageSize));
    EXPECT_EQ(Bytes(saved.begin(), saved.end()), imageOf(record));
}

TEST_F(ConfigFileTest, ThreeHundredByteFileLoadsAndSavesAs294) {
    writeFile(path("big.cfg"), pattern(300, 11));
    ConfigRecord record;
    ASSERT_TRUE(loadConfigFile(path("big.cfg"), record));
    ASSERT_TRUE(saveConfigFile(path("big.cfg"), record));
    EXPECT_EQ(readFile(path("big.cfg")), pattern(300, 11).left(294));
}

TEST_F(ConfigFileTest, SaveReplacesALongerFileWholly) {
    writeFile(path("old.cfg"), QByteArray(1000, 'z'));
    ConfigRecord record;
    ASSERT_TRUE(saveConfigFile(path("old.cfg"), record));
    EXPECT_EQ(readFile(path("old.cfg")), QByteArray(294, '\0'));
}

TEST_F(ConfigFileTest, MissingFileIsReportedAndLeavesTheRecord) {
    ConfigRecord record;
    record.resetToDefaults();
    const Bytes before = imageOf(record);
    const FileResult r = loadConfigFile(path("nope.cfg"), record);
    EXPECT_FALSE(r);
    EXPECT_TRUE(r.reason.contains(QStringLiteral("No such file"), Qt::CaseInsensitive))
        << r.reason.toStdString();
    EXPECT_EQ(imageOf(record), before);
}

TEST_F(ConfigFileTest, DirectoryIsNotAConfigurationFile) {
    ConfigRecord record;
    record.resetToDefaults();
    const Bytes before = imageOf(record);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.cfg")));
    EXPECT_FALSE(loadConfigFile(path("folder.cfg"), record));
    EXPECT_EQ(imageOf(record), before);
    EXPECT_FALSE(saveConfigFile(path("folder.cfg"), record));
}

// Whatever a name stands for, reading it never waits: a FIFO without a writer once
// froze the window in open(), and a settings file that was one kept it from ever
// appearing. Anything but a regular file is refused for what it is; a regular file
// of any size or name is read up to its 294 bytes. Run in a child with a time limit,
// so that a read that waits fails the test instead of hanging it.
TEST_F(ConfigFileTest, NamesThatAreNoPresetFileNeverWaitAndSayWhatTheyAre) {
    const QString fifo = path("pipe.cfg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.cfg"));
    ASSERT_TRUE(QFile::link(path("loop-b.cfg"), path("loop-a.cfg")));
    ASSERT_TRUE(QFile::link(path("loop-a.cfg"), path("loop-b.cfg")));
    const QString big = path("big.cfg");
    writeFile(big, {});
    ASSERT_EQ(::truncate(QFile::encodeName(big).constData(), qint64{1} << 30), 0);
    const QString odd = QFile::decodeName("odd\nname\xff.cfg");
    writeFile(path(odd), pattern(294, 1));

    struct Case {
        QString path;
        const char* reason; // nullptr: it opens
        qint64 size;
    };
    const std::vector<Case> cases = {
        {fifo, "Not a regular file (a FIFO)", 0},
        {QStringLiteral("/dev/zero"), "Not a regular file (a character device)", 0},
        {QStringLiteral("/dev/urandom"), "Not a regular file (a character device)", 0},
        {path("folder.cfg"), "Is a directory", 0},
        {path("loop-a.cfg"), "Too many levels of symbolic links", 0},
        {big, nullptr, qint64{1} << 30},
        {path(odd), nullptr, 294},
        // Files in /proc say they are 0 bytes: the length is what was read, or not
        // known beyond the record.
        {QStringLiteral("/proc/sys/kernel/ostype"), nullptr, 6},
        {QStringLiteral("/proc/self/status"), nullptr, -1},
        {path(odd).replace('\n', QChar::ReplacementCharacter),
         "No such file or directory; a name that is not valid UTF-8 cannot be opened: rename "
         "the file",
         0},
    };
    const int failed = testing::runWithin(10, [&] {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            ConfigRecord record;
            record.resetToDefaults();
            record.preset(0).echoDelay = 3;
            qint64 size = -1;
            const FileResult r = loadConfigFile(cases[i].path, record, &size);
            const bool asExpected = cases[i].reason
                                        ? !r && r.reason == QLatin1String(cases[i].reason) &&
                                              record.preset(0).echoDelay == 3
                                        : r && size == cases[i].size;
            if (!asExpected) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(cases[i].path), qPrintable(r.reason));
                return static_cast<int>(i) + 1;
            }
        }
        // The settings too: the defaults and the reason; nothing written to the FIFO.
        RuntimeState state;
        state.comPortName = QStringLiteral("COM4");
        const FileResult read = readSettings(fifo, state);
        const FileResult written = writeSettings(fifo, state);
        return !read && read.reason == QLatin1String("Not a regular file (a FIFO)") &&
                       state.comPortName == QLatin1String("COM1") && !written
                   ? 0
                   : 100;
    });
    EXPECT_EQ(failed, 0) << "-2: it waited; a number: that case (see stderr)";
}

TEST_F(ConfigFileTest, UnreadableFileIsReportedAndLeavesTheRecord) {
    writeFile(path("secret.cfg"), pattern(294, 5));
    ASSERT_TRUE(QFile::setPermissions(path("secret.cfg"), QFileDevice::ReadOwner));
    testing::makeTraversable(dir.path());
    const QString file = path("secret.cfg");
    const int status = testing::runUnprivileged([&] {
        ConfigRecord record;
        record.resetToDefaults();
        const Bytes before = imageOf(record);
        const FileResult r = loadConfigFile(file, record);
        if (r || !r.reason.contains(QStringLiteral("Permission denied"), Qt::CaseInsensitive)) {
            return 1;
        }
        return imageOf(record) == before ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ConfigFileTest, SaveIntoMissingFolderFails) {
    ConfigRecord record;
    const FileResult r = saveConfigFile(path("no/such/folder/x.cfg"), record);
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.reason.isEmpty());
}

// A save that fails must leave the file that was there untouched, and no
// half-written file or temporary file behind.
TEST_F(ConfigFileTest, FailedSaveIntoReadOnlyFolderKeepsTheOldFile) {
    const QString ro = path("ro");
    ASSERT_TRUE(QDir().mkdir(ro));
    const QString target = ro + QStringLiteral("/keep.cfg");
    const QByteArray old = pattern(294, 9);
    writeFile(target, old);
    // The file itself is writable by anyone; only the folder refuses new entries.
    ASSERT_TRUE(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther));
    ASSERT_TRUE(QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther));
    testing::makeTraversable(ro);

    const int status = testing::runUnprivileged([&] {
        ConfigRecord record;
        record.resetToDefaults();
        const FileResult r = saveConfigFile(target, record);
        return r ? 1 : (r.reason.isEmpty() ? 2 : 0);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(QDir(ro).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.cfg"});
}

} // namespace
} // namespace cantavel
