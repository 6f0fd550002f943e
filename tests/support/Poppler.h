#pragma once

// Reads a printed PDF back with poppler's tools (pdfinfo, pdftotext).

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace cantavel::testing {

inline bool havePoppler() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty();
}

// What the program printed; empty when it failed.
inline QString runPoppler(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString pdfText(const QString& pdf) {
    return runPoppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
}

} // namespace cantavel::testing
