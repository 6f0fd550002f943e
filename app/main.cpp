#include "AboutBox.h"
#include "AppInfo.h"
#include "Application.h"
#include "CommandLine.h"
#include "MainWindow.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

// How a later start ends: its exit status, and a word where the running editor did
// not take its file. Called once the event loop has returned, so that the quit the
// guard queued cannot close the box.
int endOfLaterStart(const cantavel::TXJustOne& guard, const QString& file) {
    using Outcome = cantavel::TXJustOne::Outcome;
    switch (guard.Result()) {
    case Outcome::First:
    case Outcome::Unguarded:
    case Outcome::HandedOver:
    case Outcome::NotAsked:
        return 0;
    case Outcome::Declined:
        std::fprintf(stderr,
                     "cantavel: %s was not opened: %s, handed over by a later start, "
                     "supersedes it\n",
                     qPrintable(file), qPrintable(guard.ResultText()));
        return 1;
    case Outcome::Closing:
        std::fprintf(stderr,
                     "cantavel: %s was not opened: the running editor is closing; start it "
                     "again once it has closed\n",
                     qPrintable(file));
        return 1;
    case Outcome::Unreachable:
        break;
    }
    const int seconds = cantavel::TXJustOne::kReachMs / 1000;
    const QString what = file.isEmpty() ? QStringLiteral("it was not brought to the front")
                                        : QStringLiteral("%1 was not handed over").arg(file);
    std::fprintf(stderr,
                 "cantavel: the running editor did not answer within %d s; %s (%s); end it, or "
                 "wait and start again\n",
                 seconds, qPrintable(what), qPrintable(guard.ResultText()));
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
        QMessageBox box(
            QMessageBox::Warning, cantavel::applicationTitle(),
            QStringLiteral("The running editor did not answer within %1 s.").arg(seconds),
            QMessageBox::Ok);
        box.setInformativeText(QStringLiteral("%1 (%2). End it, or wait and start again.")
                                   .arg(what, guard.ResultText()));
        box.exec();
    }
    return 1;
}

} // namespace

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

    // Without a display the toolkit would abort; say so instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !arguments.contains(QStringLiteral("-platform"))) {
        std::fputs("cantavel: no display to show the window on (DISPLAY is not set)\n", stderr);
        return 1;
    }

    // 1. The application object.
    cantavel::TApplication app(argc, argv);
    int status = 0;
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
        if (form.Guard().Result() == cantavel::TXJustOne::Outcome::Unguarded) {
            std::fprintf(stderr,
                         "cantavel: no private folder for the single-instance guard (%s); "
                         "this editor runs without it\n",
                         qPrintable(form.Guard().ResultText()));
        }
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
        status = endOfLaterStart(form.Guard(), commandLine.file);
    } catch (...) {
        // 6. Whatever escaped is shown the standard way.
        cantavel::TApplication::showStandardError(
            cantavel::TApplication::messageOf(std::current_exception()));
    }
    return status;
}
