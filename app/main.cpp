#include "AboutBox.h"
#include "AppInfo.h"
#include "Application.h"
#include "CommandLine.h"
#include "MainWindow.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    // 0. The command line, before anything needs a display: --help and --version
    // answer at once, and a command line that is not understood ends here.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QFile::decodeName(argv[i]);
    }
    const cantavel::CommandLine commandLine =
        cantavel::parseCommandLine(arguments, QDir::currentPath());
    switch (commandLine.action) {
    case cantavel::CommandLine::Action::Help:
    case cantavel::CommandLine::Action::Version:
        std::fputs(qPrintable(commandLine.text), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case cantavel::CommandLine::Action::Error:
        std::fprintf(stderr, "cantavel: %s\nTry 'cantavel --help' for more information.\n",
                     qPrintable(commandLine.text));
        return cantavel::kUsageError;
    case cantavel::CommandLine::Action::Run:
        break;
    }

    // 1. The application object.
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
        // second instance learns here that it is one, and hands its file over.
        cantavel::ConfigRecord record;
        cantavel::RuntimeState state;
        cantavel::TForm1Options options;
        options.fileToHandOver = commandLine.file;
        cantavel::TForm1 form(record, state, options);
        // 4. The About dialog, hidden until asked for.
        cantavel::TAboutBox about;
        form.SetAboutBox(&about);
        // 5. Show and run; a second instance shows nothing and its loop ends at once.
        // A file from the command line opens once the window is up.
        if (!form.IsSecondInstance()) {
            form.show();
            if (!commandLine.file.isEmpty()) {
                QTimer::singleShot(
                    0, &form, [&form, &commandLine] { (void)form.OpenFile(commandLine.file); });
            }
        }
        QApplication::exec();
    } catch (...) {
        // 6. Whatever escaped is shown the standard way.
        cantavel::TApplication::showStandardError(
            cantavel::TApplication::messageOf(std::current_exception()));
    }
    return 0;
}
