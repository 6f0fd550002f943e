#pragma once

// Reading and writing .cfg files: the raw 294-byte image of the record, nothing else.

#include "ConfigRecord.h"

#include <QString>

#include <utility>

namespace cantavel {

struct FileResult {
    bool ok = true;
    QString reason; // the system's reason when ok is false

    explicit operator bool() const { return ok; }
    static FileResult failure(QString why) { return {false, std::move(why)}; }
};

// Reads up to the first 294 bytes of the file over the leading bytes of the record;
// a shorter file leaves the rest of the record as it was, and bytes beyond the
// image are ignored. A file that cannot be opened or read leaves the record whole.
FileResult loadConfigFile(const QString& path, ConfigRecord& record);

// Writes exactly 294 bytes. The data goes to a temporary file beside the target,
// which replaces the target only once complete, so a failed save never leaves a
// damaged file behind.
FileResult saveConfigFile(const QString& path, const ConfigRecord& record);

} // namespace cantavel
