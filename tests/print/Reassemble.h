#pragma once

// Whether the pieces a line was laid out in give the line back: each break may drop
// at most one space (the one it broke at), and an empty piece may stand before or
// after that space. Every way of dropping is tried.

#include <QString>
#include <QStringList>

#include <algorithm>
#include <set>

namespace cantavel::testing {

inline bool reassembles(const QString& line, const QStringList& pieces) {
    std::set<qsizetype> at{0};
    for (const QString& piece : pieces) {
        std::set<qsizetype> next;
        for (qsizetype p : at) {
            if (line.mid(p).startsWith(piece)) {
                next.insert(p + piece.size());
            }
            if (p < line.size() && line[p] == QLatin1Char(' ') &&
                line.mid(p + 1).startsWith(piece)) {
                next.insert(p + 1 + piece.size());
            }
        }
        at = std::move(next);
    }
    return std::any_of(at.begin(), at.end(), [&](qsizetype p) {
        return p == line.size() || (p + 1 == line.size() && line[p] == QLatin1Char(' '));
    });
}

} // namespace cantavel::testing
