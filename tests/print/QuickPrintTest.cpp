// The print job, the unit conversions and the line layout against a printer with
// fixed metrics.

#include "QuickPrint.h"
#include "FakePrinter.h"

#include <gtest/gtest.h>

namespace cantavel {
namespace {

using testing::FakePrinter;

class Layout : public ::testing::Test {
protected:
    void SetUp() override {
        print.SetMeasureUnit(TMeasureUnit::Inches);
        print.OnNewPage = [this](QObject*) { ++newPageEvents; };
        print.OnNewLine = [this](QObject*) { ++newLineEvents; };
    }
    // What the layout placed on the page: x, y and text of every non-empty run.
    std::vector<std::tuple<int, int, QString>> placed() const {
        std::vector<std::tuple<int, int, QString>> out;
        for (const auto& d : printer.drawn) {
            if (!d.text.isEmpty())
                out.emplace_back(d.x, d.y, d.text);
        }
        return out;
    }

    FakePrinter printer;
    testing::UsePrinter use{printer};
    TQuickPrint print;
    int newPageEvents = 0;
    int newLineEvents = 0;
};

TEST_F(Layout, MarginsKeepTheirSizeThroughUnitChanges) {
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    EXPECT_EQ(print.MarginTop(), 0.0f);
    print.SetMeasureUnit(TMeasureUnit::Inches);
    print.SetMarginTop(1);
    print.SetMarginLeft(0.5f);
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    EXPECT_FLOAT_EQ(print.MarginTop(), 25.4f);
    EXPECT_FLOAT_EQ(print.MarginLeft(), 12.7f);
    print.SetMeasureUnit(TMeasureUnit::Inches);
    EXPECT_FLOAT_EQ(print.MarginTop(), 1.0f);
    EXPECT_FLOAT_EQ(print.MarginLeft(), 0.5f);
}

TEST_F(Layout, WritersAreIgnoredDuringAJob) {
    TFont font;
    font.Name = QStringLiteral("Courier");
    print.BeginDoc();
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    print.SetMarginTop(2);
    print.SetWordWrap(false);
    print.SetLineSpacing(TLineSpacing::DoubleSpace);
    print.SetLines({QStringLiteral("x")});
    print.SetPrintTitle(QStringLiteral("t"));
    print.SetPrintPageNo(true);
    print.SetOrientation(TPrinterOrientation::poLandscape);
    print.SetFont(font);
    EXPECT_EQ(print.MeasureUnit(), TMeasureUnit::Inches);
    EXPECT_EQ(print.MarginTop(), 0.0f);
    EXPECT_TRUE(print.WordWrap());
    EXPECT_EQ(print.LineSpacing(), TLineSpacing::SingleSpace);
    EXPECT_TRUE(print.Lines().isEmpty());
    EXPECT_TRUE(print.PrintTitle().isEmpty());
    EXPECT_FALSE(print.PrintPageNo());
    EXPECT_EQ(print.GetOrientation(), TPrinterOrientation::poPortrait);
    EXPECT_EQ(print.GetFont().Name, QStringLiteral("Arial"));
    print.EndDoc();
    print.SetFont(font); // after the job they work again
    EXPECT_EQ(print.GetFont().Name, QStringLiteral("Courier"));
}

TEST_F(Layout, ConversionsAt600PixelsPerInchAndWithoutAPrinter) {
    printer.ppi = 600;
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    EXPECT_EQ(print.MeasureUnitToPixelsHorz(10), 236u);
    EXPECT_NEAR(print.PixelsToMeasureUnitHorz(600), 25.4, 1e-5);
    print.SetMeasureUnit(TMeasureUnit::Inches);
    EXPECT_EQ(print.MeasureUnitToPixelsHorz(0.5f), 300u);
    EXPECT_EQ(print.MeasureUnitToPixelsVert(-1), static_cast<std::uint32_t>(-600));

    printer.available = false;
    EXPECT_EQ(print.MeasureUnitToPixelsHorz(1), 300u);
    EXPECT_DOUBLE_EQ(print.PixelsToMeasureUnitVert(150), 0.5);
    EXPECT_EQ(print.GetOrientation(), TPrinterOrientation::poPortrait);
    printer.failOrientation = true;
    EXPECT_EQ(print.GetOrientation(), TPrinterOrientation::poPortrait);
}

// A printer that reports no resolution is taken at 300 pixels per inch, as is no
// printer at all: never a division by zero.
TEST_F(Layout, APrinterWithoutAResolutionCountsAs300PixelsPerInch) {
    printer.ppi = 0;
    EXPECT_DOUBLE_EQ(print.PixelsToMeasureUnitHorz(150), 0.5);
    print.SetMeasureUnit(TMeasureUnit::Millimeters);
    EXPECT_NEAR(print.PixelsToMeasureUnitVert(300), 25.4, 1e-5);
}

TEST_F(Layout, MetricsFollowThePrinterAndTheMargins) {
    printer.offsetX = 25;
    print.SetMarginLeft(0.25f);
    print.SetMarginRight(0.25f);
    EXPECT_DOUBLE_EQ(print.GetPhysicalPageWidth(), 1.0);
    EXPECT_DOUBLE_EQ(print.GetPhysicalOffsetX(), 0.25);
    EXPECT_DOUBLE_EQ(print.GetPageWidth(), 0.25);
    EXPECT_DOUBLE_EQ(print.GetPageHeight(), 10.0);
}

TEST_F(Layout, FirstPageNumberNeedsNoNewPageLaterOnesEndThePageFirst) {
    print.SetPrintPageNo(true);
    int begun = 0;
    print.OnBeginDoc = [&](QObject* sender) {
        EXPECT_EQ(sender, &print);
        ++begun;
    };
    print.BeginDoc();
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(printer.newPages, 0);
    ASSERT_EQ(printer.drawn.size(), 1u);
    // Centred on the paper (50 - 10/2), two text heights above its bottom (1000 - 40).
    EXPECT_EQ(printer.drawn[0].x, 45);
    EXPECT_EQ(printer.drawn[0].y, 960);
    EXPECT_EQ(printer.drawn[0].text, QStringLiteral("1"));
    print.NewPage();
    EXPECT_EQ(printer.newPages, 1);
    EXPECT_EQ(printer.drawn.back().text, QStringLiteral("2"));
    EXPECT_EQ(printer.drawn.back().page, 2);
    EXPECT_EQ(newPageEvents, 2);
    EXPECT_EQ(print.PageNumber(), 2);
}

TEST_F(Layout, JobFailuresAreThrownAsBareTextAndFireNothing) {
    int events = 0;
    print.OnBeginDoc = print.OnEndDoc = print.OnAbortDoc = [&](QObject*) { ++events; };
    const auto thrown = [](auto&& call) -> std::string {
        try {
            call();
        } catch (const char* message) {
            return message;
        }
        return "(nothing)";
    };
    printer.failBegin = true;
    EXPECT_EQ(thrown([&] { print.BeginDoc(); }), "Unable to Start new Print Job");
    printer.failBegin = false;
    print.BeginDoc();
    printer.failNewPage = true;
    EXPECT_EQ(thrown([&] { print.NewPage(); }), "Unable to Set New Page");
    EXPECT_EQ(print.PageNumber(), 1);
    printer.failEnd = true;
    EXPECT_EQ(thrown([&] { print.EndDoc(); }), "Unable to Finish Print Job");
    printer.failAbort = true;
    EXPECT_EQ(thrown([&] { print.AbortDoc(); }), "Unable to Abort Print Job");
    EXPECT_EQ(events, 1) << "only the successful BeginDoc fired";
}

// Counts its parses, to show that empty Lines are not even parsed.
class CountingPrint : public TQuickPrint {
public:
    int parses = 0;
    void ParseLines() override {
        ++parses;
        TQuickPrint::ParseLines();
    }
};

TEST_F(Layout, EmptyLinesDoNothingAtAll) {
    CountingPrint counting;
    counting.BeginDoc();
    counting.PrintLines();
    EXPECT_EQ(counting.parses, 0);
    EXPECT_TRUE(printer.drawn.empty());
    counting.SetLines({QString()});
    counting.EndDoc();
    counting.SetLines({QString()});
    counting.BeginDoc();
    counting.PrintLines();
    EXPECT_EQ(counting.parses, 1);
    EXPECT_EQ(counting.CurrentY(), 20u) << "an empty line still advances";
}

TEST_F(Layout, ExactFitIsNotWrapped) {
    print.BeginDoc();
    print.SetLines({});
    print.Print(0, 0, QStringLiteral("0123456789")); // 100 pixels on a 100-pixel line
    EXPECT_EQ(placed(), (std::vector<std::tuple<int, int, QString>>{{0, 0, "0123456789"}}));
}

TEST_F(Layout, LineTouchingTheBottomGoesToANewPage) {
    print.BeginDoc();
    for (int i = 0; i < 49; ++i) {
        print.Print(0, i * 0.2f, QStringLiteral("x"));
    }
    EXPECT_EQ(print.CurrentY(), 980u);
    EXPECT_EQ(print.PageNumber(), 1);
    print.PrintLine(QStringLiteral("y"), 0); // 980 + 20 reaches the limit of 1000
    EXPECT_EQ(print.PageNumber(), 2);
    EXPECT_EQ(std::get<1>(placed().back()), 0);
}

TEST_F(Layout, BreaksAtTheLastFittingSpaceAndDropsIt) {
    print.BeginDoc();
    print.Print(0, 0, QStringLiteral("abc defg hij"));
    EXPECT_EQ(printer.texts(), (QStringList{"abc defg", "hij"}));
    EXPECT_EQ(std::get<1>(placed()[1]), 20);
}

TEST_F(Layout, LongWordIsCutBeforeTheOverflowingCharacter) {
    print.BeginDoc();
    print.Print(0, 0, QStringLiteral("abcdefghijklmno"));
    EXPECT_EQ(printer.texts(), (QStringList{"abcdefghij", "klmno"}));
}

TEST_F(Layout, PrintHonoursXOnTheFirstPieceOnly) {
    print.BeginDoc();
    print.Print(0.3f, 0.5f, QStringLiteral("ab cd ef gh"));
    const auto p = placed();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], std::make_tuple(30, 50, QStringLiteral("ab cd")));
    EXPECT_EQ(p[1], std::make_tuple(0, 70, QStringLiteral("ef gh")));
}

TEST_F(Layout, EachPieceOfAWrappedCentredLineIsCentredOnItsOwn) {
    print.BeginDoc();
    print.Print(0, 0, QStringLiteral("<CENTER>abcdef ghijk"));
    const auto p = placed();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], std::make_tuple(20, 0, QStringLiteral("abcdef"))); // (100 - 60) / 2
    EXPECT_EQ(p[1], std::make_tuple(25, 20, QStringLiteral("ghijk"))); // (100 - 50) / 2
    print.Print(0, 1, QStringLiteral("<RIGHT>abc"));
    EXPECT_EQ(std::get<0>(placed().back()), 70);
}

TEST_F(Layout, LineSpacingAdvancesInFloatingPointAndTruncates) {
    printer.height = 51;
    print.SetLineSpacing(TLineSpacing::HalfSpace);
    print.BeginDoc();
    print.PrintLine(QStringLiteral("a"), 0);
    EXPECT_EQ(print.CurrentY(), 25u);
    print.PrintLine(QStringLiteral("a"), 0);
    EXPECT_EQ(print.CurrentY(), 50u);
    print.EndDoc();
    print.SetLineSpacing(TLineSpacing::SingleAndAHalf);
    print.BeginDoc();
    print.PrintLine(QStringLiteral("a"), 0);
    EXPECT_EQ(print.CurrentY(), 76u);
    EXPECT_EQ(newLineEvents, 3);
}

// A subclass that measures everything as twice as wide: the layout sees it.
class WideMeasure : public TQuickPrint {
public:
    TextSize TextExtentEx(const QString& text) override {
        TextSize s = TQuickPrint::TextExtentEx(text);
        s.cx *= 2;
        return s;
    }
};

TEST_F(Layout, SubclassMeasureIsWhatTheLayoutUses) {
    WideMeasure wide;
    wide.SetMeasureUnit(TMeasureUnit::Inches);
    wide.BeginDoc();
    wide.Print(0, 0, QStringLiteral("abcdefgh"));
    EXPECT_EQ(printer.texts(), (QStringList{"abcde", "fgh"}));
}

TEST_F(Layout, CharacterWiderThanTheLineGoesAloneAndNothingIsLost) {
    printer.charWidth = 150; // wider than the 100-pixel line
    print.BeginDoc();
    print.Print(0, 0, QStringLiteral("abc"));
    EXPECT_EQ(printer.texts(), (QStringList{"a", "b", "c"}));
}

TEST_F(Layout, TopMarginAboveThePrintableAreaStartsAtItsTop) {
    printer.offsetY = 50; // half an inch the printer cannot reach
    print.SetMarginTop(0.25f);
    print.BeginDoc();
    EXPECT_EQ(print.CurrentY(), 0u);
    print.PrintLines();
    print.SetLines({}); // ignored during the job
    print.Print(0, 0, QStringLiteral("top"));
    EXPECT_EQ(std::get<1>(placed().back()), 0);
}

TEST_F(Layout, WideCentredLineWithoutWrapStartsAtTheLeftMargin) {
    print.SetWordWrap(false);
    print.SetMarginLeft(0.1f);
    print.BeginDoc();
    print.Print(0, 0, QStringLiteral("<CENTER>abcdefghijklmn"));
    print.Print(0, 1, QStringLiteral("<RIGHT>abcdefghijklmn"));
    const auto p = placed();
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(std::get<0>(p[0]), 10) << "the left margin, not a wrapped-around x";
    EXPECT_EQ(std::get<0>(p[1]), 10);
}

} // namespace
} // namespace cantavel
