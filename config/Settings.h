#pragma once

// The settings file beside the executable remembers the serial port between runs:
//
//   [Config]
//   COM=COM1
//   index=1

#include "ConfigRecord.h"

#include <QString>

namespace cantavel {

// The executable's path with its suffix replaced by ".ini", or ".ini" appended when
// the file name has no suffix.
QString settingsPathFor(const QString& executablePath);

// settingsPathFor() of the running program; needs a QCoreApplication.
QString settingsPath();

// Missing file or keys give "COM1" and 1; an "index" that is not a whole number
// reads as 1. Nothing checks that the name and the number agree. An optional section
// [Ports] maps port names to device paths (COM3=/dev/ttyUSB0).
void readSettings(const QString& path, RuntimeState& state);

// Writes "COM" and then "index" into [Config], keeping whatever else the file holds
// ([Ports] included) as it was.
// Returns false when the file could not be written; the editor ignores that.
bool writeSettings(const QString& path, const RuntimeState& state);

} // namespace cantavel
