// Layout of a 10,000-line tagged document: with a printer of fixed metrics (layout
// alone) and to a PDF file, wall time and peak memory; how the wrap scan scales with
// the length of one long line; and how the tag search scales on a line of stray ">"
// that ends in a tag (it must grow linearly).
// Usage: cantavel-print-bench [runs]

#include "FakePrinter.h"
#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QGuiApplication>
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

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
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
