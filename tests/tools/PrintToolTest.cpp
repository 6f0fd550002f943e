// The print program: a tagged sample to a PDF, and its errors.

#include "FullDisk.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using cantavel::testing::ToolRun;

ToolRun printTool(const QStringList& args, const cantavel::testing::ToolOptions& options = {}) {
    return cantavel::testing::runTool(QStringLiteral(CANTAVEL_PRINT_PATH), args,
                                      {QStringLiteral("cantavel-print:")}, options);
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
    EXPECT_TRUE(r.out.contains(QStringLiteral("printed 2 lines on 1 page\n")));
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

    // The PDF never takes the place of its own text, however the output is named.
    const QString link = dir.filePath(QStringLiteral("link.pdf"));
    ASSERT_TRUE(QFile::link(text, link));
    for (const QString& itself : {text, link}) {
        const ToolRun own = printTool({QStringLiteral("-o"), itself, text});
        EXPECT_EQ(own.status, 1);
        EXPECT_EQ(own.err, QStringLiteral("cantavel-print: %1 is the input %2 itself; give another "
                                          "file to -o\n")
                               .arg(itself, text));
        QFile kept(text);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "x\n");
    }

    const ToolRun badSpacing =
        printTool({QStringLiteral("--spacing"), QStringLiteral("triple"), text});
    EXPECT_EQ(badSpacing.status, 1);
}

// Input may be a pipe, read as a stream as `cantavel-print <(cmd)` gives it; a device
// is refused without being read (/dev/zero would never end). Output that cannot be
// written fails the run.
TEST(PrintTool, ReadsAPipeRefusesADeviceAndFailsOnAFullOutput) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // The second line is written once the program has taken the first: it has to
    // wait for more, as from a command that is still running.
    bool firstTaken = false;
    std::thread writer([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        (void)::write(fd, "from a\n", 7);
        int unread = 7;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        firstTaken = unread == 0;
        (void)::write(fd, "pipe\n", 5);
        ::close(fd);
    });
    const QString pdf = dir.filePath(QStringLiteral("piped.pdf"));
    const ToolRun piped =
        printTool({QStringLiteral("-o"), pdf, fifo}, {.standardOutput = {}, .timeoutMs = 20000});
    writer.join();
    EXPECT_TRUE(firstTaken);
    EXPECT_EQ(piped.status, 0) << piped.err.toStdString();
    EXPECT_TRUE(piped.out.contains(QStringLiteral("printed 2 lines on")))
        << piped.out.toStdString();

    const ToolRun device = printTool({QStringLiteral("-o"), pdf, QStringLiteral("/dev/zero")},
                                     {.standardOutput = {}, .timeoutMs = 20000});
    EXPECT_EQ(device.status, 1);
    EXPECT_EQ(device.err, QStringLiteral("cantavel-print: cannot read /dev/zero: Not a regular "
                                         "file (a character device)\n"));

    const QString text = textFile(dir, QStringLiteral("t.txt"), "x\n");
    for (const QStringList& args :
         {QStringList{QStringLiteral("-o"), pdf, text}, QStringList{QStringLiteral("--help")},
          QStringList{QStringLiteral("--version")}}) {
        const ToolRun full = printTool(args, {.standardOutput = QStringLiteral("/dev/full")});
        EXPECT_EQ(full.status, 1) << args.join(' ').toStdString();
        EXPECT_EQ(full.err, QStringLiteral("cantavel-print: cannot write the output: No space "
                                           "left on device\n"));
    }
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

struct Refusal {
    const char* name;
    QStringList args;
    const char* says;
};

class PrintToolRefuses : public ::testing::TestWithParam<Refusal> {};

// What cannot be printed is refused with one line and status 1, and no PDF: margins
// wider than the page once gave a blank page, or text below the bottom margin.
TEST_P(PrintToolRefuses, WhatCannotBePrinted) {
    QTemporaryDir dir;
    const QString text = textFile(dir, QStringLiteral("t.txt"), "some text\n");
    const QString pdf = dir.filePath(QStringLiteral("t.pdf"));
    const ToolRun r =
        printTool(QStringList{QStringLiteral("-o"), pdf} + GetParam().args + QStringList{text});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String(GetParam().says))) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(pdf));
}

INSTANTIATE_TEST_SUITE_P(
    PrintTool, PrintToolRefuses,
    ::testing::Values(
        Refusal{"LeftMarginWiderThanThePage", {"--left", "300"}, "leave no room for text"},
        Refusal{"MarginsTallerThanThePage",
                {"--top", "200", "--bottom", "200"},
                "leave no room for text"},
        Refusal{"RoomForLessThanALine",
                {"--unit", "in", "--top", "5.8", "--bottom", "5.8"},
                "leave no room for text"},
        Refusal{"NegativeMargin", {"--left", "-5"}, "--left cannot be negative: -5"},
        Refusal{"MarginThatIsNoNumber", {"--top", "x"}, "--top 'x' is not a number of mm"}),
    [](const auto& info) { return std::string(info.param.name); });

// Where each word of a PDF's first page lies, in points from the top left.
struct Word {
    QString text;
    double left, top, bottom;
};

std::vector<Word> wordsOfFirstPage(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"),
             QStringLiteral("-l"), QStringLiteral("1"), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    std::vector<Word> words;
    const QRegularExpression word(
        QStringLiteral("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                       "yMax=\"([0-9.]+)\">([^<]*)</word>"));
    for (const auto& m : word.globalMatch(QString::fromUtf8(p.readAllStandardOutput()))) {
        words.push_back({m.captured(4), m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble()});
    }
    return words;
}

// Without margins given the text lies 15 mm (42.5 pt) in from the paper's edges,
// where any printer prints, and page numbers have a band of their own.
TEST(PrintTool, DefaultMarginsKeepTextAndPageNumbersApart) {
    QTemporaryDir dir;
    QByteArray many;
    for (int i = 1; i <= 100; ++i) {
        many += "line " + QByteArray::number(i) + "\n";
    }
    const QString pdf = dir.filePath(QStringLiteral("m.pdf"));
    ASSERT_EQ(printTool({QStringLiteral("-o"), pdf, QStringLiteral("--page-numbers"),
                         textFile(dir, QStringLiteral("m.txt"), many)})
                  .status,
              0);
    const std::vector<Word> words = wordsOfFirstPage(pdf);
    ASSERT_GE(words.size(), 3u);
    EXPECT_NEAR(words.front().left, 42.5, 1.0);
    EXPECT_NEAR(words.front().top, 42.5, 2.0);
    const Word& number = words.back();
    const Word& lastText = words[words.size() - 2];
    EXPECT_EQ(number.text, QStringLiteral("1"));
    EXPECT_GT(number.top, lastText.bottom + 5) << "a clear gap above the page number";
    EXPECT_LT(lastText.bottom, 842 - 42.5 + 1) << "the text stays above the bottom margin";
}

// Lines end in LF, CR LF or a lone CR; text that is not UTF-8 is Latin-1 with one
// warning; NUL bytes mark a binary file, which is refused.
TEST(PrintTool, ReadsAnyLineEndAndSaysHowItReadTheText) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("x.pdf"));
    const ToolRun ends =
        printTool({QStringLiteral("-o"), pdf,
                   textFile(dir, QStringLiteral("cr.txt"), "one\rtwo\r\nthree\n")});
    EXPECT_TRUE(ends.out.contains(QStringLiteral("printed 3 lines"))) << ends.out.toStdString();
    QStringList texts;
    for (const Word& w : wordsOfFirstPage(pdf)) {
        texts << w.text;
    }
    EXPECT_EQ(texts, (QStringList{"one", "two", "three"}));

    const QString latin = textFile(dir, QStringLiteral("l1.txt"), "caf\xe9 cr\xe8me\n");
    const ToolRun l1 = printTool({QStringLiteral("-o"), pdf, latin});
    EXPECT_EQ(l1.status, 0);
    EXPECT_EQ(l1.err,
              QStringLiteral("cantavel-print: warning: %1 is not valid UTF-8; read as Latin-1\n")
                  .arg(latin));
    EXPECT_EQ(wordsOfFirstPage(pdf).front().text, QStringLiteral("café"));

    const ToolRun binary = printTool(
        {QStringLiteral("-o"), pdf, textFile(dir, QStringLiteral("b.txt"), QByteArray("a\0b", 3))});
    EXPECT_EQ(binary.status, 1);
    EXPECT_TRUE(binary.err.contains(QStringLiteral("holds NUL bytes"))) << binary.err.toStdString();
}

TEST(PrintTool, HelpExplainsTheOptions) {
    QProcess p;
    p.start(QStringLiteral(CANTAVEL_PRINT_PATH), {QStringLiteral("--help")});
    p.waitForFinished(30000);
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* option : {"--output", "--unit", "--top", "--spacing", "--no-wrap",
                               "--page-numbers", "--landscape", "--font", "--size", "--version"}) {
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
    }
    // The manual page is made from --help and --version.
    const ToolRun version = printTool({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("cantavel-print 1.0.0.0\n"));
}

} // namespace
