#pragma once

// Reading and writing .cfg files: the raw 294-byte image of the record, nothing else.

#include "ConfigRecord.h"
#include "SafeSave.h"

#include <QString>

namespace cantavel {

// Reads up to the first 294 bytes of the file over the leading bytes of the record;
// a shorter file leaves the rest of the record as it was, and bytes beyond the
// image are ignored. A file that cannot be opened or read leaves the record whole.
FileResult loadConfigFile(const QString& path, ConfigRecord& record);

// Writes exactly 294 bytes through saveFileSafely(): a failed save (a full disk
// included) reports the system's reason and leaves the old file as it was.
FileResult saveConfigFile(const QString& path, const ConfigRecord& record);

} // namespace cantavel
