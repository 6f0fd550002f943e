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
    painterFace_ = nullptr;
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

QtPrinter::Face& QtPrinter::face() {
    if (current_ && current_->font == font_) {
        return *current_;
    }
    for (const auto& known : faces_) {
        if (known->font == font_) {
            current_ = known.get();
            return *current_;
        }
    }
    if (faces_.size() >= kMaxFaces) { // a program that tries ever new fonts
        faces_.clear();
        painterFace_ = nullptr;
    }
    auto made = std::make_unique<Face>();
    made->font = font_;
    made->qfont = QFont(font_.Name);
    made->qfont.setPointSize(font_.Size > 0 ? font_.Size : 10);
    made->qfont.setBold((font_.Style & fsBold) != 0);
    made->qfont.setItalic((font_.Style & fsItalic) != 0);
    made->qfont.setUnderline((font_.Style & fsUnderline) != 0);
    made->qfont.setStrikeOut((font_.Style & fsStrikeOut) != 0);
    made->metrics = std::make_unique<QFontMetrics>(made->qfont, printer_.get());
    made->height = made->metrics->height();
    made->ascent = made->metrics->ascent();
    faces_.push_back(std::move(made));
    current_ = faces_.back().get();
    return *current_;
}

TextSize QtPrinter::TextExtent(const QString& text) {
    Face& f = face();
    const auto known = f.widths.constFind(text);
    if (known != f.widths.cend()) {
        return {*known, f.height};
    }
    const int width = f.metrics->horizontalAdvance(text);
    if (text.size() <= kMaxKeptText) {
        if (f.widths.size() >= kMaxWidths) {
            f.widths.clear();
        }
        f.widths.insert(text, width);
    }
    return {width, f.height};
}

int QtPrinter::TextHeight(const QString&) {
    return face().height; // the font's, whatever the text
}

void QtPrinter::TextOut(int x, int y, const QString& text) {
    if (!printing_) {
        throw std::runtime_error("no job to draw on");
    }
    const Face& f = face();
    if (painterFace_ != &f) {
        painter_->setFont(f.qfont);
        painterFace_ = &f;
    }
    // The painter's origin is the top-left of the printable area, like the device
    // pixels here; text is placed by its top, not its baseline.
    painter_->drawText(x, y + f.ascent, text);
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
