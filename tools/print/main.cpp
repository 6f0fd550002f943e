// cantavel-print: prints a text file with inline tags through the printing component,
// to the default printer or to a PDF file.

#include "InputFile.h"
#include "PdfFile.h"
#include "QtPrinter.h"
#include "QuickPrint.h"
#include "SafeSave.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "cantavel-print: %s\n", qPrintable(message));
    return 1;
}

// Output that could not be written (a full disk, a closed pipe) makes a failure.
int finishOutput(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        return fail(
            QStringLiteral("cannot write the output: %1").arg(cantavel::systemReason(errno)));
    }
    return status;
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

// Sets the margins, the ones not given (negative) to defaults that lie inside what
// a printer can print: 15 mm, or the printer's unprintable edge where that is more,
// and at the bottom room for the page numbers under the text. Refuses margins that
// leave no room for a line of text; an empty string when all is well.
QString applyMargins(cantavel::TQuickPrint& print, const float (&given)[4], bool pageNumbers) {
    using cantavel::Printer;
    const bool mm = print.MeasureUnit() == cantavel::TMeasureUnit::Millimeters;
    const float fifteen = mm ? 15.0f : static_cast<float>(15 / 25.4);
    const auto orDefault = [&](float value, double least) {
        return value >= 0 ? value : static_cast<float>(std::max<double>(fifteen, least));
    };
    // One line of text in the chosen font, in the margins' unit.
    const cantavel::TextSize line = Printer().TextExtent(QStringLiteral("Mg"));
    const double lineHeight = print.PixelsToMeasureUnitVert(static_cast<std::uint32_t>(line.cy));
    const double charWidth = print.PixelsToMeasureUnitHorz(static_cast<std::uint32_t>(line.cx)) / 2;
    const double offsetX = print.GetPhysicalOffsetX();
    const double offsetY = print.GetPhysicalOffsetY();
    print.SetMarginTop(orDefault(given[0], offsetY));
    // A page number's top lies two text heights above the paper's edge: a third
    // keeps it clear of the last line.
    print.SetMarginBottom(orDefault(given[1], std::max(offsetY, pageNumbers ? 3 * lineHeight : 0)));
    print.SetMarginLeft(orDefault(given[2], offsetX));
    print.SetMarginRight(orDefault(given[3], offsetX));

    const double width = print.GetPageWidth() + offsetX; // between the margins
    const double height = print.GetPageHeight() + offsetY;
    if (width < charWidth || height < lineHeight) {
        const QString unit = mm ? QStringLiteral("mm") : QStringLiteral("in");
        return QStringLiteral("the margins leave no room for text: %1 x %2 %3 remain of a %4 x "
                              "%5 %3 page")
            .arg(std::max(width, 0.0), 0, 'f', 1)
            .arg(std::max(height, 0.0), 0, 'f', 1)
            .arg(unit)
            .arg(print.GetPhysicalPageWidth(), 0, 'f', 1)
            .arg(print.GetPhysicalPageHeight(), 0, 'f', 1);
    }
    return {};
}

// Input larger than this is no document to print.
constexpr qint64 kMaxInputBytes = 64 * 1024 * 1024;

// The lines of a text file: UTF-8, or Latin-1 (with a warning) when it is not valid
// UTF-8; lines end in LF, CR LF or a bare CR. A file holding NUL bytes is no text.
// An empty string when it could be read; otherwise why not.
QString readLines(const QString& path, QStringList& lines, bool& latin1) {
    // A pipe is read as a stream (`cantavel-print <(cmd)`); a device never is.
    cantavel::InputFile input(path, cantavel::InputFile::Accept::FileOrPipe);
    QByteArray bytes;
    cantavel::FileResult read = input.result();
    if (read) {
        read = input.read(kMaxInputBytes + 1, bytes);
    }
    if (!read) {
        return QStringLiteral("cannot read %1: %2").arg(path, read.reason);
    }
    if (bytes.size() > kMaxInputBytes) {
        return QStringLiteral("%1 is larger than %2 MiB; that is no text to print")
            .arg(path)
            .arg(kMaxInputBytes / (1024 * 1024));
    }
    if (bytes.contains('\0')) {
        return QStringLiteral("%1 holds NUL bytes: it is a binary file, not text").arg(path);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    latin1 = utf8.hasError();
    if (latin1) {
        text = QString::fromLatin1(bytes);
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')) || text.isEmpty()) {
        lines.removeLast(); // the end of the last line starts no new one
    }
    return {};
}

} // namespace

namespace {

// Qt's note that it made up a runtime folder is about a folder never used here.
QtMessageHandler qtDefault = nullptr;
void quietQtNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
        return;
    }
    qtDefault(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    qtDefault = qInstallMessageHandler(quietQtNotes);
    // Printing needs fonts but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cantavel-print"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CANTAVEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints a text file whose lines may carry inline tags:\n"
                       "  <B> </B> bold, <I> </I> italic, <U> </U> underline,\n"
                       "  <STRIKE> </STRIKE> strike-out, <CENTER> </CENTER> and\n"
                       "  <RIGHT> </RIGHT> aligned lines, <BR> a line break.\n"
                       "Without -o it prints on the system's default printer."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The text file to print."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write a PDF file instead of printing."),
                                    QStringLiteral("file.pdf"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("Unit of the margins: mm (default) or in."),
                                  QStringLiteral("unit"), QStringLiteral("mm"));
    const QCommandLineOption top(
        QStringLiteral("top"), QStringLiteral("Top margin (default 15 mm)."), QStringLiteral("n"));
    const QCommandLineOption bottom(
        QStringLiteral("bottom"),
        QStringLiteral("Bottom margin (default 15 mm, more when page numbers need it)."),
        QStringLiteral("n"));
    const QCommandLineOption left(QStringLiteral("left"),
                                  QStringLiteral("Left margin (default 15 mm)."),
                                  QStringLiteral("n"));
    const QCommandLineOption right(QStringLiteral("right"),
                                   QStringLiteral("Right margin (default 15 mm)."),
                                   QStringLiteral("n"));
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
    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(parser.errorText());
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return finishOutput(0);
    }
    if (parser.isSet(version)) {
        std::fputs("cantavel-print " CANTAVEL_VERSION "\n", stdout);
        return finishOutput(0);
    }

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        return fail(QStringLiteral("give exactly one file to print (see --help)"));
    }
    QStringList lines;
    bool latin1 = false;
    if (const QString why = readLines(files.first(), lines, latin1); !why.isEmpty()) {
        return fail(why);
    }
    if (latin1) {
        std::fprintf(stderr, "cantavel-print: warning: %s is not valid UTF-8; read as Latin-1\n",
                     qPrintable(files.first()));
    }

    cantavel::TMeasureUnit measure = cantavel::TMeasureUnit::Millimeters;
    if (parser.value(unit) == QLatin1String("in")) {
        measure = cantavel::TMeasureUnit::Inches;
    } else if (parser.value(unit) != QLatin1String("mm")) {
        return fail(QStringLiteral("unknown unit '%1': mm or in").arg(parser.value(unit)));
    }
    // Margins not given stay unset (negative) until the printer says what fits.
    float margins[4] = {-1, -1, -1, -1};
    const QCommandLineOption* marginOptions[4] = {&top, &bottom, &left, &right};
    for (int i = 0; i < 4; ++i) {
        if (!parser.isSet(*marginOptions[i])) {
            continue;
        }
        const QString given = parser.value(*marginOptions[i]);
        bool ok = false;
        margins[i] = given.toFloat(&ok);
        if (!ok || !std::isfinite(margins[i])) {
            return fail(QStringLiteral("the margin --%1 '%2' is not a number of %3")
                            .arg(marginOptions[i]->names().first(), given, parser.value(unit)));
        }
        if (margins[i] < 0) {
            return fail(QStringLiteral("the margin --%1 cannot be negative: %2")
                            .arg(marginOptions[i]->names().first(), given));
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
    cantavel::PdfFile pdf;
    const QString target = parser.value(output);
    if (parser.isSet(output)) {
        // The PDF never takes the place of the text it is made from.
        if (cantavel::isSameFile(target, files.first())) {
            return fail(QStringLiteral("%1 is the input %2 itself; give another file to -o")
                            .arg(target, files.first()));
        }
        if (const QString why = cantavel::whyNotWritable(target); !why.isEmpty()) {
            return fail(QStringLiteral("cannot write %1: %2").arg(target, why));
        }
        if (!pdf.valid()) {
            return fail(QStringLiteral("cannot make the PDF in memory: %1").arg(pdf.error()));
        }
        printer = std::make_unique<cantavel::QtPrinter>(pdf.path());
    } else {
        printer = std::make_unique<cantavel::QtPrinter>();
    }
    cantavel::SetPrinter(printer.get());

    cantavel::TQuickPrint print;
    print.SetMeasureUnit(measure);
    print.SetLineSpacing(lineSpacing);
    print.SetWordWrap(!parser.isSet(noWrap));
    print.SetPrintPageNo(parser.isSet(pageNumbers));
    print.SetPrintTitle(parser.isSet(title) ? parser.value(title)
                                            : QFileInfo(files.first()).fileName());
    print.SetOrientation(parser.isSet(landscape) ? cantavel::TPrinterOrientation::poLandscape
                                                 : cantavel::TPrinterOrientation::poPortrait);
    cantavel::TFont chosen;
    chosen.Name = parser.value(font);
    chosen.Size = points;
    print.SetFont(chosen);
    print.SetLines(lines);
    if (const QString why = applyMargins(print, margins, parser.isSet(pageNumbers));
        !why.isEmpty()) {
        return fail(why);
    }

    try {
        print.BeginDoc();
        print.PrintLines();
        print.EndDoc();
    } catch (const char* message) {
        cantavel::SetPrinter(nullptr);
        return fail(QString::fromLatin1(message));
    }
    cantavel::SetPrinter(nullptr);
    printer.reset(); // the PDF writer lets go of the document
    if (parser.isSet(output)) {
        if (const cantavel::FileResult saved = pdf.saveTo(target); !saved) {
            return fail(QStringLiteral("cannot write %1: %2").arg(target, saved.reason));
        }
    }
    std::printf("printed %lld line%s on %d page%s\n", static_cast<long long>(lines.size()),
                lines.size() == 1 ? "" : "s", print.PageNumber(),
                print.PageNumber() == 1 ? "" : "s");
    return finishOutput(0);
}
