#pragma once

// The one seam through which the main window asks the operator anything: message
// boxes and the file dialogs. Tests put their own answers here.

#include <QString>

class QDialog;
class QFileDialog;
class QPrinter;
class QWidget;

namespace cantavel {

class EditorDialogs {
public:
    enum class Icon { Information, Warning, Critical };
    enum class Answer { Save, Discard, Cancel };

    virtual ~EditorDialogs() = default;
    // A message box with OK; detail is shown under the text when not empty.
    virtual void message(QWidget* parent, Icon icon, const QString& title, const QString& text,
                         const QString& detail) = 0;
    // Runs a configured file dialog; the chosen path, or empty when cancelled.
    virtual QString chooseFile(QFileDialog& dialog) = 0;
    // "Save changes to ...?" with Save, Discard and Cancel.
    virtual Answer askToSave(QWidget* parent, const QString& title, const QString& text) = 0;
    // The system's print dialog on `printer`; false when cancelled.
    virtual bool choosePrinter(QWidget* parent, QPrinter& printer) = 0;
    // A question with Yes and No, No the default; true for Yes.
    virtual bool confirm(QWidget* parent, const QString& title, const QString& text) = 0;
    // A dialog of the window's own, run until it is closed: QDialog::Accepted or
    // Rejected.
    virtual int run(QDialog& dialog);
};

// The real thing: QMessageBox and the dialog's own exec().
class WidgetDialogs final : public EditorDialogs {
public:
    void message(QWidget* parent, Icon icon, const QString& title, const QString& text,
                 const QString& detail) override;
    QString chooseFile(QFileDialog& dialog) override;
    Answer askToSave(QWidget* parent, const QString& title, const QString& text) override;
    bool choosePrinter(QWidget* parent, QPrinter& printer) override;
    bool confirm(QWidget* parent, const QString& title, const QString& text) override;
};

} // namespace cantavel
