#include "SheetPaper.h"

#include <QPageSize>

#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <memory>
#include <type_traits>

namespace cantavel {

QString paperName(SheetPaper paper) {
    switch (paper) {
    case SheetPaper::Letter:
        return QStringLiteral("Letter");
    case SheetPaper::A5:
        return QStringLiteral("A5");
    case SheetPaper::A6:
        return QStringLiteral("A6");
    case SheetPaper::A4:
        break;
    }
    return QStringLiteral("A4");
}

std::optional<SheetPaper> paperFromName(QStringView name) {
    for (const SheetPaper paper : kSheetPapers) {
        if (name.compare(paperName(paper), Qt::CaseInsensitive) == 0) {
            return paper;
        }
    }
    return std::nullopt;
}

QString paperNames() {
    QString names;
    for (const SheetPaper paper : kSheetPapers) {
        names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + paperName(paper);
    }
    return names;
}

QPageSize pageSize(SheetPaper paper) {
    switch (paper) {
    case SheetPaper::Letter:
        return QPageSize(QPageSize::Letter);
    case SheetPaper::A5:
        return QPageSize(QPageSize::A5);
    case SheetPaper::A6:
        return QPageSize(QPageSize::A6);
    case SheetPaper::A4:
        break;
    }
    return QPageSize(QPageSize::A4);
}

namespace {

// A locale's paper, from its size in millimetres: Letter is 216 x 279; anything
// else prints on A4.
SheetPaper paperForSize(unsigned widthMm, unsigned heightMm) {
    return widthMm == 216 && heightMm == 279 ? SheetPaper::Letter : SheetPaper::A4;
}

struct LocaleFree {
    void operator()(locale_t locale) const { freelocale(locale); }
};
using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

// The paper's sizes are numbers that nl_langinfo hands back in the place of the
// text pointer: the word is the pointer's first bytes.
unsigned langinfoWord(nl_item item, locale_t locale) {
    const char* value = nl_langinfo_l(item, locale);
    unsigned word = 0;
    static_assert(sizeof value >= sizeof word);
    std::memcpy(&word, static_cast<const void*>(&value), sizeof word);
    return word;
}

} // namespace

SheetPaper defaultPaper() {
    // A locale of its own, so the program's (setlocale) is neither needed nor changed.
    const LocaleHandle locale(newlocale(LC_PAPER_MASK, "", nullptr));
    if (!locale) {
        return SheetPaper::A4; // a locale named that is not installed
    }
    return paperForSize(langinfoWord(_NL_PAPER_WIDTH, locale.get()),
                        langinfoWord(_NL_PAPER_HEIGHT, locale.get()));
}

} // namespace cantavel
