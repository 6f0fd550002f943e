// cantavel-cfg: preset files from the command line. Makes, shows, compares and
// changes .cfg files, blends and randomizes their slots, uploads them to the unit,
// and prints their sheet to a PDF, with the editor's own record, parameter table and
// Device commands.

#include "ConfigFile.h"
#include "DeviceLink.h"
#include "InputFile.h"
#include "LibraryCommand.h"
#include "OneLine.h"
#include "ParameterValues.h"
#include "PresetDocument.h"
#include "PresetSheet.h"
#include "SerialPort.h"
#include "Settings.h"
#include "SheetPaper.h"
#include "SlotTransfer.h"
#include "SoundTools.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace {

using namespace cantavel;

constexpr int kFailure = 1;
constexpr int kUsage = 2;
constexpr const char* kVersion = CANTAVEL_VERSION;

void say(std::FILE* to, const QString& line) {
    std::fprintf(to, "%s\n", line.toLocal8Bit().constData());
}
int fail(const QString& why, int status = kFailure) {
    say(stderr, QStringLiteral("cantavel-cfg: ") + oneLine(why));
    return status;
}
// What was printed is part of the result: output that could not be written (a full
// disk, a closed pipe) makes a failure of a command that did its work.
// `trouble` is the command's status for a failure (diff's 1 means "different").
int finish(int status, int trouble = kFailure) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        fail(QStringLiteral("cannot write the output: %1").arg(systemReason(error)));
        return std::max(status, trouble);
    }
    return status;
}
// What Qt says on the way (a runtime folder it had to make up, a font it replaced)
// is no news when the sheet is made: it is kept, and told only when it is not.
constexpr int kQtMessagesKept = 20;
QStringList& qtMessages() {
    static QStringList kept;
    return kept;
}
void keepQtMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        say(stderr, QStringLiteral("cantavel-cfg: ") + text);
        std::abort();
    }
    // The runtime folder it makes up is never used here.
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
        return;
    }
    if (qtMessages().size() < kQtMessagesKept) {
        qtMessages() << text;
    }
}
void tellQtMessages() {
    for (const QString& text : qtMessages()) {
        say(stderr, QStringLiteral("cantavel-cfg: Qt: ") + text);
    }
}

int usage(const QString& why, const QString& command = QString()) {
    fail(why);
    say(stderr, QStringLiteral("Try 'cantavel-cfg %1--help'.")
                    .arg(command.isEmpty() ? QString() : command + QLatin1Char(' ')));
    return kUsage;
}

// What a slot may be called, for messages.
const char* const kSlotNames = "default, 1 to 4, mode-a or mode-b (or 0 to 6)";

// The slot a name stands for, or -1 when it names none (the usage error said).
int slotNamed(const QString& name, const QString& command) {
    const int slot = slotFromName(name);
    if (slot < 0) {
        usage(QStringLiteral("no slot '%1': %2").arg(name, QLatin1String(kSlotNames)), command);
    }
    return slot;
}

// The slot an option names, or -1 when it names none (the usage error said).
int slotOption(const QCommandLineParser& parser, const QString& command) {
    return slotNamed(parser.value(QStringLiteral("slot")), command);
}

// The record a file gives, read as File > Open reads it into a new record. Says why
// not when it cannot be read (anything but a regular file is refused), and, with
// warn, when the file is not a whole record. fileSize receives its length.
std::optional<ConfigRecord> readRecord(const QString& path, QString& why,
                                       qint64* fileSize = nullptr, bool warn = true) {
    ConfigRecord record{};
    record.resetToDefaults();
    qint64 size = 0;
    if (const FileResult read = loadConfigFile(path, record, &size); !read) {
        why = QStringLiteral("%1: %2").arg(path, read.reason);
        return std::nullopt;
    }
    if (fileSize) {
        *fileSize = size;
    }
    if (warn && size != static_cast<qint64>(kConfigImageSize)) {
        say(stderr, QStringLiteral("cantavel-cfg: warning: %1 is %2, not %3; %4")
                        .arg(path, presetFileLength(size))
                        .arg(kConfigImageSize)
                        .arg(size >= 0 && size < static_cast<qint64>(kConfigImageSize)
                                 ? QStringLiteral("the rest is the defaults")
                                 : QStringLiteral("the bytes after the record are ignored")));
    }
    return record;
}

// One of a command's arguments: its name in the help's list, what it is, and how
// the usage line writes it (the name when empty).
struct Argument {
    QString name;
    QString description;
    QString syntax;
};

// A command's own options and arguments: parsed, or the usage error said. Its
// examples run as they stand in a folder holding live.cfg and backup.cfg, with a
// unit on /dev/ttyUSB0.
struct Command {
    QString name;
    QString summary;
    std::function<int(QCommandLineParser&)> run;
    QList<Argument> arguments;
    QList<QCommandLineOption> options;
    QStringList examples;
    int minArgs = 1;
    int maxArgs = 1;
};

// ---------------------------------------------------------------------------------
// new

int runNew(QCommandLineParser& parser) {
    const QString path = parser.positionalArguments().first();
    if (!parser.isSet(QStringLiteral("force")) && QFileInfo::exists(path)) {
        return fail(QStringLiteral("%1 exists; give --force to overwrite it").arg(path));
    }
    ConfigRecord record{};
    record.resetToDefaults();
    if (const FileResult saved = saveConfigFile(path, record); !saved) {
        return fail(QStringLiteral("cannot write %1: %2").arg(path, saved.reason));
    }
    return 0;
}

// ---------------------------------------------------------------------------------
// show

QJsonValue shownJson(const ConfigRecord& record, int slot, const Parameter& p) {
    if (p.kind == ControlKind::List) {
        const QString text = shownText(record, slot, p);
        return text.isEmpty() ? QJsonValue() : QJsonValue(text);
    }
    return shownValue(record, slot, p);
}

int runShow(QCommandLineParser& parser) {
    const QString path = parser.positionalArguments().first();
    const bool json = parser.isSet(QStringLiteral("json"));
    const bool assignments = parser.isSet(QStringLiteral("assignments"));
    if (json && assignments) {
        return usage(QStringLiteral("give either --json or --assignments"), QStringLiteral("show"));
    }
    std::vector<int> chosen;
    if (parser.isSet(QStringLiteral("slot"))) {
        const int slot = slotOption(parser, QStringLiteral("show"));
        if (slot < 0) {
            return kUsage;
        }
        chosen.push_back(slot);
    } else {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            chosen.push_back(slot);
        }
    }
    QString why;
    const std::optional<ConfigRecord> record = readRecord(path, why);
    if (!record) {
        return fail(why);
    }
    if (assignments) {
        // What `set --from` reads back: the values as shown, a line each.
        for (const int slot : chosen) {
            std::fputs(slotAssignments(*record, slot).toUtf8().constData(), stdout);
        }
        return 0;
    }
    if (json) {
        QJsonArray slotList;
        for (const int slot : chosen) {
            QJsonArray parameters;
            for (const Parameter* p : slotParameters(slot)) {
                parameters.append(QJsonObject{
                    {QStringLiteral("id"), QLatin1String(p->key)},
                    {QStringLiteral("name"), QLatin1String(p->name)},
                    {QStringLiteral("shown"), shownJson(*record, slot, *p)},
                    {QStringLiteral("stored"), p->field.get(*record, slot)},
                });
            }
            slotList.append(QJsonObject{{QStringLiteral("slot"), slotKey(slot)},
                                        {QStringLiteral("index"), slot},
                                        {QStringLiteral("name"), slotTitle(slot)},
                                        {QStringLiteral("parameters"), parameters}});
        }
        const QJsonObject root{{QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                               {QStringLiteral("slots"), slotList}};
        std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    say(stdout, QStringLiteral("%1 %2 %3 %4")
                    .arg(QStringLiteral("PARAMETER"), -20)
                    .arg(QStringLiteral("NAME"), -14)
                    .arg(QStringLiteral("SHOWN"), -7)
                    .arg(QStringLiteral("STORED")));
    for (const int slot : chosen) {
        say(stdout, QString());
        for (const Parameter* p : slotParameters(slot)) {
            const QString shown = shownText(*record, slot, *p);
            say(stdout, QStringLiteral("%1 %2 %3 %4")
                            .arg(slotKey(slot) + QLatin1Char('.') + QLatin1String(p->key), -20)
                            .arg(QLatin1String(p->name), -14)
                            .arg(shownOrNone(shown), -7)
                            .arg(p->field.get(*record, slot)));
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------
// diff

// The fields of a slot's record that the parameter table does not name: a byte of
// the effect preset or mode record, and the bits of it that the field holds.
struct OtherField {
    std::size_t byte;
    std::uint8_t mask;
    const char* name;
};
constexpr OtherField kPresetOthers[] = {{offsetof(EffectPreset, marker), 0xFF, "marker"}};
constexpr OtherField kModeOthers[] = {
    {offsetof(ModeRecord, marker), 0xFF, "marker"},
    {offsetof(ModeRecord, byte1), ModeRecord::kFbExCopyMask, "fbExCopy"},
    {offsetof(ModeRecord, keyCopy), 0xFF, "keyCopy"},
    {offsetof(ModeRecord, byte5), 0xFF, "byte 5"},
    {offsetof(ModeRecord, effectVolumeCopy), 0xFF, "effectVolumeCopy"},
};

// "free bits 5-7" for each run of bits of a byte that no field holds.
QStringList freeBits(unsigned held) {
    QStringList runs;
    for (int bit = 0; bit < 8;) {
        if (held & (1u << bit)) {
            ++bit;
            continue;
        }
        const int first = bit;
        while (bit < 8 && !(held & (1u << bit))) {
            ++bit;
        }
        runs << (bit - 1 == first ? QStringLiteral("free bit %1").arg(first)
                                  : QStringLiteral("free bits %1-%2").arg(first).arg(bit - 1));
    }
    return runs;
}

// What a byte of the image holds, for the bytes no parameter accounts for: the
// fields on it, lowest bits first, then its free bits. The parameter table names
// its fields and the bytes the mode record copies; the list above names the rest.
QString describeByte(std::size_t offset) {
    const std::size_t modesStart = offsetof(ConfigRecord, modes);
    const bool preset = offset < modesStart;
    const std::size_t partStart = preset ? offsetof(ConfigRecord, presets) : modesStart;
    const std::size_t partSize = preset ? kEffectPresetSize : kModeRecordSize;
    const int slot = static_cast<int>((offset - partStart) / partSize);
    const std::size_t byte = (offset - partStart) % partSize;

    // A byte of the mode record's copy of the effect preset (musicBass on) is named
    // after the byte it copies.
    const std::size_t copyStart = offsetof(ModeRecord, effectCopy);
    const bool copy =
        !preset && byte >= copyStart && byte < copyStart + sizeof(ModeRecord::effectCopy);
    const std::size_t copied = copy ? offsetof(ConfigRecord, presets) +
                                          static_cast<std::size_t>(slot) * kEffectPresetSize +
                                          offsetof(EffectPreset, musicBass) + (byte - copyStart)
                                    : kConfigImageSize; // no byte

    std::vector<std::pair<std::uint8_t, QString>> fields; // mask, name
    for (const Parameter& p : parameterTable()) {
        if (p.field.imageOffset(slot) == offset) {
            fields.emplace_back(p.field.mask, QLatin1String(p.key));
        } else if (p.field.imageOffset(slot) == copied) {
            fields.emplace_back(0xFF, QStringLiteral("copy of %1").arg(QLatin1String(p.key)));
        }
    }
    const std::span<const OtherField> others = preset ? std::span<const OtherField>(kPresetOthers)
                                                      : std::span<const OtherField>(kModeOthers);
    for (const OtherField& f : others) {
        if (f.byte == byte) {
            fields.emplace_back(f.mask, QLatin1String(f.name));
        }
    }
    std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) {
        return ModeRecord::firstBit(a.first) < ModeRecord::firstBit(b.first);
    });
    unsigned held = 0;
    QStringList names;
    for (const auto& [mask, name] : fields) {
        held |= mask;
        names << name;
    }
    names << freeBits(held);
    QString what = names.takeLast();
    if (!names.isEmpty()) {
        what = names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + what;
    }
    return QStringLiteral("%1 %2: %3")
        .arg(slotKey(slot),
             preset ? QStringLiteral("effect preset") : QStringLiteral("mode record"), what);
}

int runDiff(QCommandLineParser& parser) {
    const QStringList files = parser.positionalArguments();
    QString why;
    const std::optional<ConfigRecord> a = readRecord(files[0], why);
    if (!a) {
        return fail(why, kUsage);
    }
    const std::optional<ConfigRecord> b = readRecord(files[1], why);
    if (!b) {
        return fail(why, kUsage);
    }
    // The bits each byte's parameters account for; any other difference is told
    // byte by byte.
    std::array<std::uint8_t, kConfigImageSize> told{};
    bool differ = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            told[p->field.imageOffset(slot)] |= p->field.mask;
            const unsigned before = p->field.get(*a, slot);
            const unsigned after = p->field.get(*b, slot);
            if (before == after) {
                continue;
            }
            differ = true;
            const QString shownBefore = shownText(*a, slot, *p);
            const QString shownAfter = shownText(*b, slot, *p);
            QString line = QStringLiteral("%1.%2 (%3): %4 -> %5")
                               .arg(slotKey(slot), QLatin1String(p->key), QLatin1String(p->name),
                                    shownOrNone(shownBefore), shownOrNone(shownAfter));
            if (shownBefore == shownAfter) {
                line += QStringLiteral(" (stored %1 -> %2)").arg(before).arg(after);
            }
            say(stdout, line);
        }
    }
    for (std::size_t i = 0; i < kConfigImageSize; ++i) {
        const unsigned x = a->image()[i];
        const unsigned y = b->image()[i];
        if (((x ^ y) & ~unsigned{told[i]} & 0xFFu) != 0) {
            differ = true;
            say(stdout, QStringLiteral("byte %1 (%2): 0x%3 -> 0x%4")
                            .arg(i)
                            .arg(describeByte(i))
                            .arg(x, 2, 16, QLatin1Char('0'))
                            .arg(y, 2, 16, QLatin1Char('0')));
        }
    }
    return differ ? 1 : 0;
}

// ---------------------------------------------------------------------------------
// set

// Every value that changed, the volumes that followed their maxima included, a line
// each as the window shows them: told once they are in the file.
void tellChanges(const ConfigRecord& before, const ConfigRecord& after) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            if (p->field.get(before, slot) != p->field.get(after, slot)) {
                say(stdout, QStringLiteral("%1.%2: %3 -> %4")
                                .arg(slotKey(slot), QLatin1String(p->key),
                                     shownText(before, slot, *p), shownText(after, slot, *p)));
            }
        }
    }
}

// What `set` reads besides its arguments: a file of assignments, or standard input.
constexpr qint64 kMaxAssignmentBytes = 1024 * 1024;
constexpr qsizetype kMaxAssignments = 1000;

// What --from names, in messages.
QString inputName(const QString& path) {
    return path == QLatin1String("-") ? QStringLiteral("standard input") : path;
}

// The assignments in `path` ("-" for standard input), one a line: blank lines and
// lines that begin with '#' are skipped, and the space around each is not part of
// it. Nothing when it cannot be read or is too long; `why` then says so.
std::optional<QStringList> assignmentsFrom(const QString& path, QString& why) {
    const bool standardInput = path == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("/dev/stdin") : path;
    const QString shown = inputName(path);
    InputFile input(name, InputFile::Accept::FileOrPipe);
    if (!input) {
        why = QStringLiteral("%1: %2").arg(shown, input.result().reason);
        return std::nullopt;
    }
    QByteArray text;
    if (const FileResult read = input.read(kMaxAssignmentBytes + 1, text); !read) {
        why = QStringLiteral("cannot read %1: %2").arg(shown, read.reason);
        return std::nullopt;
    }
    if (text.size() > kMaxAssignmentBytes) {
        why = QStringLiteral("%1 is longer than 1 MiB; nothing was changed").arg(shown);
        return std::nullopt;
    }
    QStringList assignments;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString assignment = line.trimmed();
        if (!assignment.isEmpty() && !assignment.startsWith(QLatin1Char('#'))) {
            assignments << assignment;
        }
    }
    return assignments;
}

int runSet(QCommandLineParser& parser) {
    QStringList args = parser.positionalArguments();
    const QString path = args.takeFirst();
    if (parser.isSet(QStringLiteral("from"))) {
        QString why;
        const std::optional<QStringList> read =
            assignmentsFrom(parser.value(QStringLiteral("from")), why);
        if (!read) {
            return fail(why);
        }
        args = *read + args;
    }
    if (args.isEmpty()) {
        return usage(parser.isSet(QStringLiteral("from"))
                         ? QStringLiteral("no assignments in %1 nor after it")
                               .arg(inputName(parser.value(QStringLiteral("from"))))
                         : QStringLiteral("set wants FILE SLOT.PARAMETER=VALUE..."),
                     QStringLiteral("set"));
    }
    if (args.size() > kMaxAssignments) {
        return usage(QStringLiteral("set takes at most %1 assignments, --from's included")
                         .arg(kMaxAssignments),
                     QStringLiteral("set"));
    }
    QString why;
    qint64 size = 0;
    std::optional<ConfigRecord> record = readRecord(path, why, &size, false);
    if (!record) {
        return fail(why);
    }
    if (size != static_cast<qint64>(kConfigImageSize) && !parser.isSet(QStringLiteral("force"))) {
        // Writing 294 bytes over it would lose whatever else it holds.
        return fail(QStringLiteral("%1 is %2, not a preset file; give --force to replace it "
                                   "with a preset")
                        .arg(path, presetFileLength(size)));
    }
    const ConfigRecord before = *record;
    PresetDocument document(*record);
    using Kind = AssignmentFault::Kind;
    const AssignmentFault fault = applyAssignments(document, args);
    const QString given = fault.index >= 0 ? args[fault.index] : QString();
    switch (fault.kind) {
    case Kind::None:
        break;
    case Kind::Form:
        return usage(QStringLiteral("'%1' is not SLOT.PARAMETER=VALUE").arg(given),
                     QStringLiteral("set"));
    case Kind::Slot:
        return fail(QStringLiteral("%1: no slot '%2': %3; nothing was changed")
                        .arg(given, fault.assignment.slotName, QLatin1String(kSlotNames)));
    case Kind::Parameter:
        return fail(QStringLiteral("%1: no parameter '%2' (see 'cantavel-cfg params'); "
                                   "nothing was changed")
                        .arg(given, fault.assignment.name));
    case Kind::Value:
    case Kind::Limit:
        return fail(QStringLiteral("%1: %2; nothing was changed").arg(given, fault.why));
    }
    if (const FileResult saved = saveConfigFile(path, *record); !saved) {
        return fail(QStringLiteral("cannot write %1: %2").arg(path, saved.reason));
    }
    tellChanges(before, *record);
    return 0;
}

// ---------------------------------------------------------------------------------
// blend and randomize

// A whole number as an option gives it: decimal digits alone, no sign nor space.
std::optional<qulonglong> wholeNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        })) {
        return std::nullopt;
    }
    bool ok = false;
    const qulonglong n = text.toULongLong(&ok);
    return ok ? std::optional<qulonglong>(n) : std::nullopt;
}

// A percent given to an option, or null when it is no whole number from min to max.
std::optional<int> percentOption(const QCommandLineParser& parser, const QString& name, int min,
                                 int max) {
    const std::optional<qulonglong> n = wholeNumber(parser.value(name));
    if (!n || *n < static_cast<qulonglong>(min) || *n > static_cast<qulonglong>(max)) {
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

// A slot's new values taken as the window takes them, through the document's rules:
// limits first, and only the values that changed. (Given none, the document would
// take every value of the slot, and with it bring the slot's values into range.)
void applyChange(ConfigRecord& record, int slot, const SlotChange& change) {
    if (change.changed.empty()) {
        return;
    }
    PresetDocument document(record);
    document.replaceSlot(slot, change.record, slot, change.changed);
}

int runBlend(QCommandLineParser& parser) {
    const QString command = QStringLiteral("blend");
    const QStringList args = parser.positionalArguments();
    if (!parser.isSet(QStringLiteral("at"))) {
        return usage(QStringLiteral("give how far to blend with --at"), command);
    }
    const std::optional<int> percent =
        percentOption(parser, QStringLiteral("at"), kBlendMin, kBlendMax);
    if (!percent) {
        return usage(
            QStringLiteral("--at %1: %2").arg(parser.value(QStringLiteral("at")), blendRangeText()),
            command);
    }
    const QString out = parser.value(QStringLiteral("output"));
    if (out.isEmpty()) {
        return usage(QStringLiteral("give the preset file to write with -o"), command);
    }
    const int slotA = slotNamed(args[1], command);
    if (slotA < 0) {
        return kUsage;
    }
    const int slotB = slotNamed(args[3], command);
    if (slotB < 0) {
        return kUsage;
    }
    QString why;
    const std::optional<ConfigRecord> a = readRecord(args[0], why);
    if (!a) {
        return fail(why);
    }
    const std::optional<ConfigRecord> b = readRecord(args[2], why);
    if (!b) {
        return fail(why);
    }
    if (!parser.isSet(QStringLiteral("force")) && QFileInfo::exists(out)) {
        return fail(QStringLiteral("%1 exists; give --force to overwrite it").arg(out));
    }
    ConfigRecord record = *a;
    applyChange(record, slotA, blendSlots(*a, slotA, *b, slotB, *percent));
    if (const FileResult saved = saveConfigFile(out, record); !saved) {
        return fail(QStringLiteral("cannot write %1: %2").arg(out, saved.reason));
    }
    if (blendKeepsDefaultSetting(slotA, slotB)) {
        say(stderr, QStringLiteral("cantavel-cfg: ") +
                        oneLine(QStringLiteral("note: %1 keeps its Default Setting; %2 has none")
                                    .arg(slotOfFile(args[0], slotA), slotOfFile(args[2], slotB))));
    }
    tellChanges(*a, record);
    return 0;
}

int runRandomize(QCommandLineParser& parser) {
    const QString command = QStringLiteral("randomize");
    const QStringList args = parser.positionalArguments();
    const QString path = args[0];
    if (!parser.isSet(QStringLiteral("amount"))) {
        return usage(QStringLiteral("give how far values may move with --amount"), command);
    }
    const std::optional<int> amount =
        percentOption(parser, QStringLiteral("amount"), kAmountMin, kAmountMax);
    if (!amount) {
        return usage(QStringLiteral("--amount %1: %2")
                         .arg(parser.value(QStringLiteral("amount")), amountRangeText()),
                     command);
    }
    std::optional<std::uint32_t> seed;
    if (parser.isSet(QStringLiteral("seed"))) {
        const QString given = parser.value(QStringLiteral("seed"));
        seed = seedFromText(given);
        if (!seed) {
            return usage(QStringLiteral("--seed %1: %2").arg(given, seedRangeText()), command);
        }
    }
    const bool unlocked = parser.isSet(QStringLiteral("unlock-levels"));
    RandomGroups groups = unlocked ? kAllGroups : kUnlockedGroups;
    if (parser.isSet(QStringLiteral("groups"))) {
        QString why;
        const std::optional<RandomGroups> given =
            parseRandomGroups(parser.value(QStringLiteral("groups")), &why);
        if (!given) {
            return usage(why, command);
        }
        if ((*given & groupBit(RandomGroup::Levels)) && !unlocked) {
            return usage(QStringLiteral("the levels are locked; give --unlock-levels to let them "
                                        "change"),
                         command);
        }
        groups = *given;
    }
    const int slot = slotNamed(args[1], command);
    if (slot < 0) {
        return kUsage;
    }
    QString why;
    qint64 size = 0;
    const std::optional<ConfigRecord> read = readRecord(path, why, &size, false);
    if (!read) {
        return fail(why);
    }
    if (size != static_cast<qint64>(kConfigImageSize)) {
        // Writing 294 bytes over it would lose whatever else it holds.
        return fail(QStringLiteral("%1 is %2, not a preset file; nothing was changed")
                        .arg(path, presetFileLength(size)));
    }
    if (!seed) {
        seed = freshSeed();
    }
    ConfigRecord record = *read;
    applyChange(record, slot, randomizeSlot(*read, slot, *amount, groups, *seed));
    if (const FileResult saved = saveConfigFile(path, record); !saved) {
        return fail(QStringLiteral("cannot write %1: %2").arg(path, saved.reason));
    }
    say(stdout, QStringLiteral("seed %1").arg(*seed));
    tellChanges(*read, record);
    return 0;
}

// ---------------------------------------------------------------------------------
// upload

// SIGINT, SIGTERM and SIGHUP while an upload runs: each is noted and told to the
// event loop through a pipe, so that the upload ends with what reached the unit
// said, instead of the program vanishing in the middle.
class Interrupts {
public:
    Interrupts() {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
            pipe_[0] = pipe_[1] = -1;
            return;
        }
        writeEnd_ = pipe_[1];
        struct sigaction action {};
        action.sa_handler = &Interrupts::noted;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &action, &previous_[i]);
        }
    }
    ~Interrupts() {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        }
        writeEnd_ = -1;
        for (const int fd : pipe_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    int handle() const { return pipe_[0]; }
    int signal() const { return caught_; }
    QString name() const { return QString::fromLatin1(sigabbrev_np(caught_)).prepend("SIG"); }

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    static void noted(int signo) {
        if (caught_ == 0) {
            caught_ = signo;
        }
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(writeEnd_, &byte, 1);
    }

    // Written by the handler, read by the event loop after the pipe said so.
    static inline volatile std::sig_atomic_t caught_ = 0;
    static inline volatile std::sig_atomic_t writeEnd_ = -1;
    int pipe_[2] = {-1, -1};
    std::array<struct sigaction, 3> previous_{};
};

// What the Device commands ask of a window, answered on the terminal. Selecting a
// slot shows it in the editor, which brings its values into range: so here.
class ConsoleHost final : public DeviceCommandHost {
public:
    ConsoleHost(ConfigRecord& record, int slot) : record_(record), slot_(slot) {}

    bool isLinkChecked() const override { return false; }
    void setLinkChecked(bool) override {}
    int selectedSlot() const override { return slot_; }
    int tabCount() const override { return kSlotCount; }
    void selectTabQuietly(int slot) override {
        slot_ = slot;
        bringIntoRange(record_, slot);
    }
    void setBusyPointer(bool) override {}
    void showMessage(const QString& text, const QString& detail) override {
        // The box's lines on one line, each ended as a sentence ends.
        QString line = text;
        for (const QString& part : detail.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && !QStringLiteral(".!?:").contains(line.back())) {
                line += QLatin1Char('.');
            }
            line += QLatin1Char(' ') + part;
        }
        fail(line);
        failed = true;
    }
    void checkComPortItem(int) override {}
    QString slotName(int slot) const override { return slotTitle(slot); }
    void frameSent(int slot, std::size_t length) override {
        say(stdout, QStringLiteral("sent %1 (%2 bytes)").arg(slotTitle(slot)).arg(length));
        std::fflush(stdout); // a script reading along, or a later interrupt, sees it now
    }

    bool failed = false;

private:
    ConfigRecord& record_;
    int slot_;
};

int runUpload(QCommandLineParser& parser) {
    const QString path = parser.positionalArguments().first();
    const bool all = parser.isSet(QStringLiteral("all"));
    const bool one = parser.isSet(QStringLiteral("slot"));
    if (all == one) {
        return usage(QStringLiteral("give either --slot or --all"), QStringLiteral("upload"));
    }
    if (!parser.isSet(QStringLiteral("port"))) {
        return usage(QStringLiteral("give the port with --port"), QStringLiteral("upload"));
    }
    int slot = 0;
    if (one) {
        slot = slotOption(parser, QStringLiteral("upload"));
        if (slot < 0) {
            return kUsage;
        }
    }
    QString why;
    qint64 size = 0;
    const bool force = parser.isSet(QStringLiteral("force"));
    std::optional<ConfigRecord> record = readRecord(path, why, &size, force);
    if (!record) {
        return fail(why);
    }
    if (size != static_cast<qint64>(kConfigImageSize) && !force) {
        // A mistyped name (a PDF, an empty file) would replace the unit's presets.
        return fail(QStringLiteral("%1 is %2, not a preset file; give --force to upload it as "
                                   "the editor opens it")
                        .arg(path, presetFileLength(size)));
    }
    // The port's name means what it means to the editor: its [Ports] names too.
    RuntimeState state;
    const bool named = parser.isSet(QStringLiteral("settings"));
    const QString settings =
        named ? parser.value(QStringLiteral("settings")) : editorSettingsPath();
    if (const FileResult read = readSettings(settings, state); !read) {
        // Settings asked for must be there; the editor's own only lend their names.
        if (named) {
            return fail(
                QStringLiteral("cannot read the settings %1: %2").arg(settings, read.reason));
        }
        say(stderr,
            QStringLiteral("cantavel-cfg: warning: the editor's settings %1 are not used: %2")
                .arg(settings, read.reason));
    }
    usePortPaths(state.portPaths);
    state.comPortName = parser.value(QStringLiteral("port"));

    TComm comm;
    ConsoleHost host(*record, slot);
    DeviceLink link(*record, state, comm, host);
    bool lost = false;
    // A lost line or an interrupt ends the command at once and names what did not
    // reach the unit.
    const auto stop = [&](const QString& why) {
        if (lost || !comm.IsOpen()) {
            return;
        }
        lost = true;
        const std::vector<int> unsent = link.CancelCommands();
        comm.StopComm();
        QString text = why;
        if (!unsent.empty()) {
            text += QStringLiteral("; %1 did not reach the unit").arg(link.slotList(unsent));
        }
        host.showMessage(text, QString());
    };
    comm.OnRequestHangup = [&](QObject*) {
        stop(QStringLiteral("the connection to the unit was lost (%1)")
                 .arg(QString::fromStdString(comm.DevicePath())));
    };
    const Interrupts interrupts;
    QSocketNotifier interrupted(interrupts.handle(), QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated,
                     [&] { stop(QStringLiteral("interrupted (%1)").arg(interrupts.name())); });
    if (all) {
        link.Configuator1Click();
    } else {
        host.selectTabQuietly(slot);
        link.Upload1Click();
    }
    if (interrupts.signal() != 0) {
        return 128 + interrupts.signal();
    }
    return host.failed ? kFailure : 0;
}

// ---------------------------------------------------------------------------------
// sheet

// Whether a name stands for the file standard output is open on.
bool isStandardOutput(const QString& name) {
    struct stat named {};
    struct stat stream {};
    return ::stat(QFile::encodeName(name).constData(), &named) == 0 &&
           ::fstat(STDOUT_FILENO, &stream) == 0 && named.st_dev == stream.st_dev &&
           named.st_ino == stream.st_ino;
}

int runSheet(QCommandLineParser& parser) {
    const QString path = parser.positionalArguments().first();
    if (parser.value(QStringLiteral("output")).isEmpty()) {
        return usage(QStringLiteral("give the PDF to write with -o"), QStringLiteral("sheet"));
    }
    QDate date = QDate::currentDate();
    if (parser.isSet(QStringLiteral("date"))) {
        // Exactly a day: Qt's ISO reading would take a time or anything after it too.
        const QString given = parser.value(QStringLiteral("date"));
        static const QRegularExpression day(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
        date = day.match(given).hasMatch() ? QDate::fromString(given, Qt::ISODate) : QDate();
        if (!date.isValid()) {
            return usage(QStringLiteral("'%1' is no date of the form 2026-12-08")
                             .arg(parser.value(QStringLiteral("date"))),
                         QStringLiteral("sheet"));
        }
    }
    std::optional<SheetPaper> paper = defaultPaper();
    if (parser.isSet(QStringLiteral("paper"))) {
        const QString name = parser.value(QStringLiteral("paper"));
        paper = paperFromName(name);
        if (!paper) {
            return usage(QStringLiteral("'%1' is no paper: %2").arg(name, paperNames()),
                         QStringLiteral("sheet"));
        }
    }
    QString why;
    const std::optional<ConfigRecord> record = readRecord(path, why);
    if (!record) {
        return fail(why);
    }
    const QString out = parser.value(QStringLiteral("output"));
    // A name for standard output (/dev/stdout, /dev/fd/1) is written as standard
    // output is: in place, without the page count among the PDF's bytes.
    const bool toStream = out == QLatin1String("-") || isStandardOutput(out);
    if (QFileInfo(out).isDir()) {
        return fail(QStringLiteral("%1 is a folder; give -o a file").arg(out));
    }
    if (toStream && ::isatty(STDOUT_FILENO)) {
        return fail(QStringLiteral("a PDF is not for the terminal; send standard output to a "
                                   "file or program, or give a file to -o"));
    }
    // The sheet never takes the place of its own preset, by whatever name it is
    // given (a link, another path, standard output appending to it); any other file
    // only with --force.
    struct stat input {};
    struct stat output {};
    const bool outputThere = toStream ? ::fstat(STDOUT_FILENO, &output) == 0
                                      : ::stat(QFile::encodeName(out).constData(), &output) == 0;
    if (outputThere && ::stat(QFile::encodeName(path).constData(), &input) == 0 &&
        input.st_dev == output.st_dev && input.st_ino == output.st_ino) {
        return fail(
            QStringLiteral("%1 is the preset file %2 itself; give another file to -o")
                .arg(out == QLatin1String("-") ? QStringLiteral("standard output") : out, path));
    }
    if (!toStream && !parser.isSet(QStringLiteral("force")) && QFileInfo::exists(out)) {
        return fail(QStringLiteral("%1 exists; give --force to overwrite it").arg(out));
    }
    const SheetResult sheet =
        toStream ? writePresetSheet(*record, sheetTitle(path), date, STDOUT_FILENO, *paper)
                 : exportPresetSheet(*record, sheetTitle(path), date, out, *paper);
    if (!sheet.ok) {
        tellQtMessages();
        return fail(QStringLiteral("cannot write %1: %2")
                        .arg(toStream ? QStringLiteral("standard output") : out, sheet.reason));
    }
    if (!toStream) {
        say(stdout, QStringLiteral("%1: %2 page%3")
                        .arg(out)
                        .arg(sheet.pages)
                        .arg(sheet.pages == 1 ? "" : "s"));
    }
    return 0;
}

// ---------------------------------------------------------------------------------
// params

int runParams(QCommandLineParser&) {
    say(stdout, QStringLiteral("%1 %2 %3 %4")
                    .arg(QStringLiteral("IDENTIFIER"), -13)
                    .arg(QStringLiteral("NAME"), -14)
                    .arg(QStringLiteral("SLOTS"), -24)
                    .arg(QStringLiteral("VALUES")));
    for (const Parameter& p : parameterTable()) {
        QString values = listItems(p).join(QStringLiteral(", "));
        if (values.isEmpty()) {
            values = QStringLiteral("%1 to %2").arg(p.shown(p.minValue)).arg(p.shown(p.maxValue));
        }
        if (const Parameter* limit = limitOf(p)) {
            values += QStringLiteral(", at most %1").arg(QLatin1String(limit->key));
        }
        const QString where =
            slotHas(1, p) ? QStringLiteral("all") : QStringLiteral("default, mode-a, mode-b");
        say(stdout, QStringLiteral("%1 %2 %3 %4")
                        .arg(QLatin1String(p.key), -13)
                        .arg(QLatin1String(p.name), -14)
                        .arg(where, -24)
                        .arg(values));
    }
    return 0;
}

// ---------------------------------------------------------------------------------

std::vector<Command> commands() {
    const QCommandLineOption slot(
        QStringLiteral("slot"),
        QStringLiteral("One slot: default, 1 to 4, mode-a, mode-b or 0 to 6."),
        QStringLiteral("slot"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Overwrite a file that exists."));
    const Argument file{QStringLiteral("FILE"), QStringLiteral("A preset file (.cfg)."), QString()};
    return {
        {QStringLiteral("new"),
         QStringLiteral("Writes a file with the editor's start-up defaults."),
         runNew,
         {file},
         {force},
         {QStringLiteral("cantavel-cfg new fresh.cfg")}},
        {QStringLiteral("show"),
         QStringLiteral("Shows every parameter of every slot (or one): its identifier, the "
                        "window's name for it, the value as shown and as stored."),
         runShow,
         {file},
         {slot, QCommandLineOption(QStringLiteral("json"), QStringLiteral("Write JSON.")),
          QCommandLineOption(QStringLiteral("assignments"),
                             QStringLiteral("Write SLOT.PARAMETER=VALUE lines, as 'cantavel-cfg "
                                            "set --from' reads them."))},
         {QStringLiteral("cantavel-cfg show live.cfg --slot mode-a"),
          QStringLiteral("cantavel-cfg show live.cfg --json"),
          QStringLiteral("cantavel-cfg show live.cfg --slot 3 --assignments > slot3.txt")}},
        {QStringLiteral("diff"),
         QStringLiteral("Shows the parameters that differ, slot by slot, and every other byte "
                        "that differs. Exit status 0 when equal, 1 when they differ, 2 on an "
                        "error."),
         runDiff,
         {{QStringLiteral("A"), QStringLiteral("The preset file before."), QString()},
          {QStringLiteral("B"), QStringLiteral("The preset file after."), QString()}},
         {},
         {QStringLiteral("cantavel-cfg diff backup.cfg live.cfg")},
         2,
         2},
        {QStringLiteral("set"),
         QStringLiteral("Sets parameters to values as the window shows them (a tone -10 to 10, "
                        "a list item by its text), through the window's rules: once every "
                        "value is in, a volume is at most its maximum and SW VOL 2 at most SW "
                        "VOL 1 of its slot. A maximum lowered below its volume brings the "
                        "volume down. Nothing is written unless every value is valid. "
                        "Assignments may also come from a file or standard input (--from), "
                        "one a line, before those of the command line; 'show --assignments' "
                        "writes them so, and Edit > Copy Slot puts them on the clipboard."),
         runSet,
         {file,
          {QStringLiteral("SETTINGS"),
           QStringLiteral("SLOT.PARAMETER=VALUE, one or more (or none after --from): a slot, a "
                          "parameter by its identifier or the window's name for it (any case; "
                          "'cantavel-cfg params' lists them), and its value."),
           QStringLiteral("[SLOT.PARAMETER=VALUE...]")}},
         {QCommandLineOption(QStringLiteral("force"),
                             QStringLiteral("Replace a file that is not 294 bytes long.")),
          QCommandLineOption(QStringLiteral("from"),
                             QStringLiteral("Read assignments from this file (- for standard "
                                            "input), one a line; blank lines and lines that "
                                            "begin with # are skipped. At most 1 MiB, and "
                                            "1000 assignments in all."),
                             QStringLiteral("file"))},
         {QStringLiteral("cantavel-cfg set live.cfg default.echoDelay=120 mode-a.keyIndex=#+2 "
                         "3.micTreble=-4"),
          QStringLiteral("cantavel-cfg set live.cfg 'Mode A.Music Vol Max=50' default.F.B-EX=2 "
                         "mode-b.input=dvd"),
          QStringLiteral("cantavel-cfg show backup.cfg --slot default --assignments | "
                         "cantavel-cfg set live.cfg --from - default.echoDelay=99")},
         1,
         1000},
        {QStringLiteral("blend"),
         QStringLiteral("Writes A with one of its slots moved part of the way towards a slot "
                        "of B: each number by the percent given, rounded half away from zero, "
                        "inside its range and a volume at most its maximum; a list item (the "
                        "key among them) is B's from 50 % on. A mode slot blended towards slot "
                        "1 to 4 keeps its Default Setting, which those have not, and a note "
                        "says so. The values go in through the window's rules, as set's do, "
                        "and each one that changed is told as set tells it."),
         runBlend,
         {{QStringLiteral("A"), QStringLiteral("The preset file to start from."), QString()},
          {QStringLiteral("SLOT"), QStringLiteral("The slot of A that changes."), QString()},
          {QStringLiteral("B"),
           QStringLiteral("The preset file to blend towards; A itself will "
                          "do."),
           QString()},
          {QStringLiteral("SLOT"), QStringLiteral("The slot of B to blend towards."), QString()}},
         {QCommandLineOption(QStringLiteral("at"),
                             QStringLiteral("How far towards B's slot: 0 (A's values) to 100 "
                                            "(B's values)."),
                             QStringLiteral("percent")),
          QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                             QStringLiteral("The preset file to write."),
                             QStringLiteral("file.cfg")),
          force},
         {QStringLiteral("cantavel-cfg blend live.cfg mode-a backup.cfg default --at 30 -o "
                         "warmer.cfg"),
          QStringLiteral("cantavel-cfg blend live.cfg 2 live.cfg 3 --at 50 -o between.cfg")},
         4,
         4},
        {QStringLiteral("randomize"),
         QStringLiteral("Moves the values of one slot to random values near them: each to one "
                        "within the amount's percent of its range around it, inside its range "
                        "and a volume at most its maximum, through the window's rules; the "
                        "file is rewritten. The levels (the volumes, their maxima and SW VOL 1 "
                        "and 2) change only with --unlock-levels. The first line told is the "
                        "seed, 'seed N', whether drawn or given: the same file, slot, amount, "
                        "groups and seed give the same values on any machine. Then each value "
                        "that changed is told as set tells it."),
         runRandomize,
         {file,
          {QStringLiteral("SLOT"),
           QStringLiteral("The slot: default, 1 to 4, mode-a, mode-b or 0 to 6."), QString()}},
         {QCommandLineOption(QStringLiteral("amount"),
                             QStringLiteral("How far a value may move: %1 to %2 % of its range.")
                                 .arg(kAmountMin)
                                 .arg(kAmountMax),
                             QStringLiteral("percent")),
          QCommandLineOption(QStringLiteral("seed"),
                             QStringLiteral("The seed of the random values, 0 to 4294967295 "
                                            "(default: a new one)."),
                             QStringLiteral("n")),
          QCommandLineOption(QStringLiteral("groups"),
                             QStringLiteral("Only these groups, separated by commas: %1 (the "
                                            "switches are the lists and SW FREQ; default: all "
                                            "but the levels, or all with --unlock-levels).")
                                 .arg(randomGroupKeys()),
                             QStringLiteral("list")),
          QCommandLineOption(QStringLiteral("unlock-levels"),
                             QStringLiteral("Let the levels change too."))},
         {QStringLiteral("cantavel-cfg randomize live.cfg 3 --amount 20 --seed 4711"),
          QStringLiteral("cantavel-cfg randomize live.cfg mode-a --amount 10 --groups "
                         "echo,reverb")},
         2,
         2},
        {QStringLiteral("library"),
         QStringLiteral("The editor's preset library: the .cfg files under its folders, indexed "
                        "with their tags. add DIR and remove DIR change the folders, folders "
                        "lists them, scan brings the index up to date, search QUERY lists the "
                        "slots that match (words in names, tags and notes; conditions such as "
                        "delay>=200, key=#+2, tag:ballad, is:fav; -term for NOT), tag and untag "
                        "FILE SLOT TAG... change a slot's tags. Safe while the editor runs."),
         [](QCommandLineParser& parser) {
             return runLibraryCommand(
                 parser.positionalArguments(), parser.isSet(QStringLiteral("json")),
                 {.fail = [](const QString& why, int status) { return fail(why, status); },
                  .usage =
                      [](const QString& why) { return usage(why, QStringLiteral("library")); }});
         },
         {{QStringLiteral("COMMAND"),
           QStringLiteral("add, remove, folders, scan, search, tag or untag."), QString()},
          {QStringLiteral("ARGUMENTS"),
           QStringLiteral("The command's own: a folder, a search's terms (a term may begin "
                          "with '-'), or FILE SLOT TAG..."),
           QStringLiteral("[ARGUMENTS...]")}},
         {QCommandLineOption(QStringLiteral("json"),
                             QStringLiteral("search: write a JSON array, one object per slot."))},
         {QStringLiteral("cantavel-cfg library add ."), QStringLiteral("cantavel-cfg library scan"),
          QStringLiteral("cantavel-cfg library search 'delay>=100 -tag:ballad' --json"),
          QStringLiteral("cantavel-cfg library add . && cantavel-cfg library scan && "
                         "cantavel-cfg library tag live.cfg mode-a ballad")},
         1,
         1000},
        {QStringLiteral("params"),
         QStringLiteral("Lists every parameter: its identifier, the window's name for it, its "
                        "values and the slots that have it."),
         runParams,
         {},
         {},
         {QStringLiteral("cantavel-cfg params")},
         0,
         0},
        {QStringLiteral("upload"),
         QStringLiteral("Sends one slot or all slots to the unit, as Device > Upload and "
                        "Upload All do."),
         runUpload,
         {file},
         {QCommandLineOption(QStringLiteral("port"),
                             QStringLiteral("The port: COM1 to COM15, a device path, or a name "
                                            "from the editor's [Ports] settings."),
                             QStringLiteral("port")),
          slot, QCommandLineOption(QStringLiteral("all"), QStringLiteral("Send all seven slots.")),
          QCommandLineOption(QStringLiteral("settings"),
                             QStringLiteral("Read [Ports] from this settings file instead of "
                                            "the editor's."),
                             QStringLiteral("file")),
          QCommandLineOption(QStringLiteral("force"),
                             QStringLiteral("Upload a file that is not 294 bytes long, read as "
                                            "the editor opens it."))},
         {QStringLiteral("cantavel-cfg upload live.cfg --port /dev/ttyUSB0 --slot default"),
          QStringLiteral("cantavel-cfg upload live.cfg --port /dev/ttyUSB0 --all")}},
        {QStringLiteral("sheet"),
         QStringLiteral("Prints the preset sheet to a PDF file."),
         runSheet,
         {file},
         {QCommandLineOption({QStringLiteral("o"), QStringLiteral("output")},
                             QStringLiteral("The PDF to write; - for standard output."),
                             QStringLiteral("file.pdf")),
          force,
          QCommandLineOption(QStringLiteral("paper"),
                             QStringLiteral("A4, Letter, A5 or A6 (default A4, or the locale's "
                                            "Letter)."),
                             QStringLiteral("paper")),
          QCommandLineOption(QStringLiteral("date"),
                             QStringLiteral("The date printed under the title (default today)."),
                             QStringLiteral("yyyy-mm-dd"))},
         {QStringLiteral("cantavel-cfg sheet live.cfg -o live.pdf"),
          QStringLiteral("cantavel-cfg sheet live.cfg --paper Letter -o - > live-letter.pdf")}},
    };
}

// The usage line's arguments: "FILE SLOT.PARAMETER=VALUE...".
QString argumentLine(const Command& c) {
    QStringList words;
    for (const Argument& a : c.arguments) {
        words << (a.syntax.isEmpty() ? a.name : a.syntax);
    }
    return words.join(QLatin1Char(' '));
}

QString exampleLines(const QStringList& examples) {
    QString text = QStringLiteral("\nExamples:\n");
    for (const QString& example : examples) {
        text += QStringLiteral("  ") + example + QLatin1Char('\n');
    }
    return text;
}

QString overview(const std::vector<Command>& all) {
    QString text = QStringLiteral(
        "Usage: cantavel-cfg COMMAND [OPTIONS] ARGUMENTS\n"
        "Preset files (.cfg) of the Digital Cantavel Processor from the command line.\n\n"
        "Commands:\n");
    for (const Command& c : all) {
        const QString arguments = argumentLine(c);
        text += QStringLiteral("  %1 %2\n")
                    .arg(c.name, -9)
                    .arg(arguments.isEmpty() ? QStringLiteral("(no arguments)") : arguments);
    }
    text += QStringLiteral("\nSlots are named default, 1 to 4, mode-a and mode-b (or 0 to 6).\n"
                           "'cantavel-cfg COMMAND --help' tells more. Exit status: 0 done, 1 "
                           "failed, 2 not understood.\n");
    text += exampleLines({QStringLiteral("cantavel-cfg new fresh.cfg"),
                          QStringLiteral("cantavel-cfg set live.cfg default.echoDelay=120"),
                          QStringLiteral("cantavel-cfg show live.cfg --slot default")});
    return text;
}

} // namespace

// A standard stream the caller closed is held by /dev/null opened for reading, so
// that no file opened later takes its number (the PDF would be written into
// itself) and a write to it still fails as a write to a closed stream does.
void holdClosedStreams() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
}

int main(int argc, char** argv) {
    holdClosedStreams();
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
    }
    const std::vector<Command> all = commands();
    if (args.size() < 2) {
        return usage(QStringLiteral("no command given"));
    }
    if (args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        std::fputs(overview(all).toLocal8Bit().constData(), stdout);
        return finish(0);
    }
    if (args[1] == QLatin1String("--version") || args[1] == QLatin1String("-v")) {
        std::printf("cantavel-cfg %s\n", kVersion);
        return finish(0);
    }
    const auto command =
        std::find_if(all.begin(), all.end(), [&](const Command& c) { return c.name == args[1]; });
    if (command == all.end()) {
        return usage(QStringLiteral("no command '%1'").arg(args[1]));
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(command->summary);
    parser.addOptions(command->options);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    for (const Argument& a : command->arguments) {
        parser.addPositionalArgument(a.name, a.description, a.syntax);
    }
    QStringList commandArgs = args.mid(2);
    if (command->name == QLatin1String("library") && !commandArgs.isEmpty() &&
        commandArgs.front() == QLatin1String("search")) {
        // A search's terms may begin with '-' (-tag:ballad): after "search" only --json
        // and --help are options, whether or not a "--" comes first.
        QStringList options;
        QStringList terms;
        for (const QString& a : commandArgs.mid(1)) {
            const bool option = a == QLatin1String("--json") || a == QLatin1String("--help") ||
                                a == QLatin1String("-h");
            if (a != QLatin1String("--")) {
                (option ? options : terms) << a;
            }
        }
        commandArgs = QStringList{QStringLiteral("search")} + options +
                      QStringList{QStringLiteral("--")} + terms;
    }
    commandArgs.prepend(QStringLiteral("cantavel-cfg ") + command->name);
    if (!parser.parse(commandArgs)) {
        return usage(parser.errorText(), command->name);
    }
    if (parser.isSet(help)) {
        // Parsed before there is an application object, which would give the name.
        const QString text =
            parser.helpText().replace(QStringLiteral("<executable_name>"),
                                      QStringLiteral("cantavel-cfg ") + command->name) +
            exampleLines(command->examples);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return finish(0);
    }
    const qsizetype given = parser.positionalArguments().size();
    if (given > command->maxArgs && command->maxArgs > command->minArgs) {
        return usage(QStringLiteral("%1 takes at most %2 arguments")
                         .arg(command->name)
                         .arg(command->maxArgs),
                     command->name);
    }
    if (given < command->minArgs || given > command->maxArgs) {
        return usage(QStringLiteral("%1 wants %2")
                         .arg(command->name, command->arguments.isEmpty()
                                                 ? QStringLiteral("no arguments")
                                                 : argumentLine(*command)),
                     command->name);
    }

    // Only the sheet needs fonts, and no command a screen: whatever platform the
    // environment names (a display that is not there, another one's fonts), the
    // sheet is laid out off screen, the same everywhere.
    qInstallMessageHandler(keepQtMessage);
    std::unique_ptr<QCoreApplication> app;
    if (command->name == QLatin1String("sheet")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    // The editor's names: its settings are found where the editor keeps them.
    QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QCoreApplication::setApplicationName(QStringLiteral("Cantavel"));
    const int status = command->run(parser);
    return finish(status, command->name == QLatin1String("diff") ? kUsage : kFailure);
}
