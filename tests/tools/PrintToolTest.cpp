// The print program: a tagged sample to a PDF, and its errors.

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

ToolRun printTool(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CANTAVEL_PRINT_PATH), args);
    p.waitForFinished(60000);
    ToolRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    // Qt may note things of its own on stderr; the tool's lines carry its name.
    for (const QString& line : QString::fromUtf8(p.readAllStandardError()).split('\n')) {
        if (line.startsWith(QStringLiteral("cantavel-print:"))) {
            r.err += line + '\n';
        }
    }
    return r;
}

// A text file in dir, for the program to print.
QString textFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
}

TEST(PrintTool, TaggedSampleBecomesAPdf) {
    QTemporaryDir dir;
    const QString text = textFile(dir, QStringLiteral("sample.txt"),
                                  "<CENTER><B>Title</B></CENTER>\nbody <I>text</I><BR>next\n");
    const QString pdf = dir.filePath(QStringLiteral("sample.pdf"));
    const ToolRun r = printTool({QStringLiteral("-o"), pdf, QStringLiteral("--page-numbers"),
                                 QStringLiteral("--unit"), QStringLiteral("in"),
                                 QStringLiteral("--top"), QStringLiteral("1"), text});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("printed 2 lines on 1 pages")));
    QFile out(pdf);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_TRUE(out.read(5) == "%PDF-");
}

TEST(PrintTool, MissingInputOrUnwritableOutputIsOneErrorLine) {
    const ToolRun missing = printTool({QStringLiteral("/nonexistent/cantavel.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, QStringLiteral("cantavel-print: cannot read /nonexistent/cantavel.txt: "
                                          "No such file or directory\n"));

    QTemporaryDir dir;
    const QString text = textFile(dir, QStringLiteral("a.txt"), "x\n");
    const ToolRun unwritable =
        printTool({QStringLiteral("-o"), QStringLiteral("/nonexistent/out.pdf"), text});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(unwritable.err.startsWith(
        QStringLiteral("cantavel-print: cannot write /nonexistent/out.pdf")));
    EXPECT_EQ(unwritable.err.count('\n'), 1);

    const ToolRun badSpacing =
        printTool({QStringLiteral("--spacing"), QStringLiteral("triple"), text});
    EXPECT_EQ(badSpacing.status, 1);
}

TEST(PrintTool, HelpExplainsTheOptions) {
    QProcess p;
    p.start(QStringLiteral(CANTAVEL_PRINT_PATH), {QStringLiteral("--help")});
    p.waitForFinished(30000);
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* option : {"--output", "--unit", "--top", "--spacing", "--no-wrap",
                               "--page-numbers", "--landscape", "--font", "--size"}) {
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
    }
}

} // namespace
