#pragma once

// Saving a whole file so that a failure never leaves less than was there before.
//
// A regular file (or a new one) is written to a temporary file beside it, every
// write, the sync and the close are checked, and only a complete copy is renamed
// over the target: a full disk or a lost device leaves the old file as it was and no
// temporary file behind. A target that is no regular file (a device, a FIFO) cannot
// be replaced by a rename without turning it into a file, so it is written in place,
// every write checked. A symbolic link is followed: the file it points at is saved
// and the link stays.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>
#include <utility>

namespace cantavel {

struct FileResult {
    bool ok = true;
    QString reason; // the system's reason when ok is false

    explicit operator bool() const { return ok; }
    static FileResult failure(QString why) { return {false, std::move(why)}; }
};

// Saves data as the whole content of path.
FileResult saveFileSafely(const QString& path, QByteArrayView data);

// Saves everything that can be read from sourceFd (from its current offset to its
// end) as the whole content of path. A failed read is reported like a failed write.
FileResult saveFileSafelyFrom(const QString& path, int sourceFd);

// Writes everything that can be read from sourceFd to targetFd, an open stream
// such as standard output, every write checked; it waits for a slow reader.
FileResult copyToStream(int targetFd, int sourceFd);

// A device or FIFO written in place that takes no bytes at all for this long (a
// terminal nobody reads) fails the save instead of holding the program.
inline constexpr std::chrono::milliseconds kStallLimit{5000};
std::chrono::milliseconds stallLimit();
// Tests shorten the limit, so that giving up costs them no real seconds; nothing
// else changes it.
void setStallLimitForTesting(std::chrono::milliseconds limit);

// Whether two names are one existing file, through any link or path.
bool isSameFile(const QString& a, const QString& b);

// The system's text for an error number ("No space left on device").
QString systemReason(int error);

} // namespace cantavel
