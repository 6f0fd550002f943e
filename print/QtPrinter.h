#pragma once

// The printer object over QPrinter and QPainter: the system's default printer, or a
// PDF file. Text is measured with QFontMetrics on the printer itself, so sizes in
// points hold at its resolution.

#include "Printer.h"

#include <memory>

#include <QFont>
#include <QFontMetrics>
#include <QHash>

#include <vector>

class QPainter;
class QPrinter;

namespace cantavel {

class QtPrinter final : public TPrinter {
public:
    // The system's default printer.
    QtPrinter();
    // A PDF file at this path.
    explicit QtPrinter(const QString& pdfPath);
    ~QtPrinter() override;

    void SetTitle(const QString& title) override;
    void BeginDoc() override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    bool Printing() const override { return printing_; }

    TPrinterOrientation Orientation() const override;
    void SetOrientation(TPrinterOrientation orientation) override;

    TFont& Font() override { return font_; }
    TextSize TextExtent(const QString& text) override;
    int TextHeight(const QString& text) override;
    void TextOut(int x, int y, const QString& text) override;
    int DeviceCaps(TDeviceCap cap) override;

    QPrinter& qprinter() { return *printer_; }

private:
    // A font in one style, made once: the font, its metrics on this printer, and the
    // widths of the texts measured in it (the layout asks for the same runs again
    // and again). Text is measured far more often than styles are switched.
    struct Face {
        TFont font;
        QFont qfont;
        std::unique_ptr<QFontMetrics> metrics;
        int height = 0;
        int ascent = 0;
        QHash<QString, int> widths;
    };
    // Widths kept per face before the oldest are let go (all at once), and the
    // longest text kept: runs between tags come back, whole pieces seldom do.
    static constexpr qsizetype kMaxWidths = 512;
    static constexpr qsizetype kMaxKeptText = 64;
    static constexpr std::size_t kMaxFaces = 64;

    bool available() const;
    Face& face();

    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_;
    TFont font_;
    std::vector<std::unique_ptr<Face>> faces_;
    Face* current_ = nullptr;           // the face of font_, when known
    const Face* painterFace_ = nullptr; // the face the painter draws in
    bool toFile_ = false;
    bool printing_ = false;
};

} // namespace cantavel
