#pragma once

// A PDF made in memory and saved whole. Qt's PDF writer does not report failed
// writes, so it never writes to the disk itself: it writes into a memory file, and
// the finished document is saved with every write checked, so a failure (a full
// disk) leaves no partial file and the old one as it was.

#include "SafeSave.h"

#include <QString>

namespace cantavel {

class PdfFile {
public:
    PdfFile();
    ~PdfFile();
    PdfFile(const PdfFile&) = delete;
    PdfFile& operator=(const PdfFile&) = delete;

    // False when no memory file could be made; error() says why.
    bool valid() const { return fd_ >= 0; }
    QString error() const;
    // The name the PDF writer is given.
    QString path() const;
    // Saves the document as the whole of target once the writer has let go of it;
    // a document without its end (the job failed) is not saved.
    FileResult saveTo(const QString& target) const;
    // Writes the finished document to an open stream (standard output).
    FileResult writeTo(int fd) const;

private:
    bool holdsAWholePdf() const;
    FileResult rewound() const;

    int fd_;
    int error_;
};

// Why a PDF could not be written at path, said before any page is laid out; empty
// when nothing stands in the way.
QString whyNotWritable(const QString& path);

} // namespace cantavel
