#pragma once

// A printer with fixed metrics: every character is 10 pixels wide (12 in bold), every
// text 20 pixels high, 100 pixels per inch, a page of 1 x 10 inches. It records what
// is drawn, with the style it was drawn in, and can be told to fail.

#include "Printer.h"

#include <QStringList>

#include <stdexcept>
#include <vector>

namespace cantavel::testing {

class FakePrinter final : public TPrinter {
public:
    struct Drawn {
        int x;
        int y;
        QString text;
        TFontStyles style;
        int page;
    };

    int ppi = 100;
    int physicalWidth = 100;
    int physicalHeight = 1000;
    int offsetX = 0;
    int offsetY = 0;
    int charWidth = 10;
    int boldCharWidth = 12;
    int height = 20;
    bool available = true;
    bool failBegin = false, failNewPage = false, failEnd = false, failAbort = false;
    bool failOrientation = false;

    std::vector<Drawn> drawn;
    int newPages = 0;
    int page = 0;
    QString title;

    void SetTitle(const QString& t) override { title = t; }
    void BeginDoc() override {
        if (failBegin)
            throw std::runtime_error("begin");
        printing = true;
        page = 1;
    }
    void NewPage() override {
        if (failNewPage)
            throw std::runtime_error("new page");
        ++newPages;
        ++page;
    }
    void EndDoc() override {
        if (failEnd)
            throw std::runtime_error("end");
        printing = false;
    }
    void Abort() override {
        if (failAbort)
            throw std::runtime_error("abort");
        printing = false;
    }
    bool Printing() const override { return printing; }
    TPrinterOrientation Orientation() const override {
        if (failOrientation)
            throw std::runtime_error("orientation");
        return orientation;
    }
    void SetOrientation(TPrinterOrientation o) override {
        if (failOrientation)
            throw std::runtime_error("orientation");
        orientation = o;
    }
    TFont& Font() override { return font; }
    TextSize TextExtent(const QString& text) override {
        const int w = (font.Style & fsBold) ? boldCharWidth : charWidth;
        return {w * static_cast<int>(text.size()), height};
    }
    int TextHeight(const QString&) override { return height; }
    void TextOut(int x, int y, const QString& text) override {
        drawn.push_back({x, y, text, font.Style, page});
    }
    int DeviceCaps(TDeviceCap cap) override {
        if (!available)
            throw std::runtime_error("no printer");
        switch (cap) {
        case TDeviceCap::LogPixelsX:
        case TDeviceCap::LogPixelsY:
            return ppi;
        case TDeviceCap::PhysicalWidth:
            return physicalWidth;
        case TDeviceCap::PhysicalHeight:
            return physicalHeight;
        case TDeviceCap::PhysicalOffsetX:
            return offsetX;
        case TDeviceCap::PhysicalOffsetY:
            return offsetY;
        }
        return 0;
    }

    // The non-empty texts drawn, in order.
    QStringList texts() const {
        QStringList out;
        for (const Drawn& d : drawn) {
            if (!d.text.isEmpty())
                out << d.text;
        }
        return out;
    }

    bool printing = false;
    TPrinterOrientation orientation = TPrinterOrientation::poPortrait;
    TFont font;
};

// Points the application-wide printer at a fake for the life of this object.
using UsePrinter = ScopedPrinter;

} // namespace cantavel::testing
