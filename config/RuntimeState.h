#pragma once

// What the running editor knows besides the record: the file it came from, the port
// the Device commands use, the devices the settings give port names, and the recent
// files. All but the file are read from the settings file; the port and the recent
// files are saved back to it.

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
