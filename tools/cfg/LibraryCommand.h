#pragma once

// cantavel-cfg library: the editor's preset library from the command line.

#include <QString>
#include <QStringList>

#include <functional>

namespace cantavel {

struct LibraryCommandIo {
    // A failure's one line, returning the status given.
    std::function<int(const QString& why, int status)> fail;
    // An argument not understood: its line and the hint to --help; returns 2.
    std::function<int(const QString& why)> usage;
};

// `arguments` is the subcommand and its own arguments.
int runLibraryCommand(const QStringList& arguments, bool json, const LibraryCommandIo& io);

} // namespace cantavel
