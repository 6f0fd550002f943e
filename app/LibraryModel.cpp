#include "LibraryModel.h"

#include "ParameterValues.h"
#include "SlotTransfer.h"

#include <QMimeData>

#include <algorithm>
#include <climits>
#include <unordered_map>

namespace cantavel {

namespace {
// A child row's internal id is its parent's row + 1; a top-level row's is 0.
constexpr quintptr kTopLevel = 0;

const QString kStar = QStringLiteral("\u2605");
} // namespace

namespace {

bool separates(QChar c) {
    return c == u',' || c.isSpace();
}

} // namespace

QStringList splitTags(const QString& text) {
    QStringList tags;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && separates(text[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        if (text[i] == u'"') {
            // Up to a closing quote that ends the tag: a tag noted with a space or a
            // comma in it (as the command line may) comes back whole.
            qsizetype close = i + 1;
            while (close < n &&
                   !(text[close] == u'"' && (close + 1 == n || separates(text[close + 1])))) {
                ++close;
            }
            if (close < n && close > i + 1) {
                tags << text.mid(i + 1, close - i - 1);
                i = close + 1;
                continue;
            }
        }
        const qsizetype start = i;
        while (i < n && !separates(text[i])) {
            ++i;
        }
        tags << text.mid(start, i - start);
    }
    tags.removeDuplicates();
    return tags;
}

QString joinTags(const QStringList& tags) {
    QStringList shown;
    for (const QString& tag : tags) {
        shown << (std::any_of(tag.cbegin(), tag.cend(), separates)
                      ? QLatin1Char('"') + tag + QLatin1Char('"')
                      : tag);
    }
    return shown.join(QStringLiteral(", "));
}

LibraryModel::LibraryModel(QObject* parent) : QAbstractItemModel(parent) {}

void LibraryModel::show(LibrarySnapshotPtr snapshot, const LibraryMatches& matches,
                        Grouping grouping) {
    beginResetModel();
    dragSlot_ = -1; // the view's current row names it again
    snapshot_ = std::move(snapshot);
    grouping_ = grouping;
    rows_.clear();
    rowOfFile_.clear();
    rowOfSlot_.clear();
    filesListed_ = 0;
    slotsListed_ = 0;
    if (snapshot_) {
        const LibrarySnapshot& library = *snapshot_;
        if (grouping_ == Grouping::Files) {
            // The files with a slot found, and the other files found, in the
            // snapshot's order (both lists follow it).
            std::size_t other = 0;
            const auto otherFilesBefore = [&](int file) {
                for (; other < matches.otherFiles.size() && matches.otherFiles[other] < file;
                     ++other) {
                    rows_.push_back({matches.otherFiles[other], {}});
                }
            };
            for (const int s : matches.matched) {
                const int file = library.allSlots[static_cast<std::size_t>(s)].file;
                if (rows_.empty() || rows_.back().file != file) {
                    otherFilesBefore(file);
                    rows_.push_back({file, {}});
                }
                rows_.back().members.push_back(s);
            }
            otherFilesBefore(INT_MAX);
        } else {
            // One group per sound, in the order its first slot is listed; a sound
            // found once is no duplicate.
            std::unordered_map<quint64, std::size_t> groupOf;
            for (const int s : matches.matched) {
                const quint64 sound = library.allSlots[static_cast<std::size_t>(s)].sound;
                const auto [at, isNew] = groupOf.try_emplace(sound, rows_.size());
                if (isNew) {
                    rows_.push_back({-1, {}});
                }
                rows_[at->second].members.push_back(s);
            }
            std::erase_if(rows_, [](const TopRow& row) { return row.members.size() < 2; });
        }
        rowOfFile_.assign(library.files.size(), -1);
        rowOfSlot_.assign(library.allSlots.size(), {-1, -1});
        for (std::size_t top = 0; top < rows_.size(); ++top) {
            const TopRow& row = rows_[top];
            if (row.file >= 0) {
                rowOfFile_[static_cast<std::size_t>(row.file)] = static_cast<int>(top);
                ++filesListed_;
            }
            for (std::size_t child = 0; child < row.members.size(); ++child) {
                rowOfSlot_[static_cast<std::size_t>(row.members[child])] = {
                    static_cast<int>(top), static_cast<int>(child)};
            }
            slotsListed_ += static_cast<int>(row.members.size());
        }
    }
    endResetModel();
}

const LibraryModel::TopRow* LibraryModel::topRowOf(const QModelIndex& index) const {
    if (!index.isValid()) {
        return nullptr;
    }
    const std::size_t top = index.internalId() == kTopLevel
                                ? static_cast<std::size_t>(index.row())
                                : static_cast<std::size_t>(index.internalId() - 1);
    return top < rows_.size() ? &rows_[top] : nullptr;
}

int LibraryModel::slotAt(const QModelIndex& index) const {
    const TopRow* row = topRowOf(index);
    if (!row || index.internalId() == kTopLevel) {
        return -1;
    }
    const auto child = static_cast<std::size_t>(index.row());
    return child < row->members.size() ? row->members[child] : -1;
}

int LibraryModel::fileAt(const QModelIndex& index) const {
    const int slot = slotAt(index);
    if (slot >= 0) {
        return snapshot_->allSlots[static_cast<std::size_t>(slot)].file;
    }
    const TopRow* row = topRowOf(index);
    return row && index.internalId() == kTopLevel ? row->file : -1;
}

LibraryModel::RowKey LibraryModel::keyAt(const QModelIndex& index) const {
    const int file = fileAt(index);
    if (file < 0) {
        return {};
    }
    const int slot = slotAt(index);
    return {snapshot_->files[static_cast<std::size_t>(file)].path,
            slot >= 0 ? snapshot_->allSlots[static_cast<std::size_t>(slot)].slot : -1};
}

QModelIndex LibraryModel::indexOf(const RowKey& key) const {
    if (!snapshot_ || key.path.isEmpty()) {
        return {};
    }
    if (key.slot >= 0) {
        const int s = snapshot_->findSlot(key.path, key.slot);
        if (s < 0) {
            return {};
        }
        const auto [top, child] = rowOfSlot_[static_cast<std::size_t>(s)];
        return top < 0 ? QModelIndex() : index(child, 0, index(top, 0));
    }
    const int file = snapshot_->findFile(key.path);
    if (file < 0) {
        return {};
    }
    const int top = rowOfFile_[static_cast<std::size_t>(file)];
    return top < 0 ? QModelIndex() : index(top, 0);
}

QModelIndex LibraryModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount) {
        return {};
    }
    if (!parent.isValid()) {
        return static_cast<std::size_t>(row) < rows_.size() ? createIndex(row, column, kTopLevel)
                                                            : QModelIndex();
    }
    if (parent.internalId() != kTopLevel) {
        return {}; // members have no children
    }
    const TopRow* top = topRowOf(parent);
    if (!top || static_cast<std::size_t>(row) >= top->members.size()) {
        return {};
    }
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex LibraryModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kTopLevel) {
        return {};
    }
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kTopLevel);
}

int LibraryModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return static_cast<int>(rows_.size());
    }
    if (parent.column() != 0 || parent.internalId() != kTopLevel) {
        return 0;
    }
    const TopRow* top = topRowOf(parent);
    return top ? static_cast<int>(top->members.size()) : 0;
}

int LibraryModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

QVariant LibraryModel::data(const QModelIndex& index, int role) const {
    const TopRow* top = topRowOf(index);
    if (!top) {
        return {};
    }
    if (index.internalId() != kTopLevel) {
        const int slot = slotAt(index);
        return slot < 0 ? QVariant() : slotData(slot, index.column(), role);
    }
    if (index.column() != NameColumn ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole)) {
        return {};
    }
    if (top->file < 0) {
        QString text = QStringLiteral("%1 slots sound alike").arg(top->members.size());
        if (const QString summary = snapshot_->summary(top->members[0]); !summary.isEmpty()) {
            text += QStringLiteral(": ") + summary;
        }
        return text;
    }
    const LibraryFile& file = snapshot_->files[static_cast<std::size_t>(top->file)];
    if (role == Qt::ToolTipRole) {
        return file.path;
    }
    return file.preset ? file.name : QStringLiteral("%1 (not a preset)").arg(file.name);
}

QVariant LibraryModel::slotData(int slot, int column, int role) const {
    const LibrarySlot& s = snapshot_->allSlots[static_cast<std::size_t>(slot)];
    if (role == Qt::ToolTipRole) {
        // The whole name, which a narrow column cuts, and the note.
        QString tip =
            column == NameColumn ? slotData(slot, column, Qt::DisplayRole).toString() : QString();
        if (!s.note.isEmpty()) {
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + s.note;
        }
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    if (role == Qt::EditRole && column == TagsColumn) {
        return joinTags(s.tags);
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) {
        return {};
    }
    switch (column) {
    case NameColumn: {
        if (grouping_ == Grouping::Duplicates) {
            return snapshot_->slotName(slot);
        }
        const QString title = slotTitle(s.slot);
        const QString summary = snapshot_->summary(slot);
        return summary.isEmpty() ? title : title + QStringLiteral(": ") + summary;
    }
    case TagsColumn:
        return s.tags.join(QStringLiteral(", "));
    case FavouriteColumn:
        if (role == Qt::AccessibleTextRole) {
            return s.favourite ? QStringLiteral("favourite") : QString();
        }
        return s.favourite ? kStar : QString();
    case SameAsColumn:
        return s.sameAs < 0 ? QString()
                            : QStringLiteral("same as ") + snapshot_->slotName(s.sameAs);
    default:
        return {};
    }
}

QVariant LibraryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        switch (section) {
        case NameColumn:
            return QStringLiteral("Name");
        case TagsColumn:
            return QStringLiteral("Tags");
        case FavouriteColumn:
            return kStar;
        case SameAsColumn:
            return QStringLiteral("Same as");
        default:
            return {};
        }
    }
    if ((role == Qt::ToolTipRole || role == Qt::AccessibleTextRole) && section == FavouriteColumn) {
        return QStringLiteral("Favourite");
    }
    return {};
}

Qt::ItemFlags LibraryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (slotAt(index) >= 0) {
        flags |= Qt::ItemIsDragEnabled;
        if (index.column() == TagsColumn) {
            flags |= Qt::ItemIsEditable;
        }
    }
    if (index.internalId() == kTopLevel && !topRowOf(index)->members.empty()) {
        return flags;
    }
    return flags | Qt::ItemNeverHasChildren;
}

bool LibraryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const int slot = slotAt(index);
    if (slot < 0 || role != Qt::EditRole || index.column() != TagsColumn) {
        return false;
    }
    emit tagsEdited(slot, splitTags(value.toString()));
    return true;
}

QStringList LibraryModel::mimeTypes() const {
    return {QString::fromLatin1(kSlotMimeType), QStringLiteral("text/plain")};
}

QMimeData* LibraryModel::mimeData(const QModelIndexList& indexes) const {
    int carried = -1;
    for (const QModelIndex& index : indexes) {
        const int slot = slotAt(index);
        if (slot >= 0 && (carried < 0 || slot == dragSlot_)) {
            carried = slot;
        }
    }
    if (carried < 0) {
        return nullptr;
    }
    const LibrarySlot& s = snapshot_->allSlots[static_cast<std::size_t>(carried)];
    return slotMimeData(s.record(), s.slot, snapshot_->slotName(carried)).release();
}

} // namespace cantavel
