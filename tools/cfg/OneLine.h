#pragma once

#include <QString>

namespace cantavel {

// A message is one line: a control character from what the user gave (a newline in
// a name, a terminal's escape) is shown as its code.
inline QString oneLine(const QString& text) {
    QString line;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace cantavel
