#include "QuickPrint.h"

#include <cmath>

namespace cantavel {

namespace {

// Characters a .. b of s, counting from 1; empty when b < a, cut at the end of s.
QString chars(const QString& s, int a, int b) {
    if (a < 1) {
        a = 1;
    }
    if (b > s.size()) {
        b = static_cast<int>(s.size());
    }
    return b < a ? QString() : s.mid(a - 1, b - a + 1);
}

std::uint32_t truncated(double value) {
    // Toward zero, then kept to 32 bits: a negative count wraps as unsigned.
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(value)));
}

} // namespace

namespace {

enum class TagKind {
    None, // a group that is no tag: it stays in the text as printed characters
    Center,
    Right,
    Break,
    EndBlock, // "/CENTER" or "/RIGHT"
    Bold,
    Italic,
    Underline,
    StrikeOut,
    BoldOff,
    ItalicOff,
    UnderlineOff,
    StrikeOutOff,
};

bool isStyle(TagKind kind) {
    return kind >= TagKind::Bold;
}

// The four style tags switch a flag on, the four after them switch it off again.
void applyStyle(TFont& font, TagKind kind) {
    static constexpr TFontStyles kFlags[] = {fsBold, fsItalic, fsUnderline, fsStrikeOut};
    const int index = static_cast<int>(kind) - static_cast<int>(TagKind::Bold);
    if (index < 0 || index >= 8) {
        return;
    }
    const TFontStyles flag = kFlags[index % 4];
    font.Style = index < 4 ? (font.Style | flag) : (font.Style & ~flag);
}

// The group's name (between "<" at open and ">" at close), upper-cased, as a tag.
// The longest name has 7 characters; upper-casing never shortens a text to less
// than half its length, so a longer group is no tag and is not copied at all.
TagKind tagKind(QStringView text, qsizetype open, qsizetype close) {
    const qsizetype length = close - open - 1;
    if (length < 1 || length > 14) {
        return TagKind::None;
    }
    const QString name = text.mid(open + 1, length).toString().toUpper();
    static const std::pair<QLatin1String, TagKind> kNames[] = {
        {QLatin1String("CENTER"), TagKind::Center},
        {QLatin1String("RIGHT"), TagKind::Right},
        {QLatin1String("BR"), TagKind::Break},
        {QLatin1String("/CENTER"), TagKind::EndBlock},
        {QLatin1String("/RIGHT"), TagKind::EndBlock},
        {QLatin1String("B"), TagKind::Bold},
        {QLatin1String("I"), TagKind::Italic},
        {QLatin1String("U"), TagKind::Underline},
        {QLatin1String("STRIKE"), TagKind::StrikeOut},
        {QLatin1String("/B"), TagKind::BoldOff},
        {QLatin1String("/I"), TagKind::ItalicOff},
        {QLatin1String("/U"), TagKind::UnderlineOff},
        {QLatin1String("/STRIKE"), TagKind::StrikeOutOff},
    };
    for (const auto& [known, kind] : kNames) {
        if (name == known) {
            return kind;
        }
    }
    return TagKind::None;
}

// Finds the groups of one text from left to right. A group runs from a "<" to the
// first ">" after it; a ">" before the "<" is passed over. Every search starts at
// or after the one before, so the last answers for "<" and ">" stay good and each
// character is looked at once: a line of N characters costs O(N), however many
// stray ">" or unknown groups it holds. Positions count from 0.
class TagScanner {
public:
    explicit TagScanner(QStringView text) : text_(text) {}

    // The first group at or after from; false when there is none.
    bool next(qsizetype from, qsizetype& open, qsizetype& close) {
        open = find(QLatin1Char('<'), from, lt_);
        if (open < 0) {
            return false;
        }
        // The first ">" after the "<": any before it are passed over.
        close = find(QLatin1Char('>'), std::max(from, open + 1), gt_);
        return close >= 0;
    }

private:
    struct Search {
        qsizetype from = -1; // where the kept search started; -1 for none yet
        qsizetype at = -1;   // what it found; -1 for nothing up to the end
    };

    qsizetype find(QChar c, qsizetype from, Search& kept) const {
        if (kept.from < 0 || from < kept.from || (kept.at >= 0 && kept.at < from)) {
            kept.from = from;
            kept.at = text_.indexOf(c, from);
        }
        return kept.at;
    }

    QStringView text_;
    Search lt_;
    Search gt_;
};

// The first position at or after from whose character is beyond a space.
qsizetype skipBlanks(QStringView text, qsizetype from) {
    while (from < text.size() && text[from].unicode() <= 32) {
        ++from;
    }
    return from;
}

} // namespace

TQuickPrint::TQuickPrint(QObject* owner) : QObject(owner) {}

TQuickPrint::~TQuickPrint() {
    lines_.clear();
    FParsedLines.clear();
    FLineAligns.clear();
}

// ---------------------------------------------------------------------------------
// Properties

bool TQuickPrint::GetPrinting() const {
    return Printer().Printing();
}

template <typename T> void TQuickPrint::write(T& field, const T& value) {
    if (GetPrinting() || field == value) {
        return;
    }
    field = value;
}

void TQuickPrint::SetWordWrap(bool value) {
    write(wordWrap_, value);
}
void TQuickPrint::SetLineSpacing(TLineSpacing value) {
    write(lineSpacing_, value);
}
void TQuickPrint::SetPrintPageNo(bool value) {
    write(printPageNo_, value);
}
void TQuickPrint::SetPrintTitle(const QString& value) {
    write(printTitle_, value);
}
void TQuickPrint::SetMarginTop(float value) {
    write(marginTop_, value);
}
void TQuickPrint::SetMarginBottom(float value) {
    write(marginBottom_, value);
}
void TQuickPrint::SetMarginLeft(float value) {
    write(marginLeft_, value);
}
void TQuickPrint::SetMarginRight(float value) {
    write(marginRight_, value);
}

void TQuickPrint::SetMeasureUnit(TMeasureUnit value) {
    if (GetPrinting() || value == measureUnit_) {
        return;
    }
    measureUnit_ = value;
    const double factor = value == TMeasureUnit::Millimeters ? 25.4 : 1 / 25.4;
    SetMarginTop(static_cast<float>(marginTop_ * factor));
    SetMarginBottom(static_cast<float>(marginBottom_ * factor));
    SetMarginLeft(static_cast<float>(marginLeft_ * factor));
    SetMarginRight(static_cast<float>(marginRight_ * factor));
}

void TQuickPrint::SetLines(const QStringList& lines) {
    if (GetPrinting()) {
        return;
    }
    lines_.clear();
    for (const QString& line : lines) {
        lines_.append(line);
    }
}

TPrinterOrientation TQuickPrint::GetOrientation() const {
    try {
        return Printer().Orientation();
    } catch (...) {
        return TPrinterOrientation::poPortrait;
    }
}

void TQuickPrint::SetOrientation(TPrinterOrientation value) {
    if (GetPrinting()) {
        return;
    }
    if (Printer().Orientation() == value) { // an error here is not caught
        return;
    }
    try {
        Printer().SetOrientation(value);
    } catch (...) {
        // A printer that cannot turn the page stays as it was.
    }
}

TFont& TQuickPrint::GetFont() const {
    return Printer().Font();
}

void TQuickPrint::SetFont(const TFont& font) {
    if (GetPrinting()) {
        return;
    }
    try {
        TFont& canvas = Printer().Font();
        canvas = font;
        canvas.Size = font.Size; // the size in points, at the printer's resolution
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------
// Metrics and conversions

double TQuickPrint::pixelsToUnit(std::uint32_t pixels, TDeviceCap resolution) const {
    int ppi = 0;
    try {
        ppi = Printer().DeviceCaps(resolution);
    } catch (...) {
        // No printer to ask: counted as one that reports no resolution.
    }
    // Without a resolution, 300 pixels per inch.
    const float inches = ppi != 0 ? static_cast<float>(static_cast<double>(pixels) / ppi)
                                  : static_cast<float>(pixels * (1.0 / 300));
    return measureUnit_ == TMeasureUnit::Millimeters ? inches * 25.4 : inches;
}

std::uint32_t TQuickPrint::unitToPixels(float distance, TDeviceCap resolution) const {
    float a = 0;
    try {
        const int ppi = Printer().DeviceCaps(resolution);
        a = static_cast<float>(static_cast<double>(ppi) * distance);
    } catch (...) {
        a = static_cast<float>(distance * 300.0);
    }
    if (measureUnit_ == TMeasureUnit::Inches) {
        return truncated(a);
    }
    // The product is truncated before the division by 25.4, and the quotient again.
    const auto whole = static_cast<std::int64_t>(std::trunc(a));
    return truncated(static_cast<double>(whole) * 0.03937007874015748);
}

double TQuickPrint::PixelsToMeasureUnitHorz(std::uint32_t pixels) const {
    return pixelsToUnit(pixels, TDeviceCap::LogPixelsX);
}
double TQuickPrint::PixelsToMeasureUnitVert(std::uint32_t pixels) const {
    return pixelsToUnit(pixels, TDeviceCap::LogPixelsY);
}
std::uint32_t TQuickPrint::MeasureUnitToPixelsHorz(float distance) const {
    return unitToPixels(distance, TDeviceCap::LogPixelsX);
}
std::uint32_t TQuickPrint::MeasureUnitToPixelsVert(float distance) const {
    return unitToPixels(distance, TDeviceCap::LogPixelsY);
}

double TQuickPrint::GetPhysicalPageWidth() const {
    return PixelsToMeasureUnitHorz(
        static_cast<std::uint32_t>(Printer().DeviceCaps(TDeviceCap::PhysicalWidth)));
}
double TQuickPrint::GetPhysicalPageHeight() const {
    return PixelsToMeasureUnitVert(
        static_cast<std::uint32_t>(Printer().DeviceCaps(TDeviceCap::PhysicalHeight)));
}
double TQuickPrint::GetPhysicalOffsetX() const {
    return PixelsToMeasureUnitHorz(
        static_cast<std::uint32_t>(Printer().DeviceCaps(TDeviceCap::PhysicalOffsetX)));
}
double TQuickPrint::GetPhysicalOffsetY() const {
    return PixelsToMeasureUnitVert(
        static_cast<std::uint32_t>(Printer().DeviceCaps(TDeviceCap::PhysicalOffsetY)));
}
double TQuickPrint::GetPageWidth() const {
    return GetPhysicalPageWidth() - GetPhysicalOffsetX() - marginLeft_ - marginRight_;
}
double TQuickPrint::GetPageHeight() const {
    return GetPhysicalPageHeight() - GetPhysicalOffsetY() - marginTop_ - marginBottom_;
}

std::uint32_t TQuickPrint::textTop() const {
    const auto fromTop = static_cast<float>(marginTop_ - GetPhysicalOffsetY());
    // Unsigned rows cannot lie above the printable area: start at its top there.
    return fromTop < 0 ? 0 : MeasureUnitToPixelsVert(fromTop);
}

// ---------------------------------------------------------------------------------
// Job

void TQuickPrint::BeginDoc() {
    try {
        Printer().SetTitle(printTitle_);
        Printer().BeginDoc();
    } catch (...) {
        throw "Unable to Start new Print Job";
    }
    if (OnBeginDoc) {
        OnBeginDoc(this);
    }
    FPageNumber = 0;
    NewPage();
}

void TQuickPrint::EndDoc() {
    try {
        Printer().EndDoc();
    } catch (...) {
        throw "Unable to Finish Print Job";
    }
    if (OnEndDoc) {
        OnEndDoc(this);
    }
}

void TQuickPrint::AbortDoc() {
    try {
        Printer().Abort();
    } catch (...) {
        throw "Unable to Abort Print Job";
    }
    if (OnAbortDoc) {
        OnAbortDoc(this);
    }
}

void TQuickPrint::NewPage() {
    if (FPageNumber != 0) {
        try {
            Printer().NewPage();
        } catch (...) {
            throw "Unable to Set New Page";
        }
    }
    ++FPageNumber;
    if (printPageNo_) {
        const QString text = QString::number(FPageNumber);
        const TextSize size = Printer().TextExtent(text);
        // Centred on the paper, its top two text heights above the paper's edge.
        const std::uint32_t x = MeasureUnitToPixelsHorz(static_cast<float>(
                                    GetPhysicalPageWidth() * 0.5 - GetPhysicalOffsetX())) -
                                static_cast<std::uint32_t>(size.cx / 2);
        const std::uint32_t y = MeasureUnitToPixelsVert(static_cast<float>(GetPhysicalPageHeight() -
                                                                           GetPhysicalOffsetY())) -
                                static_cast<std::uint32_t>(2 * size.cy);
        Printer().TextOut(static_cast<int>(x), static_cast<int>(y), text);
    }
    FCurrentX = 0;
    FCurrentY = textTop();
    if (OnNewPage) {
        OnNewPage(this);
    }
}

// ---------------------------------------------------------------------------------
// Layout

void TQuickPrint::PrintLines() {
    if (lines_.isEmpty()) {
        return;
    }
    ParseLines();
    for (int i = 0; i < FParsedLines.size(); ++i) {
        PrintLine(FParsedLines[i], i);
    }
}

void TQuickPrint::Print(float X, float Y, const QString& Text) {
    FParsedLines.clear();
    FLineAligns.clear();
    ParseLine(Text);
    FCurrentX = MeasureUnitToPixelsHorz(X);
    FCurrentY = MeasureUnitToPixelsVert(Y) + textTop();
    for (int i = 0; i < FParsedLines.size(); ++i) {
        PrintLine(FParsedLines[i], i);
    }
}

void TQuickPrint::pageCheck(int height) {
    const std::uint32_t bottom =
        MeasureUnitToPixelsVert(static_cast<float>(GetPageHeight() + marginTop_));
    if (bottom <= FCurrentY + static_cast<std::uint32_t>(height)) {
        NewPage();
    }
}

void TQuickPrint::place(const QString& piece, int width, int index) {
    const auto w = static_cast<std::uint32_t>(width);
    const TLineAlign align = FLineAligns.value(index, TLineAlign::Left);
    if (align != TLineAlign::Left) {
        const bool centred = align == TLineAlign::Center;
        const float span =
            static_cast<float>(GetPageWidth() + GetPhysicalOffsetX() * (centred ? 0.5 : 1.0));
        const std::uint32_t base = MeasureUnitToPixelsHorz(span);
        // A piece wider than the page starts at the left margin rather than at an
        // x that wrapped around.
        std::uint32_t x = 0;
        if (w <= base) {
            x = centred ? (base - w) >> 1 : base - w;
        }
        TextOutEx(static_cast<int>(x), static_cast<int>(FCurrentY), piece);
        return;
    }
    TextOutEx(static_cast<int>(FCurrentX), static_cast<int>(FCurrentY), piece);
}

// Where a line overflows, found with few measurements. The rule is the
// character-by-character scan's: the first end e (from the piece's start s on) whose
// text s .. e is wider than the room. The width of s .. e only grows with e while the
// groups it holds stay the same: it is the width of the groups' runs, which does not
// change, plus the rest after the last group as one run. It can shrink only where a
// ">" closes a group (an unfinished "<STRIK" counts as letters and vanishes with its
// ">"). So the ends are cut into stretches at every ">" that closes a group; the
// last end of a stretch tells whether anything in it overflows, and a binary search
// finds where. Every measurement is still of a whole piece s .. e, through the
// virtual slot.
namespace {

struct Overflow {
    bool found = false;
    int end = 0;     // the first end that overflows
    TextSize size{}; // the width of s .. end; of s .. last when none overflows
};

// `scan` is the line's own, shared by all its pieces: its searches only move
// forward, so a line is searched once however many pieces it is cut into.
Overflow firstOverflow(TQuickPrint& print, TagScanner& scan, const QString& Line, int start,
                       int last, int expected, const std::function<bool(int)>& overflows) {
    Overflow result;
    const auto measure = [&](int end) { return print.TextExtentEx(chars(Line, start, end)); };
    qsizetype from = start - 1; // the group search, from 0
    for (int low = start; low <= last;) {
        // The stretch ends before the next ">" that closes a group after low.
        int high = last;
        qsizetype open = 0;
        qsizetype close = 0;
        while (scan.next(from, open, close)) {
            from = close + 1;
            if (close + 1 > low) { // the ">" at 1-based position close + 1
                high = std::min(last, static_cast<int>(close));
                break;
            }
        }
        // Where to look first: the end a piece of the expected length would have,
        // or the stretch's end. From there the search gallops towards the answer:
        // down while it overflows, up while it does not.
        int lo = low;
        int hi = high;
        TextSize hiSize{};
        bool bracketed = false;
        const int guess = std::clamp(start + expected, low, high);
        TextSize at = measure(guess);
        if (overflows(at.cx)) {
            hi = guess;
            hiSize = at;
            for (int step = 1; hi - step >= lo; step *= 2) {
                const int probe = hi - step;
                const TextSize size = measure(probe);
                if (!overflows(size.cx)) {
                    lo = probe + 1;
                    break;
                }
                hi = probe;
                hiSize = size;
            }
            bracketed = true;
        } else {
            lo = guess + 1;
            for (int step = 1; lo <= high; step *= 2) {
                const int probe = std::min(high, guess + step);
                at = measure(probe);
                if (overflows(at.cx)) {
                    hi = probe;
                    hiSize = at;
                    bracketed = true;
                    break;
                }
                lo = probe + 1;
            }
        }
        if (!bracketed) {
            result.size = at; // the stretch's last end, which does not overflow
            low = high + 1;
            continue;
        }
        // The first overflowing end in lo .. hi: the width grows within the stretch.
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            const TextSize size = measure(mid);
            if (overflows(size.cx)) {
                hi = mid;
                hiSize = size;
            } else {
                lo = mid + 1;
            }
        }
        result = {true, hi, hiSize};
        return result;
    }
    return result;
}

} // namespace

void TQuickPrint::PrintLine(const QString& Line, int Index) {
    const auto available = [this] {
        return MeasureUnitToPixelsHorz(static_cast<float>(GetPageWidth()));
    };
    const auto overflows = [&](int width) {
        return FCurrentX + static_cast<std::uint32_t>(width) > available();
    };
    TextSize size = TextExtentEx(Line);
    if (!wordWrap_) {
        pageCheck(size.cy);
        place(Line, size.cx, Index);
        return;
    }
    const int length = static_cast<int>(Line.size());
    int start = 1;
    TagScanner scan(Line);
    if (overflows(size.cx)) {
        const double perChar = length > 0 ? static_cast<double>(size.cx) / length : 0;
        for (;;) {
            // The ends start .. length are tried (at least one, as the scan does).
            // A guess at the piece's length from the line's mean character width.
            const double room = static_cast<double>(available()) - FCurrentX;
            const int expected = perChar > 0 && room > 0
                                     ? static_cast<int>(std::min(room / perChar, 1.0 * length))
                                     : 0;
            const Overflow found = firstOverflow(*this, scan, Line, start, std::max(start, length),
                                                 expected, overflows);
            size = found.size;
            if (!found.found) {
                break;
            }
            pageCheck(size.cy);
            // The last space in start .. end, if any.
            const qsizetype space =
                QStringView(Line).mid(start - 1, found.end - start + 1).lastIndexOf(u' ');
            const int breakAt = space >= 0 ? start + static_cast<int>(space) : 0;
            QString piece;
            int next = 0;
            if (breakAt != 0) {
                piece = chars(Line, start, breakAt - 1); // the space is dropped
                next = breakAt + 1;
            } else {
                piece = chars(Line, start, found.end - 1);
                next = found.end;
                if (piece.isEmpty()) {
                    // One character wider than the line: it goes alone.
                    piece = chars(Line, start, found.end);
                    next = found.end + 1;
                }
            }
            size = TextExtentEx(piece);
            place(piece, size.cx, Index);
            start = next;
            if (start > length) {
                break;
            }
        }
    }
    pageCheck(size.cy);
    place(chars(Line, start, length), size.cx, Index);
}

// ---------------------------------------------------------------------------------
// Tag markup

int TQuickPrint::FindNext(const QString& S, const QString& Sub, int Start) {
    const QStringView text(S);
    for (int pos = Start < 1 ? 1 : Start; pos <= S.size(); ++pos) {
        // Characters pos .. pos + |Sub| - 1, cut at the end of S, compared exactly.
        if (text.mid(pos - 1, Sub.size()) == Sub) {
            return pos;
        }
    }
    return 0;
}

void TQuickPrint::ParseLines() {
    FLineAligns.clear();
    FParsedLines.clear();
    for (const QString& line : lines_) {
        ParseLine(line);
    }
}

// The working text is always the rest of the line from base; a group that is no
// line tag stays in it, and the search goes on after its "<".
void TQuickPrint::ParseLine(const QString& Line) {
    const QStringView text(Line);
    TagScanner scan(text);
    qsizetype base = 0;
    qsizetype search = 0;
    TLineAlign align = TLineAlign::Left;
    TLineAlign block = TLineAlign::Left;
    const auto add = [this, text, &Line](qsizetype from, qsizetype to, TLineAlign code) {
        if (from == 0 && to == text.size()) {
            FParsedLines.append(Line); // the whole line: shared, not copied
        } else {
            FParsedLines.append(to > from ? text.mid(from, to - from).toString() : QString());
        }
        FLineAligns.append(code);
    };
    for (;;) {
        qsizetype open = 0;
        qsizetype close = 0;
        if (base >= text.size() || !scan.next(search, open, close)) {
            add(base, text.size(), align);
            return;
        }
        const TagKind kind = tagKind(text, open, close);
        switch (kind) {
        case TagKind::Center:
        case TagKind::Right: {
            const TLineAlign k = kind == TagKind::Center ? TLineAlign::Center : TLineAlign::Right;
            if (open > base) {
                add(base, open, align);
            }
            block = k;
            align = k;
            base = search = skipBlanks(text, close + 1);
            break;
        }
        case TagKind::Break:
            add(base, open, align);
            base = search = skipBlanks(text, close + 1);
            break;
        case TagKind::EndBlock:
            add(base, open, block);
            base = search = skipBlanks(text, close + 1);
            align = TLineAlign::Left;
            if (base >= text.size()) {
                return;
            }
            break;
        default:
            search = open + 1; // not a line tag: it stays in the text
            break;
        }
    }
}

bool TQuickPrint::OnlyContainsTags(const QString& Text) {
    const QStringView text(Text);
    TagScanner scan(text);
    bool found = false;
    for (qsizetype base = 0;;) {
        if (base >= text.size()) {
            return found;
        }
        qsizetype open = 0;
        qsizetype close = 0;
        if (text[base] != QLatin1Char('<') || !scan.next(base, open, close)) {
            return false;
        }
        if (isStyle(tagKind(text, open, close))) {
            found = true;
        }
        base = close + 1;
    }
}

TextSize TQuickPrint::TextExtentEx(const QString& Text) {
    TFont& font = Printer().Font();
    const TFontStyles saved = font.Style;
    TextSize total;
    const QStringView text(Text);
    const auto measure = [&total, text](qsizetype from, qsizetype to) {
        const TextSize size = Printer().TextExtent(text.mid(from, to - from).toString());
        total.cx += size.cx;
        total.cy = std::max(total.cy, size.cy);
    };
    TagScanner scan(text);
    for (qsizetype base = 0; base < text.size();) {
        qsizetype open = 0;
        qsizetype close = 0;
        if (!scan.next(base, open, close)) {
            measure(base, text.size());
            break;
        }
        const TagKind kind = tagKind(text, open, close);
        if (isStyle(kind)) {
            measure(base, open);
            applyStyle(font, kind);
        } else {
            measure(base, close + 1); // the group counts as printed text
        }
        base = close + 1;
    }
    font.Style = saved;
    return total;
}

double TQuickPrint::spacingFactor() const {
    switch (lineSpacing_) {
    case TLineSpacing::HalfSpace:
        return 0.5;
    case TLineSpacing::SingleAndAHalf:
        return 1.5;
    case TLineSpacing::DoubleSpace:
        return 2.0;
    case TLineSpacing::SingleSpace:
        break;
    }
    return 1.0;
}

void TQuickPrint::endLine() {
    FCurrentY = truncated(static_cast<double>(FCurrentY) + FLineHeight * spacingFactor());
    FCurrentX = 0;
    if (OnNewLine) {
        OnNewLine(this);
    }
}

void TQuickPrint::TextOutEx(int X, int Y, const QString& Text) {
    TFont& font = Printer().Font();
    FLineHeight = Printer().TextHeight(Text);
    const auto left = static_cast<int>(
        MeasureUnitToPixelsHorz(static_cast<float>(marginLeft_ - GetPhysicalOffsetX())));
    const QStringView text(Text);
    int dx = 0;
    const auto draw = [&](qsizetype from, qsizetype to) {
        const QString run = text.mid(from, to - from).toString();
        Printer().TextOut(left + dx + X, Y, run);
        dx += Printer().TextExtent(run).cx;
    };
    TagScanner scan(text);
    for (qsizetype base = 0;;) {
        if (base >= text.size()) {
            if (!OnlyContainsTags(Text)) {
                endLine();
            }
            return;
        }
        qsizetype open = 0;
        qsizetype close = 0;
        if (!scan.next(base, open, close)) {
            draw(base, text.size());
            endLine();
            return;
        }
        const TagKind kind = tagKind(text, open, close);
        if (isStyle(kind)) {
            draw(base, open);
            applyStyle(font, kind);
        } else {
            draw(base, close + 1);
        }
        base = close + 1;
    }
}

QString literalText(const QString& text) {
    QString out;
    out.reserve(text.size() + text.count(QLatin1Char('<')));
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            out += QChar(QChar::ReplacementCharacter);
            continue;
        }
        out += c;
        if (c == QLatin1Char('<')) {
            out += QChar(0x2060);
        }
    }
    return out;
}

} // namespace cantavel
