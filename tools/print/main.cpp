// cantavel-print: prints a text file with inline tags through the printing component,
// to the default printer or to a PDF file.

#include "QtPrinter.h"
#include "Quickprint.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "cantavel-print: %s\n", qPrintable(message));
    return 1;
}

bool parseSpacing(const QString& text, cantavel::TLineSpacing& spacing) {
    using cantavel::TLineSpacing;
    const QString t = text.toLower();
    if (t == QLatin1String("half"))
        spacing = TLineSpacing::HalfSpace;
    else if (t == QLatin1String("single"))
        spacing = TLineSpacing::SingleSpace;
    else if (t == QLatin1String("one-and-a-half") || t == QLatin1String("1.5"))
        spacing = TLineSpacing::SingleAndAHalf;
    else if (t == QLatin1String("double"))
        spacing = TLineSpacing::DoubleSpace;
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Printing needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cantavel-print"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints a text file whose lines may carry inline tags:\n"
                       "  <B> </B> bold, <I> </I> italic, <U> </U> underline,\n"
                       "  <STRIKE> </STRIKE> strike-out, <CENTER> </CENTER> and\n"
                       "  <RIGHT> </RIGHT> aligned lines, <BR> a line break.\n"
                       "Without -o it prints on the system's default printer."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The text file to print."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write a PDF file instead of printing."),
                                    QStringLiteral("file.pdf"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("Unit of the margins: mm (default) or in."),
                                  QStringLiteral("unit"), QStringLiteral("mm"));
    const QCommandLineOption top(QStringLiteral("top"), QStringLiteral("Top margin."),
                                 QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption bottom(QStringLiteral("bottom"), QStringLiteral("Bottom margin."),
                                    QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption left(QStringLiteral("left"), QStringLiteral("Left margin."),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption right(QStringLiteral("right"), QStringLiteral("Right margin."),
                                   QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption spacing(QStringLiteral("spacing"),
                                     QStringLiteral("Line spacing: half, single (default), "
                                                    "one-and-a-half or double."),
                                     QStringLiteral("spacing"), QStringLiteral("single"));
    const QCommandLineOption noWrap(QStringLiteral("no-wrap"),
                                    QStringLiteral("Do not wrap long lines."));
    const QCommandLineOption pageNumbers(
        QStringLiteral("page-numbers"),
        QStringLiteral("Print a page number at the foot of each page."));
    const QCommandLineOption landscape(QStringLiteral("landscape"),
                                       QStringLiteral("Landscape pages."));
    const QCommandLineOption font(QStringLiteral("font"),
                                  QStringLiteral("Font family (default Arial)."),
                                  QStringLiteral("family"), QStringLiteral("Arial"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("Font size in points (default 10)."),
                                  QStringLiteral("points"), QStringLiteral("10"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("Job title for the print queue."),
                                   QStringLiteral("text"));
    parser.addOptions({output, unit, top, bottom, left, right, spacing, noWrap, pageNumbers,
                       landscape, font, size, title});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        return fail(QStringLiteral("give exactly one file to print (see --help)"));
    }
    QFile input(files.first());
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return fail(QStringLiteral("cannot read %1: %2").arg(files.first(), input.errorString()));
    }
    QStringList lines;
    QTextStream stream(&input);
    while (!stream.atEnd()) {
        lines << stream.readLine();
    }

    cantavel::TMeasureUnit measure = cantavel::TMeasureUnit::Millimeters;
    if (parser.value(unit) == QLatin1String("in")) {
        measure = cantavel::TMeasureUnit::Inches;
    } else if (parser.value(unit) != QLatin1String("mm")) {
        return fail(QStringLiteral("unknown unit '%1': mm or in").arg(parser.value(unit)));
    }
    float margins[4] = {};
    const QCommandLineOption* marginOptions[4] = {&top, &bottom, &left, &right};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        margins[i] = parser.value(*marginOptions[i]).toFloat(&ok);
        if (!ok || margins[i] < 0) {
            return fail(QStringLiteral("the margin '%1' is not a number of %2")
                            .arg(parser.value(*marginOptions[i]), parser.value(unit)));
        }
    }
    cantavel::TLineSpacing lineSpacing = cantavel::TLineSpacing::SingleSpace;
    if (!parseSpacing(parser.value(spacing), lineSpacing)) {
        return fail(QStringLiteral("unknown line spacing '%1'").arg(parser.value(spacing)));
    }
    bool sizeOk = false;
    const int points = parser.value(size).toInt(&sizeOk);
    if (!sizeOk || points <= 0) {
        return fail(QStringLiteral("the font size '%1' is not a whole number of points")
                        .arg(parser.value(size)));
    }

    std::unique_ptr<cantavel::QtPrinter> printer;
    if (parser.isSet(output)) {
        const QString pdf = parser.value(output);
        QFile probe(pdf); // say why before the printer only says it failed
        if (!probe.open(QIODevice::WriteOnly)) {
            return fail(QStringLiteral("cannot write %1: %2").arg(pdf, probe.errorString()));
        }
        probe.close();
        printer = std::make_unique<cantavel::QtPrinter>(QFileInfo(pdf).absoluteFilePath());
    } else {
        printer = std::make_unique<cantavel::QtPrinter>();
    }
    cantavel::SetPrinter(printer.get());

    cantavel::TQuickPrint print;
    print.SetMeasureUnit(measure);
    print.SetMarginTop(margins[0]);
    print.SetMarginBottom(margins[1]);
    print.SetMarginLeft(margins[2]);
    print.SetMarginRight(margins[3]);
    print.SetLineSpacing(lineSpacing);
    print.SetWordWrap(!parser.isSet(noWrap));
    print.SetPrintPageNo(parser.isSet(pageNumbers));
    print.SetPrintTitle(parser.isSet(title) ? parser.value(title) : QFileInfo(input).fileName());
    print.SetOrientation(parser.isSet(landscape) ? cantavel::TPrinterOrientation::poLandscape
                                                 : cantavel::TPrinterOrientation::poPortrait);
    cantavel::TFont chosen;
    chosen.Name = parser.value(font);
    chosen.Size = points;
    print.SetFont(chosen);
    print.SetLines(lines);

    try {
        print.BeginDoc();
        print.PrintLines();
        print.EndDoc();
    } catch (const char* message) {
        cantavel::SetPrinter(nullptr);
        return fail(QString::fromLatin1(message));
    }
    cantavel::SetPrinter(nullptr);
    std::printf("printed %lld lines on %d pages\n", static_cast<long long>(lines.size()),
                print.PageNumber());
    return 0;
}
