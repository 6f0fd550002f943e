#pragma once

// The File menu's work on the preset document: the question about unsaved changes,
// New, Open, Save and Save As through the document, the recent files, and the preset
// sheet printed or exported. What it asks goes through the window's dialogs.

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QFileDialog;
class QWidget;

namespace cantavel {

class EditorDialogs;
class PresetDocument;
class RecentFiles;

class DocumentFiles : public QObject {
    Q_OBJECT

public:
    struct Window {
        QWidget* widget = nullptr; // the dialogs' parent
        EditorDialogs* dialogs = nullptr;
        int* dialogsOpen = nullptr; // counted while one of ours is open
        // Before another record takes the old one's place: Device commands, Link and
        // the port end; the slots a command left unsent.
        std::function<std::vector<int>()> release;
        // Once it has: the new record shown, and the slots `cause` left unsent told.
        std::function<void(const std::vector<int>& unsent, const QString& cause)> replaced;
        std::function<void(const QString& caption)> setCaption;
        std::function<void()> updateCaption;
        std::function<void(const QString& text, const QString& detail)> showMessage;
    };

    DocumentFiles(PresetDocument& document, RecentFiles& recent, Window window,
                  QObject* parent = nullptr);

    // Asks "Save changes to ...?" when the record changed; false when the action
    // that asked must not go on.
    bool maybeSave();
    void makeNew();
    // Reads a chosen file into the record and shows it; false (and said why) when
    // nothing could be read.
    bool open(const QString& path);
    void save();
    void saveAs();
    void print();
    void exportPdf();
    // A file dialog run as one of ours; the path chosen, or empty.
    QString choose(QFileDialog& dialog);

    // The file dialogs are made when first needed: building one costs more than the
    // rest of the window, and many sessions never open a file.
    QFileDialog& openDialog();
    QFileDialog& saveDialog();
    QFileDialog& exportDialog();

private:
    bool saveTo(const QString& path);

    PresetDocument& document_;
    RecentFiles& recent_;
    Window window_;
    QFileDialog* openDialog_ = nullptr; // owned by the window once made
    QFileDialog* saveDialog_ = nullptr;
    QFileDialog* exportDialog_ = nullptr;
};

} // namespace cantavel
