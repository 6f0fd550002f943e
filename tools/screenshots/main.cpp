// Saves pictures of the main window ("Default" and tab "1") and of the About dialog,
// drawn offscreen as the window draws itself, for people to look at.
//
//   cantavel-screenshots [FOLDER]     (default: the current folder)
//   cantavel-screenshots --grab WINDOW FILE.png
//                                     a window of the running X display, by its id
//                                     (the real editor under Xvfb, for the README)

#include "AboutBox.h"
#include "AppInfo.h"
#include "ConfigRecord.h"
#include "MainWindow.h"
#include "RuntimeState.h"

#include <QApplication>
#include <QDir>
#include <QTabBar>
#include <QTemporaryDir>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstring>

namespace {

int grabWindow(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    bool number = false;
    const WId window = QString::fromLatin1(argv[2]).toULongLong(&number, 0);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!number || !screen) {
        std::fprintf(stderr, "cantavel-screenshots: no window %s on this display\n", argv[2]);
        return 1;
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "cantavel-screenshots: cannot save %s\n", argv[3]);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "--grab") == 0) {
        return grabWindow(argc, argv);
    }
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
