#pragma once

// The library's work off the window's thread: opening the index, scanning the
// folders, and writing the operator's notes. Each result comes back as a signal:
// a fresh snapshot to search, progress while a scan runs, or one message when
// something went wrong (the window keeps what it showed before).

#include "LibraryIndex.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>

namespace cantavel {

using LibrarySnapshotPtr = std::shared_ptr<const LibrarySnapshot>;

class LibraryWorker : public QObject {
    Q_OBJECT

public:
    explicit LibraryWorker(LibraryLocation location, QObject* parent = nullptr);
    ~LibraryWorker() override;

    // Ends a scan under way at its next file, and keeps any other from beginning:
    // the worker is about to end. Safe from any thread.
    void requestStop() { stop_ = true; }

public slots:
    // Opens the index (moving a broken one aside), then scans.
    void start();
    void rescan();
    // A new snapshot when another program changed the index since the last one.
    void lookAgain();
    void addFolder(const QString& folder);
    void removeFolder(const QString& folder);
    void changeTags(const QString& path, int slot, const QStringList& add,
                    const QStringList& remove);
    void setFavourite(const QString& path, int slot, bool favourite);
    void setNote(const QString& path, int slot, const QString& note);

signals:
    void scanning(bool running);
    void progress(int done, int total);
    void snapshotReady(cantavel::LibrarySnapshotPtr snapshot);
    // One message for the operator; what was shown before stays.
    void problem(const QString& text);

private:
    bool ensureOpen();
    void publish();
    // After a change of the operator's: the message, or (once the changes queued
    // meanwhile are done) the changed library.
    void changed(const QString& error);

    LibraryLocation location_;
    std::unique_ptr<LibraryIndex> index_;
    // Set by requestStop() from the window's thread, read by the scan on this one.
    std::atomic<bool> stop_{false};
    qint64 seenVersion_ = -1;
    bool publishQueued_ = false; // a snapshot follows the changes queued so far
    QStringList folders_;        // as the last scan found them
    QStringList missing_;
};

// A worker on a thread of its own, for as long as this lives: calls to the worker's
// slots go through queued invocations (QMetaObject::invokeMethod).
class LibraryThread {
public:
    explicit LibraryThread(LibraryLocation location);
    ~LibraryThread();
    LibraryWorker& worker() { return *worker_; }

private:
    QThread thread_;
    LibraryWorker* worker_; // deleted on its thread when the thread ends
};

} // namespace cantavel

Q_DECLARE_METATYPE(cantavel::LibrarySnapshotPtr)
