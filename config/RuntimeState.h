#pragma once

// What the running editor knows besides the record: the file it came from and the
// port the Device commands use. Loaded from and saved to the settings file.

#include <QMap>
#include <QString>
#include <QStringList>

namespace cantavel {

struct RuntimeState {
    QString currentFileName;
    QString comPortName = QStringLiteral("COM1");
    int comPortNumber = 1;
    // Port names the settings map to device paths ("COM3" -> "/dev/ttyUSB0").
    QMap<QString, QString> portPaths;
    // The files last opened or saved, newest first (absolute paths).
    QStringList recentFiles;
};

// File > Recent Files keeps this many.
inline constexpr qsizetype kMaxRecentFiles = 8;

} // namespace cantavel
