#include "QtPrinter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <stdexcept>

namespace cantavel {

QtPrinter::QtPrinter() : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {}

QtPrinter::QtPrinter(const QString& pdfPath)
    : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)), toFile_(true) {
    printer_->setOutputFormat(QPrinter::PdfFormat);
    printer_->setOutputFileName(pdfPath);
}

// A PDF file, a printer someone chose (the print dialog), or the system's default.
bool QtPrinter::available() const {
    return toFile_ || printer_->outputFormat() == QPrinter::PdfFormat ||
           !printer_->printerName().isEmpty() || !QPrinterInfo::defaultPrinter().isNull();
}

QtPrinter::~QtPrinter() {
    if (printing_) {
        printer_->abort();
        painter_->end();
    }
}

void QtPrinter::SetTitle(const QString& title) {
    printer_->setDocName(title);
}

void QtPrinter::BeginDoc() {
    if (!available()) {
        throw std::runtime_error("no printer is installed");
    }
    auto painter = std::make_unique<QPainter>();
    if (!painter->begin(printer_.get())) {
        throw std::runtime_error("the printer refused the job");
    }
    painter_ = std::move(painter);
    printing_ = true;
}

void QtPrinter::NewPage() {
    if (!printing_ || !printer_->newPage()) {
        throw std::runtime_error("the printer refused a new page");
    }
}

void QtPrinter::EndDoc() {
    if (!printing_) {
        throw std::runtime_error("no job to end");
    }
    printing_ = false;
    if (!painter_->end()) {
        throw std::runtime_error("the printer could not finish the job");
    }
}

void QtPrinter::Abort() {
    if (!printing_) {
        throw std::runtime_error("no job to abort");
    }
    printing_ = false;
    printer_->abort();
    painter_->end();
}

TPrinterOrientation QtPrinter::Orientation() const {
    return printer_->pageLayout().orientation() == QPageLayout::Landscape
               ? TPrinterOrientation::poLandscape
               : TPrinterOrientation::poPortrait;
}

void QtPrinter::SetOrientation(TPrinterOrientation orientation) {
    if (!printer_->setPageOrientation(orientation == TPrinterOrientation::poLandscape
                                          ? QPageLayout::Landscape
                                          : QPageLayout::Portrait)) {
        throw std::runtime_error("the printer refused the orientation");
    }
}

QFont QtPrinter::qfont() const {
    QFont f(font_.Name);
    f.setPointSize(font_.Size > 0 ? font_.Size : 10);
    f.setBold((font_.Style & fsBold) != 0);
    f.setItalic((font_.Style & fsItalic) != 0);
    f.setUnderline((font_.Style & fsUnderline) != 0);
    f.setStrikeOut((font_.Style & fsStrikeOut) != 0);
    return f;
}

const QFontMetrics& QtPrinter::metrics() {
    if (!metrics_ || !(measured_ == font_)) {
        metrics_ = std::make_unique<QFontMetrics>(qfont(), printer_.get());
        measured_ = font_;
    }
    return *metrics_;
}

TextSize QtPrinter::TextExtent(const QString& text) {
    const QFontMetrics& m = metrics();
    return {m.horizontalAdvance(text), m.height()};
}

int QtPrinter::TextHeight(const QString& text) {
    return TextExtent(text).cy;
}

void QtPrinter::TextOut(int x, int y, const QString& text) {
    if (!printing_) {
        throw std::runtime_error("no job to draw on");
    }
    painter_->setFont(qfont());
    // The painter's origin is the top-left of the printable area, like the device
    // pixels here; text is placed by its top, not its baseline.
    painter_->drawText(x, y + metrics().ascent(), text);
}

int QtPrinter::DeviceCaps(TDeviceCap cap) {
    if (!available()) {
        throw std::runtime_error("no printer is installed");
    }
    const int dpi = printer_->resolution();
    const QPageLayout layout = printer_->pageLayout();
    switch (cap) {
    case TDeviceCap::LogPixelsX:
    case TDeviceCap::LogPixelsY:
        return dpi;
    case TDeviceCap::PhysicalWidth:
        return layout.fullRectPixels(dpi).width();
    case TDeviceCap::PhysicalHeight:
        return layout.fullRectPixels(dpi).height();
    case TDeviceCap::PhysicalOffsetX:
        return layout.paintRectPixels(dpi).left();
    case TDeviceCap::PhysicalOffsetY:
        return layout.paintRectPixels(dpi).top();
    }
    return 0;
}

} // namespace cantavel
