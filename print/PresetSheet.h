#pragma once

// The preset sheet: the whole record on paper. A title (the file's name and the
// date), then one block per slot with every parameter its tab shows, named and
// valued as the window shows them. It is laid out by TQuickPrint with its tag
// markup, on whatever printer is given: the system's, a PDF, or a test's.

#include "ConfigRecord.h"
#include "Printer.h"
#include "SheetPaper.h"

#include <QDate>
#include <QString>

namespace cantavel {

struct SheetResult {
    bool ok = true;
    QString reason; // why not, when ok is false
    int pages = 0;
};

// The title for a record from this file: its name, or "Untitled" for none.
QString sheetTitle(const QString& path);

// Prints the sheet as one job on `printer`, which serves as the application-wide
// printer for the job's length. A failure ends the job and says why.
SheetResult printPresetSheet(TPrinter& printer, const ConfigRecord& record, const QString& title,
                             const QDate& date);

// The sheet as a PDF file at `path` on `paper`, saved whole or not at all.
SheetResult exportPresetSheet(const ConfigRecord& record, const QString& title, const QDate& date,
                              const QString& path, SheetPaper paper = SheetPaper::A4);
// The same PDF written whole to an open stream (standard output), once it is made.
SheetResult writePresetSheet(const ConfigRecord& record, const QString& title, const QDate& date,
                             int fd, SheetPaper paper = SheetPaper::A4);

} // namespace cantavel
