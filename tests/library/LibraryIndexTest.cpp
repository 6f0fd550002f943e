// The library's index on real files and a real database: what a scan reads, what it
// keeps, and how it meets a broken, foreign, locked or full database.

#include "LibraryIndex.h"
#include "ConfigFile.h"
#include "FullDisk.h"
#include "LibraryWorker.h"
#include "ParameterValues.h"
#include "Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace cantavel {
namespace {

using testing::FullDisk;

class LibraryIndexTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("presets"));
    QString database = dir.filePath(QStringLiteral("db/library.sqlite"));

    void SetUp() override { ASSERT_TRUE(QDir().mkpath(folder)); }

    // A preset whose Default echo delay is `delay`, at `name` under the folder,
    // changed `age` seconds ago.
    QString preset(const QString& name, int delay, int age = 3600) {
        const QString path = QDir(folder).filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        ConfigRecord r{};
        r.resetToDefaults();
        EXPECT_EQ(setShownValue(r, 0, parameter(ParameterId::EchoDelay), QString::number(delay)),
                  QString());
        // Written plainly: a safe save's sync for each of hundreds of files costs
        // seconds and proves nothing here.
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(r.image().data()), kConfigImageSize);
        f.close();
        touch(path, age);
        return path;
    }

    static void touch(const QString& path, int age) {
        const timespec when{std::time(nullptr) - age, 0};
        const timespec times[2] = {when, when};
        EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    std::unique_ptr<LibraryIndex> openIndex(int busyMs = kBusyTimeoutMs) {
        auto index = std::make_unique<LibraryIndex>(database, busyMs);
        const LibraryIndex::Opened opened = index->open();
        EXPECT_TRUE(opened.ok) << opened.error.toStdString();
        return index;
    }

    // "name:slot" of every slot a query finds.
    static QStringList find(LibraryIndex& index, const char* query) {
        const auto snapshot = index.snapshot();
        QStringList names;
        for (const int i : snapshot->search(parseLibraryQuery(QString::fromUtf8(query))).matched) {
            names << QStringLiteral("%1:%2")
                         .arg(snapshot->files[snapshot->allSlots[i].file].name)
                         .arg(snapshot->allSlots[i].slot);
        }
        return names;
    }
};

TEST_F(LibraryIndexTest, RescansReadOnlyWhatChangedAndMovedFilesKeepTheirNotes) {
    preset(QStringLiteral("a.cfg"), 100);
    const QString b = preset(QStringLiteral("sub/b.cfg"), 220);
    QFile junk(QDir(folder).filePath(QStringLiteral("junk.cfg")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a preset");
    junk.close();
    touch(junk.fileName(), 3600);
    auto index = openIndex();

    LibraryIndex::ScanReport r = index->scan({folder});
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.files, 3);
    EXPECT_EQ(r.presets, 2);
    EXPECT_EQ(r.read, 3);
    EXPECT_EQ(find(*index, "delay>=200"), QStringList{"sub/b.cfg:0"});
    ASSERT_EQ(index->changeTags(
                  b, 5, {QStringLiteral("ballad"), QStringLiteral("'; DROP TABLE files; --")}, {}),
              QString());
    ASSERT_EQ(index->setFavourite(b, 5, true), QString());
    ASSERT_EQ(index->setNote(b, 5, QStringLiteral("Friday")), QString());
    EXPECT_NE(index->changeTags(b, 7, {QStringLiteral("x")}, {}), QString());
    EXPECT_NE(index->changeTags(QDir(folder).filePath(QStringLiteral("junk.cfg")), 0,
                                {QStringLiteral("x")}, {}),
              QString());

    r = index->scan({folder});
    EXPECT_EQ(r.read, 0);

    // Moved, and another file changed: only those two are read, and the moved one
    // keeps what the operator noted.
    ASSERT_TRUE(QFile::rename(b, QDir(folder).filePath(QStringLiteral("renamed.cfg"))));
    preset(QStringLiteral("a.cfg"), 240, 1800);
    r = index->scan({folder});
    EXPECT_EQ(r.read, 2);
    EXPECT_EQ(r.moved, 1);
    EXPECT_EQ(r.removed, 0);
    EXPECT_EQ(find(*index, "tag:ballad is:fav friday"), QStringList{"renamed.cfg:5"});
    EXPECT_EQ(find(*index, "tag:'; -is:dup"), QStringList{});
    EXPECT_EQ(find(*index, "delay>=200").size(), 2);

    // Gone: its entry and notes go with it; the files were only read.
    ASSERT_TRUE(QFile::remove(QDir(folder).filePath(QStringLiteral("renamed.cfg"))));
    r = index->scan({folder});
    EXPECT_EQ(r.removed, 1);

    // Changed twice within one tick of the file system's clock, same size, same
    // time: a time that recent is not trusted, so the second change is still seen.
    preset(QStringLiteral("a.cfg"), 50, 0);
    index->scan({folder});
    preset(QStringLiteral("a.cfg"), 60, 0);
    index->scan({folder});
    EXPECT_EQ(find(*index, "delay=60"), QStringList{"a.cfg:0"});
    EXPECT_TRUE(find(*index, "is:fav").isEmpty());
    const auto snapshot = index->snapshot();
    ASSERT_EQ(snapshot->files.size(), 2u);
    EXPECT_FALSE(snapshot->files[1].preset);
    EXPECT_EQ(snapshot->files[1].name, QStringLiteral("junk.cfg"));
}

// Links back up, a FIFO and a device by a preset's name, names no text can hold, a
// folder that vanished: each is met, none stops the scan or blocks it.
TEST_F(LibraryIndexTest, StrangeEntriesNeitherBreakNorBlockAScan) {
    preset(QStringLiteral("a.cfg"), 100);
    ASSERT_EQ(
        ::symlink("..", QFile::encodeName(QDir(folder).filePath(QStringLiteral("up"))).constData()),
        0);
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(QDir(folder).filePath(QStringLiteral("fifo.cfg"))).constData(),
                 0600),
        0);
    preset(QStringLiteral("line\nbreak.cfg"), 200);
    const QByteArray invalid = QFile::encodeName(folder) + "/bad\xff\xfe.cfg";
    {
        ConfigRecord r{};
        r.resetToDefaults();
        FILE* raw = std::fopen(invalid.constData(), "wb");
        ASSERT_NE(raw, nullptr);
        std::fwrite(r.image().data(), 1, kConfigImageSize, raw);
        std::fclose(raw);
    }
    const QString gone = dir.filePath(QStringLiteral("gone"));
    QDir().mkpath(gone);
    auto index = openIndex();
    ASSERT_TRUE(index->scan({folder, gone}).ok);
    const int withGone = int(index->snapshot()->files.size());
    ASSERT_TRUE(QDir(gone).removeRecursively());

    const int status = testing::runWithin(20, [&] {
        LibraryIndex child(database);
        if (!child.open().ok) {
            return 3;
        }
        const LibraryIndex::ScanReport r = child.scan({folder, gone});
        return r.ok && r.files == 2 && r.missingFolders == QStringList{gone} ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "-2: the scan blocked";
    EXPECT_EQ(int(index->snapshot()->files.size()), withGone);
    EXPECT_EQ(find(*index, "break").size(), 7);
    ::unlink(invalid.constData()); // a name Qt cannot give back to remove it
}

// A name that is not valid UTF-8 cannot be given back to open the file: two such
// files differing only there came out as one entry, with the content of whichever was
// read first, that neither Open nor a tag could tell apart. Such files and folders are
// not listed; the scan names them and asks for them to be renamed.
TEST_F(LibraryIndexTest, NamesThatAreNotTextAreNotListedButNamed) {
    preset(QStringLiteral("ok.cfg"), 100);
    const QByteArray native = QFile::encodeName(folder);
    ASSERT_EQ(::mkdir((native + "/dir\xff").constData(), 0755), 0);
    ConfigRecord r{};
    r.resetToDefaults();
    for (const QByteArray& name :
         {QByteArray("/a\xff.cfg"), QByteArray("/a\xfe.cfg"), QByteArray("/dir\xff/inner.cfg")}) {
        FILE* raw = std::fopen((native + name).constData(), "wb");
        ASSERT_NE(raw, nullptr);
        std::fwrite(r.image().data(), 1, kConfigImageSize, raw);
        std::fclose(raw);
    }
    auto index = openIndex();
    const LibraryIndex::ScanReport report = index->scan({folder});
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.files, 1);
    QStringList named = report.problems.filter(QStringLiteral("rename"));
    EXPECT_EQ(named.size(), 3) << report.problems.join(QLatin1Char('\n')).toStdString();
    const auto snapshot = index->snapshot();
    ASSERT_EQ(snapshot->files.size(), 1u);
    EXPECT_EQ(snapshot->files[0].name, QStringLiteral("ok.cfg"));
    for (const QByteArray& name : {QByteArray("/a\xff.cfg"), QByteArray("/a\xfe.cfg"),
                                   QByteArray("/dir\xff/inner.cfg"), QByteArray("/dir\xff")}) {
        ::remove((native + name).constData()); // names Qt cannot give back to remove them
    }
}

// A folder within the library that the operator may not read, or may list but not
// look into, is not a folder emptied: what the index knew of its files, their tags
// among it, stays until it can be read again.
TEST_F(LibraryIndexTest, FilesUnderAnUnreadableFolderKeepTheirEntriesAndTags) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "takes root, to hand the folder to another user";
    }
    struct Case {
        const char* what;
        mode_t mode;
    };
    for (const Case& c : {Case{"not to be opened", 0}, Case{"listed, not looked into", 0644}}) {
        SCOPED_TRACE(c.what);
        QDir(QFileInfo(database).absolutePath()).removeRecursively();
        const QString inner = preset(QStringLiteral("sub/inner.cfg"), 100);
        preset(QStringLiteral("top.cfg"), 200);
        {
            auto index = openIndex();
            ASSERT_TRUE(index->scan({folder}).ok);
            ASSERT_EQ(index->changeTags(inner, 0, {QStringLiteral("kept")}, {}), QString());
        }
        testing::makeTraversable(folder);
        const QString dbDir = QFileInfo(database).absolutePath();
        ::chmod(QFile::encodeName(dbDir).constData(), 0777);
        for (const QString& f : QDir(dbDir).entryList(QDir::Files)) {
            ::chmod(QFile::encodeName(QDir(dbDir).filePath(f)).constData(), 0666);
        }
        const QByteArray sub = QFile::encodeName(QDir(folder).filePath(QStringLiteral("sub")));
        ASSERT_EQ(::chmod(sub.constData(), c.mode), 0);
        const int status = testing::runUnprivileged([&] {
            LibraryIndex index(database);
            if (!index.open().ok) {
                return 3;
            }
            const LibraryIndex::ScanReport r = index.scan({folder});
            if (!r.ok || r.problems.isEmpty()) {
                return 4;
            }
            return r.removed == 0 && find(index, "tag:kept") == QStringList{"sub/inner.cfg:0"} ? 0
                                                                                               : 1;
        });
        ::chmod(sub.constData(), 0755);
        EXPECT_EQ(status, 0);
        auto index = openIndex();
        ASSERT_TRUE(index->scan({folder}).ok);
        EXPECT_EQ(find(*index, "tag:kept"), QStringList{"sub/inner.cfg:0"});
    }
}

// A link within the library to a folder elsewhere (a drive, a share) that is not
// there now: its files are away, not gone, and keep their entries and tags until the
// link itself is removed.
TEST_F(LibraryIndexTest, FilesBehindALinkToWhatIsNotThereNowKeepTheirTags) {
    const QString elsewhere = dir.filePath(QStringLiteral("drive"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString link = QDir(folder).filePath(QStringLiteral("drive"));
    ASSERT_EQ(
        ::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(link).constData()),
        0);
    const QString away = preset(QStringLiteral("drive/away.cfg"), 100);
    auto index = openIndex();
    ASSERT_TRUE(index->scan({folder}).ok);
    ASSERT_EQ(index->changeTags(away, 0, {QStringLiteral("kept")}, {}), QString());

    ASSERT_TRUE(QDir().rename(elsewhere, elsewhere + QStringLiteral("-unplugged")));
    LibraryIndex::ScanReport r = index->scan({folder});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.removed, 0);
    EXPECT_FALSE(r.problems.isEmpty());
    EXPECT_EQ(find(*index, "tag:kept"), QStringList{"drive/away.cfg:0"});

    ASSERT_TRUE(QFile::remove(link)); // the link taken away: the files are gone
    r = index->scan({folder});
    EXPECT_EQ(r.removed, 1);
}

// The same folder given twice (by a link to it, or as a folder within another) lists
// each of its files once: otherwise each would be listed twice, every slot a duplicate
// of its twin.
TEST_F(LibraryIndexTest, AFolderGivenTwiceListsItsFilesOnce) {
    preset(QStringLiteral("a.cfg"), 100);
    preset(QStringLiteral("sub/b.cfg"), 200);
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_EQ(::symlink(QFile::encodeName(folder).constData(), QFile::encodeName(link).constData()),
              0);
    const QString sub = QDir(folder).filePath(QStringLiteral("sub"));
    for (const QStringList& folders :
         {QStringList{folder, link}, QStringList{link, folder, sub}, QStringList{sub, folder}}) {
        SCOPED_TRACE(folders.join(QStringLiteral(", ")).toStdString());
        QDir(QFileInfo(database).absolutePath()).removeRecursively();
        auto index = openIndex();
        const LibraryIndex::ScanReport r = index->scan(folders);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.files, 2);
        EXPECT_EQ(index->snapshot()->files.size(), 2u);
    }
}

// A database that is not an index of ours goes aside whole, and a new one works.
TEST_F(LibraryIndexTest, ABrokenOrForeignDatabaseIsMovedAsideNotDeleted) {
    preset(QStringLiteral("a.cfg"), 100);
    const QByteArray garbage(8192, '\x5a');
    for (const bool foreign : {false, true}) {
        SCOPED_TRACE(foreign ? "foreign" : "garbage");
        QDir(QFileInfo(database).absolutePath()).removeRecursively();
        QDir().mkpath(QFileInfo(database).absolutePath());
        if (foreign) {
            auto db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
            db.setDatabaseName(database);
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec(QStringLiteral("CREATE TABLE accounts(name TEXT)"));
            db.close();
            db = {};
            QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        } else {
            QFile f(database);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        const QByteArray before = [&] {
            QFile f(database);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        LibraryIndex index(database);
        const LibraryIndex::Opened opened = index.open();
        ASSERT_TRUE(opened.ok) << opened.error.toStdString();
        ASSERT_TRUE(opened.movedTo.startsWith(database + QStringLiteral(".broken-")))
            << opened.movedTo.toStdString();
        EXPECT_EQ(QFileInfo(database).permissions() &
                      (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                  0)
            << "the new index is its owner's alone";
        QFile aside(opened.movedTo);
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), before);
        EXPECT_TRUE(index.scan({folder}).ok);
        EXPECT_EQ(find(index, "").size(), 7);
    }
}

// An index of ours made by a later version (its tables may have more in them) is
// not this version's to move aside: going back to an older editor for a day must not
// cost the newer one its tags. It is left as it is, and the reason said.
TEST_F(LibraryIndexTest, AnIndexOfALaterVersionIsLeftAsItIs) {
    const QString a = preset(QStringLiteral("a.cfg"), 100);
    {
        auto index = openIndex();
        ASSERT_TRUE(index->scan({folder}).ok);
        ASSERT_EQ(index->changeTags(a, 0, {QStringLiteral("kept")}, {}), QString());
    }
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("later"));
        db.setDatabaseName(database);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 2")));
        db.close();
        db = {};
        QSqlDatabase::removeDatabase(QStringLiteral("later"));
    }
    {
        LibraryIndex index(database);
        const LibraryIndex::Opened opened = index.open();
        EXPECT_FALSE(opened.ok);
        EXPECT_TRUE(opened.movedTo.isEmpty()) << opened.movedTo.toStdString();
        EXPECT_TRUE(opened.error.contains(QStringLiteral("later version")))
            << opened.error.toStdString();
    }
    EXPECT_TRUE(QDir(QFileInfo(database).absolutePath())
                    .entryList({QStringLiteral("*.broken-*")}, QDir::Files)
                    .isEmpty());
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(database);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM tags")) && q.next() &&
                q.value(0).toInt() == 1);
    q = QSqlQuery();
    db.close();
    db = {};
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

// A change that keeps the file's size and time (cp -p, rsync -t, touch -r) is seen
// by the time of the file's status, which no one sets back.
TEST_F(LibraryIndexTest, AChangeThatKeepsTheFilesTimeIsStillSeen) {
    const QString a = preset(QStringLiteral("a.cfg"), 100);
    auto index = openIndex();
    index->setScanLimitsForTesting(kMaxLibraryFiles, 0);
    ASSERT_TRUE(index->scan({folder}).ok);
    ASSERT_EQ(index->scan({folder}).read, 0);
    // The status time moves on at the file system clock's next tick (10 ms at most).
    QThread::msleep(30);
    preset(QStringLiteral("a.cfg"), 230, 3600); // the same size, and its old time again
    const LibraryIndex::ScanReport r = index->scan({folder});
    EXPECT_EQ(r.read, 1);
    EXPECT_EQ(find(*index, "delay=230"), QStringList{"a.cfg:0"});
}

// A walk cut short at the limit saw only some files: the others keep their entries.
TEST_F(LibraryIndexTest, FilesBeyondTheLimitAreNotTakenForGone) {
    for (int i = 0; i < 12; ++i) {
        preset(QStringLiteral("p%1.cfg").arg(i, 2, 10, QLatin1Char('0')), 100 + i);
    }
    auto index = openIndex();
    ASSERT_TRUE(index->scan({folder}).ok);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(index->changeTags(QDir(folder).filePath(
                                        QStringLiteral("p%1.cfg").arg(i, 2, 10, QLatin1Char('0'))),
                                    0, {QStringLiteral("kept")}, {}),
                  QString());
    }
    index->setScanLimitsForTesting(5, 2000);
    const LibraryIndex::ScanReport r = index->scan({folder});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.removed, 0);
    ASSERT_FALSE(r.problems.isEmpty());
    EXPECT_TRUE(r.problems.back().contains(QStringLiteral("more than 5 files")));
    EXPECT_EQ(find(*index, "tag:kept").size(), 12);
}

// The index holds the operator's notes: no other user reads it, nor its journal.
TEST_F(LibraryIndexTest, ANewIndexIsTheOwnersAlone) {
    preset(QStringLiteral("a.cfg"), 100);
    auto index = openIndex();
    ASSERT_TRUE(index->scan({folder}).ok);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(database + QLatin1String(suffix)).constData(), &st), 0)
            << suffix;
        EXPECT_EQ(st.st_mode & 0077, 0u) << suffix;
    }
}

TEST_F(LibraryIndexTest, ALockedDatabaseIsWaitedForThenSaidSo) {
    const QString a = preset(QStringLiteral("a.cfg"), 100);
    auto index = openIndex(200);
    ASSERT_TRUE(index->scan({folder}).ok);
    {
        auto other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(database);
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const QString error = index->changeTags(a, 0, {QStringLiteral("x")}, {});
        EXPECT_TRUE(error.contains(QStringLiteral("in use by another program")))
            << error.toStdString();
        const LibraryIndex::ScanReport r = [&] {
            preset(QStringLiteral("a.cfg"), 120, 1000); // something to write
            return index->scan({folder});
        }();
        EXPECT_FALSE(r.ok);
        hold.exec(QStringLiteral("ROLLBACK"));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    EXPECT_EQ(index->changeTags(a, 0, {QStringLiteral("x")}, {}), QString());
    EXPECT_TRUE(index->scan({folder}).ok);
    EXPECT_EQ(find(*index, "tag:x delay=120"), QStringList{"a.cfg:0"});
}

TEST_F(LibraryIndexTest, AFullDiskFailsTheScanAndLosesNothingOnceThereIsRoom) {
    FullDisk disk("2m"); // room for a database in WAL mode, and its first scan
    if (!disk.valid()) {
        GTEST_SKIP() << disk.whyNot().toStdString();
    }
    for (int i = 0; i < 300; ++i) {
        preset(QStringLiteral("p%1.cfg").arg(i), 2 + i % 240);
    }
    LibraryIndex index(disk.path(QStringLiteral("library.sqlite")));
    const LibraryIndex::Opened opened = index.open();
    ASSERT_TRUE(opened.ok) << opened.error.toStdString();
    ASSERT_TRUE(index.scan({folder}).ok);
    const QString a = QDir(folder).filePath(QStringLiteral("p1.cfg"));
    ASSERT_EQ(index.changeTags(a, 0, {QStringLiteral("kept")}, {}), QString());
    for (int i = 300; i < 2000; ++i) {
        preset(QStringLiteral("q%1.cfg").arg(i), 2 + i % 240);
    }
    ASSERT_TRUE(disk.fill());
    const LibraryIndex::ScanReport r = index.scan({folder});
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(find(index, "tag:kept"), QStringList{"p1.cfg:0"});
}

} // namespace
} // namespace cantavel

namespace cantavel {
namespace {

// A worker told to end starts no scan: closing the editor while the library opens
// does not wait for a whole scan.
TEST(LibraryWorkerTest, AWorkerBeingEndedBeginsNoScan) {
    QTemporaryDir dir;
    const LibraryLocation location = LibraryLocation::in(dir.path());
    ASSERT_EQ(addLibraryFolder(location.folderList, dir.path()), QString());
    LibraryWorker worker(location);
    int scans = 0;
    int snapshots = 0;
    QObject::connect(&worker, &LibraryWorker::scanning, [&](bool running) { scans += running; });
    QObject::connect(&worker, &LibraryWorker::snapshotReady,
                     [&](const LibrarySnapshotPtr&) { ++snapshots; });
    worker.requestStop();
    worker.start();
    EXPECT_EQ(scans, 0);
    EXPECT_EQ(snapshots, 1); // what the index held is still shown
}

} // namespace
} // namespace cantavel

namespace cantavel {
namespace {

// The worker on its own thread, as the window uses it: the window's thread sees
// progress, then the library, and stops a second scan under way without waiting
// for it.
TEST(LibraryWorkerTest, ScansOnItsOwnThreadAndHandsOverTheLibrary) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("presets"));
    QDir().mkpath(folder);
    ConfigRecord r{};
    r.resetToDefaults();
    for (int i = 0; i < 300; ++i) {
        QFile f(QDir(folder).filePath(QStringLiteral("p%1.cfg").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(r.image().data()), kConfigImageSize);
    }
    const LibraryLocation location = LibraryLocation::in(dir.filePath(QStringLiteral("state")));
    ASSERT_EQ(addLibraryFolder(location.folderList, folder), QString());
    ASSERT_EQ(removeLibraryFolder(location.folderList, defaultLibraryFolder()), QString());

    auto thread = std::make_unique<LibraryThread>(location);
    LibraryWorker& worker = thread->worker();
    LibrarySnapshotPtr last;
    int progress = 0;
    bool scanned = false;
    QObject context;
    QObject::connect(&worker, &LibraryWorker::progress, &context, [&] { ++progress; });
    QObject::connect(&worker, &LibraryWorker::scanning, &context,
                     [&](bool running) { scanned = scanned || !running; });
    QObject::connect(&worker, &LibraryWorker::snapshotReady, &context,
                     [&](const LibrarySnapshotPtr& s) { last = s; });
    QMetaObject::invokeMethod(&worker, &LibraryWorker::start, Qt::QueuedConnection);
    QElapsedTimer waited;
    waited.start();
    while (!(scanned && last && last->files.size() == 300) && waited.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ASSERT_TRUE(last);
    EXPECT_EQ(last->files.size(), 300u);
    EXPECT_GT(progress, 0);
    // A rescan asked for and the window closed at once: the thread ends.
    QMetaObject::invokeMethod(&worker, &LibraryWorker::rescan, Qt::QueuedConnection);
    thread.reset();
}

} // namespace
} // namespace cantavel
