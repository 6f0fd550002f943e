// cantavel-cfg, the real program: files made, shown, changed and compared, and
// every kind of bad input. (Uploads are checked against the editor in its tests.)

#include "ConfigFile.h"
#include "FullDisk.h"
#include "ParameterValues.h"
#include "Poppler.h"
#include "PresetDocument.h"
#include "Pty.h"
#include "SlotTransfer.h"
#include "SoundTools.h"
#include "ToolRun.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {
namespace {

using CfgRun = testing::ToolRun;

CfgRun cfg(const QStringList& args, const testing::ToolOptions& options = {}) {
    return testing::runTool(QStringLiteral(CANTAVEL_CFG_PATH), args,
                            {QStringLiteral("cantavel-cfg:"), QStringLiteral("Try ")}, options);
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray bytesOf(const ConfigRecord& record) {
    return QByteArray(reinterpret_cast<const char*>(record.image().data()), kConfigImageSize);
}

ConfigRecord recordOf(const QString& path) {
    ConfigRecord r{};
    r.resetToDefaults();
    EXPECT_TRUE(loadConfigFile(path, r));
    return r;
}

class CfgTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(cfg({QStringLiteral("new"), a}).status, 0);
        ASSERT_EQ(cfg({QStringLiteral("new"), b}).status, 0);
    }
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.cfg"));
    const QString b = dir.filePath(QStringLiteral("b.cfg"));
};

// Limits between values of one slot are judged once every assignment is in, so the
// order of the assignments does not matter; a value left beyond its limit changes
// nothing. Lowering a maximum brings its volume down, as the window does; lowering
// SW VOL 1 leaves SW VOL 2 as stored. From the defaults: music volume 25 of 58, SW VOL
// 2 50 of 100.
TEST_F(CfgTool, SetJudgesLimitsOnceEveryAssignmentIsIn) {
    struct Case {
        QStringList assignments;
        int status;
        int musicVolume, musicVolMax, swVol1, swVol2;
    };
    const Case cases[] = {
        {{"default.musicVolume=60", "default.musicVolMax=63"}, 0, 60, 63, 100, 50},
        {{"default.musicVolMax=63", "default.musicVolume=60"}, 0, 60, 63, 100, 50},
        {{"default.musicVolMax=10"}, 0, 10, 10, 100, 50},
        {{"default.musicVolume=50", "default.musicVolMax=10"}, 1, 25, 58, 100, 50},
        {{"default.musicVolMax=10", "default.musicVolume=50"}, 1, 25, 58, 100, 50},
        {{"default.musicVolume=60"}, 1, 25, 58, 100, 50},
        {{"default.swVol2=100"}, 0, 25, 58, 100, 100},
        {{"default.swVol1=40", "default.swVol2=60"}, 1, 25, 58, 100, 50},
        {{"default.swVol2=60", "default.swVol1=70"}, 0, 25, 58, 70, 60},
        {{"default.swVol1=40"}, 0, 25, 58, 40, 50},
        {{"mode-a.swVol2=60", "default.swVol1=40"}, 0, 25, 58, 40, 50},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(cfg({QStringLiteral("new"), a, QStringLiteral("--force")}).status, 0);
        const CfgRun set = cfg(QStringList{QStringLiteral("set"), a} + c.assignments);
        const std::string what = c.assignments.join(' ').toStdString();
        EXPECT_EQ(set.status, c.status) << what << ": " << set.err.toStdString();
        if (c.status != 0) {
            EXPECT_TRUE(set.err.contains(QStringLiteral("nothing was changed"))) << what;
        }
        const ModeRecord m = recordOf(a).mode(0);
        EXPECT_EQ((std::vector<int>{m.musicVolume, m.musicVolMax, m.swVol1, m.swVol2}),
                  (std::vector<int>{c.musicVolume, c.musicVolMax, c.swVol1, c.swVol2}))
            << what;
    }

    // A file's volume above its maximum shows the maximum, and the window stores that
    // as it shows the slot: a maximum raised keeps the volume where it showed, unless
    // the volume is given too, in either order.
    const struct {
        QStringList assignments;
        int musicVolume;
    } above[] = {
        {{"default.musicVolMax=45"}, 40},
        {{"default.musicVolMax=45", "default.musicVolume=44"}, 44},
        {{"default.musicVolume=44", "default.musicVolMax=45"}, 44},
    };
    for (const auto& c : above) {
        ConfigRecord r{};
        r.resetToDefaults();
        r.mode(0).musicVolMax = 40;
        r.mode(0).musicVolume = 50;
        ASSERT_TRUE(saveConfigFile(a, r));
        const CfgRun set = cfg(QStringList{QStringLiteral("set"), a} + c.assignments);
        EXPECT_EQ(set.status, 0) << set.err.toStdString();
        EXPECT_EQ(shownValue(recordOf(a), 0, parameter(ParameterId::MusicVolume)), c.musicVolume)
            << c.assignments.join(' ').toStdString();
    }
}

// new writes the editor's start-up record; set changes it as the window would; show
// says what the window shows; diff finds exactly the changes, then nothing.
TEST_F(CfgTool, SetShowAndDiffAgreeOnEveryValue) {
    ConfigRecord defaults{};
    defaults.resetToDefaults();
    const auto image = defaults.image();
    EXPECT_EQ(bytesOf(a), QByteArray(reinterpret_cast<const char*>(image.data()), 294));

    const CfgRun set = cfg({QStringLiteral("set"), a, QStringLiteral("default.echoDelay=120"),
                            QStringLiteral("mode-a.keyIndex=#+2"), QStringLiteral("3.micTreble=-7"),
                            QStringLiteral("6.musicVolMax=20")});
    ASSERT_EQ(set.status, 0) << set.err.toStdString();
    const QString changes = QStringLiteral("default.echoDelay: 180 -> 120\n"
                                           "3.micTreble: 0 -> -7\n"
                                           "mode-a.keyIndex: 0 -> #+2\n"
                                           "mode-b.musicVolMax: 58 -> 20\n"
                                           "mode-b.musicVolume: 25 -> 20\n");
    EXPECT_EQ(set.out, changes);
    const ConfigRecord changed = recordOf(a);
    EXPECT_EQ(changed.preset(3).micTreble, 3);
    EXPECT_EQ(changed.mode(6).musicVolume, 20);

    const CfgRun json = cfg({QStringLiteral("show"), a, QStringLiteral("--json")});
    ASSERT_EQ(json.status, 0);
    const QJsonArray slotList = QJsonDocument::fromJson(json.out.toUtf8())["slots"].toArray();
    ASSERT_EQ(slotList.size(), kSlotCount);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const QJsonObject s = slotList[slot].toObject();
        EXPECT_EQ(s["slot"].toString(), slotKey(slot));
        const QJsonArray parameters = s["parameters"].toArray();
        ASSERT_EQ(parameters.size(), static_cast<qsizetype>(slotParameters(slot).size()));
        for (const QJsonValue& v : parameters) {
            const Parameter& p = *findParameterByKey(v["id"].toString().toStdString());
            EXPECT_EQ(v["stored"].toInt(), p.field.get(changed, slot)) << p.key;
            EXPECT_EQ(v["shown"].toVariant().toString(), shownText(changed, slot, p)) << p.key;
        }
    }
    const CfgRun one =
        cfg({QStringLiteral("show"), a, QStringLiteral("--slot"), QStringLiteral("3")});
    EXPECT_EQ(one.out.count('\n'), 2 + 16);
    EXPECT_TRUE(one.out.contains(QRegularExpression("\\n3\\.micTreble +Mic Treble +-7 +3\\n")))
        << one.out.toStdString();

    const CfgRun diff = cfg({QStringLiteral("diff"), b, a});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out.count('\n'), 5);
    EXPECT_TRUE(diff.out.contains(QStringLiteral("mode-a.keyIndex (Key): 0 -> #+2\n")));
    const CfgRun same = cfg({QStringLiteral("diff"), a, a});
    EXPECT_EQ(same.status, 0);
    EXPECT_TRUE(same.out.isEmpty());

    const CfgRun sheet = cfg({QStringLiteral("sheet"), a, QStringLiteral("-o"),
                              dir.filePath(QStringLiteral("a.pdf")), QStringLiteral("--date"),
                              QStringLiteral("2026-12-08")});
    EXPECT_EQ(sheet.status, 0) << sheet.err.toStdString();
    EXPECT_TRUE(sheet.out.endsWith(QStringLiteral("a.pdf: 1 page\n")));
    EXPECT_TRUE(bytesOf(dir.filePath(QStringLiteral("a.pdf"))).startsWith("%PDF-"));
}

// Bytes no parameter shows (markers, the unit's free bits, the copies in a mode
// record, the mode records of slots 1 to 4) still make two files differ.
TEST_F(CfgTool, DiffTellsEveryOtherByteThatDiffers) {
    QByteArray bytes = bytesOf(b);
    bytes[2 * 17] = 0;                      // slot 2's marker
    bytes[119 + 1] = bytes[119 + 1] ^ 0x80; // default's input byte: a free bit
    bytes[119 + 5 * 25 + 10] = 99;          // mode-a's copy of musicBass
    bytes[119 + 1 * 25 + 6] = 7;            // slot 1 has a mode record nobody edits
    QFile f(b);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const CfgRun diff = cfg({QStringLiteral("diff"), a, b});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out,
              QStringLiteral("byte 34 (2 effect preset: marker): 0x55 -> 0x00\n"
                             "byte 120 (default mode record: inputSource, fbExCopy and free bits "
                             "5-7): 0x04 -> 0x84\n"
                             "byte 150 (1 mode record: musicVolume): 0x00 -> 0x07\n"
                             "byte 254 (mode-a mode record: copy of musicBass): 0x0a -> 0x63\n"));
}

// What diff calls a byte no parameter accounts for, at offsets of every kind: the
// markers, the packed bytes with their free bits, the unit's own byte, the copies,
// and the parameters' bytes in the mode records of slots 1 to 4, first to last slot.
TEST_F(CfgTool, DiffNamesEveryOtherByteByItsPlaceInTheRecord) {
    const struct {
        int offset;
        std::uint8_t flip; // bits that no parameter of the slot shows
        const char* place;
    } places[] = {
        {0, 0xFF, "default effect preset: marker"},
        {102, 0x01, "mode-b effect preset: marker"},
        {119, 0xFF, "default mode record: marker"},
        {120, 0x08, "default mode record: inputSource, fbExCopy and free bits 5-7"},
        {121, 0x40, "default mode record: musicIn, center, aux and free bits 6-7"},
        {122, 0x01, "default mode record: keyCopy"},
        {124, 0x80, "default mode record: byte 5"},
        {129, 0x01, "default mode record: copy of musicBass"},
        {141, 0x01, "default mode record: copy of swFreq"},
        {143, 0x01, "default mode record: effectVolumeCopy"},
        {145, 0x01, "1 mode record: inputSource, fbExCopy and free bits 5-7"},
        {148, 0x01, "1 mode record: swVol1"},
        {153, 0x01, "1 mode record: micVolMax"},
        {171, 0x08, "2 mode record: musicIn, center, aux and free bits 6-7"},
        {217, 0x01, "3 mode record: swVol2"},
        {226, 0x01, "4 mode record: musicVolMax"},
        {260, 0x01, "mode-a mode record: copy of echoLevel"},
        {268, 0x01, "mode-a mode record: effectVolumeCopy"},
        {270, 0x20, "mode-b mode record: inputSource, fbExCopy and free bits 5-7"},
        {293, 0x01, "mode-b mode record: effectVolumeCopy"},
    };
    const QByteArray before = bytesOf(a);
    QByteArray after = before;
    QString expected;
    for (const auto& p : places) {
        const auto old = static_cast<std::uint8_t>(before[p.offset]);
        const auto changed = static_cast<std::uint8_t>(old ^ p.flip);
        after[p.offset] = static_cast<char>(changed);
        expected += QStringLiteral("byte %1 (%2): 0x%3 -> 0x%4\n")
                        .arg(p.offset)
                        .arg(QLatin1String(p.place))
                        .arg(old, 2, 16, QLatin1Char('0'))
                        .arg(changed, 2, 16, QLatin1Char('0'));
    }
    QFile f(b);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(after);
    f.close();
    const CfgRun diff = cfg({QStringLiteral("diff"), a, b});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(diff.out, expected);
}

// Each bad input is one line (and a pointer to --help when it was not understood),
// with the right status, and no file is changed.
TEST_F(CfgTool, BadInputIsOneLineAndChangesNothing) {
    const QString missing = dir.filePath(QStringLiteral("missing.cfg"));
    struct Case {
        QStringList args;
        int status;
        QString firstLine;
    };
    const QString tty = dir.filePath(QStringLiteral("no-tty"));
    const QString fifo = dir.filePath(QStringLiteral("pipe.cfg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Assignments from a file: bounded in bytes, and in number together with those
    // of the command line.
    const auto written = [&](const char* name, const QByteArray& text) {
        const QString path = dir.filePath(QLatin1String(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        return path;
    };
    const QString big = written("big.txt", QByteArray(1024 * 1024 + 1, '\n'));
    const QString many = written("many.txt", QByteArray("default.echoDelay=100\n").repeated(1001));
    const QString half = written("half.txt", QByteArray("default.echoDelay=100\n").repeated(600));
    const QString bad =
        written("bad.txt", "# ok\n\n  default.echoDelay=100\ndefault.echoDelay=300\n");
    const QString made = dir.filePath("made.cfg"); // never made
    const QString shortFile = written("short.cfg", "0123456789");
    const QStringList blend{"blend", a, "default", b, "1"};
    const QStringList randomize{"randomize", a, "3", "--amount"};
    const std::vector<Case> cases = {
        // Read without waiting, and only a regular file is a preset file.
        {{"show", fifo}, 1, "cantavel-cfg: " + fifo + ": Not a regular file (a FIFO)"},
        {{"set", "/dev/zero", "default.echoDelay=100"},
         1,
         "cantavel-cfg: /dev/zero: Not a regular file (a character device)"},
        {{"set", a, "default.echoDelay=300"},
         1,
         "cantavel-cfg: default.echoDelay=300: 300 is out of range: 2 to 247; nothing was "
         "changed"},
        {{"set", a, "default.echoDelay=99999999999"},
         1,
         "cantavel-cfg: default.echoDelay=99999999999: 99999999999 is out of range: 2 to 247; "
         "nothing was changed"},
        // What the user gave is told on the message's one line, control characters
        // and all.
        {{"set", a, "default.echoDelay=1\n00"},
         1,
         "cantavel-cfg: default.echoDelay=1\\x0a00: '1\\x0a00' is not a whole number; nothing was "
         "changed"},
        {{"show", missing + "\n\x1b[2J"},
         1,
         "cantavel-cfg: " + missing + "\\x0a\\x1b[2J: No such file or directory"},
        {{"set", a, "default.echoDelay=1e2"},
         1,
         "cantavel-cfg: default.echoDelay=1e2: '1e2' is not a whole number; nothing was changed"},
        {QStringList{"set", a} + QStringList(1000, "0.x=1"), 2,
         "cantavel-cfg: set takes at most 1000 arguments"},
        {{"set", a, "--from", big},
         1,
         "cantavel-cfg: " + big + " is longer than 1 MiB; nothing was changed"},
        {{"set", a, "--from", many},
         2,
         "cantavel-cfg: set takes at most 1000 assignments, --from's included"},
        {QStringList{"set", a, "--from", half} + QStringList(401, "0.echoDelay=5"), 2,
         "cantavel-cfg: set takes at most 1000 assignments, --from's included"},
        {{"set", a, "--from", "/dev/zero"},
         1,
         "cantavel-cfg: /dev/zero: Not a regular file (a character device)"},
        {{"set", a, "--from", fifo},
         2,
         "cantavel-cfg: no assignments in " + fifo + " nor after it"},
        {{"set", a, "--from", bad, "default.echoDelay=120"},
         1,
         "cantavel-cfg: default.echoDelay=300: 300 is out of range: 2 to 247; nothing was "
         "changed"},
        {{"set", a, "default.echoDelay=100", "mode-a.frob=1"},
         1,
         "cantavel-cfg: mode-a.frob=1: no parameter 'frob' (see 'cantavel-cfg params'); nothing "
         "was changed"},
        {{"set", a, "9.echoDelay=100"},
         1,
         "cantavel-cfg: 9.echoDelay=100: no slot '9': default, "
         "1 to 4, mode-a or mode-b (or 0 to 6); nothing was "
         "changed"},
        {{"set", a, "2.musicVolume=3"}, 1, ""},
        {{"set", a, "echoDelay=100"},
         2,
         "cantavel-cfg: 'echoDelay=100' is not "
         "SLOT.PARAMETER=VALUE"},
        {{"set", a}, 2, "cantavel-cfg: set wants FILE SLOT.PARAMETER=VALUE..."},
        {{"new", a}, 1, "cantavel-cfg: " + a + " exists; give --force to overwrite it"},
        {{"show", missing}, 1, "cantavel-cfg: " + missing + ": No such file or directory"},
        {{"show", a, "--slot", "mode-c"}, 2, ""},
        {{"show", a, "--colour"}, 2, "cantavel-cfg: Unknown option 'colour'."},
        {{"diff", a, missing}, 2, "cantavel-cfg: " + missing + ": No such file or directory"},
        {{"frob"}, 2, "cantavel-cfg: no command 'frob'"},
        {{}, 2, "cantavel-cfg: no command given"},
        {{"upload", a, "--port", tty, "--all"}, 1, ""},
        {{"upload", a, "--all"}, 2, "cantavel-cfg: give the port with --port"},
        {{"upload", a, "--port", tty}, 2, "cantavel-cfg: give either --slot or --all"},
        {{"sheet", a}, 2, "cantavel-cfg: give the PDF to write with -o"},
        {{"sheet", a, "-o", dir.filePath("x.pdf"), "--date", "8.12.2026"}, 2, ""},
        {{"sheet", a, "-o", dir.filePath("x.pdf"), "--date", "2026-12-08T25:99"}, 2, ""},
        {{"sheet", a, "-o", ""}, 2, "cantavel-cfg: give the PDF to write with -o"},
        {{"sheet", a, "-o", dir.path(), "--force"},
         1,
         "cantavel-cfg: " + dir.path() + " is a folder; give -o a file"},
        {blend + QStringList{"--at", "101", "-o", made}, 2,
         "cantavel-cfg: --at 101: the blend must be 0 to 100 %"},
        {blend + QStringList{"--at", "-1", "-o", made}, 2,
         "cantavel-cfg: --at -1: the blend must be 0 to 100 %"},
        {blend + QStringList{"--at", "abc", "-o", made}, 2,
         "cantavel-cfg: --at abc: the blend must be 0 to 100 %"},
        {blend + QStringList{"--at", "50"}, 2,
         "cantavel-cfg: give the preset file to write with -o"},
        {{"blend", a, "mode-c", b, "1", "--at", "50", "-o", made}, 2, ""},
        {{"blend", a, "default", fifo, "1", "--at", "50", "-o", made},
         1,
         "cantavel-cfg: " + fifo + ": Not a regular file (a FIFO)"},
        {blend + QStringList{"--at", "50", "-o", b}, 1,
         "cantavel-cfg: " + b + " exists; give --force to overwrite it"},
        {randomize + QStringList{"4"}, 2,
         "cantavel-cfg: --amount 4: the amount must be 5 to 100 %"},
        {randomize + QStringList{"101"}, 2,
         "cantavel-cfg: --amount 101: the amount must be 5 to 100 %"},
        {randomize + QStringList{"50", "--seed", "4294967296"}, 2,
         "cantavel-cfg: --seed 4294967296: a seed is a whole number 0 to 4294967295"},
        {randomize + QStringList{"50", "--seed", "-1"}, 2,
         "cantavel-cfg: --seed -1: a seed is a whole number 0 to 4294967295"},
        {randomize + QStringList{"50", "--groups", "echo,levels"}, 2,
         "cantavel-cfg: the levels are locked; give --unlock-levels to let them change"},
        {randomize + QStringList{"50", "--groups", "echo,frob", "--unlock-levels"}, 2,
         "cantavel-cfg: 'frob' is not a group: music-tone, mic-tone, echo, reverb, key, switches, "
         "levels"},
        {{"randomize", "/dev/zero", "3", "--amount", "50"},
         1,
         "cantavel-cfg: /dev/zero: Not a regular file (a character device)"},
        {{"randomize", shortFile, "3", "--amount", "50"},
         1,
         "cantavel-cfg: " + shortFile + " is 10 bytes, not a preset file; nothing was changed"},
    };
    const QByteArray before = bytesOf(a);
    for (const Case& c : cases) {
        const std::string what = c.args.join(' ').toStdString();
        const CfgRun r = cfg(c.args, {.standardOutput = {}, .timeoutMs = 20000});
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_TRUE(r.out.isEmpty()) << what;
        if (!c.firstLine.isEmpty()) {
            EXPECT_EQ(r.errLines.value(0), c.firstLine) << what;
        }
        EXPECT_EQ(r.errLines.size(),
                  c.status == 2 && (c.args.isEmpty() || c.args[0] != "diff") ? 2 : 1)
            << what << "\n"
            << r.err.toStdString();
        EXPECT_EQ(bytesOf(a), before) << what;
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("x.pdf")));
    EXPECT_FALSE(QFile::exists(made));
    EXPECT_EQ(bytesOf(shortFile), "0123456789");
    const CfgRun port = cfg({"upload", a, "--port", tty, "--slot", "mode-b"});
    EXPECT_EQ(port.errLines.value(0),
              "cantavel-cfg: Open serial port failure! " + tty + ": No such file or directory")
        << port.err.toStdString();
}

// The text Copy Slot puts on the clipboard, and `show --assignments` writes, read back
// by `set --from` from standard input or a file: every slot of a record of any bytes
// shows again the values it showed, and the command line's assignments come after.
TEST_F(CfgTool, AssignmentsFromStandardInputOrAFileGiveBackTheValuesShown) {
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> byte(0, 255);
    ConfigRecord source{};
    for (std::uint8_t& b : source.image()) {
        b = static_cast<std::uint8_t>(byte(random));
    }
    const QString sourceFile = dir.filePath(QStringLiteral("source.cfg"));
    ASSERT_TRUE(saveConfigFile(sourceFile, source));
    QString text;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        text += slotAssignments(source, slot);
    }
    const CfgRun show = cfg({QStringLiteral("show"), sourceFile, QStringLiteral("--assignments")});
    EXPECT_EQ(show.out, text);
    const QString textFile = dir.filePath(QStringLiteral("slots.txt"));
    QFile f(textFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# every slot\n\n" + text.toUtf8());
    f.close();

    for (const bool fromStandardInput : {true, false}) {
        SCOPED_TRACE(fromStandardInput ? "standard input" : "a file");
        ASSERT_EQ(cfg({QStringLiteral("new"), b, QStringLiteral("--force")}).status, 0);
        QProcess set;
        set.start(QStringLiteral(CANTAVEL_CFG_PATH),
                  {QStringLiteral("set"), b, QStringLiteral("--from"),
                   fromStandardInput ? QStringLiteral("-") : textFile,
                   QStringLiteral("mode-b.echoDelay=3")});
        ASSERT_TRUE(set.waitForStarted());
        if (fromStandardInput) {
            set.write(text.toUtf8());
        }
        set.closeWriteChannel();
        ASSERT_TRUE(set.waitForFinished(20000));
        ASSERT_EQ(set.exitCode(), 0) << set.readAllStandardError().toStdString();
        const ConfigRecord result = recordOf(b);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (const Parameter* p : slotParameters(slot)) {
                const QString shown = shownText(source, slot, *p);
                if (slot == 6 && p->id == ParameterId::EchoDelay) {
                    EXPECT_EQ(shownText(result, slot, *p), QStringLiteral("3")) << "the last word";
                } else if (!shown.isEmpty()) { // a list that shows no item is not in the text
                    EXPECT_EQ(shownText(result, slot, *p), shown) << slot << "." << p->key;
                }
            }
        }
    }
}

// A port the user may not open: the reason, and what cures it.
TEST_F(CfgTool, APortRefusedForPermissionSaysHowToGetIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop to an unprivileged user";
    }
    const QString tty = dir.filePath(QStringLiteral("ttyLOCKED"));
    const QString err = dir.filePath(QStringLiteral("err.txt"));
    for (const QString& file : {tty, err}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::setPermissions(tty, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(err, QFileDevice::WriteOther | QFileDevice::ReadOwner));
    ASSERT_TRUE(QFile::setPermissions(a, QFileDevice::ReadOther | QFileDevice::ReadOwner));
    // A copy of the program where the other user can reach it: a build folder may
    // lie in a private one (a clone made in `mktemp -d`).
    const QString copy = dir.filePath(QStringLiteral("cantavel-cfg"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(CANTAVEL_CFG_PATH), copy));
    testing::makeTraversable(dir.path());
    const QByteArray program = QFile::encodeName(copy);
    const QByteArray file = QFile::encodeName(a);
    const QByteArray port = QFile::encodeName(tty);
    const QByteArray errors = QFile::encodeName(err);
    // The other user keeps the home of this one, where it may not look for the
    // editor's settings (it would say so): a configuration folder of its own, set
    // before the fork, where only async-signal-safe calls may follow.
    std::vector<QByteArray> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!QByteArray(*e).startsWith("XDG_CONFIG_HOME=")) {
            environment.emplace_back(*e);
        }
    }
    environment.push_back("XDG_CONFIG_HOME=" +
                          QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    std::vector<char*> envp;
    for (QByteArray& setting : environment) {
        envp.push_back(setting.data());
    }
    envp.push_back(nullptr);
    const int status = testing::runUnprivileged([&] {
        const int fd = ::open(errors.constData(), O_WRONLY | O_TRUNC);
        if (fd < 0 || ::dup2(fd, 2) < 0) {
            return 125;
        }
        ::execle(program.constData(), "cantavel-cfg", "upload", file.constData(), "--port",
                 port.constData(), "--all", static_cast<char*>(nullptr), envp.data());
        return 127;
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(bytesOf(err), "cantavel-cfg: Open serial port failure! " + port +
                                ": Permission denied. Your user must be allowed to use serial "
                                "devices (on Debian, a member of the group \"dialout\").\n");
}

// A port name means what it means to the editor beside the program, wherever that
// editor keeps its settings: in the user's folder once installed (whatever the
// prefix), beside itself in a portable copy.
TEST_F(CfgTool, PortNamesComeFromTheEditorsSettingsWhereverItKeepsThem) {
    const auto writeFile = [](const QString& path, const QByteArray& text) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(text), text.size());
    };
    const QString config = dir.filePath(QStringLiteral("config"));
    const QString fromConfig = dir.filePath(QStringLiteral("ttyFROM-CONFIG"));
    writeFile(config + QStringLiteral("/Varnholt/Cantavel/cantavel.ini"),
              "[Ports]\nCOM7=" + QFile::encodeName(fromConfig) + '\n');
    struct Case {
        const char* folder;
        bool portable; // a cantavel.ini beside the program
    };
    for (const Case& c : {Case{"home/.local/bin", false}, Case{"opt/cantavel/bin", false},
                          Case{"usb-stick", true}}) {
        const QString folder = dir.filePath(QString::fromUtf8(c.folder));
        const QString copy = folder + QStringLiteral("/cantavel-cfg");
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(QStringLiteral(CANTAVEL_CFG_PATH), copy));
        const QString fromCopy = folder + QStringLiteral("/ttyFROM-COPY");
        if (c.portable) {
            writeFile(folder + QStringLiteral("/cantavel.ini"),
                      "[Ports]\nCOM7=" + QFile::encodeName(fromCopy) + '\n');
        }
        const CfgRun r = testing::runTool(copy,
                                          {QStringLiteral("upload"), a, QStringLiteral("--port"),
                                           QStringLiteral("COM7"), QStringLiteral("--all")},
                                          {QStringLiteral("cantavel-cfg:")},
                                          {.standardOutput = {}, .timeoutMs = 20000},
                                          {QStringLiteral("XDG_CONFIG_HOME=") + config});
        EXPECT_EQ(r.status, 1) << c.folder;
        EXPECT_EQ(
            r.err.toStdString(),
            QStringLiteral("cantavel-cfg: Open serial port failure! COM7 (%1): No such file or "
                           "directory\n")
                .arg(c.portable ? fromCopy : fromConfig)
                .toStdString())
            << c.folder;
    }
}

// Starts cantavel-cfg upload of `file` to the pty's port: --all, or one slot.
void upload(QProcess& p, const QString& file, const testing::Pty& line, const QString& slot = {}) {
    QStringList args{QStringLiteral("upload"), file, QStringLiteral("--port"), line.slavePath()};
    args << (slot.isEmpty() ? QStringList{QStringLiteral("--all")}
                            : QStringList{QStringLiteral("--slot"), slot});
    p.start(QStringLiteral(CANTAVEL_CFG_PATH), args);
}

// The first frame of an upload (Default's, 27 bytes), as it reaches the line.
QByteArray firstFrame(testing::Pty& line) {
    // Until the program opens its end the master reads nothing but errors: ask again.
    QByteArray first;
    for (int i = 0; i < 250 && first.size() < 27; ++i) {
        first += line.read(27 - static_cast<int>(first.size()), std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return first;
}

// The port is held with the unit's line settings, as the editor holds it: an XOFF
// from the unit's side stops nothing, and the slot reported sent arrived. (One slot
// is enough: --all sends on the same line, and its seven frames are checked against
// the editor's in the editor's tests.)
TEST_F(CfgTool, UploadHoldsTheUnitsLineAndAnXoffStopsNothing) {
    testing::Pty line;
    ASSERT_TRUE(line.valid());
    QProcess p;
    upload(p, a, line, QStringLiteral("default"));
    // The frame follows a second after the port opened: the XOFF comes before it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!line.unitLineMismatch().isEmpty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(line.unitLineMismatch().toStdString(), "");
    ASSERT_TRUE(line.write(QByteArray(1, '\x13')));
    EXPECT_EQ(line.read(27, std::chrono::seconds(10)).size(), 27) << "the frame after the XOFF";
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput(), "sent Default (27 bytes)\n");
}

// A line that goes away mid-upload (an adapter pulled out), or an interrupt, ends
// it at once: the slots that left are said as they left, and the rest are named.
// The three run side by side, each on a line of its own.
TEST_F(CfgTool, ALostLineOrAnInterruptEndsTheUploadAndNamesWhatDidNotArrive) {
    struct Case {
        int signal; // 0: the line is pulled out
        int status;
        const char* why;
        testing::Pty line{};
        QProcess p{};
        QByteArray out{};
    };
    Case cases[] = {{0, 1, "the connection to the unit was lost (%1); "},
                    {SIGINT, 130, "interrupted (SIGINT); "},
                    {SIGTERM, 143, "interrupted (SIGTERM); "}};
    for (Case& c : cases) {
        ASSERT_TRUE(c.line.valid());
        upload(c.p, a, c.line);
    }
    for (Case& c : cases) {
        ASSERT_EQ(firstFrame(c.line).size(), 27) << "the first frame";
        // Once the program has said that the first frame left; the next leaves as it
        // says so, the rest half a second apart.
        while (!c.out.contains('\n') && c.p.waitForReadyRead(10000)) {
            c.out += c.p.readAllStandardOutput();
        }
        ASSERT_EQ(c.out.left(c.out.indexOf('\n') + 1), "sent Default (27 bytes)\n") << c.why;
        if (c.signal == 0) {
            c.line.closeMaster();
        } else {
            ::kill(static_cast<pid_t>(c.p.processId()), c.signal);
        }
    }
    for (Case& c : cases) {
        ASSERT_TRUE(c.p.waitForFinished(10000));
        EXPECT_EQ(c.p.exitStatus(), QProcess::NormalExit) << c.why;
        EXPECT_EQ(c.p.exitCode(), c.status) << c.why;
        const QString err = QString::fromUtf8(c.p.readAllStandardError());
        EXPECT_TRUE(err.contains(
            QStringLiteral("cantavel-cfg: ") +
            QString::fromLatin1(c.why).replace(QStringLiteral("%1"), c.line.slavePath())))
            << err.toStdString();
        EXPECT_TRUE(err.contains(
            QStringLiteral("\"4\", \"Mode A\" and \"Mode B\" did not reach the unit\n")))
            << err.toStdString();
    }
}

// A file that is not a whole record is read as File > Open reads it into a new
// record, with one warning giving its length.
TEST_F(CfgTool, AFileOfAnotherLengthIsReadAsOpenReadsItAndReplacedOnlyWithForce) {
    QByteArray bytes = bytesOf(b);
    bytes[7] = 77; // default's echoDelay
    for (const qsizetype length : {qsizetype{10}, qsizetype{300}}) {
        QFile f(b);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray content = length > 294 ? bytes + QByteArray(6, 'x') : bytes.left(length);
        f.write(content);
        f.close();
        const CfgRun show =
            cfg({QStringLiteral("show"), b, QStringLiteral("--slot"), QStringLiteral("default")});
        EXPECT_EQ(show.status, 0);
        ASSERT_EQ(show.errLines.size(), 1);
        EXPECT_TRUE(show.errLines[0].startsWith(
            QStringLiteral("cantavel-cfg: warning: %1 is %2 bytes, not 294; ").arg(b).arg(length)));
        EXPECT_TRUE(show.out.contains(QRegularExpression("default\\.echoDelay +Delay +77 ")));

        // Nor is it sent to the unit unless asked to: a mistyped name would replace
        // the unit's presets.
        const CfgRun upload =
            cfg({QStringLiteral("upload"), b, QStringLiteral("--port"),
                 dir.filePath(QStringLiteral("no-port")), QStringLiteral("--all")});
        EXPECT_EQ(upload.status, 1);
        EXPECT_EQ(
            upload.errLines,
            QStringList{QStringLiteral("cantavel-cfg: %1 is %2 bytes, not a preset file; give "
                                       "--force to upload it as the editor opens it")
                            .arg(b)
                            .arg(length)});

        // 294 bytes written over it would lose the rest: only when asked to.
        const CfgRun refused = cfg({QStringLiteral("set"), b, QStringLiteral("1.echoDelay=9")});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.errLines.size(), 1) << "one line";
        EXPECT_EQ(refused.errLines.value(0),
                  QStringLiteral("cantavel-cfg: %1 is %2 bytes, not a preset file; give --force "
                                 "to replace it with a preset")
                      .arg(b)
                      .arg(length));
        EXPECT_TRUE(refused.out.isEmpty());
        EXPECT_EQ(bytesOf(b), content);
        const CfgRun forced = cfg(
            {QStringLiteral("set"), QStringLiteral("--force"), b, QStringLiteral("1.echoDelay=9")});
        EXPECT_EQ(forced.status, 0);
        EXPECT_EQ(bytesOf(b).size(), 294);
        EXPECT_EQ(recordOf(b).preset(1).echoDelay, 9);
    }
}

// Output is part of the result: a full standard output fails the command, and set
// says what it changed only once the file holds it.
TEST_F(CfgTool, OutputThatCannotBeWrittenOrSaidTooSoonIsAFailure) {
    ASSERT_EQ(cfg({QStringLiteral("set"), b, QStringLiteral("2.micBass=3")}).status, 0);
    for (const QStringList& args :
         {QStringList{"show", a}, QStringList{"--help"}, QStringList{"diff", a, b}}) {
        const CfgRun full = cfg(args, {.standardOutput = QStringLiteral("/dev/full")});
        EXPECT_EQ(full.status, args[0] == "diff" ? 2 : 1) << args.join(' ').toStdString();
        EXPECT_EQ(full.errLines,
                  QStringList{"cantavel-cfg: cannot write the output: No space left on device"});
    }
    testing::FullDisk disk;
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    const QString full = disk.path(QStringLiteral("live.cfg"));
    ASSERT_TRUE(QFile::copy(a, full));
    ASSERT_TRUE(disk.fill());
    const CfgRun r = cfg({QStringLiteral("set"), full, QStringLiteral("default.echoDelay=99")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.isEmpty()) << "nothing said to have changed: " << r.out.toStdString();
    EXPECT_EQ(r.errLines,
              QStringList{"cantavel-cfg: cannot write " + full + ": No space left on device"});
}

// The sheet never takes the place of its own preset, by whatever name it is given,
// and replaces any other file only with --force.
TEST_F(CfgTool, SheetNeverReplacesItsPresetAndOtherFilesOnlyWithForce) {
    const QByteArray preset = bytesOf(a);
    const QString link = dir.filePath(QStringLiteral("link.cfg"));
    const QString hard = dir.filePath(QStringLiteral("hard.cfg"));
    const QString old = dir.filePath(QStringLiteral("old.pdf"));
    ASSERT_TRUE(QFile::link(a, link));
    ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(hard).constData()), 0);
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    const QString itself = QStringLiteral(" itself; give another file to -o");
    const struct {
        QStringList args;
        int status;
        QString err;
    } cases[] = {
        {{a, "-o", a}, 1, "cantavel-cfg: " + a + " is the preset file " + a + itself},
        {{a, "-o", a, "--force"}, 1, "cantavel-cfg: " + a + " is the preset file " + a + itself},
        {{link, "-o", a, "--force"},
         1,
         "cantavel-cfg: " + a + " is the preset file " + link + itself},
        {{a, "-o", hard, "--force"},
         1,
         "cantavel-cfg: " + hard + " is the preset file " + a + itself},
        {{a, "-o", old}, 1, "cantavel-cfg: " + old + " exists; give --force to overwrite it"},
        {{a, "-o", old, "--force"}, 0, QString()},
    };
    for (const auto& c : cases) {
        const CfgRun r = cfg(QStringList{QStringLiteral("sheet")} + c.args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.err.toStdString(), (c.err.isEmpty() ? QString() : c.err + '\n').toStdString())
            << what;
        EXPECT_EQ(bytesOf(a), preset) << what;
    }
    EXPECT_TRUE(bytesOf(old).startsWith("%PDF-")) << "replaced with --force";

    // -o - writes the PDF to standard output on the paper asked for, but never onto
    // the preset itself (appended to it).
    const QString streamed = dir.filePath(QStringLiteral("streamed.pdf"));
    const CfgRun a5 = cfg({QStringLiteral("sheet"), a, QStringLiteral("--paper"),
                           QStringLiteral("a5"), QStringLiteral("-o"), QStringLiteral("-")},
                          {.standardOutput = streamed, .timeoutMs = 30000});
    EXPECT_EQ(a5.status, 0) << a5.err.toStdString();
    EXPECT_TRUE(a5.err.isEmpty()) << a5.err.toStdString();
    EXPECT_TRUE(testing::runPoppler(QStringLiteral("pdfinfo"), {streamed})
                    .contains(QStringLiteral("(A5)")));
    QProcess append;
    append.setStandardOutputFile(a, QIODevice::Append);
    append.start(QStringLiteral(CANTAVEL_CFG_PATH),
                 {QStringLiteral("sheet"), a, QStringLiteral("-o"), QStringLiteral("-")});
    ASSERT_TRUE(append.waitForFinished(30000));
    EXPECT_EQ(append.exitCode(), 1);
    EXPECT_EQ(bytesOf(a), preset);
    // A name for standard output is written as standard output: the page count is
    // not among the PDF's bytes.
    QProcess named;
    named.setStandardOutputFile(streamed);
    named.start(QStringLiteral(CANTAVEL_CFG_PATH),
                {QStringLiteral("sheet"), a, QStringLiteral("-o"), QStringLiteral("/dev/stdout")});
    ASSERT_TRUE(named.waitForFinished(30000));
    EXPECT_EQ(named.exitCode(), 0);
    EXPECT_TRUE(bytesOf(streamed).endsWith("%%EOF\n"));
    // A closed standard output is a failure, and no file opened later takes its place.
    QProcess closed;
    closed.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("\"$0\" sheet \"$1\" -o - >&-"),
                  QStringLiteral(CANTAVEL_CFG_PATH), a});
    ASSERT_TRUE(closed.waitForFinished(30000));
    EXPECT_EQ(closed.exitCode(), 1);
    EXPECT_EQ(closed.readAllStandardError().toStdString(),
              "cantavel-cfg: cannot write standard output: Bad file descriptor\n");

    // Whatever platform the environment names, even one without its display, the
    // sheet is made and nothing is said on standard error.
    for (const char* platform : {"xcb", "minimal", "nonesuch"}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLatin1(platform));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CANTAVEL_CFG_PATH),
                {QStringLiteral("sheet"), a, QStringLiteral("-o"), old, QStringLiteral("--force")});
        ASSERT_TRUE(p.waitForFinished(30000)) << platform;
        EXPECT_EQ(p.exitCode(), 0) << platform;
        EXPECT_EQ(p.readAllStandardError().toStdString(), "") << platform;
        EXPECT_EQ(p.readAllStandardOutput(), QFile::encodeName(old) + ": 1 page\n") << platform;
    }
}

// Every help text lists its arguments each with what it is, and every example in
// it runs as it stands: in a folder with live.cfg and backup.cfg, a unit on the
// port it names, and nothing said on standard error.
TEST_F(CfgTool, EveryHelpTextsExamplesRun) {
    const CfgRun overview = cfg({QStringLiteral("--help")});
    ASSERT_EQ(overview.status, 0);
    const CfgRun version = cfg({QStringLiteral("--version")});
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("cantavel-cfg 1.")))
        << version.out.toStdString();
    EXPECT_EQ(cfg({QStringLiteral("-v")}).out, version.out) << "as the editor and cantavel-print";
    QStringList texts{overview.out};
    const QString listed =
        overview.out.section(QStringLiteral("Commands:\n"), 1).section("\n\n", 0, 0);
    for (const QString& line : listed.split('\n', Qt::SkipEmptyParts)) {
        const QString command = line.simplified().section(' ', 0, 0);
        const CfgRun help = cfg({command, QStringLiteral("--help")});
        EXPECT_EQ(help.status, 0) << command.toStdString();
        EXPECT_TRUE(help.out.startsWith("Usage: cantavel-cfg " + command + " [options]"))
            << help.out.toStdString();
        const QString arguments =
            help.out.section(QStringLiteral("Arguments:\n"), 1).section("\n\n", 0, 0);
        for (const QString& entry : arguments.split('\n', Qt::SkipEmptyParts)) {
            if (!entry.startsWith(QStringLiteral("   "))) { // not a continued description
                EXPECT_GE(entry.simplified().count(' '), 1)
                    << command.toStdString()
                    << ": an argument without a description: " << entry.toStdString();
            }
        }
        texts << help.out;
    }
    EXPECT_GE(texts.size(), 8) << "the overview and seven commands";

    // Each example in a folder of its own, with a unit of its own; all at once, so that
    // the uploads' pauses pass side by side.
    ASSERT_EQ(cfg({QStringLiteral("set"), b, QStringLiteral("default.echoDelay=99")}).status, 0);
    struct Example {
        QString line;
        QTemporaryDir work;
        testing::Pty unit;
        QProcess sh;
    };
    std::vector<std::unique_ptr<Example>> examples;
    for (const QString& text : texts) {
        const QString block = text.section(QStringLiteral("Examples:\n"), 1);
        for (const QString& line : block.split('\n', Qt::SkipEmptyParts)) {
            auto& example = examples.emplace_back(std::make_unique<Example>());
            example->line = line.trimmed();
            ASSERT_TRUE(example->line.startsWith(QStringLiteral("cantavel-cfg ")))
                << line.toStdString();
            const QTemporaryDir& work = example->work;
            ASSERT_TRUE(QFile::copy(a, work.filePath(QStringLiteral("live.cfg"))));
            ASSERT_TRUE(QFile::copy(b, work.filePath(QStringLiteral("backup.cfg"))));
            ASSERT_TRUE(example->unit.valid());
            QString command = example->line;
            command.replace(QStringLiteral("/dev/ttyUSB0"), example->unit.slavePath());
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(CANTAVEL_CFG_PATH)).path() +
                                                   ':' + env.value(QStringLiteral("PATH")));
            env.insert(QStringLiteral("HOME"), work.path());
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            env.remove(QStringLiteral("XDG_DATA_HOME")); // the library's, under HOME
            example->sh.setProcessEnvironment(env);
            example->sh.setWorkingDirectory(work.path());
            example->sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        }
    }
    for (const auto& example : examples) {
        const std::string line = example->line.toStdString();
        ASSERT_TRUE(example->sh.waitForFinished(30000)) << line;
        const int allowed = example->line.startsWith(QStringLiteral("cantavel-cfg diff")) ? 1 : 0;
        EXPECT_EQ(example->sh.exitCode(), allowed) << line;
        EXPECT_EQ(example->sh.readAllStandardError().toStdString(), "") << line;
    }
    const auto examplesRun = examples.size();
    EXPECT_GE(examplesRun, 12u);
}

// The parameters whose stored values differ between two records, in all slots.
int differences(const ConfigRecord& x, const ConfigRecord& y) {
    int n = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            n += p->field.get(x, slot) != p->field.get(y, slot) ? 1 : 0;
        }
    }
    return n;
}

// blend writes A with its slot as the preset document takes the blend, a line for each
// value that changed; at 0 % A's bytes exactly, whatever they hold. A mode slot blended
// towards slot 1 to 4 keeps its whole mode record, and a note says why. A file that is
// there is replaced only with --force.
TEST_F(CfgTool, BlendWritesWhatTheDocumentMakesOfTheBlend) {
    std::mt19937 random(1208);
    ConfigRecord first{};
    ConfigRecord second{};
    for (ConfigRecord* r : {&first, &second}) {
        for (std::uint8_t& byte : r->image()) {
            byte = static_cast<std::uint8_t>(random());
        }
    }
    ASSERT_TRUE(saveConfigFile(a, first));
    ASSERT_TRUE(saveConfigFile(b, second));
    const QString out = dir.filePath(QStringLiteral("out.cfg"));
    const struct {
        const char* slotA;
        bool fromA; // B is A's file
        const char* slotB;
        int percent;
    } cases[] = {
        {"default", false, "mode-b", 0}, {"Mode A", false, "0", 37}, {"3", true, "1", 50},
        {"mode-b", false, "2", 100},     {"2", false, "mode-a", 63},
    };
    for (const auto& c : cases) {
        const QString fileB = c.fromA ? a : b;
        const QString percent = QString::number(c.percent);
        const std::string what = std::string(c.slotA) + " " + c.slotB + " " + percent.toStdString();
        const CfgRun r = cfg({QStringLiteral("blend"), a, QLatin1String(c.slotA), fileB,
                              QLatin1String(c.slotB), QStringLiteral("--at"), percent,
                              QStringLiteral("-o"), out, QStringLiteral("--force")});
        ASSERT_EQ(r.status, 0) << what << ": " << r.err.toStdString();
        const int slotA = slotFromName(QString::fromLatin1(c.slotA));
        const int slotB = slotFromName(QString::fromLatin1(c.slotB));
        ConfigRecord expected = first;
        if (c.percent > 0) {
            const SlotChange change =
                blendSlots(first, slotA, c.fromA ? first : second, slotB, c.percent);
            PresetDocument document(expected);
            document.replaceSlot(slotA, change.record, slotA, change.changed);
        }
        EXPECT_EQ(bytesOf(out), bytesOf(expected)) << what;
        EXPECT_EQ(r.out.count('\n'), differences(first, expected)) << what;
        const bool keeps = blendKeepsDefaultSetting(slotA, slotB);
        EXPECT_EQ(r.errLines, keeps ? QStringList{"cantavel-cfg: note: " + slotOfFile(a, slotA) +
                                                  " keeps its Default Setting; " +
                                                  slotOfFile(fileB, slotB) + " has none"}
                                    : QStringList{})
            << what;
        if (keeps) {
            const qsizetype mode = 119 + slotA * 25;
            EXPECT_EQ(bytesOf(out).mid(mode, 25), bytesOf(a).mid(mode, 25)) << what;
        }
    }
    const QByteArray written = bytesOf(out);
    const CfgRun refused =
        cfg({QStringLiteral("blend"), a, QStringLiteral("1"), b, QStringLiteral("1"),
             QStringLiteral("--at"), QStringLiteral("100"), QStringLiteral("-o"), out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.errLines,
              QStringList{"cantavel-cfg: " + out + " exists; give --force to overwrite it"});
    EXPECT_EQ(bytesOf(out), written);
}

// randomize tells the seed first: given, the same file on every run; drawn, the seed
// that makes the run again. The levels keep their bytes unless unlocked; --groups
// changes those groups alone.
TEST_F(CfgTool, RandomizeWithTheSameSeedWritesTheSameFile) {
    const ConfigRecord before = recordOf(a);
    const auto copy = [&](const char* name) {
        const QString path = dir.filePath(QLatin1String(name));
        EXPECT_TRUE(QFile::copy(a, path));
        return path;
    };
    const auto randomize = [](const QString& file, const QStringList& args) {
        return cfg(QStringList{QStringLiteral("randomize"), file} + args);
    };
    const QStringList seeded{"default", "--amount", "60", "--seed", "4294967295"};
    const QString one = copy("one.cfg");
    const QString two = copy("two.cfg");
    const CfgRun first = randomize(one, seeded);
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_EQ(randomize(two, seeded).out, first.out);
    EXPECT_EQ(bytesOf(two), bytesOf(one));
    ConfigRecord expected = before;
    const SlotChange change = randomizeSlot(before, 0, 60, kUnlockedGroups, 4294967295U);
    PresetDocument(expected).replaceSlot(0, change.record, 0, change.changed);
    EXPECT_EQ(bytesOf(one), bytesOf(expected));
    EXPECT_NE(bytesOf(one), bytesOf(a));
    EXPECT_TRUE(first.out.startsWith(QStringLiteral("seed 4294967295\n")));
    EXPECT_EQ(first.out.count('\n'), 1 + differences(before, expected));
    const ConfigRecord locked = recordOf(one);
    for (const ParameterId id :
         {ParameterId::EffectVolume, ParameterId::MusicVolume, ParameterId::MicVolume,
          ParameterId::MusicVolMax, ParameterId::MicVolMax, ParameterId::SwVol1,
          ParameterId::SwVol2}) {
        EXPECT_EQ(parameter(id).field.get(locked, 0), parameter(id).field.get(before, 0))
            << parameter(id).key;
    }

    const QString three = copy("three.cfg");
    const QString four = copy("four.cfg");
    const CfgRun drawn = randomize(three, {"4", "--amount", "30"});
    ASSERT_EQ(drawn.status, 0);
    const QString seed = drawn.out.section('\n', 0, 0).section(' ', 1);
    EXPECT_TRUE(drawn.out.startsWith("seed " + seed + '\n')) << drawn.out.toStdString();
    EXPECT_EQ(randomize(four, {"4", "--amount", "30", "--seed", seed}).out, drawn.out);
    EXPECT_EQ(bytesOf(four), bytesOf(three));

    const QString five = copy("five.cfg");
    const CfgRun levels = randomize(five, {"mode-a", "--amount", "100", "--groups", "LEVELS",
                                           "--unlock-levels", "--seed", "7"});
    ASSERT_EQ(levels.status, 0) << levels.err.toStdString();
    const ConfigRecord unlocked = recordOf(five);
    int moved = 0;
    for (const Parameter* p : slotParameters(5)) {
        const bool level = randomGroupOf(p->id) == RandomGroup::Levels;
        const bool changed = p->field.get(unlocked, 5) != p->field.get(before, 5);
        moved += changed ? 1 : 0;
        EXPECT_TRUE(level || !changed) << p->key;
        if (const Parameter* limit = limitOf(*p)) {
            EXPECT_LE(p->field.get(unlocked, 5), limit->field.get(unlocked, 5)) << p->key;
        }
    }
    EXPECT_GE(moved, 4);
}

} // namespace
} // namespace cantavel
