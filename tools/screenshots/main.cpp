// Saves pictures of the main window ("Default" and tab "1") and of the About dialog,
// drawn offscreen as the window draws itself, for people to look at.
//
//   cantavel-screenshots [FOLDER]     (default: the current folder)

#include "AboutBox.h"
#include "AppInfo.h"
#include "ConfigRecord.h"
#include "MainWindow.h"
#include "RuntimeState.h"

#include <QApplication>
#include <QDir>
#include <QTabBar>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("CANTAVEL_INSTANCE",
            "screenshots " + QByteArray::number(QCoreApplication::applicationPid()));
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    QTemporaryDir settings; // the user's own settings stay untouched
    cantavel::ConfigRecord record;
    cantavel::RuntimeState state;
    cantavel::TForm1 form(record, state,
                          {.settingsPath = settings.filePath(QStringLiteral("cantavel.ini"))});
    form.show();
    cantavel::TAboutBox about;

    bool ok = form.grab().save(out.filePath(QStringLiteral("window-default.png")));
    form.findChild<QTabBar*>(QStringLiteral("tabs"))->setCurrentIndex(1);
    ok = form.grab().save(out.filePath(QStringLiteral("window-1.png"))) && ok;
    ok = about.grab().save(out.filePath(QStringLiteral("about.png"))) && ok;
    if (!ok) {
        std::fprintf(stderr, "cantavel-screenshots: cannot write the pictures to %s\n",
                     qPrintable(out.absolutePath()));
        return 1;
    }
    std::printf("%s\n", qPrintable(out.absolutePath()));
    return 0;
}
