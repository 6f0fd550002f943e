#pragma once

// The library's listing for a tree view: the files a search found, each with its
// matching members beneath it, or (for duplicates) one row per sound that more than one
// found slot makes, with those members beneath it. Rows are built once per snapshot or
// search as plain numbers; every text is made only when the view asks for it, so that
// a library of ten thousand files lists at once.

#include "LibraryWorker.h"

#include <QAbstractItemModel>
#include <QString>
#include <QStringList>

#include <vector>

namespace cantavel {

class LibraryModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Column { NameColumn, TagsColumn, FavouriteColumn, SameAsColumn, ColumnCount };
    enum class Grouping { Files, Duplicates };

    // A row by what it shows, kept across a new snapshot: a file's path and one of its
    // members (0 to 6), or the file itself (-1).
    struct RowKey {
        QString path;
        int slot = -1;
        bool operator==(const RowKey&) const = default;
    };

    explicit LibraryModel(QObject* parent = nullptr);

    // The rows for `matches` of `snapshot`; nothing with no snapshot.
    void show(LibrarySnapshotPtr snapshot, const LibraryMatches& matches, Grouping grouping);
    const LibrarySnapshotPtr& snapshot() const { return snapshot_; }
    Grouping grouping() const { return grouping_; }

    // The snapshot's slot a row shows; -1 for a file or group row.
    int slotAt(const QModelIndex& index) const;
    // The snapshot's file a row belongs to; -1 for a group row.
    int fileAt(const QModelIndex& index) const;
    RowKey keyAt(const QModelIndex& index) const;
    // The row that shows `key` (column 0); invalid when none does now.
    QModelIndex indexOf(const RowKey& key) const;
    // The found members and the files listed, as the window counts them.
    int slotCount() const { return slotsListed_; }
    int fileCount() const { return filesListed_; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // An edited Tags cell is not stored here: it is handed on as tagsEdited, and the
    // next snapshot shows what the index kept.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // A slot row dragged: the slot's bytes and its text form, named for messages.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // The slot a drag of several selected rows carries when it is among them: the one
    // the drag began on (the view's current row). -1 for the first one.
    void setDragSlot(int slot) { dragSlot_ = slot; }
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

signals:
    void tagsEdited(int slot, const QStringList& tags);

private:
    // A top-level row: a file (its members listed beneath it) or a group of members alike.
    struct TopRow {
        int file = -1; // -1 for a group
        std::vector<int> members;
    };
    const TopRow* topRowOf(const QModelIndex& index) const;
    QVariant slotData(int slot, int column, int role) const;

    LibrarySnapshotPtr snapshot_;
    Grouping grouping_ = Grouping::Files;
    std::vector<TopRow> rows_;
    int filesListed_ = 0;
    int slotsListed_ = 0;
    int dragSlot_ = -1;
    // Where each of the snapshot's files and members is listed: a top row, and for a
    // slot its row beneath it; -1 for none.
    std::vector<int> rowOfFile_;
    std::vector<std::pair<int, int>> rowOfSlot_;
};

// Tags as typed: split at commas and white space, empty ones dropped, each once; a
// tag in double quotes may hold either.
QStringList splitTags(const QString& text);
// Tags to be edited: what splitTags() gives back the same.
QString joinTags(const QStringList& tags);

} // namespace cantavel
