#pragma once

// What the operator types into the library's search box, understood: words that a
// file's name, a slot's tags or its note must hold, and conditions on what a slot
// sounds like, by the names cantavel-cfg accepts and the values the window shows
// ("delay>=200", "key=#+2", "input=dvd"), "tag:ballad", "is:fav" and "is:dup". Every
// term must hold; a '-' in front of one turns it round.

#include "Parameters.h"

#include <QString>
#include <QStringView>

#include <vector>

namespace cantavel {

struct LibraryTerm {
    enum class Kind { Word, Value, Tag, Favourite, Duplicate };
    enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

    Kind kind = Kind::Word;
    bool negated = false;
    QString text; // a word or a tag, in lower case
    const Parameter* parameter = nullptr;
    Op op = Op::Equal;
    int value = 0; // as shown; a list's item by its index

    // Whether a shown value meets the condition (not counting `negated`).
    bool holds(int shown) const;
};

struct LibraryQuery {
    std::vector<LibraryTerm> terms;
    QString error; // what was not understood; empty when all was

    bool ok() const { return error.isEmpty(); }
};

// A search longer than this, or of more terms, is refused, not searched: each term
// is weighed against every slot of the library.
inline constexpr qsizetype kMaxQueryLength = 4096;
inline constexpr qsizetype kMaxQueryTerms = 64;

LibraryQuery parseLibraryQuery(QStringView text);

} // namespace cantavel
