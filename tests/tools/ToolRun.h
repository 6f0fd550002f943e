#pragma once

// Runs one of the command-line programs as a user would, without a display, and
// keeps what it said.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace cantavel::testing {

struct ToolRun {
    int status = -1; // -1 when it crashed or did not end
    QString out;
    QStringList errLines; // its own lines on stderr: Qt may note things of its own
    QString err;          // the same, each line ended
};

struct ToolOptions {
    QString standardOutput; // a file for its standard output, instead of a pipe
    int timeoutMs = 60000;  // then it is killed
};

// Lines of stderr count as the program's own when they start with one of `own`.
// `environment` holds NAME=VALUE settings added to this process's own.
inline ToolRun runTool(const QString& program, const QStringList& args, const QStringList& own,
                       const ToolOptions& options = {}, const QStringList& environment = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& setting : environment) {
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    }
    p.setProcessEnvironment(env);
    if (!options.standardOutput.isEmpty()) {
        p.setStandardOutputFile(options.standardOutput);
    }
    p.start(program, args);
    if (!p.waitForFinished(options.timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    ToolRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString& line : QString::fromUtf8(p.readAllStandardError()).split('\n')) {
        for (const QString& prefix : own) {
            if (line.startsWith(prefix)) {
                r.errLines << line;
                r.err += line + '\n';
                break;
            }
        }
    }
    return r;
}

} // namespace cantavel::testing
