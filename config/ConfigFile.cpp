#include "ConfigFile.h"

#include "InputFile.h"

#include <QFile>

#include <algorithm>

#include <sys/stat.h>

namespace cantavel {

FileResult loadConfigFile(const QString& path, ConfigRecord& record, qint64* fileSize) {
    InputFile file(path);
    if (!file) {
        return file.result();
    }
    // Read into a buffer first so that a read error cannot leave half a record. One
    // byte more tells whether the file ends with the record.
    QByteArray bytes;
    if (const FileResult read = file.read(kConfigImageSize + 1, bytes); !read) {
        return read;
    }
    if (fileSize) {
        // A file that ended is as long as what was read (a file in /proc says it
        // is 0 bytes); a longer one as its size says, if that is not less.
        const qint64 got = bytes.size();
        *fileSize = got <= static_cast<qint64>(kConfigImageSize) ? got
                    : file.size() >= got                         ? file.size()
                                                                 : -1;
    }
    auto image = record.image();
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                std::min<qsizetype>(bytes.size(), kConfigImageSize), image.begin());
    return {};
}

QString presetFileLength(qint64 size) {
    return size < 0 ? QStringLiteral("longer than %1 bytes").arg(kConfigImageSize)
                    : QStringLiteral("%1 bytes").arg(size);
}

std::optional<qint64> nonPresetFileSize(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size == static_cast<off_t>(kConfigImageSize)) {
        return std::nullopt;
    }
    return static_cast<qint64>(st.st_size);
}

FileResult saveConfigFile(const QString& path, const ConfigRecord& record) {
    const auto image = record.image();
    return saveFileSafely(path, QByteArrayView(reinterpret_cast<const char*>(image.data()),
                                               static_cast<qsizetype>(image.size())));
}

} // namespace cantavel
