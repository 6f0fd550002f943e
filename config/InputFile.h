#pragma once

// Reading a file that a user or another program names. Whatever the name stands for,
// the window must not wait on it: a FIFO without a writer blocks in open(), a
// terminal in read(), and /dev/zero never ends. So a name is looked at before it is
// opened (a device is never opened at all: opening a serial port raises its lines),
// opened without waiting, checked again on the open descriptor, and read up to a
// bound the caller gives.

#include "SafeSave.h"

#include <QByteArray>
#include <QString>

namespace cantavel {

class InputFile {
public:
    enum class Accept {
        File,       // a regular file only
        FileOrPipe, // also a pipe or FIFO, read as a stream (`<(cmd)` on a command line)
    };

    // Opens path for reading and checks what it is; result() says how that went.
    explicit InputFile(const QString& path, Accept accept = Accept::File);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const FileResult& result() const { return result_; }
    explicit operator bool() const { return result_.ok; }
    // The error number of a failed open (ENOENT for a name that does not exist); 0
    // when the name exists but is refused for what it is.
    int error() const { return error_; }
    // The descriptor, -1 when the file is not open.
    int fd() const { return fd_; }
    // The size of a regular file when it was opened; -1 for a stream.
    qint64 size() const { return size_; }

    // Appends at most `limit` bytes from the current offset to `into`, fewer at the
    // end of the file. A failed read is reported; what was read before stays.
    FileResult read(qint64 limit, QByteArray& into);

private:
    int fd_ = -1;
    int error_ = 0;
    qint64 size_ = -1;
    FileResult result_;
};

// Why something that is not a regular file is refused ("Not a regular file (a
// FIFO)"), from its st_mode.
QString notAFileReason(unsigned mode);

} // namespace cantavel
