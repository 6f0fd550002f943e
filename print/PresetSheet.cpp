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

// A row of the sheet: up to four parameters side by side, grouped as the window
// groups them.
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
constexpr int kColumns = 4;

constexpr float kInch = 25.4f;
constexpr float kMarginMm = 15.0f;

// Lays the sheet out. Works in inches, in which a row's device pixel converts to a
// position and back exactly, so that the cells of a row share one baseline.
class SheetLayout {
public:
    explicit SheetLayout(TQuickPrint& print) : print_(print) {}

    void title(const QString& title, const QDate& date) {
        lines({QStringLiteral("<CENTER><B>%1</B></CENTER>").arg(literalText(title)),
               QStringLiteral("<CENTER>%1</CENTER>").arg(date.toString(Qt::ISODate)), QString()});
    }

    void slot(const ConfigRecord& record, int slot) {
        const bool mode = isModeSlot(slot);
        const std::size_t rows = kEffectRows.size() + (mode ? kDefaultSettingRows.size() + 1 : 0);
        keepTogether(static_cast<int>(rows) + 2); // heading, rows, the gap after
        lines({QStringLiteral("<B>%1</B>").arg(slotTitle(slot))});
        for (const Row& row : kEffectRows) {
            cells(record, slot, row);
        }
        if (mode) {
            lines({QStringLiteral("<I>Default Setting</I>")});
            for (const Row& row : kDefaultSettingRows) {
                cells(record, slot, row);
            }
        }
        lines({QString()});
    }

private:
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

    // Starts a new page unless `count` lines fit on this one (or it is still empty).
    void keepTogether(int count) {
        const std::uint32_t bottom = print_.MeasureUnitToPixelsVert(
            static_cast<float>(print_.GetPageHeight() + print_.MarginTop()));
        const auto need = static_cast<std::uint32_t>(count * lineHeight());
        if (print_.CurrentY() > textTop() && print_.CurrentY() + need >= bottom) {
            print_.NewPage();
        }
    }

    // One row: each parameter's "Name: value" in its column, on one line.
    void cells(const ConfigRecord& record, int slot, const Row& row) {
        keepTogether(1);
        const std::uint32_t rowTop = print_.CurrentY();
        // Half a pixel more, so that the conversion back truncates to the row itself.
        const auto y = static_cast<float>(print_.PixelsToMeasureUnitVert(rowTop - textTop()) +
                                          print_.PixelsToMeasureUnitVert(1) / 2);
        const double column = print_.GetPageWidth() / kColumns;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const Parameter& p = parameter(row[i]);
            const QString text = QStringLiteral("%1: %2").arg(
                QLatin1String(p.name), literalText(shownText(record, slot, p)));
            print_.Print(static_cast<float>(column * static_cast<double>(i)), y, text);
        }
    }

    TQuickPrint& print_;
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
    // The longest slot's block (a mode slot: heading, eight rows, the Default Setting
    // line, the gap) fits on a page.
    if (print.GetPageWidth() <= 0 || print.GetPageHeight() < 12 * line) {
        return {false, QStringLiteral("the page is too small for the sheet"), 0};
    }
    SheetResult result;
    try {
        print.BeginDoc();
        try {
            SheetLayout layout(print);
            layout.title(title, date);
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

SheetResult exportPresetSheet(const ConfigRecord& record, const QString& title, const QDate& date,
                              const QString& path, SheetPaper paper) {
    if (const QString why = whyNotWritable(path); !why.isEmpty()) {
        return {false, why, 0};
    }
    PdfFile pdf;
    if (!pdf.valid()) {
        return {false, pdf.error(), 0};
    }
    SheetResult result;
    {
        QtPrinter printer(pdf.path());
        if (!printer.qprinter().setPageSize(pageSize(paper))) {
            return {false, QStringLiteral("the PDF writer refused %1 paper").arg(paperName(paper)),
                    0};
        }
        result = printPresetSheet(printer, record, title, date);
    } // the PDF writer lets go of the document
    if (!result.ok) {
        return result;
    }
    if (const FileResult saved = pdf.saveTo(path); !saved) {
        return {false, saved.reason, 0};
    }
    return result;
}

} // namespace cantavel
