#include "LibraryQuery.h"

#include "Elide.h"

#include "ParameterValues.h"

#include <QStringList>

#include <algorithm>
#include <string>

namespace cantavel {

bool LibraryTerm::holds(int shown) const {
    switch (op) {
    case Op::Equal:
        return shown == value;
    case Op::NotEqual:
        return shown != value;
    case Op::Less:
        return shown < value;
    case Op::LessOrEqual:
        return shown <= value;
    case Op::Greater:
        return shown > value;
    case Op::GreaterOrEqual:
        return shown >= value;
    }
    return false;
}

namespace {

// The search split at white space. A term in double quotes may hold spaces
// ("\"live set\"", tag:"live set"); a quote anywhere else is part of the word it
// stands in.
QStringList splitQuery(QStringView text) {
    QStringList tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && text[i].isSpace()) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const qsizetype start = i;
        qsizetype quote = text[i] == u'-' && i + 1 < n ? i + 1 : i;
        // A tag of several words: tag:"live set".
        if (text.mid(quote).startsWith(QLatin1String("tag:\""), Qt::CaseInsensitive)) {
            quote += 4;
        }
        if (text[quote] == u'"') {
            // Up to a closing quote that ends the term.
            qsizetype close = quote + 1;
            while (close < n &&
                   !(text[close] == u'"' && (close + 1 == n || text[close + 1].isSpace()))) {
                ++close;
            }
            if (close < n && close > quote + 1) {
                QString token = text.mid(start, quote - start).toString();
                token += text.mid(quote + 1, close - quote - 1);
                tokens << token;
                i = close + 1;
                continue;
            }
        }
        while (i < n && !text[i].isSpace()) {
            ++i;
        }
        tokens << text.mid(start, i - start).toString();
    }
    return tokens;
}

struct OpText {
    const char* text;
    LibraryTerm::Op op;
};
// Longest first, so that ">=" is not read as ">".
constexpr OpText kOps[] = {{">=", LibraryTerm::Op::GreaterOrEqual},
                           {"<=", LibraryTerm::Op::LessOrEqual},
                           {"!=", LibraryTerm::Op::NotEqual},
                           {"==", LibraryTerm::Op::Equal},
                           {"<>", LibraryTerm::Op::NotEqual},
                           {"=", LibraryTerm::Op::Equal},
                           {"<", LibraryTerm::Op::Less},
                           {">", LibraryTerm::Op::Greater}};

// A condition's value as shown: a list's item by its text, any other a number.
QString readValue(const Parameter& p, const QString& text, int& value) {
    if (p.kind == ControlKind::List) {
        const QStringList& items = listItems(p);
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items[i].compare(text, Qt::CaseInsensitive) == 0) {
                value = static_cast<int>(i);
                return {};
            }
        }
        return QStringLiteral("'%1' is not one of %2 (%3)")
            .arg(elideMiddle(text), items.join(QStringLiteral(", ")), QLatin1String(p.key));
    }
    bool number = false;
    const qlonglong n = text.toLongLong(&number);
    if (!number) {
        return QStringLiteral("'%1' is not a whole number (%2)")
            .arg(elideMiddle(text), QLatin1String(p.key));
    }
    // Far beyond any value: still a condition, one that no slot or every slot meets.
    value = static_cast<int>(std::clamp<qlonglong>(n, -100000, 100000));
    return {};
}

// One term, or why it is not understood.
QString readTerm(const QString& token, LibraryTerm& term) {
    QString body = token;
    if (body.startsWith(u'-')) {
        if (body.size() == 1) {
            return QStringLiteral("a lone '-' leaves nothing out: put it before a word or a "
                                  "condition (-ballad, -is:fav)");
        }
        term.negated = true;
        body.remove(0, 1);
    }
    if (body.startsWith(QLatin1String("tag:"), Qt::CaseInsensitive)) {
        term.kind = LibraryTerm::Kind::Tag;
        term.text = body.mid(4).toLower();
        if (term.text.isEmpty()) {
            return QStringLiteral("'tag:' wants a tag after it (tag:ballad)");
        }
        return {};
    }
    if (body.startsWith(QLatin1String("is:"), Qt::CaseInsensitive)) {
        const QString what = body.mid(3).toLower();
        if (what == QLatin1String("fav") || what == QLatin1String("favourite") ||
            what == QLatin1String("favorite")) {
            term.kind = LibraryTerm::Kind::Favourite;
        } else if (what == QLatin1String("dup") || what == QLatin1String("duplicate")) {
            term.kind = LibraryTerm::Kind::Duplicate;
        } else {
            return QStringLiteral("'%1' is not known: is:fav or is:dup").arg(elideMiddle(body));
        }
        return {};
    }
    // A comparison is a name, an operator and a value; anything else is a word.
    const auto isOperator = [](QChar c) {
        return c == u'<' || c == u'>' || c == u'=' || c == u'!';
    };
    const qsizetype at = std::find_if(body.cbegin(), body.cend(), isOperator) - body.cbegin();
    if (at == body.size()) {
        term.kind = LibraryTerm::Kind::Word;
        term.text = body.toLower();
        return {};
    }
    term.kind = LibraryTerm::Kind::Value;
    const QString name = body.left(at);
    const OpText* op = nullptr;
    for (const OpText& candidate : kOps) {
        if (QStringView(body).mid(at).startsWith(QLatin1String(candidate.text))) {
            op = &candidate;
            break;
        }
    }
    if (!op) { // "wow!": a word with a mark in it
        term.kind = LibraryTerm::Kind::Word;
        term.text = body.toLower();
        return {};
    }
    term.op = op->op;
    const QString value = body.mid(at + qsizetype(std::char_traits<char>::length(op->text)));
    if (name.isEmpty()) {
        return QStringLiteral("'%1' names no parameter before its comparison (delay>=200)")
            .arg(elideMiddle(body));
    }
    term.parameter = parameterFromName(name);
    if (!term.parameter) {
        return QStringLiteral("no parameter '%1' (cantavel-cfg params lists them)")
            .arg(elideMiddle(name));
    }
    if (value.isEmpty()) {
        return QStringLiteral("'%1' wants a value after its comparison").arg(elideMiddle(body));
    }
    return readValue(*term.parameter, value, term.value);
}

} // namespace

LibraryQuery parseLibraryQuery(QStringView text) {
    LibraryQuery query;
    if (text.size() > kMaxQueryLength) {
        query.error =
            QStringLiteral("the search is longer than %1 characters").arg(kMaxQueryLength);
        return query;
    }
    const QStringList tokens = splitQuery(text);
    if (tokens.size() > kMaxQueryTerms) {
        query.error = QStringLiteral("the search has %1 terms; it takes at most %2")
                          .arg(tokens.size())
                          .arg(kMaxQueryTerms);
        return query;
    }
    for (const QString& token : tokens) {
        LibraryTerm term;
        if (QString why = readTerm(token, term); !why.isEmpty()) {
            query.terms.clear();
            query.error = why;
            return query;
        }
        query.terms.push_back(std::move(term));
    }
    return query;
}

} // namespace cantavel
