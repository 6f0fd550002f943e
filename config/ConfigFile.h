#pragma once

// Reading and writing .cfg files: the raw 294-byte image of the record, nothing else.

#include "ConfigRecord.h"
#include "SafeSave.h"

#include <QString>

#include <optional>

namespace cantavel {

// Reads up to the first 294 bytes of the file over the leading bytes of the record;
// a shorter file leaves the rest of the record as it was, and bytes beyond the
// image are ignored. A file that cannot be opened or read, and anything that is not
// a regular file (a FIFO, a device, a folder), leaves the record whole. fileSize, if
// given, receives the file's length, or -1 for a file longer than the record whose
// length cannot be known (one in /proc).
FileResult loadConfigFile(const QString& path, ConfigRecord& record, qint64* fileSize = nullptr);

// A file's length as loadConfigFile() gives it, for messages: "300 bytes", or "longer
// than 294 bytes" for a length that cannot be known.
QString presetFileLength(qint64 size);

// The length of the regular file at path (a symbolic link followed) when it is not
// that of a preset file: replacing it with 294 bytes would lose what it holds.
// Nothing for a preset file, a name that does not exist, a device or a FIFO.
std::optional<qint64> nonPresetFileSize(const QString& path);

// Writes exactly 294 bytes through saveFileSafely(): a failed save (a full disk
// included) reports the system's reason and leaves the old file as it was.
FileResult saveConfigFile(const QString& path, const ConfigRecord& record);

} // namespace cantavel
