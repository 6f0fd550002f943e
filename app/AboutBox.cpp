#include "AboutBox.h"
#include "ui_AboutBox.h"

#include "AppInfo.h"
#include "Panel.h"

#include <QGuiApplication>
#include <QScreen>

namespace cantavel {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TAboutBox>()) {
    ui->setupUi(this);
    ui->Panel1->SetBevelInner(TPanel::TBevelCut::bvRaised);
    ui->Panel1->SetBevelOuter(TPanel::TBevelCut::bvLowered);
    setFont(designFont(QStringLiteral("MS Sans Serif"), 13));
    QFont heavy = designFont(QStringLiteral("Arial Black"), 13);
    heavy.setWeight(QFont::Black); // where Arial Black is missing, the nearest face in black
    ui->ProductName->setFont(heavy);
    ui->ProgramIcon->setPixmap(applicationIcon().pixmap(32, 32));
    // A fixed dialog border: no resizing, no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(270, 172);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TAboutBox::~TAboutBox() = default;

} // namespace cantavel
