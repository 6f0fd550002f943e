#pragma once

// The printer object over QPrinter and QPainter: the system's default printer, or a
// PDF file. Text is measured with QFontMetrics on the printer itself, so sizes in
// points hold at its resolution.

#include "Printer.h"

#include <memory>

class QFont;
class QFontMetrics;
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
    bool available() const;
    QFont qfont() const;
    // Metrics of the current font on this printer; made again only when the font
    // changes, since text is measured far more often than the font is switched.
    const QFontMetrics& metrics();

    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_;
    TFont font_;
    TFont measured_;
    std::unique_ptr<QFontMetrics> metrics_;
    bool toFile_ = false;
    bool printing_ = false;
};

} // namespace cantavel
