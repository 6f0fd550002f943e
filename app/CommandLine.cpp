#include "CommandLine.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>
#include <array>

namespace cantavel {

namespace {

// Options the application object takes for itself; those in the second list take a
// value (as the next argument or after "=").
constexpr std::array kToolkitFlags = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
constexpr std::array kToolkitOptions = {
    "-platform",    "-platformpluginpath", "-platformtheme", "-plugin",  "-qwindowgeometry",
    "-qwindowicon", "-qwindowtitle",       "-session",       "-display", "-geometry",
    "-style",       "-stylesheet",         "-title",         "-name",    "-qmljsdebugger"};

QStringList withoutToolkitOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const QString name = a.section(QLatin1Char('='), 0, 0);
        const auto is = [&name](const char* option) { return name == QLatin1String(option); };
        if (i > 0 && std::any_of(kToolkitFlags.begin(), kToolkitFlags.end(), is)) {
            continue;
        }
        if (i > 0 && std::any_of(kToolkitOptions.begin(), kToolkitOptions.end(), is)) {
            if (!a.contains(QLatin1Char('='))) {
                ++i; // its value
            }
            continue;
        }
        kept << a;
    }
    return kept;
}

QString helpText() {
    return QStringLiteral(
        "Usage: cantavel [OPTION] [FILE.cfg]\n"
        "Edit the presets of the Digital Cantavel Processor and send them to the unit.\n"
        "\n"
        "  FILE.cfg       a configuration file to open at start; when the editor is\n"
        "                 already running, it opens the file there\n"
        "  -h, --help     show this help and exit\n"
        "  -v, --version  show the version and exit\n");
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& workingFolder) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("file"), {});

    CommandLine result;
    if (!parser.parse(withoutToolkitOptions(arguments))) {
        result.action = CommandLine::Action::Error;
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        result.text = helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        result.text = QStringLiteral("Cantavel %1\n").arg(QStringLiteral(CANTAVEL_VERSION));
        return result;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        result.action = CommandLine::Action::Error;
        result.text = QStringLiteral("One file at a time, not %1.").arg(files.size());
        return result;
    }
    if (!files.isEmpty() && !files.first().isEmpty()) {
        result.file = QDir::cleanPath(QDir(workingFolder).absoluteFilePath(files.first()));
    }
    return result;
}

} // namespace cantavel
