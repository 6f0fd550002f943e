#pragma once

// How the main window's form looks beyond its layout: the design's fonts and window
// frame, the tab captions, knob colours and the track bars' and group titles' styles;
// and the file dialogs it opens.

class QFileDialog;
class QMainWindow;
class QString;
class QWidget;

namespace Ui {
class TForm1;
}

namespace cantavel {

void applyFormLooks(QMainWindow& window, Ui::TForm1& ui);

// A dialog for preset files (Open or Save) named `name`; owned by `parent`.
QFileDialog* makePresetFileDialog(QWidget* parent, const QString& name);
// The dialog of File > Export PDF; owned by `parent`.
QFileDialog* makeExportDialog(QWidget* parent);

} // namespace cantavel
