// The inline tags: how lines split into display lines, how tagged text is measured
// and drawn, and a property check over many random tagged lines.

#include "FakePrinter.h"
#include "QuickPrint.h"
#include "Reassemble.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
            out.emplace_back(print.ParsedLines()[i], static_cast<int>(print.LineAligns()[i]));
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
    EXPECT_EQ(print.LineAligns(), (QList<TLineAlign>{TLineAlign::Right, TLineAlign::Left}));
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

// The tag rules as written: each search for a group starts over from its start
// position, and the working text is cut anew after every group. The component does
// the same work in one pass; on any line the two must agree.
namespace rules {

struct Group {
    int open = 0;
    int close = 0;
    QString name;
};

bool find(const QString& w, int s, Group& g) {
    for (;;) {
        const int o = TQuickPrint::FindNext(w, QStringLiteral("<"), s);
        if (o == 0) {
            return false;
        }
        const int c = TQuickPrint::FindNext(w, QStringLiteral(">"), s);
        if (c == 0) {
            return false;
        }
        if (c < o) {
            s = c + 1;
            continue;
        }
        g = {o, c, w.mid(o, c - o - 1).toUpper()};
        return true;
    }
}

QString from(const QString& w, int a) {
    return w.mid(a - 1);
}

QString trimmed(const QString& w) {
    int i = 0;
    while (i < w.size() && w[i].unicode() <= 32) {
        ++i;
    }
    return w.mid(i);
}

bool isStyle(const QString& name) {
    return QStringList{"B", "I", "U", "STRIKE", "/B", "/I", "/U", "/STRIKE"}.contains(name);
}

TFontStyles applied(TFontStyles style, const QString& name) {
    const bool off = name.startsWith('/');
    const QString base = off ? name.mid(1) : name;
    const TFontStyles flag = base == "B"   ? fsBold
                             : base == "I" ? fsItalic
                             : base == "U" ? fsUnderline
                                           : fsStrikeOut;
    return off ? style & ~flag : style | flag;
}

Parsed parse(const QString& line) {
    Parsed out;
    QString w = line;
    int s = 1;
    int align = 0;
    int block = 0;
    for (;;) {
        Group g;
        if (w.isEmpty() || !find(w, s, g)) {
            out.emplace_back(w, align);
            return out;
        }
        if (g.name == "CENTER" || g.name == "RIGHT") {
            if (g.open > 1) {
                out.emplace_back(w.left(g.open - 1), align);
            }
            block = align = g.name == "CENTER" ? 1 : 2;
            w = trimmed(from(w, g.close + 1));
            s = 1;
        } else if (g.name == "BR") {
            out.emplace_back(w.left(g.open - 1), align);
            w = trimmed(from(w, g.close + 1));
            s = 1;
        } else if (g.name == "/CENTER" || g.name == "/RIGHT") {
            out.emplace_back(w.left(g.open - 1), block);
            w = trimmed(from(w, g.close + 1));
            s = 1;
            align = 0;
            if (w.isEmpty()) {
                return out;
            }
        } else {
            s = g.open + 1;
        }
    }
}

bool onlyTags(const QString& text) {
    QString w = text;
    bool found = false;
    for (;;) {
        Group g;
        if (w.isEmpty()) {
            return found;
        }
        if (w[0] != '<' || !find(w, 1, g)) {
            return false;
        }
        found = found || isStyle(g.name);
        w = from(w, g.close + 1);
    }
}

// The runs a text is measured or drawn in, with their styles; the style after it.
std::vector<std::pair<QString, TFontStyles>> runs(const QString& text, TFontStyles& style) {
    std::vector<std::pair<QString, TFontStyles>> out;
    QString w = text;
    while (!w.isEmpty()) {
        Group g;
        if (!find(w, 1, g)) {
            out.emplace_back(w, style);
            break;
        }
        if (isStyle(g.name)) {
            out.emplace_back(w.left(g.open - 1), style);
            style = applied(style, g.name);
        } else {
            out.emplace_back(w.left(g.close), style);
        }
        w = from(w, g.close + 1);
    }
    return out;
}

} // namespace rules

TEST(TagProperty, OnePassAgreesWithTheRulesAsWritten) {
    FakePrinter printer;
    printer.physicalHeight = 100000;
    testing::UsePrinter use(printer);
    std::mt19937 random(77);
    // Stray brackets, groups that are no tags, letters whose upper case is a tag
    // letter ("ı" gives I, "ſ" gives S), names too long to be tags.
    const QStringList atoms = {"a",
                               " ",
                               "\t",
                               "<",
                               ">",
                               ">>>",
                               "<<",
                               "<B>",
                               "</b>",
                               "<I>",
                               "<ı>",
                               "<ſtrike>",
                               "</U>",
                               "<BR>",
                               "<br",
                               "b>",
                               "<CENTER>",
                               "</RIGHT>",
                               "<right>",
                               "<FOO>",
                               "<>",
                               "< B >",
                               "<STRIKESTRIKESTRIKE>",
                               "x"};
    for (int round = 0; round < 3000; ++round) {
        QString line;
        const int count = static_cast<int>(random() % 24);
        for (int i = 0; i < count; ++i) {
            line += atoms[static_cast<int>(random() % atoms.size())];
        }
        const std::string where = "line '" + line.toStdString() + "'";
        TQuickPrint print;
        print.ParseLine(line);
        Parsed parsed;
        for (int i = 0; i < print.ParsedLines().size(); ++i) {
            parsed.emplace_back(print.ParsedLines()[i], static_cast<int>(print.LineAligns()[i]));
        }
        ASSERT_EQ(parsed, rules::parse(line)) << where;
        ASSERT_EQ(print.OnlyContainsTags(line), rules::onlyTags(line)) << where;

        const TFontStyles start = static_cast<TFontStyles>(random() % 16);
        TFontStyles style = start;
        int width = 0;
        std::vector<std::pair<QString, TFontStyles>> expected = rules::runs(line, style);
        for (const auto& [run, runStyle] : expected) {
            width += static_cast<int>(run.size()) *
                     ((runStyle & fsBold) ? printer.boldCharWidth : printer.charWidth);
        }
        printer.font.Style = start;
        const TextSize size = print.TextExtentEx(line);
        ASSERT_EQ(size.cx, width) << where;
        ASSERT_EQ(printer.font.Style, start) << where;

        printer.drawn.clear();
        print.TextOutEx(0, 0, line);
        std::vector<std::pair<QString, TFontStyles>> drawn;
        for (const auto& d : printer.drawn) {
            drawn.emplace_back(d.text, d.style);
        }
        ASSERT_EQ(drawn, expected) << where;
        ASSERT_EQ(printer.font.Style, style) << where;
    }
}

// A line of 400,000 stray ">" and then a tag. When the search for a group started
// over after every stray ">", such a line took about ten minutes to parse and measure;
// in one pass it takes milliseconds. This is no speed measurement: the limit is
// thousands of times what one pass needs, so only a search that starts over can miss
// it. The work runs in a child process, which is stopped at the limit.
TEST(TagScale, LineOfStrayBracketsIsScannedInOnePass) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FakePrinter printer;
        testing::UsePrinter use(printer);
        const QString line = QString(400000, QLatin1Char('>')) + QStringLiteral("<B>x");
        TQuickPrint print;
        print.ParseLine(line);
        const TextSize size = print.TextExtentEx(line);
        const bool right = print.ParsedLines().size() == 1 &&
                           size.cx == 400000 * printer.charWidth + printer.boldCharWidth;
        ::_exit(right ? 0 : 2);
    }
    int status = -1;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > limit) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "still scanning after 30 s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "parsed into one line, measured with the tag";
}

} // namespace
} // namespace cantavel
