// The print program: a tagged sample to a PDF, and its errors.

#include "FullDisk.h"

#include <QDir>
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

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Qt's PDF writer does not report failed writes: a full disk once gave a corrupt
// PDF and status 0 (one page) or a truncated file (more pages).
TEST(PrintTool, FullDiskIsAFailureAndKeepsTheOldPdf) {
    cantavel::testing::FullDisk disk;
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    QTemporaryDir dir;
    QByteArray many;
    for (int i = 0; i < 400; ++i) {
        many += "line " + QByteArray::number(i) + "\n";
    }
    const QString shortText = textFile(dir, QStringLiteral("short.txt"), "one page\n");
    const QString longText = textFile(dir, QStringLiteral("long.txt"), many);
    const QString old = disk.path(QStringLiteral("old.pdf"));
    ASSERT_EQ(printTool({QStringLiteral("-o"), old, shortText}).status, 0);
    const QByteArray before = contentOf(old);
    ASSERT_TRUE(disk.fill());

    for (const QString& text : {shortText, longText}) {
        for (const QString& out : {old, disk.path(QStringLiteral("new.pdf"))}) {
            const ToolRun r = printTool({QStringLiteral("-o"), out, text});
            EXPECT_EQ(r.status, 1) << out.toStdString();
            EXPECT_EQ(r.err, QStringLiteral("cantavel-print: cannot write %1: No space left on "
                                            "device\n")
                                 .arg(out));
            EXPECT_FALSE(r.out.contains(QStringLiteral("printed")));
        }
    }
    EXPECT_EQ(contentOf(old), before);
    EXPECT_EQ(QDir(QFileInfo(old).path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"filler", "old.pdf"}));
}

// A device is written in place and stays a device; a copy stands in for /dev/full.
TEST(PrintTool, DeviceThatRefusesTheBytesIsAFailure) {
    QTemporaryDir dir;
    const QString full = dir.filePath(QStringLiteral("full"));
    if (!cantavel::testing::makeCharDevice(full, 1, 7)) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    const ToolRun r =
        printTool({QStringLiteral("-o"), full, textFile(dir, QStringLiteral("x.txt"), "x\n")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        QStringLiteral("cantavel-print: cannot write %1: No space left on device\n").arg(full));
    EXPECT_TRUE(QFileInfo(full).exists() && !QFileInfo(full).isFile());
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
