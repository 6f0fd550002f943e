#include "Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace cantavel {

namespace {
const QString kComKey = QStringLiteral("Config/COM");
const QString kIndexKey = QStringLiteral("Config/index");
const QString kDefaultPort = QStringLiteral("COM1");
constexpr int kDefaultIndex = 1;

// The INI reader splits a value at commas into a list; the port name is one text.
QString asText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}
} // namespace

QString settingsPathFor(const QString& executablePath) {
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not a suffix.
    const QString stem = dot > 0 ? name.left(dot) : name;
    return info.path() + QLatin1Char('/') + stem + QStringLiteral(".ini");
}

QString settingsPath() {
    return settingsPathFor(QCoreApplication::applicationFilePath());
}

void readSettings(const QString& path, RuntimeState& state) {
    QSettings settings(path, QSettings::IniFormat);
    state.comPortName = settings.contains(kComKey) ? asText(settings.value(kComKey)) : kDefaultPort;

    state.comPortNumber = kDefaultIndex;
    if (settings.contains(kIndexKey)) {
        bool whole = false;
        const int index = asText(settings.value(kIndexKey)).trimmed().toInt(&whole);
        state.comPortNumber = whole ? index : kDefaultIndex;
    }

    state.portPaths.clear();
    settings.beginGroup(QStringLiteral("Ports"));
    for (const QString& name : settings.childKeys()) {
        const QString device = asText(settings.value(name)).trimmed();
        if (!device.isEmpty()) {
            state.portPaths.insert(name, device);
        }
    }
    settings.endGroup();
}

bool writeSettings(const QString& path, const RuntimeState& state) {
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kComKey, state.comPortName);
    settings.setValue(kIndexKey, QString::number(state.comPortNumber));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace cantavel
