#include "FullDisk.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace cantavel::testing {

FullDisk::FullDisk(const char* size) {
    if (!dir_.isValid()) {
        whyNot_ = QStringLiteral("no scratch folder");
        return;
    }
    if (::geteuid() != 0) {
        whyNot_ = QStringLiteral("mounting a file system needs root");
        return;
    }
    const QByteArray target = QFile::encodeName(dir_.path());
    const QByteArray options = QByteArray("size=") + size;
    if (::mount("tmpfs", target.constData(), "tmpfs", MS_NOSUID | MS_NOEXEC, options.constData()) !=
        0) {
        whyNot_ = QStringLiteral("mount refused: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    mounted_ = true;
}

FullDisk::~FullDisk() {
    if (mounted_) {
        ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
}

QString FullDisk::path(const QString& name) const {
    return dir_.filePath(name);
}

bool FullDisk::fill() {
    const QByteArray filler = QFile::encodeName(path(QStringLiteral("filler")));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<char> block(4096, 'f');
    int error = 0;
    // Whole blocks first, then single bytes into what is left of the last one.
    for (const std::size_t size : {block.size(), std::size_t{1}}) {
        for (;;) {
            if (::write(fd, block.data(), size) < 0) {
                error = errno;
                break;
            }
        }
    }
    ::close(fd);
    return error == ENOSPC;
}

bool makeCharDevice(const QString& path, unsigned major, unsigned minor) {
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(major, minor)) == 0;
}

} // namespace cantavel::testing
