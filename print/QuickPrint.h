#pragma once

// TQuickPrint: prints text on the application-wide printer, in inches or millimetres,
// with margins, word wrap, line spacing, page breaks and optional page numbers.
// Inline tags switch bold, italic, underline and strike-out, centre or right-align
// lines and break them:
//
//   <B>..</B>  <I>..</I>  <U>..</U>  <STRIKE>..</STRIKE>  <CENTER>..</CENTER>
//   <RIGHT>..</RIGHT>  <BR>
//
// Tag names are case-insensitive; anything else between "<" and ">" prints as it is.
// Job failures are thrown as bare message text (a C string).

#include "Printer.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace cantavel {

enum class TMeasureUnit : std::uint8_t { Inches = 0, Millimeters = 1 };
enum class TLineSpacing : std::uint8_t {
    HalfSpace = 0,
    SingleSpace = 1,
    SingleAndAHalf = 2,
    DoubleSpace = 3
};

// Where a display line sits between the margins; the codes are those of the line
// tags' documentation (0 left, 1 centred, 2 right).
enum class TLineAlign : int { Left = 0, Center = 1, Right = 2 };

class TQuickPrint : public QObject {
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(TMeasureUnit MeasureUnit READ MeasureUnit WRITE SetMeasureUnit)
    Q_PROPERTY(TLineSpacing LineSpacing READ LineSpacing WRITE SetLineSpacing)
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
    Q_PROPERTY(float MarginTop READ MarginTop WRITE SetMarginTop)
    Q_PROPERTY(float MarginBottom READ MarginBottom WRITE SetMarginBottom)
    Q_PROPERTY(float MarginLeft READ MarginLeft WRITE SetMarginLeft)
    Q_PROPERTY(float MarginRight READ MarginRight WRITE SetMarginRight)
    Q_PROPERTY(QString PrintTitle READ PrintTitle WRITE SetPrintTitle)
    Q_PROPERTY(bool PrintPageNo READ PrintPageNo WRITE SetPrintPageNo)
    Q_PROPERTY(TPrinterOrientation PrintOrientation READ GetOrientation WRITE SetOrientation)
    // clang-format on

public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TQuickPrint(QObject* owner = nullptr);
    ~TQuickPrint() override;

    // Writers do nothing while a job is in progress, and store single values only
    // when they differ.
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    TMeasureUnit MeasureUnit() const { return measureUnit_; }
    // Re-expresses the margins in the new unit, so they keep their physical size.
    void SetMeasureUnit(TMeasureUnit value);
    TLineSpacing LineSpacing() const { return lineSpacing_; }
    void SetLineSpacing(TLineSpacing value);
    const QStringList& Lines() const { return lines_; }
    QStringList& LinesRef() { return lines_; } // the list itself, not guarded
    void SetLines(const QStringList& lines);
    float MarginTop() const { return marginTop_; }
    float MarginBottom() const { return marginBottom_; }
    float MarginLeft() const { return marginLeft_; }
    float MarginRight() const { return marginRight_; }
    void SetMarginTop(float value);
    void SetMarginBottom(float value);
    void SetMarginLeft(float value);
    void SetMarginRight(float value);
    QString PrintTitle() const { return printTitle_; }
    void SetPrintTitle(const QString& value);
    bool PrintPageNo() const { return printPageNo_; }
    void SetPrintPageNo(bool value);
    TPrinterOrientation GetOrientation() const;
    void SetOrientation(TPrinterOrientation value);
    // The printer's own font object: changes to it act at once.
    TFont& GetFont() const;
    void SetFont(const TFont& font);

    TNotifyEvent OnBeginDoc;
    TNotifyEvent OnEndDoc;
    TNotifyEvent OnAbortDoc;
    TNotifyEvent OnNewLine;
    TNotifyEvent OnNewPage;

    bool GetPrinting() const;
    double GetPhysicalPageWidth() const;
    double GetPhysicalPageHeight() const;
    double GetPhysicalOffsetX() const;
    double GetPhysicalOffsetY() const;
    double GetPageWidth() const;
    double GetPageHeight() const;

    double PixelsToMeasureUnitHorz(std::uint32_t pixels) const;
    double PixelsToMeasureUnitVert(std::uint32_t pixels) const;
    std::uint32_t MeasureUnitToPixelsHorz(float distance) const;
    std::uint32_t MeasureUnitToPixelsVert(float distance) const;

    void BeginDoc();
    void EndDoc();
    void AbortDoc();
    void NewPage();

    void PrintLines();
    void Print(float X, float Y, const QString& Text);
    void PrintLine(const QString& Line, int Index);

    // Tag markup; every call between these goes through the virtual slot.
    virtual void ParseLines();
    virtual void ParseLine(const QString& Line);
    virtual bool OnlyContainsTags(const QString& Text);
    virtual TextSize TextExtentEx(const QString& Text);
    virtual void TextOutEx(int X, int Y, const QString& Text);

    // First position (from 1) at or after Start where Sub occurs in S; 0 for none.
    static int FindNext(const QString& S, const QString& Sub, int Start);

    // State of the layout, for whoever prints around it.
    int PageNumber() const { return FPageNumber; }
    std::uint32_t CurrentX() const { return FCurrentX; }
    std::uint32_t CurrentY() const { return FCurrentY; }
    int LineHeight() const { return FLineHeight; }
    const QStringList& ParsedLines() const { return FParsedLines; }
    const QList<TLineAlign>& LineAligns() const { return FLineAligns; }

private:
    double pixelsToUnit(std::uint32_t pixels, TDeviceCap resolution) const;
    std::uint32_t unitToPixels(float distance, TDeviceCap resolution) const;
    // Device row of the top of the text area; the top of the printable area when
    // the top margin lies above it.
    std::uint32_t textTop() const;
    double spacingFactor() const;
    void endLine();
    void pageCheck(int height);
    void place(const QString& piece, int width, int index);
    template <typename T> void write(T& field, const T& value);

    bool wordWrap_ = true;
    TMeasureUnit measureUnit_ = TMeasureUnit::Millimeters;
    TLineSpacing lineSpacing_ = TLineSpacing::SingleSpace;
    QStringList lines_;
    float marginTop_ = 0;
    float marginBottom_ = 0;
    float marginLeft_ = 0;
    float marginRight_ = 0;
    QString printTitle_;
    bool printPageNo_ = false;
    int FPageNumber = 0;
    int FLineHeight = 0;
    std::uint32_t FCurrentX = 0;
    std::uint32_t FCurrentY = 0;
    QStringList FParsedLines;
    QList<TLineAlign> FLineAligns;
};

// Text from outside (a file name) made to print as it stands: a word joiner, which
// takes no room and prints nothing, follows every "<", so that no "<" ... ">" group
// in it is a tag. Control characters, which no font can show, become U+FFFD.
QString literalText(const QString& text);

} // namespace cantavel
