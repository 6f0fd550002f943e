#pragma once

// The settings file remembers the serial port and the recent files between runs,
// and may name the device a port name stands for:
//
//   [Config]
//   COM=COM1
//   index=1
//
//   [Recent]
//   File1=/home/op/live.cfg
//
//   [Ports]
//   COM3=/dev/ttyUSB0

#include "RuntimeState.h"
#include "SafeSave.h"

#include <QString>

namespace cantavel {

// The executable's path with its suffix replaced by ".ini", or ".ini" appended when
// the file name has no suffix.
QString settingsPathFor(const QString& executablePath);

// Where a program at `executablePath` keeps its settings. Beside itself (the path
// above) when it runs from a build folder (one with a CMakeCache.txt) or is a
// portable copy (that file exists already); anywhere else, such as a bin folder it
// was installed into, in `configFolder`/cantavel.ini, where its user can write
// whoever that is. A folder that cannot be found by its name gives `configFolder`
// too; without a `configFolder` the settings stay beside the program.
QString settingsPathFor(const QString& executablePath, const QString& configFolder);

// The settings of the editor built, installed or copied beside the running program
// (a tool of its own), by the same rule: the settings of a `cantavel` in the same
// folder.
QString editorSettingsPath();

// The user's configuration folder for this application: $XDG_CONFIG_HOME when it is
// an absolute path, else .config in the home ($HOME when absolute, else the
// password database's), then the organization's and application's names.
QString userConfigFolder();

// The settings path of the running program, with the user's configuration folder;
// needs a QCoreApplication.
QString settingsPath();

// A settings file larger than this is not read (the defaults hold) and not
// rewritten: nothing this program writes comes near it.
inline constexpr qint64 kMaxSettingsFileSize = 256 * 1024;
// A port name or a [Ports] entry longer than a path can be names no device.
inline constexpr qsizetype kMaxPortNameBytes = 4095;

// Missing file or keys give "COM1" and 1; an "index" that is not a whole number
// reads as 1. Nothing checks that the name and the number agree. An optional section
// [Ports] maps port names to device paths (COM3=/dev/ttyUSB0). A name or entry longer
// than kMaxPortNameBytes counts as missing. A file that cannot be read, is not a
// regular file or is larger than kMaxSettingsFileSize gives the defaults and a
// failure that says why; a missing file is no failure.
FileResult readSettings(const QString& path, RuntimeState& state);

// Sets "COM" and "index" in [Config] (adding them, and the section, when missing),
// writes [Recent] anew at the end of the file (none when there are no recent files),
// and keeps every other line of the file as it was ([Ports] included). The file is
// saved with saveFileSafely(), so a failure (a full disk) leaves the old one whole.
// A file that cannot be read whole (or is no regular file) cannot be kept, so it is
// left alone and that is a failure too.
FileResult writeSettings(const QString& path, const RuntimeState& state);

// The text of the settings file after writeSettings() on a file that held old.
QByteArray settingsWithConfig(const QByteArray& old, const RuntimeState& state);

} // namespace cantavel
