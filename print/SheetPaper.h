#pragma once

// The papers the preset sheet is made on as a PDF, by the names a command line
// gives them, and the one to use when none is given.

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

class QPageSize;

namespace cantavel {

enum class SheetPaper : std::uint8_t { A4, Letter, A5, A6 };

inline constexpr std::array<SheetPaper, 4> kSheetPapers{SheetPaper::A4, SheetPaper::Letter,
                                                        SheetPaper::A5, SheetPaper::A6};

// "A4", "Letter", "A5", "A6".
QString paperName(SheetPaper paper);
// The paper a name stands for, in any case; nothing for any other text.
std::optional<SheetPaper> paperFromName(QStringView name);
// "A4, Letter, A5, A6": what a message offers.
QString paperNames();

QPageSize pageSize(SheetPaper paper);

// A4, or Letter where the user's locale (LC_ALL, LC_PAPER or LANG, as the C
// library reads them) prints on Letter.
SheetPaper defaultPaper();

} // namespace cantavel
