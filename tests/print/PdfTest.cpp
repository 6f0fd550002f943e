// A real print job: three pages to a PDF file, read back with poppler's tools.

#include "QtPrinter.h"
#include "QuickPrint.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace cantavel {
namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

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
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()) {
        GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) are not installed";
    }
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression("Pages:\\s+3")));
    const QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, "-"});
    EXPECT_TRUE(text.contains(QStringLiteral("First page")));
    EXPECT_TRUE(text.contains(QStringLiteral("Second page text")));
    EXPECT_TRUE(text.contains(QStringLiteral("Third page")));
    EXPECT_TRUE(text.contains(QRegularExpression("\\b3\\b"))) << "page numbers are printed";
}

} // namespace
} // namespace cantavel
