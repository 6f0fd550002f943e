#include "Quickprint.h"

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

// Removes leading characters with codes up to 32 (spaces and control characters).
QString trimmedLeft(const QString& s) {
    int i = 0;
    while (i < s.size() && s[i].unicode() <= 32) {
        ++i;
    }
    return s.mid(i);
}

std::uint32_t truncated(double value) {
    // Toward zero, then kept to 32 bits: a negative count wraps as unsigned.
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(value)));
}

} // namespace

TQuickPrint::TQuickPrint(QObject* owner) : QObject(owner) {}

TQuickPrint::~TQuickPrint() {
    FLines.clear();
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
    write(FWordWrap, value);
}
void TQuickPrint::SetLineSpacing(TLineSpacing value) {
    write(FLineSpacing, value);
}
void TQuickPrint::SetPrintPageNo(bool value) {
    write(FPrintPageNo, value);
}
void TQuickPrint::SetPrintTitle(const QString& value) {
    write(FPrintTitle, value);
}
void TQuickPrint::SetMarginTop(float value) {
    write(FMarginTop, value);
}
void TQuickPrint::SetMarginBottom(float value) {
    write(FMarginBottom, value);
}
void TQuickPrint::SetMarginLeft(float value) {
    write(FMarginLeft, value);
}
void TQuickPrint::SetMarginRight(float value) {
    write(FMarginRight, value);
}

void TQuickPrint::SetMeasureUnit(TMeasureUnit value) {
    if (GetPrinting() || value == FMeasureUnit) {
        return;
    }
    FMeasureUnit = value;
    const double factor = value == TMeasureUnit::Millimeters ? 25.4 : 1 / 25.4;
    SetMarginTop(static_cast<float>(FMarginTop * factor));
    SetMarginBottom(static_cast<float>(FMarginBottom * factor));
    SetMarginLeft(static_cast<float>(FMarginLeft * factor));
    SetMarginRight(static_cast<float>(FMarginRight * factor));
}

void TQuickPrint::SetLines(const QStringList& lines) {
    if (GetPrinting()) {
        return;
    }
    FLines.clear();
    for (const QString& line : lines) {
        FLines.append(line);
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
    float inches = 0;
    try {
        const int ppi = Printer().DeviceCaps(resolution);
        if (ppi == 0) {
            throw 0;
        }
        inches = static_cast<float>(static_cast<double>(pixels) / ppi);
    } catch (...) {
        inches = static_cast<float>(pixels * (1.0 / 300)); // 300 pixels per inch
    }
    return FMeasureUnit == TMeasureUnit::Millimeters ? inches * 25.4 : inches;
}

std::uint32_t TQuickPrint::unitToPixels(float distance, TDeviceCap resolution) const {
    float a = 0;
    try {
        const int ppi = Printer().DeviceCaps(resolution);
        a = static_cast<float>(static_cast<double>(ppi) * distance);
    } catch (...) {
        a = static_cast<float>(distance * 300.0);
    }
    if (FMeasureUnit == TMeasureUnit::Inches) {
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
    return GetPhysicalPageWidth() - GetPhysicalOffsetX() - FMarginLeft - FMarginRight;
}
double TQuickPrint::GetPageHeight() const {
    return GetPhysicalPageHeight() - GetPhysicalOffsetY() - FMarginTop - FMarginBottom;
}

std::uint32_t TQuickPrint::textTop() const {
    const auto fromTop = static_cast<float>(FMarginTop - GetPhysicalOffsetY());
    // Unsigned rows cannot lie above the printable area: start at its top there.
    return fromTop < 0 ? 0 : MeasureUnitToPixelsVert(fromTop);
}

// ---------------------------------------------------------------------------------
// Job

void TQuickPrint::BeginDoc() {
    try {
        Printer().SetTitle(FPrintTitle);
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
    if (FPrintPageNo) {
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
    if (FLines.isEmpty()) {
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
        MeasureUnitToPixelsVert(static_cast<float>(GetPageHeight() + FMarginTop));
    if (bottom <= FCurrentY + static_cast<std::uint32_t>(height)) {
        NewPage();
    }
}

void TQuickPrint::place(const QString& piece, int width, int index) {
    const auto w = static_cast<std::uint32_t>(width);
    const int align = FLineAligns.value(index, 0);
    if (align == 1 || align == 2) {
        const float span =
            static_cast<float>(GetPageWidth() + GetPhysicalOffsetX() * (align == 1 ? 0.5 : 1.0));
        const std::uint32_t base = MeasureUnitToPixelsHorz(span);
        // A piece wider than the page starts at the left margin rather than at an
        // x that wrapped around.
        std::uint32_t x = 0;
        if (w <= base) {
            x = align == 1 ? (base - w) >> 1 : base - w;
        }
        TextOutEx(static_cast<int>(x), static_cast<int>(FCurrentY), piece);
        return;
    }
    TextOutEx(static_cast<int>(FCurrentX), static_cast<int>(FCurrentY), piece);
}

void TQuickPrint::PrintLine(const QString& Line, int Index) {
    const auto available = [this] {
        return MeasureUnitToPixelsHorz(static_cast<float>(GetPageWidth()));
    };
    TextSize size = TextExtentEx(Line);
    if (!FWordWrap) {
        pageCheck(size.cy);
        place(Line, size.cx, Index);
        return;
    }
    int start = 1;
    if (!(FCurrentX + static_cast<std::uint32_t>(size.cx) <= available())) {
        int pos = 1;
        int breakAt = 0;
        do {
            ++pos;
            const QString segment = chars(Line, start, pos - 1);
            size = TextExtentEx(segment);
            if (!segment.isEmpty() && segment.back() == QLatin1Char(' ')) {
                breakAt = pos - 1;
            }
            if (FCurrentX + static_cast<std::uint32_t>(size.cx) > available()) {
                pageCheck(size.cy);
                QString piece;
                int next = 0;
                if (breakAt != 0) {
                    piece = chars(Line, start, breakAt - 1); // the space is dropped
                    next = breakAt + 1;
                } else {
                    piece = chars(Line, start, pos - 2);
                    next = pos - 1;
                    if (piece.isEmpty()) {
                        // One character wider than the line: it goes alone.
                        piece = chars(Line, start, pos - 1);
                        next = pos;
                    }
                }
                size = TextExtentEx(piece);
                place(piece, size.cx, Index);
                pos = next;
                start = next;
                breakAt = 0;
            }
        } while (pos <= Line.size());
    }
    pageCheck(size.cy);
    place(chars(Line, start, static_cast<int>(Line.size())), size.cx, Index);
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

bool TQuickPrint::findTag(const QString& text, int start, Tag& tag) {
    for (;;) {
        const int open = FindNext(text, QStringLiteral("<"), start);
        if (open == 0) {
            return false;
        }
        const int close = FindNext(text, QStringLiteral(">"), start);
        if (close == 0) {
            return false;
        }
        if (close < open) {
            start = close + 1; // a ">" before the "<": look again after it
            continue;
        }
        tag = {open, close, chars(text, open + 1, close - 1).toUpper()};
        return true;
    }
}

bool TQuickPrint::isStyleTag(const QString& name) {
    static const QStringList kStyles = {QStringLiteral("B"),  QStringLiteral("I"),
                                        QStringLiteral("U"),  QStringLiteral("STRIKE"),
                                        QStringLiteral("/B"), QStringLiteral("/I"),
                                        QStringLiteral("/U"), QStringLiteral("/STRIKE")};
    return kStyles.contains(name);
}

void TQuickPrint::applyStyleTag(TFont& font, const QString& name) {
    const bool off = name.startsWith(QLatin1Char('/'));
    const QString base = off ? name.mid(1) : name;
    TFontStyles flag = 0;
    if (base == QLatin1String("B")) {
        flag = fsBold;
    } else if (base == QLatin1String("I")) {
        flag = fsItalic;
    } else if (base == QLatin1String("U")) {
        flag = fsUnderline;
    } else if (base == QLatin1String("STRIKE")) {
        flag = fsStrikeOut;
    }
    font.Style = off ? (font.Style & ~flag) : (font.Style | flag);
}

void TQuickPrint::ParseLines() {
    FLineAligns.clear();
    FParsedLines.clear();
    for (const QString& line : FLines) {
        ParseLine(line);
    }
}

void TQuickPrint::ParseLine(const QString& Line) {
    QString w = Line;
    int s = 1;
    int align = 0;
    int block = 0;
    const auto add = [this](const QString& text, int code) {
        FParsedLines.append(text);
        FLineAligns.append(code);
    };
    for (;;) {
        Tag tag;
        if (w.isEmpty() || !findTag(w, s, tag)) {
            add(w, align);
            return;
        }
        if (tag.name == QLatin1String("CENTER") || tag.name == QLatin1String("RIGHT")) {
            const int k = tag.name == QLatin1String("CENTER") ? 1 : 2;
            if (tag.open > 1) {
                add(chars(w, 1, tag.open - 1), align);
            }
            block = k;
            w = trimmedLeft(chars(w, tag.close + 1, static_cast<int>(w.size())));
            s = 1;
            align = k;
        } else if (tag.name == QLatin1String("BR")) {
            add(chars(w, 1, tag.open - 1), align);
            w = trimmedLeft(chars(w, tag.close + 1, static_cast<int>(w.size())));
            s = 1;
        } else if (tag.name == QLatin1String("/CENTER") || tag.name == QLatin1String("/RIGHT")) {
            add(chars(w, 1, tag.open - 1), block);
            w = trimmedLeft(chars(w, tag.close + 1, static_cast<int>(w.size())));
            s = 1;
            align = 0;
            if (w.isEmpty()) {
                return;
            }
        } else {
            s = tag.open + 1; // not a line tag: it stays in the text
        }
    }
}

bool TQuickPrint::OnlyContainsTags(const QString& Text) {
    QString w = Text;
    bool found = false;
    for (;;) {
        if (w.isEmpty()) {
            return found;
        }
        if (w.front() != QLatin1Char('<')) {
            return false;
        }
        Tag tag;
        if (!findTag(w, 1, tag)) {
            return false;
        }
        if (isStyleTag(tag.name)) {
            found = true;
        }
        w = chars(w, tag.close + 1, static_cast<int>(w.size()));
    }
}

TextSize TQuickPrint::TextExtentEx(const QString& Text) {
    TFont& font = Printer().Font();
    const TFontStyles saved = font.Style;
    TextSize total;
    const auto measure = [&total](const QString& run) {
        const TextSize size = Printer().TextExtent(run);
        total.cx += size.cx;
        total.cy = std::max(total.cy, size.cy);
    };
    QString w = Text;
    for (;;) {
        Tag tag;
        if (w.isEmpty()) {
            break;
        }
        if (!findTag(w, 1, tag)) {
            measure(w);
            break;
        }
        if (isStyleTag(tag.name)) {
            measure(chars(w, 1, tag.open - 1));
            applyStyleTag(font, tag.name);
        } else {
            measure(chars(w, 1, tag.close)); // the group counts as printed text
        }
        w = chars(w, tag.close + 1, static_cast<int>(w.size()));
    }
    font.Style = saved;
    return total;
}

double TQuickPrint::spacingFactor() const {
    switch (FLineSpacing) {
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
        MeasureUnitToPixelsHorz(static_cast<float>(FMarginLeft - GetPhysicalOffsetX())));
    int dx = 0;
    const auto draw = [&](const QString& run) {
        Printer().TextOut(left + dx + X, Y, run);
        dx += Printer().TextExtent(run).cx;
    };
    QString w = Text;
    for (;;) {
        if (w.isEmpty()) {
            if (!OnlyContainsTags(Text)) {
                endLine();
            }
            return;
        }
        Tag tag;
        if (!findTag(w, 1, tag)) {
            draw(w);
            endLine();
            return;
        }
        if (isStyleTag(tag.name)) {
            draw(chars(w, 1, tag.open - 1));
            applyStyleTag(font, tag.name);
        } else {
            draw(chars(w, 1, tag.close));
        }
        w = chars(w, tag.close + 1, static_cast<int>(w.size()));
    }
}

} // namespace cantavel
