#include "LibraryIndex.h"

#include "InputFile.h"
#include "ParameterValues.h"
#include "SafeSave.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_map>
#include <utility>

namespace cantavel {

// ---------------------------------------------------------------------------------
// Where the library lives

LibraryLocation LibraryLocation::standard() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return in(dir);
}

LibraryLocation LibraryLocation::in(const QString& dir) {
    return {QDir(dir).filePath(QStringLiteral("library.sqlite")),
            QDir(dir).filePath(QStringLiteral("library-folders.json"))};
}

QString defaultLibraryFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Cantavel"));
}

namespace {

constexpr qint64 kMaxFolderListSize = 1 << 20;
constexpr int kMaxFolders = 1000;

QString absoluteFolder(const QString& folder) {
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

// The list as it is on disk; `exists` false when nothing was ever added or removed.
LibraryFolders readFolderFile(const QString& listPath, bool& exists) {
    LibraryFolders result;
    QFile file(listPath);
    exists = file.exists();
    if (!exists) {
        return result;
    }
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFolderListSize) {
        result.error =
            QStringLiteral("%1 cannot be read: %2")
                .arg(listPath, file.size() > kMaxFolderListSize ? QStringLiteral("it is too large")
                                                                : file.errorString());
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(file.read(kMaxFolderListSize), &parseError);
    if (!json.isArray()) {
        result.error = QStringLiteral("%1 is not a list of folders").arg(listPath);
        return result;
    }
    for (const QJsonValue& v : json.array()) {
        if (v.isString() && !v.toString().isEmpty() && result.folders.size() < kMaxFolders &&
            !result.folders.contains(v.toString())) {
            result.folders << v.toString();
        }
    }
    return result;
}

QString writeFolderFile(const QString& listPath, const QStringList& folders) {
    const QByteArray data =
        QJsonDocument(QJsonArray::fromStringList(folders)).toJson(QJsonDocument::Indented);
    const FileResult saved = saveFileSafely(listPath, data);
    return saved ? QString()
                 : QStringLiteral("%1 could not be written: %2").arg(listPath, saved.reason);
}

// Adding and removing hold a lock, so that two programs changing the list at once
// do not lose each other's change.
QString changeFolders(const QString& listPath, const QString& folder, bool add) {
    QDir().mkpath(QFileInfo(listPath).absolutePath());
    QLockFile lock(listPath + QStringLiteral(".lock"));
    if (!lock.tryLock(kBusyTimeoutMs)) {
        return QStringLiteral("the list of library folders is in use by another program");
    }
    bool exists = false;
    LibraryFolders list = readFolderFile(listPath, exists);
    if (!list.error.isEmpty()) {
        return list.error;
    }
    if (!exists) {
        list.folders = {defaultLibraryFolder()};
    }
    const QString dir = absoluteFolder(folder);
    if (add) {
        if (list.folders.contains(dir)) {
            return QStringLiteral("%1 is in the library already").arg(dir);
        }
        if (!QFileInfo(dir).isDir()) {
            return QStringLiteral("%1 is not a folder").arg(dir);
        }
        if (list.folders.size() >= kMaxFolders) {
            return QStringLiteral("the library has %1 folders, as many as it takes")
                .arg(kMaxFolders);
        }
        list.folders << dir;
    } else if (list.folders.removeAll(dir) == 0) {
        return QStringLiteral("%1 is not a library folder").arg(dir);
    }
    return writeFolderFile(listPath, list.folders);
}

} // namespace

LibraryFolders readLibraryFolders(const QString& listPath) {
    bool exists = false;
    LibraryFolders list = readFolderFile(listPath, exists);
    if (!exists || !list.error.isEmpty()) {
        list.folders = {defaultLibraryFolder()};
    }
    if (list.folders.contains(defaultLibraryFolder())) {
        QDir().mkpath(defaultLibraryFolder()); // made on first use
    }
    return list;
}

QString addLibraryFolder(const QString& listPath, const QString& folder) {
    return changeFolders(listPath, folder, true);
}

QString removeLibraryFolder(const QString& listPath, const QString& folder) {
    return changeFolders(listPath, folder, false);
}

// ---------------------------------------------------------------------------------
// The database

namespace {

constexpr int kSchemaVersion = 1;
constexpr qint64 kApplicationId = 0x43564C42; // marks the database as ours
constexpr int kBatchFiles = 500;              // files written per transaction
constexpr int kMaxDepth = 64;                 // folders within folders
constexpr int kMaxProblems = 200;             // listed; the rest are counted
constexpr qsizetype kMaxTagLength = 100;
constexpr int kMaxTagsPerSlot = 100;
constexpr qsizetype kMaxNoteLength = 10000;
constexpr qint64 kRacyMs = 2000;

QAtomicInt connections;

QString quoted(const char* identifier) {
    return QStringLiteral("\"%1\"").arg(QLatin1String(identifier));
}

QString createStatements() {
    QString values;
    for (const Parameter& p : parameterTable()) {
        values += QStringLiteral("  %1 INTEGER,\n").arg(quoted(p.key));
    }
    return QStringLiteral(
               "CREATE TABLE files(\n"
               "  id INTEGER PRIMARY KEY,\n"
               "  path TEXT NOT NULL UNIQUE,\n"
               "  folder TEXT NOT NULL,\n"
               "  size INTEGER NOT NULL,\n"
               "  modified INTEGER NOT NULL, -- ns since the epoch\n"
               "  changed INTEGER NOT NULL, -- of the status, ns since the epoch\n"
               "  hash BLOB, -- SHA-1 of a preset's content\n"
               "  preset INTEGER NOT NULL);\n"
               "CREATE INDEX files_by_hash ON files(hash);\n"
               "CREATE TABLE slots(\n"
               "  file INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE,\n"
               "  slot INTEGER NOT NULL,\n"
               "  bytes BLOB NOT NULL, -- the effect preset's 17 bytes, the mode record's 25\n"
               "  hash BLOB NOT NULL,\n"
               "%1"
               "  PRIMARY KEY(file, slot)) WITHOUT ROWID;\n"
               "CREATE TABLE notes(\n"
               "  file INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE,\n"
               "  slot INTEGER NOT NULL,\n"
               "  favourite INTEGER NOT NULL DEFAULT 0,\n"
               "  note TEXT NOT NULL DEFAULT '',\n"
               "  PRIMARY KEY(file, slot)) WITHOUT ROWID;\n"
               "CREATE TABLE tags(\n"
               "  file INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE,\n"
               "  slot INTEGER NOT NULL,\n"
               "  tag TEXT NOT NULL COLLATE NOCASE,\n"
               "  PRIMARY KEY(file, slot, tag)) WITHOUT ROWID;\n"
               "PRAGMA application_id = %2;\n"
               "PRAGMA user_version = %3")
        .arg(values)
        .arg(kApplicationId)
        .arg(kSchemaVersion);
}

// SQLite's result codes, as the driver reports them.
bool isBrokenCode(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("11") || code == QLatin1String("26"); // CORRUPT, NOTADB
}

QString indexError(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    if (code == QLatin1String("5") || code == QLatin1String("6")) {
        return QStringLiteral("the library's index is in use by another program (%1)")
            .arg(e.databaseText());
    }
    return QStringLiteral("the library's index could not be written: %1").arg(e.databaseText());
}

// What tells a file changed without reading it: its size and times. The status
// change time counts too: `cp -p`, `rsync -t` and `touch -r` set a file's
// modification time back, but not that one.
struct Stat {
    qint64 size = 0;
    qint64 modified = 0; // ns
    qint64 changed = 0;  // ns, of the status

    bool operator==(const Stat&) const = default;
};

qint64 nanoseconds(const struct stat& st) {
    return qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

Stat statOf(const struct stat& st) {
    return {qint64(st.st_size), nanoseconds(st),
            qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

struct Found {
    QString path;
    QString folder;
    QByteArray native;
    Stat stat;
};

class Walk {
public:
    Walk(std::vector<Found>& found, QStringList& problems, const std::atomic<bool>* stop, int limit)
        : found_(found), problems_(problems), stop_(stop), limit_(limit) {}

    // False when the folder itself cannot be read.
    bool folder(const QString& folder) {
        const QByteArray native = QFile::encodeName(folder);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return false;
        }
        // A folder walked already (the same one by a link, or within another library
        // folder) has its files listed once, under the name it was first found by.
        if (visited_.count({st.st_dev, st.st_ino})) {
            return true;
        }
        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        visited_.insert({st.st_dev, st.st_ino});
        walk(fd, native, folder, 0);
        return true;
    }
    bool full() const { return full_; }
    // Whether `path` is, or is under, an entry that was there but could not be looked
    // at: what the index knew of it stays.
    bool unread(const QString& path) const {
        if (unread_.isEmpty()) {
            return false;
        }
        for (qsizetype end = path.size(); end > 0;
             end = path.lastIndexOf(QLatin1Char('/'), end - 1)) {
            if (unread_.contains(path.left(end))) {
                return true;
            }
        }
        return false;
    }

private:
    void problem(const QString& text) {
        if (problems_.size() < kMaxProblems) {
            problems_ << text;
        }
    }

    // A name that is not valid UTF-8 does not come back from its text: the file could
    // not be opened by it, and two such names could come out as one. Said, not listed.
    bool givenBack(const QByteArray& native) {
        if (QFile::encodeName(QFile::decodeName(native)) == native) {
            return true;
        }
        problem(QStringLiteral("%1: a name that is not valid UTF-8 cannot be opened: rename it")
                    .arg(QFile::decodeName(native)));
        return false;
    }

    // Takes `fd`, which it closes.
    void walk(int fd, const QByteArray& dirNative, const QString& folder, int depth) {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        while (const dirent* entry = ::readdir(dir)) {
            if ((stop_ && *stop_) || full_) {
                break;
            }
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                continue;
            }
            const QByteArray native = dirNative + '/' + name;
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, 0) != 0) {
                const int error = errno;
                // There, but not to be looked at; or a link to what is not there now (a
                // drive, a share): what the index knew under it is away, not gone.
                struct stat link {};
                if (error != ENOENT ||
                    (::fstatat(::dirfd(dir), name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISLNK(link.st_mode))) {
                    unread_.insert(QFile::decodeName(native));
                }
                problem(
                    QStringLiteral("%1: %2").arg(QFile::decodeName(native), systemReason(error)));
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                if (!givenBack(native)) {
                    continue;
                }
                // A folder seen before (through a link back up) is not walked again.
                if (depth < kMaxDepth && visited_.insert({st.st_dev, st.st_ino}).second) {
                    const int sub =
                        ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                    if (sub >= 0) {
                        walk(sub, native, folder, depth + 1);
                    } else {
                        unread_.insert(QFile::decodeName(native));
                        problem(QStringLiteral("%1: %2").arg(QFile::decodeName(native),
                                                             systemReason(errno)));
                    }
                }
                continue;
            }
            const qsizetype length = qsizetype(std::strlen(name));
            if (!S_ISREG(st.st_mode) || length < 4 ||
                ::strcasecmp(name + length - 4, ".cfg") != 0) {
                continue;
            }
            if (!givenBack(native)) {
                continue;
            }
            if (found_.size() >= std::size_t(limit_)) {
                full_ = true;
                problem(
                    QStringLiteral("more than %1 files: the rest were not looked at").arg(limit_));
                break;
            }
            found_.push_back({QFile::decodeName(native), folder, native, statOf(st)});
        }
        ::closedir(dir);
    }

    std::vector<Found>& found_;
    QStringList& problems_;
    const std::atomic<bool>* stop_;
    int limit_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    QSet<QString> unread_;
    bool full_ = false;
};

struct Content {
    QString problem; // empty when read
    Stat stat;
    bool preset = false;
    QByteArray bytes; // a preset's 294 bytes
};

// A file as it is now: read only when its length makes it a preset, and only if it
// stays the same while it is read.
Content readContent(const QByteArray& native) {
    Content c;
    // A device put in the file's place since the folder was walked is never opened
    // (opening a serial port raises its lines).
    InputFile file(QFile::decodeName(native));
    struct stat before {};
    struct stat after {};
    if (!file || ::fstat(file.fd(), &before) != 0) {
        c.problem = file ? systemReason(errno) : file.result().reason;
        return c;
    }
    c.stat = statOf(before);
    c.preset = before.st_size == qint64(kConfigImageSize);
    if (c.preset) {
        if (const FileResult read = file.read(kConfigImageSize + 1, c.bytes); !read) {
            c.problem = read.reason;
        } else if (c.bytes.size() != qsizetype(kConfigImageSize) ||
                   ::fstat(file.fd(), &after) != 0 || !(statOf(after) == statOf(before))) {
            c.problem = QStringLiteral("it changed while it was read");
        }
    }
    return c;
}

QByteArray sha1(QByteArrayView data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1);
}

} // namespace

struct LibraryIndex::Private {
    QString path;
    QString connection;
    int busyTimeoutMs = kBusyTimeoutMs;
    int fileLimit = kMaxLibraryFiles;
    qint64 racyMs = kRacyMs;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }

    // Runs statements separated by ';' (none of ours holds one in a string).
    QSqlError run(const QString& statements) {
        QSqlQuery q(db());
        for (const QString& s : statements.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (s.trimmed().isEmpty()) {
                continue;
            }
            if (!q.exec(s)) {
                return q.lastError();
            }
        }
        return {};
    }

    enum class State { Ours, Broken, Unusable };
    State connect(QString& why);
    QString moveAside();
};

LibraryIndex::LibraryIndex(const QString& databasePath, int busyTimeoutMs)
    : d_(std::make_unique<Private>()) {
    d_->path = databasePath;
    d_->busyTimeoutMs = busyTimeoutMs;
    d_->connection = QStringLiteral("cantavel-library-%1").arg(connections.fetchAndAddRelaxed(1));
}

LibraryIndex::~LibraryIndex() {
    if (QSqlDatabase::contains(d_->connection)) {
        d_->db().close();
        QSqlDatabase::removeDatabase(d_->connection);
    }
}

LibraryIndex::Private::State LibraryIndex::Private::connect(QString& why) {
    // The operator's notes are theirs: a new index is readable by its owner only, and
    // SQLite gives its journal files the same mode.
    const QByteArray name = QFile::encodeName(path);
    if (const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        fd >= 0) {
        ::close(fd);
    }
    {
        QSqlDatabase database =
            QSqlDatabase::contains(connection)
                ? QSqlDatabase::database(connection, false)
                : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(path);
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (!database.open()) {
            why = database.lastError().databaseText();
            return State::Unusable;
        }
    }
    QSqlQuery q(db());
    const auto scalar = [&](const QString& statement, QVariant& value) {
        if (!q.exec(statement) || !q.next()) {
            return false;
        }
        value = q.value(0);
        q.finish(); // an open statement would hold a read transaction
        return true;
    };
    QVariant applicationId;
    QVariant version;
    QVariant tables;
    if (!scalar(QStringLiteral("PRAGMA application_id"), applicationId) ||
        !scalar(QStringLiteral("PRAGMA user_version"), version) ||
        !scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"), tables)) {
        why = q.lastError().databaseText();
        return isBrokenCode(q.lastError()) ? State::Broken : State::Unusable;
    }
    if (tables.toInt() == 0 && applicationId.toLongLong() == 0) {
        if (const QSqlError e = run(QStringLiteral("PRAGMA journal_mode=WAL")); e.isValid()) {
            why = e.databaseText();
            return State::Unusable;
        }
        db().transaction();
        if (const QSqlError e = run(createStatements()); e.isValid()) {
            db().rollback();
            why = e.databaseText();
            return State::Unusable;
        }
        if (!db().commit()) {
            why = db().lastError().databaseText();
            return State::Unusable;
        }
    } else if (applicationId.toLongLong() == kApplicationId && version.toInt() > kSchemaVersion) {
        // A later editor's index: its notes are not this version's to move aside.
        why = QStringLiteral("it was made by a later version of Cantavel; use that version, or "
                             "move the index aside to have this one build its own");
        return State::Unusable;
    } else if (applicationId.toLongLong() != kApplicationId || version.toInt() != kSchemaVersion) {
        why = QStringLiteral("it is not this version's library index");
        return State::Broken;
    } else {
        QVariant check;
        if (!scalar(QStringLiteral("PRAGMA quick_check"), check) ||
            check.toString() != QLatin1String("ok")) {
            why = check.toString().isEmpty() ? q.lastError().databaseText() : check.toString();
            return isBrokenCode(q.lastError()) || !check.toString().isEmpty() ? State::Broken
                                                                              : State::Unusable;
        }
    }
    // WAL lets a reader go on while another program writes; NORMAL keeps every
    // commit whole (an index lost at a power cut is built again from the files).
    if (const QSqlError e = run(QStringLiteral("PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;"
                                               "PRAGMA foreign_keys=ON"));
        e.isValid()) {
        why = e.databaseText();
        return isBrokenCode(e) ? State::Broken : State::Unusable;
    }
    return State::Ours;
}

// The database and its journal go aside under one date; nothing is deleted.
QString LibraryIndex::Private::moveAside() {
    db().close();
    QString target = path + QStringLiteral(".broken-") +
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    for (int n = 2; QFileInfo::exists(target); ++n) {
        target = target.section(QLatin1Char('~'), 0, 0) + QStringLiteral("~%1").arg(n);
    }
    if (!QFile::rename(path, target)) {
        return {};
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + QLatin1String(suffix))) {
            QFile::rename(path + QLatin1String(suffix), target + QLatin1String(suffix));
        }
    }
    return target;
}

LibraryIndex::Opened LibraryIndex::open() {
    Opened opened;
    QDir().mkpath(QFileInfo(d_->path).absolutePath());
    QString why;
    Private::State state = d_->connect(why);
    if (state == Private::State::Broken) {
        opened.movedTo = d_->moveAside();
        if (opened.movedTo.isEmpty()) {
            opened.error = QStringLiteral("the library's index %1 cannot be read (%2) nor moved "
                                          "aside")
                               .arg(d_->path, why);
            return opened;
        }
        state = d_->connect(why);
    }
    if (state != Private::State::Ours) {
        opened.error =
            QStringLiteral("the library's index %1 cannot be used: %2").arg(d_->path, why);
        return opened;
    }
    opened.ok = true;
    return opened;
}

void LibraryIndex::setScanLimitsForTesting(int fileLimit, int recentMs) {
    d_->fileLimit = fileLimit;
    d_->racyMs = recentMs;
}

qint64 LibraryIndex::dataVersion() {
    QSqlQuery q(d_->db());
    return q.exec(QStringLiteral("PRAGMA data_version")) && q.next() ? q.value(0).toLongLong() : -1;
}

// ---------------------------------------------------------------------------------
// Scanning

namespace {

struct Known {
    qint64 id = 0;
    QString folder;
    Stat stat;
    QByteArray hash;
};

// The statements a scan writes with, prepared once.
struct Writer {
    QSqlQuery insertFile;
    QSqlQuery updateFile;
    QSqlQuery moveFile;
    QSqlQuery deleteSlots;
    QSqlQuery insertSlot;
    QSqlQuery deleteFile;

    explicit Writer(const QSqlDatabase& db)
        : insertFile(db), updateFile(db), moveFile(db), deleteSlots(db), insertSlot(db),
          deleteFile(db) {
        // Each binds the file's path or folder, then its size and times (bindStat).
        insertFile.prepare(QStringLiteral("INSERT INTO files(path, folder, size, modified, "
                                          "changed, hash, preset) VALUES(?, ?, ?, ?, ?, ?, ?)"));
        updateFile.prepare(QStringLiteral("UPDATE files SET folder=?, size=?, modified=?, "
                                          "changed=?, hash=?, preset=? WHERE id=?"));
        moveFile.prepare(QStringLiteral("UPDATE files SET path=?, folder=?, size=?, modified=?, "
                                        "changed=? WHERE id=?"));
        deleteSlots.prepare(QStringLiteral("DELETE FROM slots WHERE file=?"));
        QString columns;
        QString marks;
        for (const Parameter& p : parameterTable()) {
            columns += QLatin1Char(',') + quoted(p.key);
            marks += QStringLiteral(",?");
        }
        insertSlot.prepare(QStringLiteral("INSERT INTO slots(file, slot, bytes, hash%1) "
                                          "VALUES(?, ?, ?, ?%2)")
                               .arg(columns, marks));
        deleteFile.prepare(QStringLiteral("DELETE FROM files WHERE id=?"));
    }

    bool slotsOf(qint64 file, const QByteArray& bytes) {
        ConfigRecord record{};
        std::memcpy(record.image().data(), bytes.constData(), kConfigImageSize);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            QByteArray slotBytes(reinterpret_cast<const char*>(&record.preset(slot)),
                                 kEffectPresetSize);
            slotBytes.append(reinterpret_cast<const char*>(&record.mode(slot)), kModeRecordSize);
            insertSlot.bindValue(0, file);
            insertSlot.bindValue(1, slot);
            insertSlot.bindValue(2, slotBytes);
            insertSlot.bindValue(3, sha1(slotBytes));
            const auto shown = shownValues(record, slot);
            for (std::size_t i = 0; i < shown.size(); ++i) {
                insertSlot.bindValue(int(4 + i),
                                     shown[i] == kNotShown ? QVariant() : QVariant(int(shown[i])));
            }
            if (!insertSlot.exec()) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

LibraryIndex::ScanReport LibraryIndex::scan(const QStringList& folders, const Progress& progress,
                                            const std::atomic<bool>* stop) {
    ScanReport report;
    QSqlDatabase db = d_->db();
    const auto failed = [&](const QSqlError& e) {
        db.rollback();
        report.ok = false;
        report.error = indexError(e);
        return report;
    };
    if (progress) {
        progress(0, 0);
    }

    // What the index knew.
    QHash<QString, Known> known;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral(
                "SELECT id, path, folder, size, modified, changed, hash FROM files"))) {
            return failed(q.lastError());
        }
        while (q.next()) {
            known.insert(
                q.value(1).toString(),
                Known{q.value(0).toLongLong(),
                      q.value(2).toString(),
                      {q.value(3).toLongLong(), q.value(4).toLongLong(), q.value(5).toLongLong()},
                      q.value(6).toByteArray()});
        }
    }

    // What the folders hold now.
    std::vector<Found> found;
    Walk walk(found, report.problems, stop, d_->fileLimit);
    QSet<QString> readable;
    for (const QString& folder : folders) {
        if (walk.folder(folder)) {
            readable.insert(folder);
        } else {
            report.missingFolders << folder;
        }
    }
    {
        // A file under two library folders (one inside the other) is listed once.
        QSet<QString> seen;
        std::erase_if(found, [&](const Found& f) {
            if (seen.contains(f.path)) {
                return true;
            }
            seen.insert(f.path);
            return false;
        });
    }
    report.files = int(found.size());

    // Files gone from folders that could be read (or that are no longer in the
    // library), by content, so that one found under another name keeps its notes.
    const QSet<QString> kept(folders.begin(), folders.end());
    QSet<QString> present;
    for (const Found& f : found) {
        present.insert(f.path);
    }
    QHash<QByteArray, std::vector<qint64>> goneByHash;
    std::vector<qint64> gone;
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        const QString& path = it.key();
        const Known& k = it.value();
        const bool folderKept = kept.contains(k.folder);
        const bool folderRead = readable.contains(k.folder);
        // A walk that stopped at the limit, or was stopped, saw only some files: the
        // others are not gone.
        const bool wholeWalk = !walk.full() && !(stop && *stop);
        if (wholeWalk && !present.contains(path) &&
            (!folderKept || (folderRead && !walk.unread(path)))) {
            gone.push_back(k.id);
            if (!k.hash.isEmpty()) {
                goneByHash[k.hash].push_back(k.id);
            }
        }
    }

    std::vector<const Found*> toRead;
    for (const Found& f : found) {
        const auto k = known.constFind(f.path);
        if (k == known.cend() || !(k->stat == f.stat) || k->folder != f.folder) {
            toRead.push_back(&f);
        }
        report.presets += f.stat.size == qint64(kConfigImageSize) ? 1 : 0;
    }

    // A file's time only tells of a change when the clock has moved on since: one
    // changed again within the same tick of the file system's clock (coarse on some,
    // two seconds on FAT) keeps its time. A time that recent is not kept, so that
    // the next scan reads the file again.
    const qint64 racyFrom = (QDateTime::currentMSecsSinceEpoch() - d_->racyMs) * qint64(1'000'000);
    // Binds size and times from `at` on.
    const auto bindStat = [&](QSqlQuery& q, int at, const Stat& stat) {
        const bool racy = stat.modified >= racyFrom;
        q.bindValue(at, stat.size);
        q.bindValue(at + 1, racy ? qint64(-1) : stat.modified);
        q.bindValue(at + 2, stat.changed);
    };

    Writer w(db);
    const int total = int(toRead.size());
    int done = 0;
    bool open = false;
    std::set<qint64> moved;
    for (const Found* f : toRead) {
        if (stop && *stop) {
            break;
        }
        if (!open) {
            if (!db.transaction()) {
                return failed(db.lastError());
            }
            open = true;
        }
        const Content c = readContent(f->native);
        ++done;
        if (!c.problem.isEmpty()) {
            if (report.problems.size() < kMaxProblems) {
                report.problems << QStringLiteral("%1: %2").arg(f->path, c.problem);
            }
        } else {
            ++report.read;
            const QByteArray hash = c.preset ? sha1(c.bytes) : QByteArray();
            const auto k = known.constFind(f->path);
            bool ok = true;
            if (k != known.cend()) {
                w.updateFile.bindValue(0, f->folder);
                bindStat(w.updateFile, 1, c.stat);
                w.updateFile.bindValue(4, c.preset ? QVariant(hash) : QVariant());
                w.updateFile.bindValue(5, c.preset);
                w.updateFile.bindValue(6, k->id);
                w.deleteSlots.bindValue(0, k->id);
                ok = w.updateFile.exec() && w.deleteSlots.exec() &&
                     (!c.preset || w.slotsOf(k->id, c.bytes));
            } else if (auto g = goneByHash.find(hash);
                       c.preset && g != goneByHash.end() && !g->empty()) {
                // The same content under a new name: the entry moves with its notes.
                const qint64 id = g->back();
                g->pop_back();
                moved.insert(id);
                ++report.moved;
                w.moveFile.bindValue(0, f->path);
                w.moveFile.bindValue(1, f->folder);
                bindStat(w.moveFile, 2, c.stat);
                w.moveFile.bindValue(5, id);
                ok = w.moveFile.exec();
            } else {
                w.insertFile.bindValue(0, f->path);
                w.insertFile.bindValue(1, f->folder);
                bindStat(w.insertFile, 2, c.stat);
                w.insertFile.bindValue(5, c.preset ? QVariant(hash) : QVariant());
                w.insertFile.bindValue(6, c.preset);
                ok = w.insertFile.exec() &&
                     (!c.preset || w.slotsOf(w.insertFile.lastInsertId().toLongLong(), c.bytes));
            }
            if (!ok) {
                QSqlError e = w.insertSlot.lastError();
                for (const QSqlQuery* q :
                     {&w.insertFile, &w.updateFile, &w.moveFile, &w.deleteSlots}) {
                    if (q->lastError().isValid()) {
                        e = q->lastError();
                    }
                }
                return failed(e);
            }
        }
        if (done % kBatchFiles == 0) {
            if (!db.commit()) {
                return failed(db.lastError());
            }
            open = false;
        }
        if (progress && (done % 64 == 0 || done == total)) {
            progress(done, total);
        }
    }
    if (!(stop && *stop)) {
        if (!open && !db.transaction()) {
            return failed(db.lastError());
        }
        open = true;
        for (const qint64 id : gone) {
            if (moved.count(id)) {
                continue;
            }
            w.deleteFile.bindValue(0, id);
            if (!w.deleteFile.exec()) {
                return failed(w.deleteFile.lastError());
            }
            ++report.removed;
        }
    }
    if (open && !db.commit()) {
        return failed(db.lastError());
    }
    if (progress) {
        progress(total, total);
    }
    return report;
}

// ---------------------------------------------------------------------------------
// The snapshot

std::unique_ptr<LibrarySnapshot> LibraryIndex::snapshot(QString* error) {
    QSqlDatabase db = d_->db();
    auto snapshot = std::make_unique<LibrarySnapshot>();
    const auto failed = [&](const QSqlQuery& q) {
        if (error) {
            *error = QStringLiteral("the library's index could not be read: %1")
                         .arg(q.lastError().databaseText());
        }
        db.rollback();
        return nullptr;
    };
    // One read transaction: every statement sees the same index, whatever another
    // program writes meanwhile.
    db.transaction();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, path, folder, size, modified, preset FROM files "
                               "ORDER BY folder, path"))) {
        return failed(q);
    }
    std::unordered_map<qint64, int> fileAt;
    int slotCount = 0;
    while (q.next()) {
        LibraryFile f;
        f.id = q.value(0).toLongLong();
        f.path = q.value(1).toString();
        f.folder = q.value(2).toString();
        f.name = f.path.startsWith(f.folder + QLatin1Char('/')) ? f.path.mid(f.folder.size() + 1)
                                                                : f.path;
        f.size = q.value(3).toLongLong();
        f.modified = q.value(4).toLongLong() / 1'000'000;
        f.preset = q.value(5).toBool();
        if (f.preset) {
            f.firstSlot = slotCount;
            slotCount += kSlotCount;
        }
        fileAt.emplace(f.id, int(snapshot->files.size()));
        snapshot->files.push_back(std::move(f));
    }
    snapshot->allSlots.resize(std::size_t(slotCount));
    const auto slotAt = [&](qint64 file, int slot) -> LibrarySlot* {
        const auto at = fileAt.find(file);
        if (at == fileAt.end() || slot < 0 || slot >= kSlotCount) {
            return nullptr;
        }
        const LibraryFile& f = snapshot->files[std::size_t(at->second)];
        return f.firstSlot < 0 ? nullptr : &snapshot->allSlots[std::size_t(f.firstSlot + slot)];
    };
    if (!q.exec(QStringLiteral("SELECT file, slot, bytes FROM slots"))) {
        return failed(q);
    }
    while (q.next()) {
        LibrarySlot* s = slotAt(q.value(0).toLongLong(), q.value(1).toInt());
        const QByteArray bytes = q.value(2).toByteArray();
        if (!s || bytes.size() != qsizetype(kEffectPresetSize + kModeRecordSize)) {
            continue;
        }
        s->file = fileAt[q.value(0).toLongLong()];
        s->slot = q.value(1).toInt();
        std::memcpy(s->preset.data(), bytes.constData(), kEffectPresetSize);
        std::memcpy(s->mode.data(), bytes.constData() + kEffectPresetSize, kModeRecordSize);
        const ConfigRecord record = s->record();
        s->shown = shownValues(record, s->slot);
        s->sound = soundOf(s->shown);
    }
    if (!q.exec(QStringLiteral("SELECT file, slot, favourite, note FROM notes"))) {
        return failed(q);
    }
    while (q.next()) {
        if (LibrarySlot* s = slotAt(q.value(0).toLongLong(), q.value(1).toInt())) {
            s->favourite = q.value(2).toBool();
            s->note = q.value(3).toString();
        }
    }
    if (!q.exec(QStringLiteral("SELECT file, slot, tag FROM tags ORDER BY tag"))) {
        return failed(q);
    }
    while (q.next()) {
        if (LibrarySlot* s = slotAt(q.value(0).toLongLong(), q.value(1).toInt())) {
            s->tags << q.value(2).toString();
        }
    }
    db.commit();
    snapshot->finish();
    return snapshot;
}

// ---------------------------------------------------------------------------------
// The operator's notes

namespace {

// The row of the file a slot is in, by the path the index lists it under or any path
// to it; -1, and `why` says why, for a slot or file the index has not.
qint64 fileId(const QSqlDatabase& db, const QString& path, int slot, QString& why) {
    if (slot < 0 || slot >= kSlotCount) {
        why = QStringLiteral("no slot %1").arg(slot);
        return -1;
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id, preset FROM files WHERE path=?"));
    const QFileInfo info(path);
    for (const QString& candidate :
         {path, QDir::cleanPath(info.absoluteFilePath()), info.canonicalFilePath()}) {
        if (candidate.isEmpty()) {
            continue;
        }
        q.bindValue(0, candidate);
        if (!q.exec()) {
            why = indexError(q.lastError());
            return -1;
        }
        if (q.next()) {
            if (!q.value(1).toBool()) {
                why = QStringLiteral("%1 is not a preset").arg(path);
                return -1;
            }
            return q.value(0).toLongLong();
        }
    }
    why = QStringLiteral("%1 is not in the library (is it under a library folder, and "
                         "scanned?)")
              .arg(path);
    return -1;
}

} // namespace

QString LibraryIndex::changeTags(const QString& path, int slot, const QStringList& add,
                                 const QStringList& remove) {
    QSqlDatabase db = d_->db();
    QString why;
    for (const QString& tag : add) {
        if (tag.trimmed().isEmpty() || tag.size() > kMaxTagLength) {
            return QStringLiteral("a tag is 1 to %1 characters").arg(kMaxTagLength);
        }
    }
    const qint64 id = fileId(db, path, slot, why);
    if (id < 0) {
        return why;
    }
    if (!db.transaction()) {
        return indexError(db.lastError());
    }
    QSqlQuery q(db);
    const auto failed = [&] {
        const QString text = indexError(q.lastError());
        db.rollback();
        return text;
    };
    const std::pair<const QStringList*, const char*> changes[] = {
        {&remove, "DELETE FROM tags WHERE file=? AND slot=? AND tag=?"},
        {&add, "INSERT OR IGNORE INTO tags(file, slot, tag) VALUES(?, ?, ?)"}};
    for (const auto& [tags, statement] : changes) {
        q.prepare(QLatin1String(statement));
        for (const QString& tag : *tags) {
            q.bindValue(0, id);
            q.bindValue(1, slot);
            q.bindValue(2, tag.trimmed());
            if (!q.exec()) {
                return failed();
            }
        }
    }
    q.prepare(QStringLiteral("SELECT count(*) FROM tags WHERE file=? AND slot=?"));
    q.bindValue(0, id);
    q.bindValue(1, slot);
    if (!q.exec() || !q.next()) {
        return failed();
    }
    if (q.value(0).toInt() > kMaxTagsPerSlot) {
        db.rollback();
        return QStringLiteral("a slot takes at most %1 tags").arg(kMaxTagsPerSlot);
    }
    return db.commit() ? QString() : indexError(db.lastError());
}

namespace {

QString setNoteColumn(const QSqlDatabase& db, const QString& path, int slot, const QString& column,
                      const QVariant& value) {
    QString why;
    const qint64 id = fileId(db, path, slot, why);
    if (id < 0) {
        return why;
    }
    QSqlQuery q(db);
    // `column` is one of ours, never the operator's text.
    q.prepare(QStringLiteral("INSERT INTO notes(file, slot, %1) VALUES(?, ?, ?) "
                             "ON CONFLICT(file, slot) DO UPDATE SET %1=excluded.%1")
                  .arg(column));
    q.bindValue(0, id);
    q.bindValue(1, slot);
    q.bindValue(2, value);
    return q.exec() ? QString() : indexError(q.lastError());
}

} // namespace

QString LibraryIndex::setFavourite(const QString& path, int slot, bool favourite) {
    return setNoteColumn(d_->db(), path, slot, QStringLiteral("favourite"), favourite);
}

QString LibraryIndex::setNote(const QString& path, int slot, const QString& note) {
    if (note.size() > kMaxNoteLength) {
        return QStringLiteral("a note is at most %1 characters").arg(kMaxNoteLength);
    }
    // A null string would be bound as NULL; no note is an empty one.
    return setNoteColumn(d_->db(), path, slot, QStringLiteral("note"),
                         note.isNull() ? QStringLiteral("") : note);
}

} // namespace cantavel
