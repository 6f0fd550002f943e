// The tag parser and the line layout with a fixed-metrics printer on any text: the
// layout always ends, and the pieces it places give back every display line.

#include "FakePrinter.h"
#include "QuickPrint.h"
#include "Reassemble.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

namespace {

class PieceRecorder : public cantavel::TQuickPrint {
public:
    QStringList pieces;
    void TextOutEx(int x, int y, const QString& text) override {
        pieces << text;
        TQuickPrint::TextOutEx(x, y, text);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    cantavel::testing::FakePrinter printer;
    printer.charWidth = 1 + data[0] % 64; // some characters wider than the line
    printer.boldCharWidth = printer.charWidth + data[1] % 8;
    printer.physicalHeight = 100000;
    cantavel::testing::UsePrinter use(printer);

    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data + 2),
                                             static_cast<qsizetype>(size - 2));
    PieceRecorder print;
    print.SetWordWrap((data[1] & 0x80) == 0);
    print.BeginDoc();
    qsizetype placed = 0;
    for (const QString& source : text.split(QLatin1Char('\n'))) {
        print.SetLines({});
        const qsizetype first = print.ParsedLines().size();
        print.ParseLine(source);
        for (qsizetype i = first; i < print.ParsedLines().size(); ++i) {
            const QString display = print.ParsedLines()[i];
            print.pieces.clear();
            print.PrintLine(display, static_cast<int>(i));
            placed += print.pieces.size();
            if (!cantavel::testing::reassembles(display, print.pieces)) {
                std::abort(); // a character was lost or invented
            }
        }
    }
    if (placed > 4 * text.size() + 4 * (text.count(QLatin1Char('\n')) + 1) + 8) {
        std::abort(); // more pieces than the text can make: the layout went round
    }
    (void)print.TextExtentEx(text);
    (void)print.OnlyContainsTags(text);
    return 0;
}
