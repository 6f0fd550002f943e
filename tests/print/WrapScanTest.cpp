// Where lines break: the layout must find exactly the pieces the character-by-
// character scan finds (every prefix measured, in order), tags anywhere across the
// breaks included, on a printer of fixed metrics and on the real one.

#include "FakePrinter.h"
#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace cantavel {
namespace {

// Records each piece as it is drawn.
class Recorder : public TQuickPrint {
public:
    QStringList pieces;
    void TextOutEx(int X, int Y, const QString& Text) override {
        pieces << Text;
        TQuickPrint::TextOutEx(X, Y, Text);
    }
};

QString chars(const QString& s, int a, int b) {
    a = std::max(a, 1);
    b = std::min(b, static_cast<int>(s.size()));
    return b < a ? QString() : s.mid(a - 1, b - a + 1);
}

// The scan as the layout rules give it: every prefix of the piece measured in
// turn, the first that overflows ends the piece (at its last space, or before its
// last character). Each piece is drawn before the next is sought: its tags switch
// the style the next is measured in.
QStringList scannedPieces(Recorder& print, const QString& line, std::uint32_t x) {
    print.pieces.clear();
    const std::uint32_t room =
        print.MeasureUnitToPixelsHorz(static_cast<float>(print.GetPageWidth()));
    TextSize size = print.TextExtentEx(line);
    int start = 1;
    if (!(x + static_cast<std::uint32_t>(size.cx) <= room)) {
        int pos = 1;
        int breakAt = 0;
        do {
            ++pos;
            const QString segment = chars(line, start, pos - 1);
            size = print.TextExtentEx(segment);
            if (!segment.isEmpty() && segment.back() == QLatin1Char(' ')) {
                breakAt = pos - 1;
            }
            if (x + static_cast<std::uint32_t>(size.cx) > room) {
                QString piece;
                int next = 0;
                if (breakAt != 0) {
                    piece = chars(line, start, breakAt - 1);
                    next = breakAt + 1;
                } else {
                    piece = chars(line, start, pos - 2);
                    next = pos - 1;
                    if (piece.isEmpty()) {
                        piece = chars(line, start, pos - 1);
                        next = pos;
                    }
                }
                print.TextOutEx(static_cast<int>(x), 0, piece);
                if (!print.OnlyContainsTags(piece)) {
                    x = 0; // the line ended; a piece of style tags alone ends none
                }
                pos = next;
                start = next;
                breakAt = 0;
            }
        } while (pos <= line.size());
    }
    print.TextOutEx(static_cast<int>(x), 0, chars(line, start, static_cast<int>(line.size())));
    return print.pieces;
}

// Words, spaces and tags of every kind, whole and in parts, runs of stray ">" and
// "<", and now and then a word too long for a line.
QString randomLine(std::mt19937& random) {
    static const QStringList parts = {
        "a",         "bb",     "word", "W",     "iiii",
        " ",         " ",      "  ",   "<B>",   "</B>",
        "<I>",       "</I>",   "<U>",  "</U>",  "<STRIKE>",
        "</STRIKE>", "<STRIK", "E>",   "<",     ">",
        ">>",        "<FOO>",  "<b>",  "< B >", "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm"};
    QString line;
    const int count = static_cast<int>(random() % 60);
    for (int i = 0; i < count; ++i) {
        line += parts[static_cast<int>(random() % parts.size())];
    }
    return line;
}

// Each line is laid out twice from the same style: by the scan, and by the layout.
void checkRandomLines(Recorder& print, int lines, unsigned seed) {
    std::mt19937 random(seed);
    TFontStyles& style = Printer().Font().Style;
    for (int i = 0; i < lines; ++i) {
        const QString line = randomLine(random);
        const auto x = static_cast<std::uint32_t>(random() % 3) * 40; // some start inside
        const TFontStyles before = style;
        // A line that holds a line tag would be split first; these hold none.
        const QStringList expected = scannedPieces(print, line, x);
        const TFontStyles after = style;
        style = before;
        print.pieces.clear();
        print.Print(static_cast<float>(print.PixelsToMeasureUnitHorz(x)), 0, line);
        ASSERT_EQ(print.pieces, expected) << "line " << i << ": " << line.toStdString();
        ASSERT_EQ(style, after);
    }
}

TEST(WrapScan, PiecesAreTheScansOnAPrinterOfFixedMetrics) {
    testing::FakePrinter printer;
    printer.physicalWidth = 400;
    printer.physicalHeight = 100000;
    const testing::UsePrinter use(printer);
    Recorder print;
    print.SetMeasureUnit(TMeasureUnit::Inches);
    print.SetMarginLeft(0.5f);
    print.SetMarginRight(0.5f);
    print.BeginDoc();
    checkRandomLines(print, 3000, 1);
    print.EndDoc();
}

// Real glyphs: kerning, and bold and italic of their own widths.
TEST(WrapScan, PiecesAreTheScansOnTheRealPrinter) {
    QTemporaryDir dir;
    QtPrinter printer(dir.filePath(QStringLiteral("wrap.pdf")));
    const testing::UsePrinter use(printer);
    Recorder print;
    print.SetMarginLeft(150);
    print.SetMarginRight(15);
    print.BeginDoc();
    checkRandomLines(print, 600, 2);
    print.EndDoc();
}

} // namespace
} // namespace cantavel
