#include "Settings.h"
#include "Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <random>

namespace cantavel {
namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString ini() const { return dir.filePath(QStringLiteral("cantavel.ini")); }

    void writeIni(const QByteArray& text) const {
        QFile f(ini());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QByteArray readIni() const {
        QFile f(ini());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // A state that differs from the defaults, so that reading must overwrite it.
    static RuntimeState stale() {
        RuntimeState s;
        s.comPortName = QStringLiteral("COM9");
        s.comPortNumber = 9;
        return s;
    }

    QTemporaryDir dir;
};

TEST(SettingsPath, ReplacesOrAppendsTheSuffix) {
    EXPECT_EQ(settingsPathFor("/opt/cantavel/build/cantavel"),
              QStringLiteral("/opt/cantavel/build/cantavel.ini"));
    EXPECT_EQ(settingsPathFor("/opt/tools/editor.exe"), QStringLiteral("/opt/tools/editor.ini"));
    EXPECT_EQ(settingsPathFor("/opt/v1.5/editor"), QStringLiteral("/opt/v1.5/editor.ini"));
    EXPECT_EQ(settingsPathFor("/opt/a/editor.tar.gz"), QStringLiteral("/opt/a/editor.tar.ini"));
}

// Where the settings are is decided where the program runs, not where the build was
// told to install: beside it in a build folder or a portable copy, in the user's
// folder anywhere else (whichever prefix it was installed under).
TEST_F(SettingsTest, SettingsAreBesideTheProgramOnlyInABuildFolderOrAPortableCopy) {
    const QString config = dir.filePath(QStringLiteral("home/.config/Varnholt/Cantavel"));
    const QString inConfig = config + QStringLiteral("/cantavel.ini");
    struct Case {
        const char* folder;  // under the scratch folder
        const char* present; // a file already in it, or nullptr
        const char* program;
        bool beside;
    };
    const Case cases[] = {
        {"src/build", "CMakeCache.txt", "cantavel", true},
        {"src/build-package", "CMakeCache.txt", "cantavel-cfg", true},
        {"portable", "cantavel.ini", "cantavel", true},
        {"usb-stick/Cantavel", "editor.ini", "editor.exe", true},
        // Another program's settings or a cache in a subfolder mark nothing.
        {"odd", "cantavel-print.ini", "cantavel", false},
        {"sub/bin", nullptr, "cantavel", false},
        {"home/.local/bin", nullptr, "cantavel", false},
        {"usr/bin", nullptr, "cantavel", false},
        {"usr/local/bin", nullptr, "cantavel-cfg", false},
        {"opt/cantavel/bin", nullptr, "cantavel", false},
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sub/bin/build"))));
    QFile cache(dir.filePath(QStringLiteral("sub/bin/build/CMakeCache.txt")));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    for (const Case& c : cases) {
        const QString folder = dir.filePath(QString::fromUtf8(c.folder));
        ASSERT_TRUE(QDir().mkpath(folder));
        if (c.present != nullptr) {
            QFile f(folder + QLatin1Char('/') + QString::fromUtf8(c.present));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        const QString program = folder + QLatin1Char('/') + QString::fromUtf8(c.program);
        const auto expected = [&](const QString& path) {
            return (c.beside ? settingsPathFor(path) : inConfig).toStdString();
        };
        EXPECT_EQ(settingsPathFor(program, config).toStdString(), expected(program)) << c.folder;
        // Reached by another way of writing the same folder, the answer is the same.
        const QString roundabout = folder + QStringLiteral("/../") + QFileInfo(folder).fileName() +
                                   QLatin1Char('/') + QString::fromUtf8(c.program);
        EXPECT_EQ(settingsPathFor(roundabout, config).toStdString(), expected(roundabout))
            << c.folder;
    }

    // A settings file that is no regular file, or a link to one not written yet,
    // still marks a portable copy: reading it then says what is wrong with it.
    const QString folderIni = dir.filePath(QStringLiteral("folder-ini"));
    ASSERT_TRUE(QDir().mkpath(folderIni + QStringLiteral("/cantavel.ini")));
    EXPECT_EQ(settingsPathFor(folderIni + QStringLiteral("/cantavel"), config),
              folderIni + QStringLiteral("/cantavel.ini"));
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    ASSERT_TRUE(QDir().mkpath(dangling));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere.ini")),
                            dangling + QStringLiteral("/cantavel.ini")));
    EXPECT_EQ(settingsPathFor(dangling + QStringLiteral("/cantavel"), config),
              dangling + QStringLiteral("/cantavel.ini"));

    // A folder whose name is not valid UTF-8 reaches the program decoded, a name that
    // leads nowhere: the settings once went to /.ini.
    EXPECT_EQ(settingsPathFor(dir.filePath(QStringLiteral("dir\uFFFD/cantavel")), config),
              inConfig);
    // Without a configuration folder (no home), beside the program is all there is.
    EXPECT_EQ(settingsPathFor(dir.filePath(QStringLiteral("usr/bin/cantavel")), QString()),
              dir.filePath(QStringLiteral("usr/bin/cantavel.ini")));

    // The folder is made when the settings are first written.
    RuntimeState state;
    state.comPortName = QStringLiteral("/dev/ttyUSB0");
    EXPECT_TRUE(writeSettings(inConfig, state));
    RuntimeState back;
    readSettings(inConfig, back);
    EXPECT_EQ(back.comPortName, state.comPortName);
}

// The user's folder never depends on where the program was started (a relative
// XDG_CONFIG_HOME or HOME) nor falls back to the root (HOME unset or empty).
TEST(SettingsPath, TheUsersFolderIsAlwaysAnAbsoluteOne) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    const QString fromDatabase = QFile::decodeName(user->pw_dir) + QStringLiteral("/.config");
    QString names;
    for (const QString& name :
         {QCoreApplication::organizationName(), QCoreApplication::applicationName()}) {
        names += name.isEmpty() ? QString() : QLatin1Char('/') + name;
    }
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const struct {
        const char* xdg; // nullptr: unset
        const char* home;
        QString expected;
    } cases[] = {
        {"/srv/cfg/", "/home/op", QStringLiteral("/srv/cfg")},
        {"relative/cfg", "/home/op", QStringLiteral("/home/op/.config")},
        {"", "/home/op", QStringLiteral("/home/op/.config")},
        {nullptr, "", fromDatabase},
        {nullptr, "home/op", fromDatabase},
    };
    for (const auto& c : cases) {
        c.xdg ? qputenv("XDG_CONFIG_HOME", c.xdg) : qunsetenv("XDG_CONFIG_HOME");
        qputenv("HOME", c.home);
        EXPECT_EQ(userConfigFolder().toStdString(), (c.expected + names).toStdString())
            << (c.xdg ? c.xdg : "(unset)") << " " << c.home;
    }
    hadXdg ? qputenv("XDG_CONFIG_HOME", savedXdg) : qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", savedHome);
}

TEST_F(SettingsTest, RecentFilesAreWrittenAnewAndReadBackInOrder) {
    writeIni("[Config]\nCOM=COM2\n\n[Recent]\nFile1=/old.cfg\n\n[Ports]\nCOM3=/dev/ttyUSB0\n");
    RuntimeState state;
    readSettings(ini(), state);
    EXPECT_EQ(state.recentFiles, QStringList{"/old.cfg"});
    state.recentFiles = {"/b/two words.cfg", "/a/one.cfg", "/c/\"quoted\".cfg"};
    ASSERT_TRUE(writeSettings(ini(), state));
    const QByteArray text = readIni();
    EXPECT_FALSE(text.contains("/old.cfg"));
    EXPECT_TRUE(text.contains("[Ports]\nCOM3=/dev/ttyUSB0\n")) << text.constData();
    RuntimeState back;
    readSettings(ini(), back);
    EXPECT_EQ(back.recentFiles, state.recentFiles);
    EXPECT_EQ(back.portPaths.value("COM3"), QStringLiteral("/dev/ttyUSB0"));

    // Relative names, repeats and more than eight entries are not taken.
    writeIni("[Recent]\nFile1=/a.cfg\nFile2=rel.cfg\nFile3=/a.cfg\nFile4=/b.cfg\nFile9=/z.cfg\n");
    readSettings(ini(), back);
    EXPECT_EQ(back.recentFiles, (QStringList{"/a.cfg", "/b.cfg"}));
}

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
    RuntimeState s = stale();
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(s.comPortNumber, 1);
    EXPECT_FALSE(QFile::exists(ini())) << "reading must not create the file";
}

TEST_F(SettingsTest, KeysAreReadIndependently) {
    writeIni("[Config]\nindex=7\n");
    RuntimeState s = stale();
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(s.comPortNumber, 7);
}

TEST_F(SettingsTest, IndexThatIsNotAWholeNumberReadsAsOne) {
    for (const char* value : {"abc", "7abc", "2.5", ""}) {
        writeIni(QByteArray("[Config]\nCOM=COM4\nindex=") + value + "\n");
        RuntimeState s = stale();
        readSettings(ini(), s);
        EXPECT_EQ(s.comPortNumber, 1) << "index=" << value;
        EXPECT_EQ(s.comPortName, QStringLiteral("COM4"));
    }
}

TEST_F(SettingsTest, IndexOutsideTheMenuIsKeptAsItStands) {
    writeIni("[Config]\nCOM=COM3\nindex=20\n");
    RuntimeState s = stale();
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("COM3"));
    EXPECT_EQ(s.comPortNumber, 20);
}

TEST_F(SettingsTest, PortNameWithACommaStaysOneText) {
    writeIni("[Config]\nCOM=/dev/serial/by-id/usb-a,b\n");
    RuntimeState s;
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("/dev/serial/by-id/usb-a,b"));
}

TEST_F(SettingsTest, PortsSectionMapsNamesToDevicePaths) {
    writeIni("[Config]\nCOM=COM3\nindex=3\n\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM4=\n"
             "COM5=/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\n");
    RuntimeState s;
    readSettings(ini(), s);
    EXPECT_EQ(s.portPaths.value(QStringLiteral("COM3")), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(s.portPaths.contains(QStringLiteral("COM4"))) << "an empty path maps nothing";
    EXPECT_EQ(s.portPaths.size(), 2);
    writeIni("[Config]\nCOM=COM1\n");
    readSettings(ini(), s);
    EXPECT_TRUE(s.portPaths.isEmpty());
}

TEST_F(SettingsTest, CorruptOrBinaryFileGivesTheDefaults) {
    QByteArray junk(4096, '\0');
    for (int i = 0; i < junk.size(); ++i) {
        junk[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    writeIni(junk);
    RuntimeState s = stale();
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(s.comPortNumber, 1);
}

TEST_F(SettingsTest, WritesExactlyTheConfigSection) {
    RuntimeState s;
    ASSERT_TRUE(writeSettings(ini(), s));
    EXPECT_EQ(readIni(), QByteArray("[Config]\nCOM=COM1\nindex=1\n"));

    s.comPortName = QStringLiteral("COM12");
    s.comPortNumber = 12;
    ASSERT_TRUE(writeSettings(ini(), s));
    EXPECT_EQ(readIni(), QByteArray("[Config]\nCOM=COM12\nindex=12\n"));

    RuntimeState back = stale();
    readSettings(ini(), back);
    EXPECT_EQ(back.comPortName, QStringLiteral("COM12"));
    EXPECT_EQ(back.comPortNumber, 12);
}

TEST_F(SettingsTest, WritingKeepsOtherSections) {
    writeIni("[Ports]\nCOM3=/dev/ttyUSB0\n\n[Config]\nCOM=COM3\nindex=3\n");
    RuntimeState s;
    s.comPortName = QStringLiteral("COM5");
    s.comPortNumber = 5;
    ASSERT_TRUE(writeSettings(ini(), s));
    const QByteArray text = readIni();
    EXPECT_TRUE(text.contains("[Ports]\nCOM3=/dev/ttyUSB0\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[Config]\nCOM=COM5\nindex=5\n")) << text.toStdString();
}

TEST_F(SettingsTest, WriteIntoReadOnlyFolderFailsAndCreatesNothing) {
    const QString ro = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkdir(ro));
    ASSERT_TRUE(QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                              QFileDevice::ReadOther | QFileDevice::ExeOther));
    testing::makeTraversable(ro);
    const QString path = ro + QStringLiteral("/cantavel.ini");
    const int status = testing::runUnprivileged([&] {
        RuntimeState s;
        s.comPortName = QStringLiteral("COM2");
        s.comPortNumber = 2;
        return writeSettings(path, s) ? 1 : 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(QDir(ro).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

struct EditCase {
    const char* name;
    const char* before;
    const char* after;
};

class SettingsEdit : public ::testing::TestWithParam<EditCase> {};

// Only the two keys change; every other line, comment and section stays as written.
TEST_P(SettingsEdit, ChangesOnlyTheTwoKeys) {
    RuntimeState s;
    s.comPortName = QStringLiteral("COM5");
    s.comPortNumber = 5;
    EXPECT_EQ(settingsWithConfig(GetParam().before, s).toStdString(),
              std::string(GetParam().after));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingsEdit,
    ::testing::Values(
        EditCase{"NoFile", "", "[Config]\nCOM=COM5\nindex=5\n"},
        EditCase{"BothKeys", "[Config]\nCOM=COM1\nindex=1\n", "[Config]\nCOM=COM5\nindex=5\n"},
        EditCase{"PortsFirst", "[Ports]\nCOM3=/dev/ttyUSB0\n\n[Config]\nCOM=COM3\nindex=3\n",
                 "[Ports]\nCOM3=/dev/ttyUSB0\n\n[Config]\nCOM=COM5\nindex=5\n"},
        EditCase{"NoConfigSection", "[Ports]\nCOM3=/dev/ttyUSB0\n",
                 "[Config]\nCOM=COM5\nindex=5\n\n[Ports]\nCOM3=/dev/ttyUSB0\n"},
        EditCase{"MissingKeyAddedAfterTheLastLine",
                 "[Config]\nindex=2\n\n; ports\n[Ports]\nCOM1=/dev/ttyS4\n",
                 "[Config]\nindex=5\nCOM=COM5\n\n; ports\n[Ports]\nCOM1=/dev/ttyS4\n"},
        EditCase{"CommentsAndCrLfKept", "; kept\r\n[Config]\r\nCOM = COM2\r\nother=x\r\n",
                 "; kept\r\n[Config]\r\nCOM=COM5\r\nother=x\r\nindex=5\n"},
        EditCase{"LastLineWithoutEnd", "[Config]\nCOM=COM1", "[Config]\nCOM=COM5\nindex=5\n"},
        EditCase{"KeysOfOtherSectionsUntouched", "[Ports]\nCOM=x\nindex=9\n",
                 "[Config]\nCOM=COM5\nindex=5\n\n[Ports]\nCOM=x\nindex=9\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever a port name holds, the file gives it back: quotes, commas, semicolons,
// backslashes, control characters, a leading "@", spaces at the ends, non-ASCII.
TEST_F(SettingsTest, AnyPortNameReadsBackAsWritten) {
    const QString pieces[] = {"a",  "Z",    "0",    "9", "f", "/",          ",", ";",  "\"",
                              "\\", "@",    " ",    "=", "#", "[",          "]", "\t", "\n",
                              "\r", "\x01", "\x7f", "é", "€", "\U0001F3B5", "%", "'",  "x1"};
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        QString name;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            name += pieces[random() % std::size(pieces)];
        }
        RuntimeState written;
        written.comPortName = name;
        written.comPortNumber = static_cast<int>(random() % 40) - 5;
        // A file of its own each time: the INI reader caches what it read per path.
        const QString path = dir.filePath(QStringLiteral("round%1.ini").arg(round));
        ASSERT_TRUE(writeSettings(path, written));
        RuntimeState back = stale();
        readSettings(path, back);
        ASSERT_EQ(back.comPortName, name) << "round " << round;
        ASSERT_EQ(back.comPortNumber, written.comPortNumber) << "round " << round;
    }
}

// A name no path can be is no port: it counts as missing, so a hostile file costs
// nothing later (a million characters once froze the window in a message box).
TEST_F(SettingsTest, NamesLongerThanAPathCountAsMissing) {
    const QByteArray longName(4096, 'x');
    writeIni("[Config]\nCOM=" + longName + "\nindex=4\n\n[Ports]\nCOM2=/dev/" + longName + "\n" +
             longName + "=/dev/ttyS1\nCOM3=/dev/ttyUSB0\n");
    RuntimeState s = stale();
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(s.comPortNumber, 4);
    EXPECT_EQ(s.portPaths.keys(), QStringList{"COM3"});

    writeIni("[Config]\nCOM=/dev/" + QByteArray(4095 - 5, 'y') + "\n");
    readSettings(ini(), s);
    EXPECT_EQ(s.comPortName.size(), 4095) << "a name as long as a path can be is kept";
}

TEST_F(SettingsTest, OversizedFileIsNeitherReadNorRewritten) {
    const QByteArray big = "[Config]\nCOM=COM7\nindex=7\n;" + QByteArray(300 * 1024, 'x') + "\n";
    writeIni(big);
    RuntimeState s = stale();
    // Both say why, so that the operator can be told rather than lose the settings
    // without a word.
    const FileResult read = readSettings(ini(), s);
    EXPECT_FALSE(read);
    EXPECT_TRUE(read.reason.contains(QStringLiteral("larger than 256 KiB")))
        << read.reason.toStdString();
    EXPECT_EQ(s.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(s.comPortNumber, 1);
    const FileResult written = writeSettings(ini(), s);
    EXPECT_FALSE(written);
    EXPECT_EQ(written.reason, read.reason);
    EXPECT_EQ(readIni(), big);
}

} // namespace
} // namespace cantavel
