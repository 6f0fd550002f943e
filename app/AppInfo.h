#pragma once

#include <QString>

namespace cantavel {

// The application title: the main window's caption and the title of error boxes.
inline QString applicationTitle() {
    return QStringLiteral("Digital Cantavel Processor v1.5");
}

} // namespace cantavel
