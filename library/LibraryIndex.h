#pragma once

// The library's index: a SQLite database that remembers, for every file under the
// library's folders, its size, time and content, the values of each of its slots,
// and what the operator noted on them (tags, a favourite mark, a note). The files
// stay the truth and are only ever read: the index can be thrown away and built
// again from them, losing only the operator's notes.
//
// One LibraryIndex is one connection, for one thread. The editor's library window
// and cantavel-cfg may each hold one on the same database at once: the database
// runs in WAL mode, and a writer waits for another up to kBusyTimeoutMs.

#include "LibrarySnapshot.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace cantavel {

// Where the library keeps its index and its list of folders.
struct LibraryLocation {
    QString database;   // library.sqlite
    QString folderList; // library-folders.json

    // The user's application data folder (made when missing).
    static LibraryLocation standard();
    // A folder of one's own (tests, benchmarks).
    static LibraryLocation in(const QString& dir);
};

// The library's folders, kept apart from the index so that a broken index can be
// built again from them. Before any folder was added or removed, the library is
// "Cantavel" in the user's documents folder, made on first use.
struct LibraryFolders {
    QStringList folders;
    QString error; // the list could not be read; `folders` is then the default
};
QString defaultLibraryFolder();
LibraryFolders readLibraryFolders(const QString& listPath);
// Adds or removes a folder (made absolute); an empty string when done, otherwise why
// not. Adding one that is listed, or removing one that is not, says so.
QString addLibraryFolder(const QString& listPath, const QString& folder);
QString removeLibraryFolder(const QString& listPath, const QString& folder);

inline constexpr int kBusyTimeoutMs = 3000;
// A scan looks at no more files than this, however many the folders hold.
inline constexpr int kMaxLibraryFiles = 1'000'000;

class LibraryIndex {
public:
    // A writer that finds the database locked waits up to `busyTimeoutMs`.
    explicit LibraryIndex(const QString& databasePath, int busyTimeoutMs = kBusyTimeoutMs);
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex&) = delete;
    LibraryIndex& operator=(const LibraryIndex&) = delete;

    struct Opened {
        bool ok = false;
        QString error;   // why the index cannot be used at all
        QString movedTo; // a database that could not be read was moved here
    };
    // Opens the index, making it when there is none. A database that is broken or
    // is not ours is moved aside (never deleted) and a new one made in its place.
    Opened open();

    struct ScanReport {
        bool ok = true;
        QString error;   // the index could not be written (locked, full disk)
        int files = 0;   // found under the folders
        int read = 0;    // read because they were new or had changed
        int presets = 0; // of those found
        int moved = 0;   // found under another name, with their notes
        int removed = 0; // gone since the last scan
        QStringList missingFolders;
        QStringList problems; // files that could not be read, one line each
    };
    // done of total files looked at so far; total is 0 while the folders are walked.
    using Progress = std::function<void(int done, int total)>;
    // Brings the index in line with the files under `folders`: only files whose size
    // or time changed are read. Files under a folder that cannot be read, or behind a
    // link to what is not there now, keep their entries. Stops early (and consistently) when `stop`
    // becomes true.
    ScanReport scan(const QStringList& folders, const Progress& progress = {},
                    const std::atomic<bool>* stop = nullptr);

    // Everything the index holds; null (and `error` says why) when it cannot be read.
    std::unique_ptr<LibrarySnapshot> snapshot(QString* error = nullptr);

    // The operator's notes on a slot of a file in the index (by its path as listed,
    // or any path to the same file). An empty string when done, otherwise why not.
    QString changeTags(const QString& path, int slot, const QStringList& add,
                       const QStringList& remove);
    QString setFavourite(const QString& path, int slot, bool favourite);
    QString setNote(const QString& path, int slot, const QString& note);

    // A number that changes whenever another connection changed the database.
    qint64 dataVersion();

    // Tests scan with fewer files than kMaxLibraryFiles, and take times older than
    // `recentMs` (2000 otherwise) as settled; nothing else changes these.
    void setScanLimitsForTesting(int fileLimit, int recentMs);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace cantavel
