#include "AppInfo.h"

namespace cantavel {

QIcon applicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/cantavel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/cantavel-64.png"), QSize(64, 64));
    return icon;
}

QFont designFont(const QString& family, int pixels) {
    QFont font;
    // Liberation Sans has the metrics of Arial; DejaVu Sans is on nearly every desktop.
    font.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixels);
    return font;
}

} // namespace cantavel
