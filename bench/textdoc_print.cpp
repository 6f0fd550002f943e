// A peer for the print benchmark: what a Qt program would do instead of using the
// printing component. Loads a text file with the same inline tags into a
// QTextDocument (tags mapped to rich text) and prints it to a PDF: A4, 15 mm
// margins, 10 pt Arial, page numbers (QTextDocument::print adds them).
// Usage: cantavel-textdoc-print IN.txt OUT.pdf

#include <QApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextDocument>

#include <cstdio>

namespace {

// One source line as a paragraph: style tags become their rich-text twins, a
// centred or right-aligned start aligns the paragraph, <BR> breaks the line, and
// every other "<" is text.
QString paragraph(const QString& line) {
    static const QRegularExpression tag(QStringLiteral("<(/?)(B|I|U|STRIKE|CENTER|RIGHT|BR)>"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString align;
    QString body;
    qsizetype at = 0;
    for (auto it = tag.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        body += line.mid(at, m.capturedStart() - at).toHtmlEscaped();
        at = m.capturedEnd();
        const QString name = m.captured(2).toUpper();
        const QString slash = m.captured(1);
        if (name == QLatin1String("CENTER") || name == QLatin1String("RIGHT")) {
            if (slash.isEmpty()) {
                align = name == QLatin1String("CENTER") ? QStringLiteral(" align=\"center\"")
                                                        : QStringLiteral(" align=\"right\"");
            }
        } else if (name == QLatin1String("BR")) {
            body += QStringLiteral("<br>");
        } else {
            const QString html = name == QLatin1String("STRIKE") ? QStringLiteral("s") : name;
            body += QLatin1Char('<') + slash + html.toLower() + QLatin1Char('>');
        }
    }
    body += line.mid(at).toHtmlEscaped();
    return QStringLiteral("<p%1>%2</p>\n").arg(align, body);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: cantavel-textdoc-print IN.txt OUT.pdf\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QString html = QStringLiteral("<html><body style=\"margin:0\">");
    for (const QString& line : QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'))) {
        html += paragraph(line);
    }
    html += QStringLiteral("</body></html>");

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromLocal8Bit(argv[2]));
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("Arial"), 10));
    document.setHtml(html);
    document.print(&printer);
    return 0;
}
