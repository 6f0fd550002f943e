// The record as the window shows it, read without the window (for the printed sheet
// and the command-line tool), and File > Print... and Export PDF....

#include "ConfigFile.h"
#include "FullDisk.h"
#include "ParameterValues.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <random>

namespace cantavel::testing {
namespace {

class Sheet : public WindowTest {};

// Random records, values out of range and list indices beyond the items included:
// each tab shows what shownText() says, and showing it stores what bringIntoRange()
// stores, byte for byte.
TEST_F(Sheet, ValuesAsShownAgreeWithTheWindowOnEveryTab) {
    for (const unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        std::mt19937 random(seed);
        for (std::uint8_t& byte : record().image()) {
            byte = static_cast<std::uint8_t>(random());
        }
        ConfigRecord expected = record();
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (tabs()->currentIndex() == slot) {
                form->TabControl1Change(nullptr);
            } else {
                clickTab(slot);
            }
            bringIntoRange(expected, slot);
            for (std::size_t i = 0; i < kConfigImageSize; ++i) {
                ASSERT_EQ(record().image()[i], expected.image()[i])
                    << "seed " << seed << ", slot " << slot << ", byte " << i;
            }
            for (const Parameter* p : slotParameters(slot)) {
                const QString shown = p->valueEdit ? child<QLineEdit>(p->valueEdit)->text()
                                                   : child<QComboBox>(p->control)->currentText();
                EXPECT_EQ(shown, shownText(record(), slot, *p))
                    << "seed " << seed << ", slot " << slot << ", " << p->key;
            }
        }
    }
}

// The text of a PDF, as poppler reads it; empty when it cannot.
QString pdfText(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    p.waitForFinished(20000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// File > Export PDF... offers the file's own name, and the sheet carries it as it
// stands; File > Print... prints on the printer the print dialog set up (here its
// "print to file"), and a cancelled dialog prints nothing.
TEST_F(Sheet, ExportAndPrintMakeTheSheetOfTheRecordShown) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
        GTEST_SKIP() << "poppler-utils are not installed";
    }
    ConfigRecord crafted{};
    crafted.resetToDefaults();
    crafted.preset(3).echoDelay = 123;
    const QString cfg = dir.filePath(QStringLiteral("a<B>.cfg"));
    ASSERT_TRUE(saveConfigFile(cfg, crafted));
    ASSERT_TRUE(form->OpenFile(cfg));

    const QString exported = dir.filePath(QStringLiteral("exported.pdf"));
    dialogs.answers << exported;
    action("ExportPdf1")->trigger();
    EXPECT_EQ(dialogs.dialogsRun, QStringList{QStringLiteral("ExportDialog1")});
    EXPECT_EQ(form->ExportDialog1().selectedFiles().value(0),
              dir.filePath(QStringLiteral("a<B>.pdf")));
    const QString text = pdfText(exported);
    EXPECT_TRUE(text.contains(QStringLiteral("a<B>.cfg"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Delay: 123")));

    action("Print1")->trigger(); // cancelled
    const QString printed = dir.filePath(QStringLiteral("printed.pdf"));
    dialogs.printDialog = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printed);
        return true;
    };
    action("New1")->trigger();
    action("Print1")->trigger();
    EXPECT_EQ(dialogs.printDialogsRun, 2);
    const QString paper = pdfText(printed);
    EXPECT_TRUE(paper.contains(QStringLiteral("Untitled"))) << paper.toStdString();
    EXPECT_TRUE(paper.contains(QStringLiteral("Mode B")));
    EXPECT_FALSE(paper.contains(QStringLiteral("Delay: 123")));
    EXPECT_TRUE(dialogs.messages.empty());
}

// A full disk keeps the PDF that was there and says why, once.
TEST_F(Sheet, ExportOnAFullDiskKeepsTheOldFile) {
    FullDisk disk;
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    const QString pdf = disk.path(QStringLiteral("sheet.pdf"));
    {
        QFile old(pdf);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old sheet");
    }
    ASSERT_TRUE(disk.fill());
    dialogs.answers << pdf;
    action("ExportPdf1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Cannot export %1").arg(pdf));
    EXPECT_EQ(dialogs.messages[0].detail, QStringLiteral("No space left on device"));
    QFile old(pdf);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old sheet"));
}

} // namespace
} // namespace cantavel::testing
