#include "LibraryWorker.h"

#include <QMetaType>

#include <utility>

namespace cantavel {

LibraryWorker::LibraryWorker(LibraryLocation location, QObject* parent)
    : QObject(parent), location_(std::move(location)) {
    qRegisterMetaType<LibrarySnapshotPtr>("cantavel::LibrarySnapshotPtr");
}

LibraryWorker::~LibraryWorker() = default;

bool LibraryWorker::ensureOpen() {
    if (index_) {
        return true;
    }
    auto index = std::make_unique<LibraryIndex>(location_.database);
    const LibraryIndex::Opened opened = index->open();
    if (!opened.movedTo.isEmpty()) {
        emit problem(tr("The library's index could not be read, so it was moved aside to %1 "
                        "and a new one is built from the library's folders. Its tags, "
                        "favourites and notes could not be read.")
                         .arg(opened.movedTo));
    }
    if (!opened.ok) {
        emit problem(tr("The library cannot be used: %1.").arg(opened.error));
        return false;
    }
    index_ = std::move(index);
    return true;
}

void LibraryWorker::start() {
    if (!ensureOpen()) {
        return;
    }
    publish(); // what the index knew, at once; the scan brings it up to date
    rescan();
}

void LibraryWorker::rescan() {
    if (!ensureOpen()) {
        return;
    }
    const LibraryFolders list = readLibraryFolders(location_.folderList);
    if (!list.error.isEmpty()) {
        emit problem(tr("The list of library folders cannot be read (%1); the library looks "
                        "in %2.")
                         .arg(list.error, list.folders.join(QStringLiteral(", "))));
    }
    if (stop_) {
        return; // the worker is being ended: no scan begins
    }
    emit scanning(true);
    const LibraryIndex::ScanReport report = index_->scan(
        list.folders, [this](int done, int total) { emit progress(done, total); }, &stop_);
    emit scanning(false);
    folders_ = list.folders;
    missing_ = report.missingFolders;
    if (!report.ok) {
        emit problem(tr("The library could not be brought up to date: %1.").arg(report.error));
        return;
    }
    if (!report.missingFolders.isEmpty()) {
        emit problem(tr("%1 cannot be read; what the library knew of it stays listed.")
                         .arg(report.missingFolders.join(QStringLiteral(", "))));
    } else if (!report.problems.isEmpty()) {
        emit problem(
            tr("%n file(s) could not be read, among them %1.", nullptr, int(report.problems.size()))
                .arg(report.problems.front()));
    }
    publish();
}

void LibraryWorker::lookAgain() {
    if (index_ && index_->dataVersion() != seenVersion_) {
        publish();
    }
}

void LibraryWorker::publish() {
    QString error;
    std::shared_ptr<LibrarySnapshot> snapshot = index_->snapshot(&error);
    if (!snapshot) {
        emit problem(tr("The library could not be read: %1.").arg(error));
        return;
    }
    snapshot->folders =
        folders_.isEmpty() ? readLibraryFolders(location_.folderList).folders : folders_;
    snapshot->missingFolders = missing_;
    seenVersion_ = index_->dataVersion();
    emit snapshotReady(std::move(snapshot));
}

void LibraryWorker::changed(const QString& error) {
    if (!error.isEmpty()) {
        emit problem(error[0].toUpper() + error.mid(1) + QLatin1Char('.'));
        return;
    }
    // The window queues a change for each slot of a selection: the snapshot follows
    // once the changes queued with this one are done, not after each of them.
    if (!publishQueued_) {
        publishQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                publishQueued_ = false;
                publish();
            },
            Qt::QueuedConnection);
    }
}

void LibraryWorker::addFolder(const QString& folder) {
    if (const QString error = addLibraryFolder(location_.folderList, folder); !error.isEmpty()) {
        changed(error);
        return;
    }
    rescan();
}

void LibraryWorker::removeFolder(const QString& folder) {
    if (const QString error = removeLibraryFolder(location_.folderList, folder); !error.isEmpty()) {
        changed(error);
        return;
    }
    rescan();
}

void LibraryWorker::changeTags(const QString& path, int slot, const QStringList& add,
                               const QStringList& remove) {
    if (ensureOpen()) {
        changed(index_->changeTags(path, slot, add, remove));
    }
}

void LibraryWorker::setFavourite(const QString& path, int slot, bool favourite) {
    if (ensureOpen()) {
        changed(index_->setFavourite(path, slot, favourite));
    }
}

void LibraryWorker::setNote(const QString& path, int slot, const QString& note) {
    if (ensureOpen()) {
        changed(index_->setNote(path, slot, note));
    }
}

LibraryThread::LibraryThread(LibraryLocation location)
    : worker_(new LibraryWorker(std::move(location))) {
    thread_.setObjectName(QStringLiteral("library"));
    worker_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

LibraryThread::~LibraryThread() {
    worker_->requestStop();
    thread_.quit();
    thread_.wait();
}

} // namespace cantavel
