#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

namespace cantavel {

// The application title: the main window's caption and the title of error boxes.
inline QString applicationTitle() {
    return QStringLiteral("Digital Cantavel Processor v1.5");
}

// The program's own icon, for its windows and the About dialog.
QIcon applicationIcon();

// A font of the form's design: the family asked for, or the nearest installed one.
QFont designFont(const QString& family, int pixels);

} // namespace cantavel
