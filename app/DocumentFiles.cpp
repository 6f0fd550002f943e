#include "DocumentFiles.h"

#include "AppInfo.h"
#include "ConfigFile.h"
#include "Counted.h"
#include "Dialogs.h"
#include "Elide.h"
#include "FormLooks.h"
#include "PresetDocument.h"
#include "PresetSheet.h"
#include "QtPrinter.h"
#include "RecentFiles.h"
#include "SheetPaper.h"

#include <QDate>
#include <QFileDialog>
#include <QFileInfo>

#include <optional>
#include <utility>

namespace cantavel {

namespace {
// The title and the file the record came from or went to, as Open shows it.
QString captionWithFile(const QString& path) {
    return applicationTitle() + QStringLiteral("  [") + path + QStringLiteral("]");
}
} // namespace

DocumentFiles::DocumentFiles(PresetDocument& document, RecentFiles& recent, Window window,
                             QObject* parent)
    : QObject(parent), document_(document), recent_(recent), window_(std::move(window)) {}

QFileDialog& DocumentFiles::openDialog() {
    if (!openDialog_) {
        openDialog_ = makePresetFileDialog(window_.widget, QStringLiteral("OpenDialog1"));
        openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        openDialog_->setFileMode(QFileDialog::AnyFile); // a name that does not exist is taken
    }
    return *openDialog_;
}

QFileDialog& DocumentFiles::saveDialog() {
    if (!saveDialog_) {
        saveDialog_ = makePresetFileDialog(window_.widget, QStringLiteral("SaveDialog1"));
        saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
        saveDialog_->setOption(QFileDialog::DontConfirmOverwrite);
    }
    return *saveDialog_;
}

QFileDialog& DocumentFiles::exportDialog() {
    if (!exportDialog_) {
        exportDialog_ = makeExportDialog(window_.widget);
    }
    return *exportDialog_;
}

QString DocumentFiles::choose(QFileDialog& dialog) {
    const Counted open(*window_.dialogsOpen);
    return window_.dialogs->chooseFile(dialog);
}

bool DocumentFiles::maybeSave() {
    document_.closeStep();
    if (!document_.isModified()) {
        return true;
    }
    const QString name = document_.fileName().isEmpty()
                             ? QStringLiteral("Untitled")
                             : QFileInfo(document_.fileName()).fileName();
    EditorDialogs::Answer answer = EditorDialogs::Answer::Cancel;
    {
        const Counted open(*window_.dialogsOpen);
        answer = window_.dialogs->askToSave(
            window_.widget, applicationTitle(),
            QStringLiteral("Save changes to %1?").arg(elideMiddle(name)));
    }
    switch (answer) {
    case EditorDialogs::Answer::Discard:
        return true;
    case EditorDialogs::Answer::Save:
        save();
        return !document_.isModified(); // a failed or cancelled save cancels the action
    case EditorDialogs::Answer::Cancel:
        break;
    }
    return false;
}

void DocumentFiles::makeNew() {
    // A command that waits ends here: the new record is never sent in part.
    const std::vector<int> unsent = window_.release();
    document_.makeNew();
    window_.setCaption(applicationTitle());
    window_.replaced(unsent, QStringLiteral("New"));
}

bool DocumentFiles::open(const QString& path) {
    qint64 size = kConfigImageSize;
    // What the file held is the unmodified state: values the controls cannot show
    // and bring into range while loading count as changes.
    const FileResult read = document_.load(path, &size);
    if (!read) {
        // Nothing was read: record, file name, caption and Link stay as they were.
        window_.showMessage(QStringLiteral("Cannot open %1").arg(elideMiddle(path)), read.reason);
        return false;
    }
    const std::vector<int> unsent = window_.release();
    window_.setCaption(captionWithFile(path));
    recent_.remember(path);
    window_.replaced(unsent, QStringLiteral("Open"));
    if (size != static_cast<qint64>(kConfigImageSize)) {
        window_.showMessage(
            QStringLiteral("%1 is %2, not a preset file.")
                .arg(elideMiddle(QFileInfo(path).fileName()), presetFileLength(size)),
            (size == 0 ? QStringLiteral("Nothing was read from it. ")
             : size > 0 && size < static_cast<qint64>(kConfigImageSize)
                 ? QStringLiteral("Its %1 bytes were read over the start of "
                                  "the record; the rest is as it was. ")
                       .arg(size)
                 : QStringLiteral("Only its first 294 bytes were read. ")) +
                QStringLiteral("Saving asks before it replaces the file."));
    }
    return true;
}

void DocumentFiles::save() {
    if (document_.fileName().isEmpty()) {
        saveAs();
        return;
    }
    (void)saveTo(document_.fileName());
}

void DocumentFiles::saveAs() {
    const QString path = choose(saveDialog());
    if (!path.isEmpty() && saveTo(path)) {
        // The caption names the file that the next Save writes.
        window_.setCaption(captionWithFile(path));
    }
}

bool DocumentFiles::saveTo(const QString& path) {
    document_.closeStep();
    if (const std::optional<qint64> size = nonPresetFileSize(path)) {
        // Whatever else the file holds would be lost to 294 bytes of preset.
        const Counted open(*window_.dialogsOpen);
        if (!window_.dialogs->confirm(
                window_.widget, applicationTitle(),
                QStringLiteral("%1 is %2, not a preset file: replace it with "
                               "this preset?")
                    .arg(elideMiddle(QFileInfo(path).fileName()), presetFileLength(*size)))) {
            return false;
        }
    }
    const FileResult written = document_.save(path);
    if (!written) {
        window_.showMessage(QStringLiteral("Cannot save %1").arg(elideMiddle(path)),
                            written.reason);
        return false;
    }
    window_.updateCaption();
    recent_.remember(path);
    return true;
}

void DocumentFiles::print() {
    QtPrinter printer;
    const QString title = sheetTitle(document_.fileName());
    printer.SetTitle(title); // the dialog's name for a file to print to
    {
        const Counted open(*window_.dialogsOpen);
        if (!window_.dialogs->choosePrinter(window_.widget, printer.qprinter())) {
            return;
        }
    }
    const SheetResult printed =
        printPresetSheet(printer, document_.record(), title, QDate::currentDate());
    if (!printed.ok) {
        window_.showMessage(QStringLiteral("Cannot print the preset sheet"), printed.reason);
    }
}

void DocumentFiles::exportPdf() {
    QFileDialog& dialog = exportDialog();
    // Beside the file, under its name.
    const QString current = document_.fileName();
    const QFileInfo file(current);
    const QString name = current.isEmpty() ? QStringLiteral("Untitled.pdf")
                                           : file.completeBaseName() + QStringLiteral(".pdf");
    if (!current.isEmpty()) {
        dialog.setDirectory(file.absolutePath());
    }
    dialog.selectFile(name);
    const QString path = choose(dialog);
    if (path.isEmpty()) {
        return;
    }
    const SheetResult exported = exportPresetSheet(document_.record(), sheetTitle(current),
                                                   QDate::currentDate(), path, defaultPaper());
    if (!exported.ok) {
        window_.showMessage(QStringLiteral("Cannot export %1").arg(elideMiddle(path)),
                            exported.reason);
    }
}

} // namespace cantavel
