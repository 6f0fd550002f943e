#include "Settings.h"

#include "InputFile.h"
#include "SafeSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace cantavel {

namespace {
const QString kComKey = QStringLiteral("Config/COM");
const QString kIndexKey = QStringLiteral("Config/index");
const QString kDefaultPort = QStringLiteral("COM1");
constexpr int kDefaultIndex = 1;

// The INI reader splits a value at commas into a list; the port name is one text.
QString asText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

QString tooLarge() {
    return QStringLiteral("It is larger than %1 KiB, more than settings ever take; it is left "
                          "as it is.")
        .arg(kMaxSettingsFileSize / 1024);
}

bool fitsAPath(const QString& name) {
    return QFile::encodeName(name).size() <= kMaxPortNameBytes;
}

// A value as the INI reader reads it back unchanged. Plain names stay plain
// ("COM1", "/dev/ttyUSB0"); anything else is quoted, with backslash escapes for the
// characters the reader would take as syntax.
QByteArray iniValue(const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    const bool plain = std::all_of(utf8.begin(), utf8.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ':';
    });
    if (plain) {
        return utf8;
    }
    QByteArray out = "\"";
    if (utf8.startsWith('@')) {
        out += '@'; // a leading "@" marks a typed value; doubled, it is one "@"
    }
    bool afterHexEscape = false;
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        // The reader takes every hex digit after "\x" into the escape, so a digit
        // that follows one is escaped too.
        const bool hexDigit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (u < 0x20 || u == 0x7F || (afterHexEscape && hexDigit)) {
            out += "\\x" + QByteArray::number(u, 16);
            afterHexEscape = true;
            continue;
        }
        afterHexEscape = false;
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

struct Line {
    QByteArray text;       // without its end
    QByteArray terminator; // "\n", "\r\n" or nothing at the end of the file
};

std::vector<Line> splitLines(const QByteArray& data) {
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype end = data.indexOf('\n', start);
        if (end < 0) {
            lines.push_back({data.mid(start), {}});
            break;
        }
        const bool crlf = end > start && data[end - 1] == '\r';
        lines.push_back({data.mid(start, end - start - (crlf ? 1 : 0)), crlf ? "\r\n" : "\n"});
        start = end + 1;
    }
    return lines;
}

} // namespace

QString settingsPathFor(const QString& executablePath) {
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not a suffix.
    const QString stem = dot > 0 ? name.left(dot) : name;
    return info.path() + QLatin1Char('/') + stem + QStringLiteral(".ini");
}

QString settingsPathFor(const QString& executablePath, const QString& configFolder) {
    const QString beside = settingsPathFor(executablePath);
    if (configFolder.isEmpty()) {
        return beside;
    }
    // A folder that cannot be found by its name (one that is not valid UTF-8 cannot)
    // gives no place beside the program: the user's folder serves.
    const QString folder = QFileInfo(QFileInfo(executablePath).path()).canonicalFilePath();
    if (folder.isEmpty()) {
        return configFolder + QStringLiteral("/cantavel.ini");
    }
    // A settings file that is there already marks a portable copy, even one that is
    // not a regular file or a link that leads nowhere yet: reading it says what is wrong.
    const QFileInfo settings(beside);
    const bool portable = settings.exists() || settings.isSymLink();
    if (portable || QFileInfo::exists(folder + QStringLiteral("/CMakeCache.txt"))) {
        return beside;
    }
    return configFolder + QStringLiteral("/cantavel.ini");
}

QString userConfigFolder() {
    // A relative setting would make the folder depend on where the program was
    // started; the base directory rules ignore it, and so does this.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(base)) {
        QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home)) {
            const passwd* user = ::getpwuid(::getuid());
            home = user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QString();
        }
        if (!QDir::isAbsolutePath(home)) {
            return {};
        }
        base = home + QStringLiteral("/.config");
    }
    QString folder = QDir::cleanPath(base);
    for (const QString& name :
         {QCoreApplication::organizationName(), QCoreApplication::applicationName()}) {
        if (!name.isEmpty()) {
            folder += QLatin1Char('/') + name;
        }
    }
    return folder;
}

QString settingsPath() {
    return settingsPathFor(QCoreApplication::applicationFilePath(), userConfigFolder());
}

QString editorSettingsPath() {
    return settingsPathFor(QCoreApplication::applicationDirPath() + QStringLiteral("/cantavel"),
                           userConfigFolder());
}

FileResult readSettings(const QString& path, RuntimeState& state) {
    state.comPortName = kDefaultPort;
    state.comPortNumber = kDefaultIndex;
    state.portPaths.clear();
    state.recentFiles.clear();
    const InputFile file(path);
    if (!file) {
        return file.error() == ENOENT ? FileResult{} : file.result();
    }
    if (file.size() > kMaxSettingsFileSize) {
        return FileResult::failure(tooLarge());
    }

    // The INI reader opens the file by its name, now known to be a regular file of
    // a size worth reading. (Its cache is kept per name and trusts size and time, so
    // it cannot be handed the checked descriptor under a name of its own.)
    QSettings settings(path, QSettings::IniFormat);
    if (settings.contains(kComKey)) {
        const QString name = asText(settings.value(kComKey));
        if (fitsAPath(name)) {
            state.comPortName = name;
        }
    }
    if (settings.contains(kIndexKey)) {
        bool whole = false;
        const int index = asText(settings.value(kIndexKey)).trimmed().toInt(&whole);
        state.comPortNumber = whole ? index : kDefaultIndex;
    }

    settings.beginGroup(QStringLiteral("Recent"));
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString file = asText(settings.value(QStringLiteral("File%1").arg(i))).trimmed();
        if (file.startsWith(QLatin1Char('/')) && fitsAPath(file) &&
            !state.recentFiles.contains(file)) {
            state.recentFiles << file;
        }
    }
    settings.endGroup();

    settings.beginGroup(QStringLiteral("Ports"));
    for (const QString& name : settings.childKeys()) {
        const QString device = asText(settings.value(name)).trimmed();
        if (!device.isEmpty() && fitsAPath(name) && fitsAPath(device)) {
            state.portPaths.insert(name, device);
        }
    }
    settings.endGroup();
    if (settings.status() == QSettings::AccessError) {
        return FileResult::failure(systemReason(EACCES));
    }
    return {};
}

QByteArray settingsWithConfig(const QByteArray& old, const RuntimeState& state) {
    const QByteArray com = "COM=" + iniValue(state.comPortName);
    const QByteArray index = "index=" + QByteArray::number(state.comPortNumber);

    // [Recent] is this program's own: written anew, at the end.
    std::vector<Line> lines;
    bool inRecent = false;
    for (Line& line : splitLines(old)) {
        const QByteArray t = line.text.trimmed();
        if (t.startsWith('[') && t.endsWith(']')) {
            inRecent = t == "[Recent]";
        }
        if (!inRecent) {
            lines.push_back(std::move(line));
        }
    }
    bool inConfig = false;
    bool comSeen = false;
    bool indexSeen = false;
    int sectionsSeen = 0;
    qsizetype insertAfter = -1; // header or last key line of the first [Config]
    for (qsizetype i = 0; i < static_cast<qsizetype>(lines.size()); ++i) {
        Line& line = lines[static_cast<std::size_t>(i)];
        const QByteArray t = line.text.trimmed();
        if (t.startsWith('[') && t.endsWith(']')) {
            inConfig = t == "[Config]";
            if (inConfig && sectionsSeen++ == 0) {
                insertAfter = i;
            }
            continue;
        }
        if (!inConfig) {
            continue;
        }
        const qsizetype eq = line.text.indexOf('=');
        const QByteArray key = eq > 0 ? line.text.left(eq).trimmed() : QByteArray();
        if (key == "COM") {
            line.text = com;
            comSeen = true;
        } else if (key == "index") {
            line.text = index;
            indexSeen = true;
        }
        if (sectionsSeen == 1 && !key.isEmpty()) {
            insertAfter = i; // new keys go after the last key, before any comment
        }
    }

    QByteArray added;
    if (!comSeen) {
        added += com + '\n';
    }
    if (!indexSeen) {
        added += index + '\n';
    }
    QByteArray out;
    if (insertAfter < 0) {
        out = "[Config]\n" + added;
        if (!old.isEmpty()) {
            out += '\n';
        }
    }
    for (qsizetype i = 0; i < static_cast<qsizetype>(lines.size()); ++i) {
        const Line& line = lines[static_cast<std::size_t>(i)];
        out += line.text;
        out += line.terminator;
        if (i == insertAfter && !added.isEmpty()) {
            if (line.terminator.isEmpty()) {
                out += '\n';
            }
            out += added;
        }
    }
    if (!state.recentFiles.isEmpty()) {
        if (!out.endsWith('\n')) {
            out += '\n';
        }
        out += "\n[Recent]\n";
        for (qsizetype i = 0; i < std::min(state.recentFiles.size(), kMaxRecentFiles); ++i) {
            out += "File" + QByteArray::number(i + 1) + '=' + iniValue(state.recentFiles[i]) + '\n';
        }
    }
    return out;
}

FileResult writeSettings(const QString& path, const RuntimeState& state) {
    QByteArray old;
    InputFile file(path);
    if (!file && file.error() != ENOENT) {
        return file.result(); // what cannot be read cannot be kept: left alone
    }
    if (file) {
        if (file.size() > kMaxSettingsFileSize) {
            return FileResult::failure(tooLarge());
        }
        if (const FileResult read = file.read(kMaxSettingsFileSize + 1, old); !read) {
            return read;
        }
        if (old.size() > kMaxSettingsFileSize) {
            return FileResult::failure(tooLarge());
        }
    }
    // The user's configuration folder may not be there yet.
    QDir().mkpath(QFileInfo(path).path());
    return saveFileSafely(path, settingsWithConfig(old, state));
}

} // namespace cantavel
