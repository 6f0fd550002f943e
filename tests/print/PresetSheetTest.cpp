// The preset sheet: on a printer with fixed metrics (what is drawn where, in which
// style) and as a real PDF read back with poppler's tools.

#include "PresetSheet.h"
#include "FakePrinter.h"
#include "ParameterValues.h"
#include "Poppler.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace cantavel {
namespace {

using testing::FakePrinter;

// A record whose slots differ, so that a value under the wrong heading shows.
ConfigRecord sample() {
    ConfigRecord r{};
    r.resetToDefaults();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        r.preset(slot).echoDelay = static_cast<std::uint8_t>(100 + slot);
        r.preset(slot).musicBass = static_cast<std::uint8_t>(slot); // shown -10 + slot
    }
    r.mode(6).setInputSource(7); // beyond the list: shown as nothing
    return r;
}

// An A4 page at 100 pixels per inch, with 6-pixel letters 16 pixels high.
FakePrinter a4() {
    FakePrinter p;
    p.physicalWidth = 827;
    p.physicalHeight = 1169;
    p.charWidth = 6;
    p.boldCharWidth = 7;
    p.height = 16;
    return p;
}

QString withoutJoiners(QString text) {
    return text.remove(QChar(0x2060));
}

// The title as a header shows it: whole, or shortened in its middle with "…".
bool showsTitle(const QString& shown, const QString& title) {
    if (shown == title) {
        return true;
    }
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    return cut > 0 && shown.size() < title.size() && title.startsWith(shown.left(cut)) &&
           title.endsWith(shown.mid(cut + 1)) && cut + 1 < shown.size();
}

// Every slot's heading is bold, and under it (before the next heading) stands each
// of its parameters once, named and valued as the window shows it, on the heading's
// page. The title comes first, bold and centred, and prints text from outside as it
// stands: what looks like tags in it switches nothing.
TEST(PresetSheet, EverySlotShowsEachOfItsParametersOnceUnderItsHeading) {
    for (const int pageHeight : {1169, 450}) {
        FakePrinter printer = a4();
        printer.physicalHeight = pageHeight;
        const ConfigRecord record = sample();
        const QString title = QStringLiteral("x</B>y<I>z<CENTER>.cfg");
        const SheetResult result = printPresetSheet(printer, record, title, QDate(2026, 12, 8));
        ASSERT_TRUE(result.ok) << result.reason.toStdString();
        EXPECT_EQ(result.pages, printer.page);
        EXPECT_EQ(printer.title, title);
        EXPECT_EQ(printer.font.Style, 0u) << "nothing stays switched on";

        // What stands between the margins, and the page numbers at the foot.
        std::vector<const FakePrinter::Drawn*> texts;
        std::set<int> numbered;
        for (const FakePrinter::Drawn& d : printer.drawn) {
            if (d.y > pageHeight - 3 * printer.height) {
                EXPECT_EQ(d.text, QString::number(d.page));
                numbered.insert(d.page);
            } else if (!d.text.isEmpty()) {
                texts.push_back(&d);
            }
        }
        // The title's runs (a group that is no tag is a run of its own) on the first line.
        QString titleLine;
        std::size_t next = 0;
        for (; next < texts.size() && texts[next]->y == texts[0]->y; ++next) {
            titleLine += texts[next]->text;
            EXPECT_EQ(texts[next]->style, fsBold) << texts[next]->text.toStdString();
        }
        EXPECT_EQ(withoutJoiners(titleLine), title);
        EXPECT_GT(texts[0]->x, 200) << "centred";
        ASSERT_LT(next, texts.size());
        EXPECT_EQ(texts[next]->text, QStringLiteral("2026-12-08"));

        std::map<int, std::multiset<QString>> under; // slot -> cells drawn under it
        std::map<int, int> headingPage;
        int slot = -1;
        for (const FakePrinter::Drawn* d : texts) {
            const int heading = slotFromName(d->text);
            if (d->style == fsBold && heading >= 0 && d->text == slotTitle(heading)) {
                slot = heading;
                headingPage[slot] = d->page;
            } else if (slot >= 0 && d->text.contains(QLatin1String(": "))) {
                under[slot].insert(d->text);
                EXPECT_EQ(d->style, 0u) << d->text.toStdString();
                EXPECT_EQ(d->page, headingPage[slot]) << "a slot's block stays on one page";
            }
        }
        ASSERT_EQ(under.size(), static_cast<std::size_t>(kSlotCount)) << pageHeight;
        for (int s = 0; s < kSlotCount; ++s) {
            std::multiset<QString> expected;
            for (const Parameter* p : slotParameters(s)) {
                expected.insert(QStringLiteral("%1: %2").arg(
                    QLatin1String(p->name), shownOrNone(shownText(record, s, *p))));
            }
            EXPECT_EQ(under[s], expected) << "slot " << s << ", page height " << pageHeight;
        }
        EXPECT_TRUE(under[6].count(QStringLiteral("Input: (none)"))) << "a list showing nothing";

        EXPECT_EQ(static_cast<int>(numbered.size()), printer.page);
        if (pageHeight < 1169) {
            EXPECT_GT(printer.page, 2);
        } else {
            EXPECT_EQ(printer.page, 1) << "the whole record on one A4 page";
        }
    }
}

// The cells of a row share one line, in columns from left to right.
TEST(PresetSheet, CellsOfARowShareTheirLine) {
    FakePrinter printer = a4();
    ASSERT_TRUE(printPresetSheet(printer, sample(), QStringLiteral("a.cfg"), QDate(2026, 1, 1)).ok);
    std::map<QString, const FakePrinter::Drawn*> first; // the first slot's cells
    for (const FakePrinter::Drawn& d : printer.drawn) {
        if (!first.contains(d.text)) {
            first[d.text] = &d;
        }
    }
    const auto* key = first.at(QStringLiteral("Key: 0"));
    const auto* volume = first.at(QStringLiteral("Effect Volume: 55"));
    const auto* delay = first.at(QStringLiteral("Delay: 100"));
    EXPECT_EQ(key->y, volume->y);
    EXPECT_LT(key->x, volume->x);
    EXPECT_EQ(key->x, delay->x);
    EXPECT_EQ(delay->y - key->y, printer.height);
}

// Pages ever narrower (6-pixel letters, 15 mm margins of 59 pixels): the cells
// stand in four columns, then two, then one; where even one is too narrow for a
// cell, its name is cut short with "…" but its value stays whole; a page too narrow
// for the values is refused. No cell reaches into the next or past the margin, and
// a title too long for the page is shortened in its middle to one line.
TEST(PresetSheet, CellsKeepToTheirColumnsOnPagesOfEveryWidth) {
    const struct {
        int paperWidth;
        int columns; // 0: refused
        bool cut;
    } widths[] = {
        {827, 4, false}, {500, 2, false}, {300, 1, false}, {220, 1, true}, {160, 0, false}};
    const ConfigRecord record = sample();
    const QString title = QStringLiteral("abcdefghij").repeated(20) + QStringLiteral(".cfg");
    for (const auto& [paperWidth, columns, cut] : widths) {
        SCOPED_TRACE(paperWidth);
        FakePrinter printer = a4();
        printer.physicalWidth = paperWidth;
        const SheetResult result = printPresetSheet(printer, record, title, QDate(2026, 1, 1));
        if (columns == 0) {
            EXPECT_FALSE(result.ok);
            EXPECT_EQ(result.reason, QStringLiteral("the page is too small for the sheet"));
            continue;
        }
        ASSERT_TRUE(result.ok) << result.reason.toStdString();
        const int right = paperWidth - 59;

        QString titleLine; // the first line: its runs
        const int top = std::min_element(printer.drawn.begin(), printer.drawn.end(),
                                         [](const auto& a, const auto& b) { return a.y < b.y; })
                            ->y;
        std::map<std::pair<int, int>, std::vector<const FakePrinter::Drawn*>> lines;
        for (const FakePrinter::Drawn& d : printer.drawn) {
            if (d.page == 1 && d.y == top) {
                titleLine += d.text;
                EXPECT_LE(d.x + printer.boldCharWidth * d.text.size(), right);
            } else if (d.text.contains(QLatin1String(": "))) {
                lines[{d.page, d.y}].push_back(&d);
            }
        }
        EXPECT_TRUE(showsTitle(titleLine, title) && titleLine != title) << titleLine.toStdString();

        std::set<int> starts;
        std::set<QString> values; // "name: value" as shown, the name whole or cut
        bool anyCut = false;
        for (const auto& [where, line] : lines) {
            for (std::size_t i = 0; i < line.size(); ++i) {
                const FakePrinter::Drawn& d = *line[i];
                starts.insert(d.x);
                const int end = d.x + printer.charWidth * static_cast<int>(d.text.size());
                EXPECT_LT(end, i + 1 < line.size() ? line[i + 1]->x : right + 1)
                    << d.text.toStdString();
                const QString name = d.text.section(QLatin1String(": "), 0, 0);
                anyCut = anyCut || name.endsWith(QChar(0x2026));
                values.insert(d.text);
            }
        }
        EXPECT_EQ(static_cast<int>(starts.size()), columns);
        EXPECT_EQ(anyCut, cut);
        // Each value whole, beside its name or the name's start.
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (const Parameter* p : slotParameters(slot)) {
                const QString name = QLatin1String(p->name);
                const QString value = shownOrNone(shownText(record, slot, *p));
                EXPECT_TRUE(std::any_of(
                    values.begin(), values.end(),
                    [&](const QString& cell) {
                        const QString shownName = cell.section(QLatin1String(": "), 0, 0);
                        return cell.section(QLatin1String(": "), 1) == value &&
                               (shownName == name || (shownName.endsWith(QChar(0x2026)) &&
                                                      name.startsWith(shownName.chopped(1))));
                    }))
                    << name.toStdString() << ": " << value.toStdString();
            }
        }
    }
}

TEST(PresetSheet, AJobThePrinterRefusesIsAFailureWithItsReason) {
    FakePrinter printer = a4();
    printer.failBegin = true;
    const SheetResult result = printPresetSheet(printer, sample(), QStringLiteral("a"), QDate());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, QStringLiteral("Unable to Start new Print Job"));
    printer.failBegin = false;
    printer.failNewPage = true;
    printer.physicalHeight = 450; // needs a second page
    const SheetResult second = printPresetSheet(printer, sample(), QStringLiteral("a"), QDate());
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.reason, QStringLiteral("Unable to Set New Page"));
    EXPECT_FALSE(printer.Printing()) << "the failed job was ended";
}

TEST(PresetSheet, PdfReadsBackWithTheTitleAsItStands) {
    if (!testing::havePoppler()) {
        GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) are not installed";
    }
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("sheet.pdf"));
    const SheetResult result =
        exportPresetSheet(sample(), QStringLiteral("a<B>.cfg"), QDate(2026, 12, 8), pdf);
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    EXPECT_EQ(result.pages, 1);
    EXPECT_TRUE(testing::runPoppler(QStringLiteral("pdfinfo"), {pdf})
                    .contains(QRegularExpression("Pages:\\s+1\\b")));
    const QString text =
        testing::runPoppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("a<B>.cfg"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2026-12-08")));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        EXPECT_TRUE(text.contains(slotTitle(slot)));
        EXPECT_TRUE(text.contains(QStringLiteral("Delay: %1").arg(100 + slot)));
    }
    EXPECT_TRUE(text.contains(QStringLiteral("Music Bass: -4"))) << "slot 6's tone";

    // A folder that is not there: the reason, and no file.
    const QString nowhere = dir.filePath(QStringLiteral("no/such/sheet.pdf"));
    const SheetResult failed = exportPresetSheet(sample(), QStringLiteral("a"), QDate(), nowhere);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.reason, QStringLiteral("No such file or directory"));
    EXPECT_FALSE(QFile::exists(nowhere));
}

// ---------------------------------------------------------------------------------
// The sheet on paper of every size, read back word by word with poppler.

// Every parameter at its widest: tones at -10, numbers at their top, lists at
// their longest item, and one list beyond its items.
ConfigRecord widestValues() {
    ConfigRecord r{};
    r.resetToDefaults();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            unsigned value = p->minValue;
            if (p->kind == ControlKind::List) {
                const QStringList& items = listItems(*p);
                for (int i = 0; i < items.size(); ++i) {
                    if (items[i].size() > items[static_cast<int>(value)].size()) {
                        value = static_cast<unsigned>(i);
                    }
                }
            } else if (QString::number(p->shown(p->maxValue)).size() >
                       QString::number(p->shown(p->minValue)).size()) {
                value = p->maxValue;
            }
            p->field.set(r, slot, value);
        }
    }
    r.mode(5).setInputSource(7); // beyond the list: "(none)"
    return r;
}

struct PdfWord {
    QRectF box; // in points, from the page's top left
    QString text;
};

struct PdfPage {
    QSizeF size;
    std::vector<PdfWord> words;
    std::vector<std::vector<const PdfWord*>> lines; // top to bottom, each left to right
};

QString unescaped(QString text) {
    return text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&apos;"), QLatin1String("'"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

// The words of every page as `pdftotext -bbox` finds them, and the page's lines:
// words whose tops lie within 2 pt of each other.
std::vector<PdfPage> pdfPages(const QString& pdf) {
    const QString html = testing::runPoppler(QStringLiteral("pdftotext"),
                                             {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    static const char* const pattern =
        R"re(<page width="([\d.]+)" height="([\d.]+)">|)re"
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">)re"
        R"re(([^<]*)</word>)re";
    static const QRegularExpression item(QString::fromLatin1(pattern));
    std::vector<PdfPage> pages;
    for (const QRegularExpressionMatch& m : item.globalMatch(html)) {
        if (m.capturedLength(1) > 0) {
            pages.push_back({QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()), {}, {}});
        } else if (!pages.empty()) {
            const QPointF topLeft(m.captured(3).toDouble(), m.captured(4).toDouble());
            const QPointF bottomRight(m.captured(5).toDouble(), m.captured(6).toDouble());
            pages.back().words.push_back({QRectF(topLeft, bottomRight), unescaped(m.captured(7))});
        }
    }
    for (PdfPage& page : pages) {
        std::vector<const PdfWord*> words;
        for (const PdfWord& w : page.words) {
            words.push_back(&w);
        }
        std::sort(words.begin(), words.end(),
                  [](const PdfWord* a, const PdfWord* b) { return a->box.top() < b->box.top(); });
        for (const PdfWord* w : words) {
            if (page.lines.empty() || w->box.top() - page.lines.back().front()->box.top() > 2) {
                page.lines.emplace_back();
            }
            page.lines.back().push_back(w);
        }
        for (auto& line : page.lines) {
            std::sort(line.begin(), line.end(), [](const PdfWord* a, const PdfWord* b) {
                return a->box.left() < b->box.left();
            });
        }
    }
    return pages;
}

QString lineText(const std::vector<const PdfWord*>& line) {
    QStringList words;
    for (const PdfWord* w : line) {
        words << w->text;
    }
    return words.join(QLatin1Char(' '));
}

// On each paper, for the start-up record under a file name too long for a line and
// for a record of the widest values: the PDF is on that paper; every page begins
// with the header (the file's name, the date); no two words overlap and none runs
// into the right margin; every value stands on its name's line; each slot's block,
// under its heading, holds every parameter of the slot once, valued as the window
// shows it, on one page; the cells stand in as many columns as the page is wide
// for; and on A4 the whole record takes one page.
TEST(PresetSheet, FitsEveryPaperWithoutOverlapOrBrokenCells) {
    if (!testing::havePoppler()) {
        GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) are not installed";
    }
    struct Paper {
        SheetPaper paper;
        QSizeF points;
        int columns;
    };
    const Paper papers[] = {
        {SheetPaper::A4, {595.3, 841.9}, 4},
        {SheetPaper::Letter, {612, 792}, 4},
        {SheetPaper::A5, {419.5, 595.3}, 2},
        {SheetPaper::A6, {297.6, 419.5}, 2},
    };
    ConfigRecord defaults{};
    defaults.resetToDefaults();
    const struct {
        ConfigRecord record;
        QString title;
    } sheets[] = {
        {defaults, QStringLiteral("rehearsal-room-").repeated(8) + QStringLiteral("final.cfg")},
        {widestValues(), QStringLiteral("live.cfg")},
    };
    const QDate date(2026, 12, 8);
    const QString dateText = QStringLiteral("2026-12-08");
    QTemporaryDir dir;
    for (const Paper& paper : papers) {
        for (const auto& [record, title] : sheets) {
            const QString name = paperName(paper.paper);
            SCOPED_TRACE(name.toStdString() + ", " + title.toStdString());
            const QString pdf = dir.filePath(name + QStringLiteral(".pdf"));
            const SheetResult result = exportPresetSheet(record, title, date, pdf, paper.paper);
            ASSERT_TRUE(result.ok) << result.reason.toStdString();
            const std::vector<PdfPage> pages = pdfPages(pdf);
            ASSERT_EQ(static_cast<int>(pages.size()), result.pages);
            if (paper.paper == SheetPaper::A4) {
                EXPECT_EQ(result.pages, 1) << "the whole record on one A4 page";
            }

            std::map<int, std::multiset<QString>> cells; // slot -> "Name: value"
            std::set<int> columnStarts;                  // of the cells, in whole points
            int slot = -1;
            int headingPage = -1;
            for (int n = 0; n < static_cast<int>(pages.size()); ++n) {
                const PdfPage& page = pages[static_cast<std::size_t>(n)];
                EXPECT_NEAR(page.size.width(), paper.points.width(), 1) << "page " << n + 1;
                EXPECT_NEAR(page.size.height(), paper.points.height(), 1) << "page " << n + 1;
                ASSERT_GE(page.lines.size(), 2u) << "page " << n + 1;
                const bool header = showsTitle(lineText(page.lines[0]), title) &&
                                    lineText(page.lines[1]) == dateText;
                EXPECT_TRUE(header)
                    << "page " << n + 1 << " begins with " << lineText(page.lines[0]).toStdString()
                    << " / " << lineText(page.lines[1]).toStdString();

                for (std::size_t i = 0; i < page.words.size(); ++i) {
                    const QRectF& a = page.words[i].box;
                    EXPECT_LT(a.right(), page.size.width() - 36)
                        << page.words[i].text.toStdString() << " runs into the margin";
                    for (std::size_t j = i + 1; j < page.words.size(); ++j) {
                        // Lines touch: a box reaches a little below its line's pitch.
                        const QRectF both = a.intersected(page.words[j].box);
                        EXPECT_FALSE(both.width() > 0.1 && both.height() > 1)
                            << "page " << n + 1 << ": " << page.words[i].text.toStdString()
                            << " overlaps " << page.words[j].text.toStdString();
                    }
                }

                for (std::size_t l = header ? 2 : 0; l < page.lines.size(); ++l) {
                    const auto& line = page.lines[l];
                    const QString text = lineText(line);
                    if (line.front()->box.top() > page.size.height() - 36) {
                        EXPECT_EQ(text, QString::number(n + 1)) << "the page number at the foot";
                        continue;
                    }
                    if (slot + 1 < kSlotCount && text == slotTitle(slot + 1)) {
                        ++slot;
                        headingPage = n;
                        continue;
                    }
                    if (!text.contains(QLatin1Char(':'))) {
                        continue; // "Default Setting"
                    }
                    // Cells: the name's words up to the one that ends in ":", then the value.
                    ASSERT_GE(slot, 0) << text.toStdString();
                    QStringList name;
                    for (std::size_t w = 0; w < line.size(); ++w) {
                        if (name.isEmpty()) {
                            columnStarts.insert(qRound(line[w]->box.left()));
                        }
                        name << line[w]->text;
                        if (!line[w]->text.endsWith(QLatin1Char(':'))) {
                            continue;
                        }
                        const bool valued =
                            w + 1 < line.size() && !line[w + 1]->text.endsWith(QLatin1Char(':'));
                        EXPECT_TRUE(valued) << "no value beside " << name.join(' ').toStdString()
                                            << " on page " << n + 1;
                        if (valued) {
                            EXPECT_NEAR(line[w + 1]->box.bottom(), line[w]->box.bottom(), 0.5);
                            cells[slot].insert(name.join(' ') + QLatin1Char(' ') +
                                               line[w + 1]->text);
                            ++w;
                        }
                        EXPECT_EQ(n, headingPage) << "a slot's block stays on its heading's page";
                        name.clear();
                    }
                    EXPECT_TRUE(name.isEmpty())
                        << "a name without its value: " << text.toStdString();
                }
            }
            EXPECT_EQ(slot, kSlotCount - 1) << "every slot's heading, in order";
            EXPECT_EQ(static_cast<int>(columnStarts.size()), paper.columns);
            for (int s = 0; s < kSlotCount; ++s) {
                std::multiset<QString> expected;
                for (const Parameter* p : slotParameters(s)) {
                    expected.insert(QStringLiteral("%1: %2").arg(
                        QLatin1String(p->name), shownOrNone(shownText(record, s, *p))));
                }
                EXPECT_EQ(cells[s], expected) << "slot " << s;
            }
        }
    }
}

// Names as a command line gives them, in any case; other text is no paper. The
// default follows the locale's paper: Letter where it says 216 x 279 mm.
TEST(SheetPaper, NamesAndTheLocalesPaper) {
    for (const SheetPaper paper : kSheetPapers) {
        EXPECT_EQ(paperFromName(paperName(paper)), paper);
        EXPECT_EQ(paperFromName(paperName(paper).toLower()), paper);
        EXPECT_EQ(paperFromName(paperName(paper).toUpper()), paper);
    }
    for (const char* other : {"", "A", "A3", "Legal", " A4", "A4 ", "Letters", "A4\\0"}) {
        EXPECT_EQ(paperFromName(QString::fromLatin1(other)), std::nullopt) << other;
    }
    EXPECT_EQ(paperNames(), QStringLiteral("A4, Letter, A5, A6"));

    struct Saved {
        const char* name;
        std::optional<QByteArray> value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"LC_ALL", "LC_PAPER", "LANG", "LOCPATH"}) {
        saved.push_back({name, qEnvironmentVariableIsSet(name)
                                   ? std::optional<QByteArray>(qgetenv(name))
                                   : std::nullopt});
        qunsetenv(name);
    }
    const auto restore = qScopeGuard([&saved] {
        for (const Saved& s : saved) {
            s.value ? qputenv(s.name, *s.value) : qunsetenv(s.name);
        }
    });
    qputenv("LANG", "C");
    EXPECT_EQ(defaultPaper(), SheetPaper::A4);
    qputenv("LC_PAPER", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(defaultPaper(), SheetPaper::A4) << "a locale that is not installed";

    // A Letter locale: installed, or made from the C library's sources. Making one
    // takes a second, so it is made once into the build folder and used from there.
    const QString letter = QStringLiteral("en_US.UTF-8");
    QProcess list;
    list.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    const bool installed =
        list.waitForFinished(10000) && QString::fromLocal8Bit(list.readAllStandardOutput())
                                           .split(QLatin1Char('\n'))
                                           .contains(QStringLiteral("en_US.utf8"));
    if (!installed) {
        const QString locales = QStringLiteral(CANTAVEL_TEST_CACHE "/locales");
        const QString made = locales + QLatin1Char('/') + letter;
        if (!QFile::exists(made + QStringLiteral("/LC_PAPER"))) {
            // Made beside it and renamed into place whole: a run cut short leaves
            // nothing that looks finished.
            ASSERT_TRUE(QDir().mkpath(locales));
            QTemporaryDir making(locales + QStringLiteral("/making-XXXXXX"));
            QProcess localedef;
            localedef.start(QStringLiteral("localedef"),
                            {QStringLiteral("-i"), QStringLiteral("en_US"), QStringLiteral("-f"),
                             QStringLiteral("UTF-8"), making.filePath(letter)});
            if (!localedef.waitForFinished(60000) ||
                localedef.exitStatus() != QProcess::NormalExit ||
                !QFile::exists(making.filePath(letter + QStringLiteral("/LC_PAPER")))) {
                GTEST_SKIP() << "no en_US locale is installed and localedef cannot make one";
            }
            QDir().rename(making.filePath(letter), made);
        }
        qputenv("LOCPATH", QFile::encodeName(locales));
    }
    qputenv("LC_PAPER", letter.toLatin1());
    EXPECT_EQ(defaultPaper(), SheetPaper::Letter);
    qunsetenv("LC_PAPER");
    qputenv("LANG", letter.toLatin1());
    EXPECT_EQ(defaultPaper(), SheetPaper::Letter) << "LANG when LC_PAPER is not set";
}

} // namespace
} // namespace cantavel
