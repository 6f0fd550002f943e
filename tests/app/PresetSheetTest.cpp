// The record outside the window: its values as the window shows them (for the
// printed sheet and the command-line tool), File > Print... and Export PDF..., and
// cantavel-cfg's uploads against the window's own.

#include "ConfigFile.h"
#include "FullDisk.h"
#include "LineRecorder.h"
#include "ParameterValues.h"
#include "Poppler.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>

#include <gtest/gtest.h>

#include <random>

namespace cantavel::testing {
namespace {

class Sheet : public WindowTest {};

// The lists hold the items listItems() names. Random records, values out of range
// and list indices beyond the items included: each tab shows what shownText() says, and showing it
// stores what bringIntoRange() stores, byte for byte.
TEST_F(Sheet, ValuesAsShownAgreeWithTheWindowOnEveryTab) {
    for (const Parameter& p : parameterTable()) {
        if (p.kind == ControlKind::List) {
            const QComboBox* list = child<QComboBox>(p.control);
            QStringList items;
            for (int i = 0; i < list->count(); ++i) {
                items << list->itemText(i);
            }
            EXPECT_EQ(items, listItems(p)) << p.key;
        }
    }
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

// File > Export PDF... offers the file's own name, and the sheet carries it as it
// stands; File > Print... prints on the printer the print dialog set up (here its
// "print to file"), and a cancelled dialog prints nothing.
TEST_F(Sheet, ExportAndPrintMakeTheSheetOfTheRecordShown) {
    if (!havePoppler()) {
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

// cantavel-cfg uploading to a pty of its own, whose path stands for "@PTY" in the
// arguments and in the [Ports] section of `settings` (when given): what it puts on
// the line, and how fast.
class CfgUpload {
public:
    explicit CfgUpload(QStringList args, const QString& settings = {}) {
        args.replaceInStrings(QStringLiteral("@PTY"), line_.slavePath());
        if (!settings.isEmpty()) {
            QFile ini(settings);
            EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
            ini.write("[Ports]\nUNIT=" + QFile::encodeName(line_.slavePath()) + "\n");
        }
        process_.start(QStringLiteral(CANTAVEL_BUILD_DIR "/cantavel-cfg"), args);
    }

    // Once the program has ended and `bytes` have reached the line (or a second
    // after it ended).
    void finish(qsizetype bytes) {
        process_.waitForFinished(30000);
        status = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        out = QString::fromUtf8(process_.readAllStandardOutput());
        (void)QTest::qWaitFor([&] { return recorder_.size() >= bytes; }, 1000);
        line = recorder_.bytes();
        // Where each frame began: a mode frame is 27 bytes, a preset frame 19.
        for (qsizetype offset = 0; offset < line.size();
             offset += line[offset] == '\x3A' ? 27 : 19) {
            frameStarts.push_back(recorder_.arrivalOf(offset));
        }
    }

    int status = -1;
    QString out;
    QByteArray line;
    std::vector<LineRecorder::Clock::time_point> frameStarts;

private:
    Pty line_;
    LineRecorder recorder_{line_.master()};
    QProcess process_;
};

// The bytes of "upload --all" are the editor's Upload All of the same file, values
// out of range included (the editor brings each slot into range as it shows it),
// paced half a second apart; "upload --slot" through a [Ports] name is the editor's
// Upload of that tab. The pauses between frames are checked here in real time, on a
// real pseudo-terminal; every other test of them runs on a fake clock.
TEST_F(Sheet, CfgUploadsWhatTheEditorUploads) {
    ConfigRecord crafted{};
    crafted.resetToDefaults();
    crafted.preset(2).echoDelay = 250; // above its slider
    crafted.preset(4).micBass = 30;    // a tone beyond +10
    crafted.mode(5).musicVolMax = 30;
    crafted.mode(5).musicVolume = 50;    // above its maximum
    crafted.preset(6).effectVolume = 99; // above its knob
    crafted.preset(1).keyIndex = 9;
    const QString cfg = dir.filePath(QStringLiteral("show.cfg"));
    ASSERT_TRUE(saveConfigFile(cfg, crafted));

    // Both at once, each on a line of its own.
    CfgUpload all({QStringLiteral("upload"), cfg, QStringLiteral("--port"), QStringLiteral("@PTY"),
                   QStringLiteral("--all")});
    CfgUpload one({QStringLiteral("upload"), cfg, QStringLiteral("--port"), QStringLiteral("UNIT"),
                   QStringLiteral("--settings"), dir.filePath(QStringLiteral("tool.ini")),
                   QStringLiteral("--slot"), QStringLiteral("mode-a")},
                  dir.filePath(QStringLiteral("tool.ini")));
    all.finish(157);
    one.finish(27);
    ASSERT_EQ(all.status, 0) << all.out.toStdString();
    EXPECT_EQ(all.out.count(QStringLiteral("sent ")), kSlotCount);
    EXPECT_TRUE(all.out.startsWith(QStringLiteral("sent Default (27 bytes)\nsent 1 (19 bytes)\n")));

    ASSERT_TRUE(form->OpenFile(cfg));
    sent();
    action("Configuator1")->trigger();
    const QByteArray editor = sent();
    ASSERT_EQ(editor.size(), 157);
    EXPECT_EQ(all.line.toHex(' '), editor.toHex(' '));
    ASSERT_EQ(all.frameStarts.size(), static_cast<std::size_t>(kSlotCount));
    for (std::size_t i = 1; i < all.frameStarts.size(); ++i) {
        EXPECT_GE(all.frameStarts[i] - all.frameStarts[i - 1], std::chrono::milliseconds(450))
            << "frame " << i;
    }

    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, QStringLiteral("sent Mode A (27 bytes)\n"));
    clickTab(5);
    action("Upload1")->trigger();
    EXPECT_EQ(one.line.toHex(' '), sent().toHex(' '));
}

} // namespace
} // namespace cantavel::testing
