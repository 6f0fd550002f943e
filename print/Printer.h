#pragma once

// The application-wide printer object: what a print job needs from the printer,
// behind one interface. QtPrinter prints through QPrinter (the system's default
// printer or a PDF file); tests point the accessor at a printer of their own.

#include <QString>

#include <cstdint>

namespace cantavel {

enum class TPrinterOrientation : std::uint8_t { poPortrait = 0, poLandscape = 1 };

// The font style set: bold, italic, underline, strike-out.
enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// A printer font: name, size in points and style set. The printer's own font object
// is the one text is measured and drawn in; changes to it act at once.
struct TFont {
    QString Name = QStringLiteral("Arial");
    int Size = 10; // points
    TFontStyles Style = 0;

    bool operator==(const TFont&) const = default;
};

// Device capabilities asked of the printer.
enum class TDeviceCap {
    LogPixelsX = 88,
    LogPixelsY = 90,
    PhysicalWidth = 110,
    PhysicalHeight = 111,
    PhysicalOffsetX = 112,
    PhysicalOffsetY = 113,
};

// Pixel sizes of a text in the current font and style.
struct TextSize {
    int cx = 0;
    int cy = 0;
};

class TPrinter {
public:
    virtual ~TPrinter() = default;

    // Job control; each throws (any exception) when the printer refuses.
    virtual void SetTitle(const QString& title) = 0;
    virtual void BeginDoc() = 0; // the first page begins with the job
    virtual void NewPage() = 0;  // ends the page and begins the next
    virtual void EndDoc() = 0;   // ends the last page and the job
    virtual void Abort() = 0;
    virtual bool Printing() const = 0;

    virtual TPrinterOrientation Orientation() const = 0;
    virtual void SetOrientation(TPrinterOrientation orientation) = 0;

    virtual TFont& Font() = 0;
    virtual TextSize TextExtent(const QString& text) = 0;
    virtual int TextHeight(const QString& text) = 0;
    // Draws text with its top-left corner at device pixel (x, y).
    virtual void TextOut(int x, int y, const QString& text) = 0;

    // Throws when there is no printer to ask.
    virtual int DeviceCaps(TDeviceCap cap) = 0;
};

// The process-wide printer. Until one is set, a QtPrinter for the default printer
// is made on first use.
TPrinter& Printer();
// Points the accessor at another printer (not owned); returns the one before, or
// nullptr for the default. nullptr puts the default back.
TPrinter* SetPrinter(TPrinter* printer);

// The accessor points at a printer for as long as this object lives, and at the
// one before afterwards.
class ScopedPrinter {
public:
    explicit ScopedPrinter(TPrinter& printer) : before_(SetPrinter(&printer)) {}
    ~ScopedPrinter() { SetPrinter(before_); }
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;

private:
    TPrinter* before_;
};

} // namespace cantavel
