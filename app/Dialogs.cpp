#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace cantavel {

void WidgetDialogs::message(QWidget* parent, Icon icon, const QString& title, const QString& text,
                            const QString& detail) {
    QMessageBox box(parent);
    box.setIcon(icon == Icon::Critical  ? QMessageBox::Critical
                : icon == Icon::Warning ? QMessageBox::Warning
                                        : QMessageBox::Information);
    box.setWindowTitle(title);
    box.setText(text);
    box.setInformativeText(detail);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString WidgetDialogs::chooseFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace cantavel
