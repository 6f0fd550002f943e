// Layout of a 10,000-line tagged document: with a printer of fixed metrics (layout
// alone) and to a PDF file, wall time and peak memory; how the wrap scan scales with
// the length of one long line; and how the tag search scales on a line of stray ">"
// that ends in a tag (it must grow linearly).
// Usage: cantavel-print-bench [runs]
//        cantavel-print-bench --write-documents DIR   (the peers' inputs, see print_peers.sh)

#include "FakePrinter.h"
#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

using namespace cantavel;

namespace {

QStringList document(int lines) {
    std::mt19937 random(7);
    const QStringList words = {
        "echo", "delay",  "<B>bold</B>",          "reverb", "<I>level</I>", "key", "<U>music</U>",
        "mic",  "treble", "<STRIKE>old</STRIKE>", "bass"};
    QStringList out;
    for (int i = 0; i < lines; ++i) {
        QString line = i % 50 == 0 ? QStringLiteral("<CENTER>") : QString();
        const int count = 8 + static_cast<int>(random() % (i % 10 == 0 ? 60 : 12));
        for (int w = 0; w < count; ++w) {
            line += words[static_cast<int>(random() % words.size())] + QLatin1Char(' ');
        }
        if (i % 25 == 0) {
            line += QStringLiteral("<BR>after a break");
        }
        out << line;
    }
    return out;
}

double seconds(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void printAll(const QStringList& lines) {
    TQuickPrint print;
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    print.SetMarginTop(15);
    print.SetMarginBottom(15);
    print.SetMarginLeft(15);
    print.SetMarginRight(15);
    print.SetPrintPageNo(true);
    print.SetLines(lines);
    print.BeginDoc();
    print.PrintLines();
    print.EndDoc();
}

// The same document for groff: style tags as font changes (underline and strike-out
// have no inline form there and are dropped), a centred line under .ce, <BR> as a
// break; A4, 15 mm margins, 10 pt Helvetica, page numbers at the foot.
QString groff(const QStringList& lines) {
    QString out = QStringLiteral(".pl 29.7c\n.po 1.5c\n.ll 18c\n.fam H\n.ps 10\n.vs 12p\n"
                                 ".ad l\n.nh\n"
                                 ".de HD\n'sp 1.5c\n..\n.wh 0 HD\n"
                                 ".de FO\n'sp |28c\n.tl ''%''\n'bp\n..\n.wh -2c FO\n");
    static const QRegularExpression tag(QStringLiteral("<(/?)(B|I|U|STRIKE|CENTER|RIGHT|BR)>"));
    for (QString line : lines) {
        line.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
        const bool centred = line.startsWith(QStringLiteral("<CENTER>"));
        QString body;
        qsizetype at = 0;
        for (auto it = tag.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            body += line.mid(at, m.capturedStart() - at);
            at = m.capturedEnd();
            const QString name = m.captured(2);
            if (name == QLatin1String("B") || name == QLatin1String("I")) {
                body +=
                    m.captured(1).isEmpty() ? QStringLiteral("\\f") + name : QStringLiteral("\\fR");
            } else if (name == QLatin1String("BR")) {
                body += QStringLiteral("\n.br\n");
            }
        }
        body += line.mid(at);
        if (centred) {
            out += QStringLiteral(".ce 1\n");
        }
        out += QStringLiteral("\\&") + body + QLatin1Char('\n');
    }
    return out;
}

bool writeFile(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0 && f.flush();
}

// tagged.txt and plain.txt (the same words without tags), and both for groff.
int writeDocuments(const QString& dir) {
    const QStringList tagged = document(10000);
    QStringList plain;
    static const QRegularExpression anyTag(QStringLiteral("<[^>]*>"));
    for (const QString& line : tagged) {
        plain << QString(line).remove(anyTag);
    }
    const bool ok = writeFile(dir + QStringLiteral("/tagged.txt"), tagged.join('\n') + '\n') &&
                    writeFile(dir + QStringLiteral("/plain.txt"), plain.join('\n') + '\n') &&
                    writeFile(dir + QStringLiteral("/tagged.groff"), groff(tagged)) &&
                    writeFile(dir + QStringLiteral("/plain.groff"), groff(plain));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--write-documents") {
        return writeDocuments(QString::fromLocal8Bit(argv[2]));
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const QStringList lines = document(10000);

    testing::FakePrinter fake;
    fake.ppi = 600;
    fake.physicalWidth = 4960; // A4 at 600 pixels per inch
    fake.physicalHeight = 7016;
    fake.charWidth = 50;
    fake.boldCharWidth = 55;
    fake.height = 100;
    std::vector<double> layout;
    SetPrinter(&fake);
    for (int i = 0; i < runs; ++i) {
        fake.drawn.clear();
        layout.push_back(seconds([&] { printAll(lines); }));
    }
    std::printf("10,000 lines, fixed metrics: median %.3f s over %d runs, %zu runs drawn, "
                "%d pages, peak %ld MiB\n",
                median(layout), runs, fake.drawn.size(), fake.newPages + 1, peakKiB() / 1024);

    // The wrap scan measures every prefix of a piece: how one long line scales.
    for (int length : {10000, 100000}) {
        const QString line(length, QLatin1Char('x'));
        TQuickPrint print;
        print.BeginDoc();
        const double s = seconds([&] { print.Print(0, 0, line); });
        std::printf("one line of %d characters: %.3f s (%.2f us a character)\n", length, s,
                    1e6 * s / length);
    }

    // N stray ">" and then "<B>": parsing and measuring the whole line are the tag
    // search alone; printing it adds the wrap scan over its pieces.
    for (int length : {20000, 40000, 80000, 160000}) {
        const QString line = QString(length, QLatin1Char('>')) + QStringLiteral("<B>");
        TQuickPrint print;
        const double search = seconds([&] {
            print.ParseLine(line);
            (void)print.TextExtentEx(line);
        });
        print.BeginDoc();
        const double layout = seconds([&] { print.Print(0, 0, line); });
        std::printf("%d '>' then <B>: tag search %.4f s, whole layout %.3f s\n", length, search,
                    layout);
    }
    SetPrinter(nullptr);

    QTemporaryDir dir;
    std::vector<double> pdf;
    for (int i = 0; i < std::min(runs, 3); ++i) {
        QtPrinter printer(dir.filePath(QStringLiteral("bench.pdf")));
        SetPrinter(&printer);
        pdf.push_back(seconds([&] { printAll(lines); }));
        SetPrinter(nullptr);
    }
    std::printf("10,000 lines to PDF: median %.3f s over %zu runs, peak %ld MiB\n", median(pdf),
                pdf.size(), peakKiB() / 1024);
    return 0;
}
