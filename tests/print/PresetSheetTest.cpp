// The preset sheet: on a printer with fixed metrics (what is drawn where, in which
// style) and as a real PDF read back with poppler's tools.

#include "PresetSheet.h"
#include "FakePrinter.h"
#include "ParameterValues.h"
#include "Poppler.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
                expected.insert(
                    QStringLiteral("%1: %2").arg(QLatin1String(p->name), shownText(record, s, *p)));
            }
            EXPECT_EQ(under[s], expected) << "slot " << s << ", page height " << pageHeight;
        }
        EXPECT_TRUE(under[6].count(QStringLiteral("Input: "))) << "a list showing nothing";

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

    // A Letter locale: installed, or made from the C library's sources for this test.
    QTemporaryDir made;
    const QString letter = QStringLiteral("en_US.UTF-8");
    QProcess list;
    list.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    const bool installed =
        list.waitForFinished(10000) && QString::fromLocal8Bit(list.readAllStandardOutput())
                                           .split(QLatin1Char('\n'))
                                           .contains(QStringLiteral("en_US.utf8"));
    if (!installed) {
        QProcess localedef;
        localedef.start(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("en_US"), QStringLiteral("-f"),
                         QStringLiteral("UTF-8"), made.filePath(letter)});
        if (!localedef.waitForFinished(60000) || localedef.exitStatus() != QProcess::NormalExit ||
            !QFile::exists(made.filePath(letter + QStringLiteral("/LC_PAPER")))) {
            GTEST_SKIP() << "no en_US locale is installed and localedef cannot make one";
        }
        qputenv("LOCPATH", QFile::encodeName(made.path()));
    }
    qputenv("LC_PAPER", letter.toLatin1());
    EXPECT_EQ(defaultPaper(), SheetPaper::Letter);
    qunsetenv("LC_PAPER");
    qputenv("LANG", letter.toLatin1());
    EXPECT_EQ(defaultPaper(), SheetPaper::Letter) << "LANG when LC_PAPER is not set";
}

} // namespace
} // namespace cantavel
