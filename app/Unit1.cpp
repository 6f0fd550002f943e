#include "Unit1.h"
#include "ui_Unit1.h"

#include "AppInfo.h"
#include "ConfigRecord.h"
#include "Settings.h"

#include <QCloseEvent>

namespace cantavel {

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()) {
    ui->setupUi(this);
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    readSettings(settingsPath(), runtimeState());
    setWindowTitle(applicationTitle());
    configRecord().resetToDefaults();
}

void TForm1::FormClose() {
    // Failures are ignored: closing always goes on.
    (void)writeSettings(settingsPath(), runtimeState());
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

} // namespace cantavel
