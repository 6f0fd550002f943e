// The inline tags: how lines split into display lines, how tagged text is measured
// and drawn, and a property check over many random tagged lines.

#include "FakePrinter.h"
#include "Quickprint.h"
#include "Reassemble.h"

#include <gtest/gtest.h>

#include <random>

namespace cantavel {
namespace {

using testing::FakePrinter;

class Tags : public ::testing::Test {
protected:
    std::vector<std::pair<QString, int>> parse(const QString& line) {
        print.SetLines({line});
        print.ParseLines();
        std::vector<std::pair<QString, int>> out;
        for (int i = 0; i < print.ParsedLines().size(); ++i) {
            out.emplace_back(print.ParsedLines()[i], print.LineAligns()[i]);
        }
        return out;
    }
    // Runs drawn for one display line: text and style.
    std::vector<std::pair<QString, TFontStyles>> runs() const {
        std::vector<std::pair<QString, TFontStyles>> out;
        for (const auto& d : printer.drawn) {
            out.emplace_back(d.text, d.style);
        }
        return out;
    }

    FakePrinter printer;
    testing::UsePrinter use{printer};
    TQuickPrint print;
};

using Parsed = std::vector<std::pair<QString, int>>;

TEST_F(Tags, FindNextSearchesFromItsStart) {
    EXPECT_EQ(TQuickPrint::FindNext(QStringLiteral("a<b<c"), QStringLiteral("<"), 1), 2);
    EXPECT_EQ(TQuickPrint::FindNext(QStringLiteral("a<b<c"), QStringLiteral("<"), 3), 4);
    EXPECT_EQ(TQuickPrint::FindNext(QStringLiteral("a<b<c"), QStringLiteral(">"), 1), 0);
    EXPECT_EQ(TQuickPrint::FindNext(QStringLiteral("abc"), QStringLiteral("bc"), 2), 2);
    EXPECT_EQ(TQuickPrint::FindNext(QStringLiteral("abc"), QStringLiteral("cd"), 1), 0);
}

TEST_F(Tags, LineTagsSplitIntoDisplayLines) {
    EXPECT_EQ(parse("Title<BR>Body"), (Parsed{{"Title", 0}, {"Body", 0}}));
    EXPECT_EQ(parse("a<BR>"), (Parsed{{"a", 0}, {"", 0}}));
    EXPECT_EQ(parse("abc<CENTER>Head</CENTER>tail"),
              (Parsed{{"abc", 0}, {"Head", 1}, {"tail", 0}}));
    EXPECT_EQ(parse("<CENTER>   x"), (Parsed{{"x", 1}}));
    EXPECT_EQ(parse("<CENTER>a</RIGHT>"), (Parsed{{"a", 1}}));
    EXPECT_EQ(parse("</CENTER>"), (Parsed{{"", 0}}));
    EXPECT_EQ(parse("<RIGHT>x</CENTER></CENTER>y"), (Parsed{{"x", 2}, {"", 2}, {"y", 0}}));
    EXPECT_EQ(parse("<CENTER>Title</CENTER>"), (Parsed{{"Title", 1}}));
    EXPECT_EQ(parse(""), (Parsed{{"", 0}}));
    EXPECT_EQ(parse("<center>x<br>y"), (Parsed{{"x", 1}, {"y", 1}})) << "case-insensitive";
    EXPECT_EQ(parse("<FOO>bar"), (Parsed{{"<FOO>bar", 0}}));
    EXPECT_EQ(parse("<B>x</B>"), (Parsed{{"<B>x</B>", 0}})) << "style tags stay in the line";
    // Alignment does not carry from one source line to the next.
    print.SetLines({QStringLiteral("<RIGHT>a"), QStringLiteral("b")});
    print.ParseLines();
    EXPECT_EQ(print.LineAligns(), (QList<int>{2, 0}));
}

TEST_F(Tags, OnlyTagsMeansARunOfGroupsWithAStyleTag) {
    EXPECT_TRUE(print.OnlyContainsTags(QStringLiteral("<B>")));
    EXPECT_TRUE(print.OnlyContainsTags(QStringLiteral("<FOO><i>")));
    EXPECT_FALSE(print.OnlyContainsTags(QStringLiteral("<FOO>")));
    EXPECT_FALSE(print.OnlyContainsTags(QStringLiteral("<B>x")));
    EXPECT_FALSE(print.OnlyContainsTags(QStringLiteral("x<B>")));
    EXPECT_FALSE(print.OnlyContainsTags(QString()));
    EXPECT_FALSE(print.OnlyContainsTags(QStringLiteral("<B")));
}

TEST_F(Tags, MeasuringUsesTheStyleOfEachRunAndRestoresTheSet) {
    const TextSize s = print.TextExtentEx(QStringLiteral("<B>ab</B>cd"));
    EXPECT_EQ(s.cx, 2 * 12 + 2 * 10);
    EXPECT_EQ(s.cy, 20);
    EXPECT_EQ(printer.font.Style, 0u);
    EXPECT_EQ(print.TextExtentEx(QStringLiteral("< B >x")).cx, 60) << "no tag: all printed";
    EXPECT_EQ(print.TextExtentEx(QStringLiteral("a<b<B>c")).cx, 70) << "the group is b<B";
    EXPECT_EQ(print.TextExtentEx(QString()).cx, 0);
}

TEST_F(Tags, DrawingSwitchesStylesThatOutliveTheLine) {
    print.BeginDoc();
    print.TextOutEx(0, 0, QStringLiteral("<b>Bold</B> plain"));
    EXPECT_EQ(runs(), (std::vector<std::pair<QString, TFontStyles>>{
                          {"", 0}, {"Bold", fsBold}, {" plain", 0}}));
    printer.drawn.clear();
    print.TextOutEx(0, 0, QStringLiteral("x > y <I>z"));
    EXPECT_EQ(runs(),
              (std::vector<std::pair<QString, TFontStyles>>{{"x > y ", 0}, {"z", fsItalic}}));
    EXPECT_EQ(printer.font.Style, static_cast<TFontStyles>(fsItalic)) << "lasts beyond the line";
    printer.drawn.clear();
    print.TextOutEx(0, 0, QStringLiteral("</I>a < b"));
    EXPECT_EQ(runs(), (std::vector<std::pair<QString, TFontStyles>>{{"", fsItalic}, {"a < b", 0}}));
}

TEST_F(Tags, StyleTagAloneChangesTheStyleButAddsNoLine) {
    print.BeginDoc();
    int lines = 0;
    print.OnNewLine = [&](QObject*) { ++lines; };
    print.SetLines({});
    print.Print(0, 0, QStringLiteral("<B>"));
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(print.CurrentY(), 0u);
    print.Print(0, 0, QStringLiteral("next<U>"));
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(printer.drawn.back().style, static_cast<TFontStyles>(fsBold));
    EXPECT_EQ(printer.font.Style, static_cast<TFontStyles>(fsBold | fsUnderline));
    print.NewPage(); // the page number is drawn in the style the tags left
    EXPECT_EQ(printer.font.Style, static_cast<TFontStyles>(fsBold | fsUnderline));
}

TEST_F(Tags, TextEndingInAnOpenBracketIsDrawnWhole) {
    print.BeginDoc();
    print.TextOutEx(5, 0, QStringLiteral("ends with <"));
    ASSERT_EQ(printer.drawn.size(), 1u);
    EXPECT_EQ(printer.drawn[0].text, QStringLiteral("ends with <"));
    EXPECT_EQ(printer.drawn[0].x, 5);
    EXPECT_EQ(print.CurrentX(), 0u);
    EXPECT_EQ(print.CurrentY(), 20u);
}

// Records every piece the layout places, to check that nothing is lost.
class PieceRecorder : public TQuickPrint {
public:
    QStringList pieces;
    void TextOutEx(int x, int y, const QString& text) override {
        pieces << text;
        TQuickPrint::TextOutEx(x, y, text);
    }
};

using testing::reassembles;

TEST(TagProperty, RandomTaggedLinesAlwaysEndAndLoseNoCharacter) {
    FakePrinter printer;
    printer.physicalHeight = 100000;
    testing::UsePrinter use(printer);
    std::mt19937 random(20261208);
    const QStringList atoms = {
        "a",     "b",    " ",        "  ",       "<",         ">",
        "<B>",   "</B>", "<i>",      "<U>",      "</STRIKE>", "<FOO>",
        "< B >", "<BR>", "<CENTER>", "</RIGHT>", "<RIGHT>",   "xxxxxxxxxxxxxxxx",
        "word ", "W"};
    for (int round = 0; round < 400; ++round) {
        QString line;
        const int count = static_cast<int>(random() % 30);
        for (int i = 0; i < count; ++i) {
            line += atoms[static_cast<int>(random() % atoms.size())];
        }
        printer.charWidth = 1 + static_cast<int>(random() % 40); // some wider than a line
        printer.boldCharWidth = printer.charWidth + 3;
        printer.font.Style = 0;
        PieceRecorder print;
        print.SetWordWrap(random() % 4 != 0);
        print.BeginDoc();
        print.ParseLine(line);
        int placed = 0;
        for (int i = 0; i < print.ParsedLines().size(); ++i) {
            const QString display = print.ParsedLines()[i];
            print.pieces.clear();
            print.PrintLine(display, i);
            placed += static_cast<int>(print.pieces.size());
            ASSERT_TRUE(reassembles(display, print.pieces))
                << "line '" << line.toStdString() << "' display '" << display.toStdString()
                << "' pieces '" << print.pieces.join('|').toStdString() << "'";
        }
        EXPECT_LE(placed, 4 * line.size() + 4) << line.toStdString();
        printer.EndDoc();
    }
}

} // namespace
} // namespace cantavel
