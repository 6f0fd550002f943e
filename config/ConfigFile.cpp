#include "ConfigFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace cantavel {

FileResult loadConfigFile(const QString& path, ConfigRecord& record) {
    QFile file(path);
    // A directory opens like a file on Linux and then fails to read; say what it is.
    if (QFileInfo(path).isDir()) {
        return FileResult::failure(QStringLiteral("Is a directory"));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return FileResult::failure(file.errorString());
    }
    // Read into a buffer first so that a read error cannot leave half a record.
    std::array<char, kConfigImageSize> buffer{};
    qint64 total = 0;
    while (total < static_cast<qint64>(buffer.size())) {
        const qint64 n =
            file.read(buffer.data() + total, static_cast<qint64>(buffer.size()) - total);
        if (n < 0) {
            return FileResult::failure(file.errorString());
        }
        if (n == 0) {
            break;
        }
        total += n;
    }
    auto image = record.image();
    std::copy_n(reinterpret_cast<const std::uint8_t*>(buffer.data()), total, image.begin());
    return {};
}

FileResult saveConfigFile(const QString& path, const ConfigRecord& record) {
    const auto image = record.image();
    return saveFileSafely(path, QByteArrayView(reinterpret_cast<const char*>(image.data()),
                                               static_cast<qsizetype>(image.size())));
}

} // namespace cantavel
