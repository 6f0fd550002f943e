#include "LibraryCommand.h"

#include "LibraryIndex.h"
#include "OneLine.h"
#include "ParameterValues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace cantavel {

namespace {

constexpr int kFailure = 1;

void out(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
}

// The index, open; null when it cannot be (the failure was said). A broken one is
// moved aside and said on standard error, and the command goes on.
std::unique_ptr<LibraryIndex> openIndex(const LibraryLocation& location,
                                        const LibraryCommandIo& io) {
    auto index = std::make_unique<LibraryIndex>(location.database);
    const LibraryIndex::Opened opened = index->open();
    if (!opened.movedTo.isEmpty()) {
        std::fprintf(stderr,
                     "cantavel-cfg: the library's index could not be read; it was moved aside "
                     "to %s and a new one made. Its tags, favourites and notes could not be "
                     "read.\n",
                     oneLine(opened.movedTo).toLocal8Bit().constData());
    }
    if (!opened.ok) {
        io.fail(opened.error, kFailure);
        return nullptr;
    }
    return index;
}

int scan(const LibraryLocation& location, const LibraryCommandIo& io) {
    const LibraryFolders list = readLibraryFolders(location.folderList);
    if (!list.error.isEmpty()) {
        return io.fail(list.error, kFailure);
    }
    const auto index = openIndex(location, io);
    if (!index) {
        return kFailure;
    }
    const LibraryIndex::ScanReport report = index->scan(list.folders);
    for (const QString& folder : report.missingFolders) {
        std::fprintf(stderr, "cantavel-cfg: %s cannot be read; its entries stay as they were\n",
                     oneLine(folder).toLocal8Bit().constData());
    }
    for (const QString& problem : report.problems) {
        std::fprintf(stderr, "cantavel-cfg: %s\n", oneLine(problem).toLocal8Bit().constData());
    }
    if (!report.ok) {
        return io.fail(report.error, kFailure);
    }
    out(QStringLiteral("%1 files, %2 presets; %3 read, %4 moved, %5 removed")
            .arg(report.files)
            .arg(report.presets)
            .arg(report.read)
            .arg(report.moved)
            .arg(report.removed));
    return 0;
}

QJsonObject slotJson(const LibrarySnapshot& snapshot, int index) {
    const LibrarySlot& s = snapshot.allSlots[std::size_t(index)];
    const LibraryFile& f = snapshot.files[std::size_t(s.file)];
    const ConfigRecord record = s.record();
    QJsonObject values;
    for (const Parameter* p : slotParameters(s.slot)) {
        const QString text = shownText(record, s.slot, *p);
        values.insert(QLatin1String(p->key),
                      p->kind == ControlKind::List
                          ? (text.isEmpty() ? QJsonValue() : QJsonValue(text))
                          : QJsonValue(shownValue(record, s.slot, *p)));
    }
    QJsonObject o{{QStringLiteral("file"), f.path},
                  {QStringLiteral("name"), f.name},
                  {QStringLiteral("slot"), slotKey(s.slot)},
                  {QStringLiteral("title"), slotTitle(s.slot)},
                  {QStringLiteral("favourite"), s.favourite},
                  {QStringLiteral("tags"), QJsonArray::fromStringList(s.tags)},
                  {QStringLiteral("note"), s.note},
                  {QStringLiteral("values"), values}};
    if (s.sameAs >= 0) {
        const LibrarySlot& same = snapshot.allSlots[std::size_t(s.sameAs)];
        o.insert(QStringLiteral("sameAs"),
                 QJsonObject{{QStringLiteral("file"), snapshot.files[std::size_t(same.file)].path},
                             {QStringLiteral("slot"), slotKey(same.slot)}});
    }
    return o;
}

int search(const LibraryLocation& location, const QStringList& words, bool json,
           const LibraryCommandIo& io) {
    const LibraryQuery query = parseLibraryQuery(words.join(QLatin1Char(' ')));
    if (!query.ok()) {
        return io.usage(QStringLiteral("search: %1").arg(query.error));
    }
    const auto index = openIndex(location, io);
    if (!index) {
        return kFailure;
    }
    QString why;
    const std::unique_ptr<LibrarySnapshot> snapshot = index->snapshot(&why);
    if (!snapshot) {
        return io.fail(why, kFailure);
    }
    const LibraryMatches found = snapshot->search(query);
    if (json) {
        QJsonArray all;
        for (const int i : found.matched) {
            all.append(slotJson(*snapshot, i));
        }
        std::fputs(QJsonDocument(all).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    for (const int i : found.matched) {
        const LibrarySlot& s = snapshot->allSlots[std::size_t(i)];
        const LibraryFile& f = snapshot->files[std::size_t(s.file)];
        QString line = QStringLiteral("%1\t%2").arg(oneLine(f.path), slotKey(s.slot));
        if (s.favourite) {
            line += QStringLiteral("\t*");
        }
        if (!s.tags.isEmpty()) {
            line += QStringLiteral("\t[%1]").arg(oneLine(s.tags.join(QStringLiteral(", "))));
        }
        out(line);
    }
    for (const int f : found.otherFiles) {
        out(QStringLiteral("%1\t(not a preset)")
                .arg(oneLine(snapshot->files[std::size_t(f)].path)));
    }
    return 0;
}

int tag(const LibraryLocation& location, const QStringList& args, bool add,
        const LibraryCommandIo& io) {
    const QString verb = add ? QStringLiteral("tag") : QStringLiteral("untag");
    if (args.size() < 3) {
        return io.usage(QStringLiteral("%1 wants FILE SLOT TAG...").arg(verb));
    }
    const int slot = slotFromName(args[1]);
    if (slot < 0) {
        return io.usage(QStringLiteral("no slot '%1': default, 1 to 4, mode-a or mode-b (or 0 "
                                       "to 6)")
                            .arg(args[1]));
    }
    const auto index = openIndex(location, io);
    if (!index) {
        return kFailure;
    }
    const QStringList tags = args.mid(2);
    const QString error = add ? index->changeTags(args[0], slot, tags, {})
                              : index->changeTags(args[0], slot, {}, tags);
    return error.isEmpty() ? 0 : io.fail(error, kFailure);
}

int folders(const LibraryLocation& location, const LibraryCommandIo& io) {
    const LibraryFolders list = readLibraryFolders(location.folderList);
    if (!list.error.isEmpty()) {
        return io.fail(list.error, kFailure);
    }
    for (const QString& folder : list.folders) {
        out(oneLine(folder));
    }
    return 0;
}

} // namespace

int runLibraryCommand(const QStringList& arguments, bool json, const LibraryCommandIo& io) {
    const LibraryLocation location = LibraryLocation::standard();
    const QString what = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    const auto exactly = [&](int count, const char* form) {
        return rest.size() == count
                   ? 0
                   : io.usage(QStringLiteral("%1 wants %2").arg(what, QLatin1String(form)));
    };
    if (json && what != QLatin1String("search")) {
        return io.usage(QStringLiteral("--json is for search"));
    }
    if (what == QLatin1String("add") || what == QLatin1String("remove")) {
        if (const int status = exactly(1, "one folder")) {
            return status;
        }
        const QString error = what == QLatin1String("add")
                                  ? addLibraryFolder(location.folderList, rest[0])
                                  : removeLibraryFolder(location.folderList, rest[0]);
        return error.isEmpty() ? 0 : io.fail(error, kFailure);
    }
    if (what == QLatin1String("folders")) {
        if (const int status = exactly(0, "no arguments")) {
            return status;
        }
        return folders(location, io);
    }
    if (what == QLatin1String("scan")) {
        if (const int status = exactly(0, "no arguments")) {
            return status;
        }
        return scan(location, io);
    }
    if (what == QLatin1String("search")) {
        return search(location, rest, json, io);
    }
    if (what == QLatin1String("tag") || what == QLatin1String("untag")) {
        return tag(location, rest, what == QLatin1String("tag"), io);
    }
    return io.usage(QStringLiteral("no library command '%1': add, remove, folders, scan, "
                                   "search, tag or untag")
                        .arg(what));
}

} // namespace cantavel
