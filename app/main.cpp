#include "AppInfo.h"
#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QCoreApplication::setApplicationName(QStringLiteral("Cantavel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CANTAVEL_VERSION));

    cantavel::TForm1 form;
    form.show();
    return app.exec();
}
