#include "AppInfo.h"

#include <QFontDatabase>
#include <QHash>

namespace cantavel {

QIcon applicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/cantavel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/cantavel-64.png"), QSize(64, 64));
    return icon;
}

QFont designFont(const QString& family, int pixels) {
    // The first of these that is installed; Liberation Sans has the metrics of Arial,
    // DejaVu Sans is on nearly every desktop. Looked up once per family: asking the
    // font system to find stand-ins for a missing family at every use is slow.
    static QHash<QString, QString> chosen;
    auto it = chosen.find(family);
    if (it == chosen.end()) {
        const QStringList installed = QFontDatabase::families();
        QString pick = family;
        for (const QString& candidate :
             {family, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")}) {
            if (installed.contains(candidate, Qt::CaseInsensitive)) {
                pick = candidate;
                break;
            }
        }
        it = chosen.insert(family, pick);
    }
    QFont font(*it);
    font.setPixelSize(pixels);
    return font;
}

} // namespace cantavel
