#include "PdfFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {

PdfFile::PdfFile() : fd_(::memfd_create("cantavel-pdf", MFD_CLOEXEC)), error_(errno) {}

PdfFile::~PdfFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

QString PdfFile::error() const {
    return systemReason(error_);
}

QString PdfFile::path() const {
    return QStringLiteral("/proc/self/fd/%1").arg(fd_);
}

// The writer's last words are "%%EOF".
bool PdfFile::holdsAWholePdf() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size < 16) {
        return false;
    }
    char tail[32] = {};
    const off_t from = st.st_size > off_t{sizeof tail} ? st.st_size - off_t{sizeof tail} : 0;
    const ssize_t n = ::pread(fd_, tail, sizeof tail, from);
    return n > 0 && QByteArray(tail, static_cast<qsizetype>(n)).contains("%%EOF");
}

// The finished document, ready to be read from its start.
FileResult PdfFile::rewound() const {
    if (!valid()) {
        return FileResult::failure(error());
    }
    if (!holdsAWholePdf()) {
        return FileResult::failure(QStringLiteral("the PDF could not be made whole"));
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        return FileResult::failure(systemReason(errno));
    }
    return {};
}

FileResult PdfFile::saveTo(const QString& target) const {
    const FileResult ready = rewound();
    return ready ? saveFileSafelyFrom(target, fd_) : ready;
}

FileResult PdfFile::writeTo(int fd) const {
    const FileResult ready = rewound();
    return ready ? copyToStream(fd, fd_) : ready;
}

QString whyNotWritable(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return systemReason(EISDIR);
        }
        return ::access(native.constData(), W_OK) == 0 ? QString() : systemReason(errno);
    }
    if (errno != ENOENT) {
        return systemReason(errno);
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::access(folder.constData(), W_OK | X_OK) == 0 ? QString() : systemReason(errno);
}

} // namespace cantavel
