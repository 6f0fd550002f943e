#include "PresetSheet.h"

#include "ParameterValues.h"
#include "PdfFile.h"
#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QFileInfo>
#include <QPageSize>
#include <QPrinter>
#include <QStringList>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <vector>

namespace cantavel {

namespace {

using enum ParameterId;

// A row of the sheet: up to four parameters, grouped as the window groups them,
// side by side where the page has the columns and on further lines where not.
using Row = std::vector<ParameterId>;
const std::vector<Row> kEffectRows = {
    {KeyIndex, FbEx, SwFreq, EffectVolume},
    {EchoDelay, EchoRepeat, EchoLevel},
    {ReverbTime, ReverbLevel},
    {MusicBass, MusicMiddle, MusicTreble, MusicBalance},
    {MicBass, MicMiddle, MicTreble},
};
const std::vector<Row> kDefaultSettingRows = {
    {InputSource, Center, Aux, MusicIn},
    {MusicVolume, MusicVolMax, MicVolume, MicVolMax},
    {SwVol1, SwVol2},
};
// As many columns as the page's width holds: four on A4 and Letter, two on A5 and
// A6, one on a narrower page.
constexpr std::array<int, 3> kColumnChoices{4, 2, 1};
// The header: the title, the date and a blank line.
constexpr int kHeaderLines = 3;

constexpr float kInch = 25.4f;
constexpr float kMarginMm = 15.0f;
// The least room between a cell and the next.
constexpr float kCellGapMm = 3.0f;

const QChar kEllipsis(0x2026);

QString cellText(const Parameter& p, const QString& value) {
    return QStringLiteral("%1: %2").arg(QLatin1String(p.name), value);
}

// Every value a parameter can show: its list's items (or none of them), or the
// numbers at both ends of its range.
QStringList possibleValues(const Parameter& p) {
    if (p.kind == ControlKind::List) {
        return listItems(p) + QStringList{shownOrNone(QString())};
    }
    return {QString::number(p.shown(p.minValue)), QString::number(p.shown(p.maxValue))};
}

// `text` with its middle left out for "…", keeping `kept` characters, none of them
// half a surrogate pair.
QString elidedMiddle(const QString& text, qsizetype kept) {
    qsizetype head = kept * 2 / 3;
    qsizetype tail = kept - head;
    if (head > 0 && text[head - 1].isHighSurrogate()) {
        --head;
    }
    if (tail > 0 && text[text.size() - tail].isLowSurrogate()) {
        --tail;
    }
    return text.left(head) + kEllipsis + text.right(tail);
}

// Lays the sheet out. Works in inches, in which a row's device pixel converts to a
// position and back exactly, so that the cells of a row share one baseline.
class SheetLayout {
public:
    // Measures what the sheet prints in the printer's font, before the job begins.
    SheetLayout(TQuickPrint& print, const QString& title, const QDate& date)
        : print_(print), date_(date.toString(Qt::ISODate)) {
        const std::uint32_t page = pixelsHorz(print_.GetPageWidth());
        const std::uint32_t gap = pixelsHorz(kCellGapMm / kInch);
        int widest = 0;
        int narrowest = 0; // the widest cell with its name cut to "…"
        for (const Parameter& p : parameterTable()) {
            for (const QString& value : possibleValues(p)) {
                widest = std::max(widest, width(cellText(p, value)));
                narrowest =
                    std::max(narrowest, width(QStringLiteral("%1: %2").arg(kEllipsis, value)));
            }
        }
        for (const int columns : kColumnChoices) {
            columns_ = columns;
            if (page / static_cast<std::uint32_t>(columns) >=
                static_cast<std::uint32_t>(widest) + gap) {
                break;
            }
        }
        room_ =
            static_cast<int>(pixelsHorz(print_.GetPageWidth() / columns_)) - static_cast<int>(gap);
        wideEnough_ = room_ >= narrowest;
        title_ = fittedTitle(title, static_cast<int>(page));
    }

    // Whether every cell keeps its value whole, and the longest slot's block fits on
    // a page under the header.
    bool fits() const {
        int tallest = 0;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            tallest = std::max(tallest, blockLines(slot));
        }
        return wideEnough_ &&
               textTop() + static_cast<std::uint32_t>((kHeaderLines + tallest) * lineHeight()) <
                   bottom();
    }

    // The file's name and the date, on every page.
    void header() {
        lines({QStringLiteral("<CENTER><B>%1</B></CENTER>").arg(title_),
               QStringLiteral("<CENTER>%1</CENTER>").arg(date_), QString()});
        blocksOnPage_ = 0;
    }

    void slot(const ConfigRecord& record, int slot) {
        keepTogether(blockLines(slot));
        ++blocksOnPage_;
        lines({QStringLiteral("<B>%1</B>").arg(slotTitle(slot))});
        for (const Row& row : kEffectRows) {
            cells(record, slot, row);
        }
        if (isModeSlot(slot)) {
            lines({QStringLiteral("<I>Default Setting</I>")});
            for (const Row& row : kDefaultSettingRows) {
                cells(record, slot, row);
            }
        }
        lines({QString()});
    }

private:
    std::uint32_t pixelsHorz(double inches) const {
        return print_.MeasureUnitToPixelsHorz(static_cast<float>(inches));
    }

    static int width(const QString& text) { return Printer().TextExtent(text).cx; }

    // The title as markup that fits the page on one line: shortened in its middle
    // where it is too long.
    QString fittedTitle(const QString& title, int page) const {
        const auto fits = [&](const QString& text) {
            return print_.TextExtentEx(QStringLiteral("<B>%1</B>").arg(literalText(text))).cx <=
                   page;
        };
        if (fits(title)) {
            return literalText(title);
        }
        qsizetype low = 0; // the most characters kept that fit, as far as known
        qsizetype high = title.size() - 1;
        while (low < high) {
            const qsizetype mid = low + (high - low + 1) / 2;
            if (fits(elidedMiddle(title, mid))) {
                low = mid;
            } else {
                high = mid - 1;
            }
        }
        return literalText(elidedMiddle(title, low));
    }

    // The lines a row takes: its cells in as many lines as the columns need.
    int rowLines(const Row& row) const {
        return (static_cast<int>(row.size()) + columns_ - 1) / columns_;
    }

    // The heading, the rows, the Default Setting on a mode slot, the gap after.
    int blockLines(int slot) const {
        int count = 2;
        for (const Row& row : kEffectRows) {
            count += rowLines(row);
        }
        if (isModeSlot(slot)) {
            ++count;
            for (const Row& row : kDefaultSettingRows) {
                count += rowLines(row);
            }
        }
        return count;
    }

    void lines(const QStringList& text) {
        print_.LinesRef() = text; // the writer is closed while a job runs
        print_.PrintLines();
    }

    static int lineHeight() { return Printer().TextHeight(QStringLiteral("Mg")); }

    // The device row of the text area's top.
    std::uint32_t textTop() const {
        return print_.MeasureUnitToPixelsVert(
            static_cast<float>(print_.MarginTop() - print_.GetPhysicalOffsetY()));
    }

    // The device row the text area ends above.
    std::uint32_t bottom() const {
        return print_.MeasureUnitToPixelsVert(
            static_cast<float>(print_.GetPageHeight() + print_.MarginTop()));
    }

    // Starts a new page, with its header, unless `count` lines fit on this one or it
    // holds no block yet.
    void keepTogether(int count) {
        const auto need = static_cast<std::uint32_t>(count * lineHeight());
        if (blocksOnPage_ > 0 && print_.CurrentY() + need >= bottom()) {
            print_.NewPage();
            header();
        }
    }

    // A cell's markup, its name cut short (never its value) where the column is too
    // narrow for it.
    QString fittedCell(const Parameter& p, const QString& value) const {
        const QString shown = literalText(value);
        QString text = cellText(p, shown);
        const QString name = QLatin1String(p.name);
        for (qsizetype kept = name.size() - 1; width(text) > room_ && kept >= 0; --kept) {
            text = QStringLiteral("%1%2: %3").arg(name.left(kept).trimmed(), kEllipsis, shown);
        }
        return text;
    }

    // A row: each parameter's "Name: value" in its column, as many to a line as
    // there are columns.
    void cells(const ConfigRecord& record, int slot, const Row& row) {
        const double column = print_.GetPageWidth() / columns_;
        const auto perLine = static_cast<std::size_t>(columns_);
        for (std::size_t first = 0; first < row.size(); first += perLine) {
            const std::uint32_t rowTop = print_.CurrentY();
            // Half a pixel more, so that the conversion back truncates to the row itself.
            const auto y = static_cast<float>(print_.PixelsToMeasureUnitVert(rowTop - textTop()) +
                                              print_.PixelsToMeasureUnitVert(1) / 2);
            const std::size_t end = std::min(row.size(), first + perLine);
            for (std::size_t i = first; i < end; ++i) {
                const Parameter& p = parameter(row[i]);
                const QString text = fittedCell(p, shownOrNone(shownText(record, slot, p)));
                print_.Print(static_cast<float>(column * static_cast<double>(i - first)), y, text);
            }
        }
    }

    TQuickPrint& print_;
    QString title_; // markup
    QString date_;
    int columns_ = 1;
    int room_ = 0; // the widest a cell may be, in device pixels
    bool wideEnough_ = false;
    int blocksOnPage_ = 0;
};

} // namespace

QString sheetTitle(const QString& path) {
    return path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).fileName();
}

SheetResult printPresetSheet(TPrinter& printer, const ConfigRecord& record, const QString& title,
                             const QDate& date) {
    const ScopedPrinter job(printer);
    TQuickPrint print;
    print.SetMeasureUnit(TMeasureUnit::Inches);
    print.SetPrintPageNo(true);
    print.SetPrintTitle(title);
    print.SetFont(TFont{QStringLiteral("Arial"), 10, 0});
    // 15 mm all round, or the printer's unprintable edge where that is more, and at
    // the foot room for the page number (its top is two lines above the paper's edge).
    const float edge = kMarginMm / kInch;
    const double line = print.PixelsToMeasureUnitVert(
        static_cast<std::uint32_t>(printer.TextHeight(QStringLiteral("Mg"))));
    const auto offsetX = static_cast<float>(print.GetPhysicalOffsetX());
    const auto offsetY = static_cast<float>(print.GetPhysicalOffsetY());
    print.SetMarginTop(std::max(edge, offsetY));
    print.SetMarginLeft(std::max(edge, offsetX));
    print.SetMarginRight(std::max(edge, offsetX));
    print.SetMarginBottom(std::max({edge, offsetY, static_cast<float>(3 * line)}));
    // The sheet places every cell itself, where it fits.
    print.SetWordWrap(false);
    const QString tooSmall = QStringLiteral("the page is too small for the sheet");
    if (print.GetPageWidth() <= 0) {
        return {false, tooSmall, 0};
    }
    SheetLayout layout(print, title, date);
    if (!layout.fits()) {
        return {false, tooSmall, 0};
    }
    SheetResult result;
    try {
        print.BeginDoc();
        try {
            layout.header();
            for (int slot = 0; slot < kSlotCount; ++slot) {
                layout.slot(record, slot);
            }
        } catch (...) {
            try {
                print.AbortDoc();
            } catch (...) {
                // the first failure is the one to report
            }
            throw;
        }
        print.EndDoc();
        result.pages = print.PageNumber();
    } catch (const char* message) {
        result = {false, QString::fromLatin1(message), 0};
    } catch (const std::exception& e) {
        result = {false, QString::fromLocal8Bit(e.what()), 0};
    }
    // Whatever the job left switched on is not the next job's business.
    printer.Font().Style = 0;
    return result;
}

namespace {

// The sheet laid out on `paper` in `pdf`.
SheetResult makePdf(PdfFile& pdf, const ConfigRecord& record, const QString& title,
                    const QDate& date, SheetPaper paper) {
    if (!pdf.valid()) {
        return {false, pdf.error(), 0};
    }
    QtPrinter printer(pdf.path());
    if (!printer.qprinter().setPageSize(pageSize(paper))) {
        return {false, QStringLiteral("the PDF writer refused %1 paper").arg(paperName(paper)), 0};
    }
    return printPresetSheet(printer, record, title, date);
} // the PDF writer lets go of the document with the printer

// The sheet made in memory, then handed on whole by `deliver` (saved, written).
template <typename Deliver>
SheetResult madeAndDelivered(const ConfigRecord& record, const QString& title, const QDate& date,
                             SheetPaper paper, Deliver deliver) {
    PdfFile pdf;
    SheetResult result = makePdf(pdf, record, title, date, paper);
    if (!result.ok) {
        return result;
    }
    if (const FileResult delivered = deliver(pdf); !delivered) {
        return {false, delivered.reason, 0};
    }
    return result;
}

} // namespace

SheetResult exportPresetSheet(const ConfigRecord& record, const QString& title, const QDate& date,
                              const QString& path, SheetPaper paper) {
    if (const QString why = whyNotWritable(path); !why.isEmpty()) {
        return {false, why, 0};
    }
    return madeAndDelivered(record, title, date, paper,
                            [&](const PdfFile& pdf) { return pdf.saveTo(path); });
}

SheetResult writePresetSheet(const ConfigRecord& record, const QString& title, const QDate& date,
                             int fd, SheetPaper paper) {
    return madeAndDelivered(record, title, date, paper,
                            [fd](const PdfFile& pdf) { return pdf.writeTo(fd); });
}

} // namespace cantavel
