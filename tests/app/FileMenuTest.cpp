// New, Open, Save and Save As through the dialog seam, with real files.

#include "ConfigFile.h"
#include "FullDisk.h"
#include "SerialPort.h"
#include "WindowFixture.h"

#include <QDir>
#include <QFile>

namespace cantavel {
namespace {

using Files = testing::WindowTest;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray imageOf(const ConfigRecord& record) {
    const auto img = record.image();
    return QByteArray(reinterpret_cast<const char*>(img.data()),
                      static_cast<qsizetype>(img.size()));
}

const QString kTitle = QStringLiteral("Digital Cantavel Processor v1.5");

TEST_F(Files, SaveRightAfterStartAsksForANameLikeSaveAs) {
    const QString path = dir.filePath(QStringLiteral("first.cfg"));
    dialogs.answers << path;
    action("Save1")->trigger();
    EXPECT_EQ(dialogs.dialogsRun, QStringList{"SaveDialog1"});
    EXPECT_EQ(readAll(path), imageOf(record()));
    EXPECT_EQ(state.currentFileName, path);
    EXPECT_EQ(form->windowTitle(), kTitle + "  [" + path + "]") << "the file Save writes";
}

// The caption names the file the next Save writes: once it kept the first file's
// name after Save As, and edits believed saved there went to the second.
TEST_F(Files, SaveAsAfterOpenShowsTheNewNameAndSaveFollowsIt) {
    const QString first = dir.filePath(QStringLiteral("first.cfg"));
    const QString second = dir.filePath(QStringLiteral("second.cfg"));
    ConfigRecord other;
    other.resetToDefaults();
    other.preset(3).echoDelay = 42;
    ASSERT_TRUE(saveConfigFile(first, other));

    dialogs.answers << first << second;
    action("Open1")->trigger();
    EXPECT_EQ(form->windowTitle(), kTitle + "  [" + first + "]");
    action("SaveAs1")->trigger();
    EXPECT_EQ(form->windowTitle(), kTitle + "  [" + second + "]");
    EXPECT_EQ(record().preset(3).echoDelay, 42);

    record().preset(3).echoDelay = 43;
    action("Save1")->trigger();
    EXPECT_EQ(static_cast<std::uint8_t>(readAll(second)[17 * 3 + 7]), 43);
    EXPECT_EQ(static_cast<std::uint8_t>(readAll(first)[17 * 3 + 7]), 42);
    EXPECT_EQ(dialogs.dialogsRun, (QStringList{"OpenDialog1", "SaveDialog1"}));
}

TEST_F(Files, ShortFileReplacesOnlyItsLeadingBytes) {
    const QString path = dir.filePath(QStringLiteral("short.cfg"));
    writeAll(path, QByteArray(100, '\x03'));
    dialogs.answers << path;
    action("Open1")->trigger();
    EXPECT_EQ(record().preset(4).effectVolume, 3);
    EXPECT_EQ(record().preset(5).micTreble, 3);
    EXPECT_EQ(record().preset(5).swFreq, 100);
    EXPECT_EQ(record().mode(0).marker, 0x55);
}

// Any regular file opens, but one of another length than a preset's is no preset
// file: it is said on opening, and neither Save nor Save As turns it into 294 bytes
// without asking (a 1 GiB file once became 294 bytes on Ctrl+S).
TEST_F(Files, AFileOfAnotherLengthIsNamedAndReplacedOnlyWhenTheOperatorAgrees) {
    struct Case {
        const char* name;
        int size;
        const char* readDetail;
    };
    const Case cases[] = {
        {"empty.cfg", 0, "Nothing was read from it."},
        {"long.cfg", 300, "Only its first 294 bytes were read."},
        {"short.cfg", 100, "Its 100 bytes were read over the start of the record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        const QByteArray data(c.size, '\x05');
        writeAll(path, data);
        dialogs.messages.clear();
        dialogs.confirmations.clear();
        ASSERT_TRUE(form->OpenFile(path));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text,
                  QStringLiteral("%1 is %2 bytes, not a preset file.").arg(c.name).arg(c.size));
        EXPECT_TRUE(dialogs.messages[0].detail.startsWith(QLatin1String(c.readDetail)))
            << dialogs.messages[0].detail.toStdString();

        const QString question =
            QStringLiteral("%1 is %2 bytes, not a preset file: replace it with this preset?")
                .arg(c.name)
                .arg(c.size);
        dialogs.confirmAnswers = {false};
        action("Save1")->trigger();
        EXPECT_EQ(dialogs.confirmations, QStringList{question});
        EXPECT_EQ(readAll(path), data) << "No keeps the file";
        dialogs.confirmAnswers = {true};
        action("Save1")->trigger();
        EXPECT_EQ(readAll(path), imageOf(record())) << "Yes replaces it";
        action("Save1")->trigger(); // a preset file now: no more questions
        EXPECT_EQ(dialogs.confirmations.size(), 2);
    }
    // Save As onto such a file asks too; No leaves the name Save writes as it was.
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    writeAll(notes, "my notes");
    dialogs.answers << notes;
    dialogs.confirmations.clear();
    action("SaveAs1")->trigger();
    EXPECT_EQ(dialogs.confirmations.size(), 1);
    EXPECT_EQ(readAll(notes), QByteArray("my notes"));
    EXPECT_EQ(state.currentFileName, dir.filePath(QStringLiteral("short.cfg")));
}

TEST_F(Files, OpenKeepsTheTabAndShowsTheFileOnIt) {
    ConfigRecord other;
    other.resetToDefaults();
    other.preset(5).echoDelay = 77;
    other.mode(5).musicVolume = 12;
    const QString path = dir.filePath(QStringLiteral("a.cfg"));
    ASSERT_TRUE(saveConfigFile(path, other));
    clickTab(5);
    dialogs.answers << path;
    action("Open1")->trigger();
    EXPECT_EQ(tabs()->currentIndex(), 5);
    EXPECT_EQ(text("Edit6"), QStringLiteral("77"));
    EXPECT_EQ(text("Edit15"), QStringLiteral("12"));
}

TEST_F(Files, OpenEndsLinkAndNewForgetsTheFile) {
    const QString path = dir.filePath(QStringLiteral("b.cfg"));
    ASSERT_TRUE(saveConfigFile(path, record()));
    linkOn();
    dialogs.answers << path;
    action("Open1")->trigger();
    EXPECT_FALSE(action("Link1")->isChecked());
    EXPECT_FALSE(form->Comm().IsOpen());

    record().mode(2).swVol1 = 99; // mode records 1 to 4 survive New
    action("New1")->trigger();
    EXPECT_EQ(form->windowTitle(), kTitle);
    EXPECT_TRUE(state.currentFileName.isEmpty());
    EXPECT_EQ(record().mode(2).swVol1, 99);
    action("Save1")->trigger();
    EXPECT_EQ(dialogs.dialogsRun.last(), QStringLiteral("SaveDialog1")) << "Save asks again";
}

TEST_F(Files, CancelledDialogsChangeNothing) {
    const QByteArray before = imageOf(record());
    action("Open1")->trigger();
    action("SaveAs1")->trigger();
    EXPECT_EQ(imageOf(record()), before);
    EXPECT_TRUE(state.currentFileName.isEmpty());
    EXPECT_EQ(dialogs.dialogsRun.size(), 2);
}

TEST_F(Files, UnreadableFileLeavesEverythingAsItWas) {
    linkOn();
    record().preset(1).echoDelay = 11;
    const QByteArray before = imageOf(record());
    const QString caption = form->windowTitle(); // Link's upload changed the record
    const QString missing = dir.filePath(QStringLiteral("gone.cfg"));
    dialogs.answers << missing;
    action("Open1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(missing));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(QStringLiteral("No such file")));
    EXPECT_EQ(imageOf(record()), before);
    EXPECT_EQ(form->windowTitle(), caption);
    EXPECT_TRUE(state.currentFileName.isEmpty());
    EXPECT_TRUE(action("Link1")->isChecked()) << "a failed Open does not end Link";
    EXPECT_TRUE(form->Comm().IsOpen());
}

TEST_F(Files, FailedSaveKeepsTheNameAndTheOldFile) {
    const QString good = dir.filePath(QStringLiteral("good.cfg"));
    dialogs.answers << good;
    action("SaveAs1")->trigger();
    const QByteArray saved = readAll(good);

    const QString nowhere = dir.filePath(QStringLiteral("no/such/folder/x.cfg"));
    dialogs.answers << nowhere;
    action("SaveAs1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.contains(nowhere));
    EXPECT_EQ(state.currentFileName, good);

    // A target the save cannot replace: a folder in its place.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("taken.cfg"))));
    dialogs.answers << dir.filePath(QStringLiteral("taken.cfg"));
    action("SaveAs1")->trigger();
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(state.currentFileName, good);
    EXPECT_EQ(readAll(good), saved);
}

// As the operator meets it: the disk is full. Save over the open file and Save As a
// new name both say why, and neither the file nor the window's idea of it changes.
TEST_F(Files, FullDiskKeepsTheFileAndTheNameAndSaysWhy) {
    testing::FullDisk disk;
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    const QString show = disk.path(QStringLiteral("show.cfg"));
    dialogs.answers << show;
    action("SaveAs1")->trigger();
    const QByteArray saved = readAll(show);
    ASSERT_EQ(saved.size(), 294);
    ASSERT_TRUE(disk.fill());

    record().preset(1).echoDelay = 99;
    action("Save1")->trigger();
    const QString fresh = disk.path(QStringLiteral("fresh.cfg"));
    dialogs.answers << fresh;
    action("SaveAs1")->trigger();

    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.detail, QStringLiteral("No space left on device"));
    }
    EXPECT_TRUE(dialogs.messages[0].text.contains(show));
    EXPECT_TRUE(dialogs.messages[1].text.contains(fresh));
    EXPECT_EQ(readAll(show), saved);
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(state.currentFileName, show);
}

TEST_F(Files, DialogsOfferConfigFilesFirst) {
    for (QFileDialog* d : {&form->OpenDialog1(), &form->SaveDialog1()}) {
        EXPECT_EQ(d->nameFilters(), (QStringList{"Config Files (*.cfg)", "All Files (*.*)"}));
        EXPECT_EQ(d->selectedNameFilter(), QStringLiteral("Config Files (*.cfg)"));
        EXPECT_EQ(d->defaultSuffix(), QStringLiteral("cfg"));
    }
    EXPECT_TRUE(form->SaveDialog1().testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(form->OpenDialog1().fileMode(), QFileDialog::AnyFile);
}

} // namespace
} // namespace cantavel
