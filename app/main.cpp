#include "AboutBox.h"
#include "AppInfo.h"
#include "Application.h"
#include "MainWindow.h"

int main(int argc, char* argv[]) {
    // 1. The application object. Arguments are not used.
    cantavel::TApplication app(argc, argv);
    try {
        // 2. The title, and what identifies the program to the desktop.
        app.setProperty("ApplicationTitle", cantavel::applicationTitle());
        QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
        QCoreApplication::setApplicationName(QStringLiteral("Cantavel"));
        QCoreApplication::setApplicationVersion(QStringLiteral(CANTAVEL_VERSION));
        QGuiApplication::setDesktopFileName(QStringLiteral("cantavel"));
        QApplication::setWindowIcon(cantavel::applicationIcon());

        // 3. The record and run-time state, and the main window that edits them; a
        // second instance learns here that it is one.
        cantavel::ConfigRecord record;
        cantavel::RuntimeState state;
        cantavel::TForm1 form(record, state);
        // 4. The About dialog, hidden until asked for.
        cantavel::TAboutBox about;
        form.SetAboutBox(&about);
        // 5. Show and run; a second instance shows nothing and its loop ends at once.
        if (!form.IsSecondInstance()) {
            form.show();
        }
        QApplication::exec();
    } catch (...) {
        // 6. Whatever escaped is shown the standard way.
        cantavel::TApplication::showStandardError(
            cantavel::TApplication::messageOf(std::current_exception()));
    }
    return 0;
}
