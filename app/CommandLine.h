#pragma once

// The editor's command line: `cantavel [FILE.cfg]`, --help and --version. Read before
// the application object exists, so that --help and --version need no display.

#include <QString>
#include <QStringList>

namespace cantavel {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // The file to open at start, made absolute; empty for none.
    QString file;
    // What to print: the help, the version, or what was wrong.
    QString text;
};

// `arguments` as the program got them (the program's name first). The toolkit's own
// options (-platform NAME, -style NAME, ...) are left to the application object.
CommandLine parseCommandLine(const QStringList& arguments, const QString& workingFolder);

// The exit status for a command line that is not understood.
inline constexpr int kUsageError = 2;

} // namespace cantavel
