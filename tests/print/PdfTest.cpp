// A real print job: three pages to a PDF file, read back with poppler's tools.

#include "Poppler.h"
#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace cantavel {
namespace {

using testing::runPoppler;

TEST(Pdf, ThreePageDocumentHasThreePagesAndItsText) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("three.pdf"));
    QtPrinter printer(pdf);
    TPrinter* before = SetPrinter(&printer);
    {
        TQuickPrint print;
        print.SetMeasureUnit(TMeasureUnit::Millimeters);
        print.SetMarginTop(20);
        print.SetMarginBottom(20);
        print.SetMarginLeft(20);
        print.SetMarginRight(20);
        print.SetPrintPageNo(true);
        print.SetPrintTitle(QStringLiteral("Three pages"));
        print.BeginDoc();
        print.Print(0, 0, QStringLiteral("<CENTER><B>First page</B>"));
        print.NewPage();
        print.Print(0, 0, QStringLiteral("Second <I>page</I> text"));
        print.NewPage();
        print.Print(0, 0, QStringLiteral("<RIGHT>Third page"));
        print.EndDoc();
        EXPECT_EQ(print.PageNumber(), 3);
    }
    SetPrinter(before);
    ASSERT_TRUE(QFile::exists(pdf));
    if (!testing::havePoppler()) {
        GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) are not installed";
    }
    EXPECT_TRUE(
        runPoppler(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression("Pages:\\s+3")));
    const QString text =
        runPoppler(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, "-"});
    EXPECT_TRUE(text.contains(QStringLiteral("First page")));
    EXPECT_TRUE(text.contains(QStringLiteral("Second page text")));
    EXPECT_TRUE(text.contains(QStringLiteral("Third page")));
    EXPECT_TRUE(text.contains(QRegularExpression("\\b3\\b"))) << "page numbers are printed";
}

} // namespace
} // namespace cantavel
