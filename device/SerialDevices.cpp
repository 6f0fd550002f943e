#include "SerialDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace cantavel {

QString serialDeviceLabel(const QString& description, const QString& name) {
    const QString text = description.trimmed();
    return text.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(text, name);
}

QString stableSerialPath(const QString& node, const QString& byIdFolder) {
    const QString target = QFileInfo(node).canonicalFilePath();
    if (target.isEmpty()) {
        return node;
    }
    const QDir folder(byIdFolder);
    // A handful of entries at most; sorted, so the choice is the same every time.
    const QStringList names = folder.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QString link = folder.filePath(name);
        if (QFileInfo(link).canonicalFilePath() == target) {
            return link;
        }
    }
    return node;
}

bool sameDevice(const QString& a, const QString& b) {
    if (a == b) {
        return true;
    }
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

std::vector<SerialDevice> SystemSerialDevices::devices() const {
    std::vector<SerialDevice> list;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString node = info.systemLocation();
        if (!QFileInfo::exists(node)) {
            continue;
        }
        list.push_back({stableSerialPath(node, byIdFolder_), node,
                        serialDeviceLabel(info.description(), info.portName())});
    }
    std::sort(list.begin(), list.end(),
              [](const SerialDevice& l, const SerialDevice& r) { return l.node < r.node; });
    return list;
}

} // namespace cantavel
