// Where the editor's start-up time goes, phase by phase, in one process (offscreen
// unless a display is given): application object, main window, About dialog, show.
// Usage: cantavel-startup-phases

#include "AboutBox.h"
#include "AppInfo.h"
#include "Application.h"
#include "MainWindow.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QElapsedTimer clock;
    clock.start();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("CANTAVEL_INSTANCE", "startup phases");
    cantavel::TApplication app(argc, argv);
    app.setProperty("ApplicationTitle", cantavel::applicationTitle());
    const qint64 appMade = clock.nsecsElapsed();
    QTemporaryDir dir;
    cantavel::ConfigRecord record;
    cantavel::RuntimeState state;
    cantavel::TForm1 form(record, state,
                          {.settingsPath = dir.filePath(QStringLiteral("cantavel.ini"))});
    const qint64 formMade = clock.nsecsElapsed();
    cantavel::TAboutBox about;
    const qint64 aboutMade = clock.nsecsElapsed();
    form.show();
    QCoreApplication::processEvents();
    const qint64 shown = clock.nsecsElapsed();
    std::printf("application %.1f ms, main window %.1f ms, About %.1f ms, show %.1f ms; "
                "total %.1f ms\n",
                appMade / 1e6, (formMade - appMade) / 1e6, (aboutMade - formMade) / 1e6,
                (shown - aboutMade) / 1e6, shown / 1e6);
    return 0;
}
