#pragma once

#include <QString>

namespace cantavel {

// A name shortened in its middle for a message: its start and its end stay, and
// "…" stands for what is left out. A message box lays out every character it is
// given, so a name from outside (a settings file, a path) goes through this first.
inline QString elideMiddle(const QString& text, qsizetype maxLength = 100) {
    if (text.size() <= maxLength || maxLength < 3) {
        return text;
    }
    const qsizetype head = (maxLength - 1) * 2 / 3;
    const qsizetype tail = maxLength - 1 - head;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}

} // namespace cantavel
