// The library's worker as the window drives it: calls queued on its thread, answers
// as signals.

#include "LibraryWorker.h"
#include "ConfigFile.h"
#include "EventPump.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace cantavel {
namespace {

using namespace std::chrono_literals;

// Ctrl+D on a search's worth of slots queues one note per slot. Each used to bring
// a snapshot of the whole library of its own, which the window then searched again:
// on a large library, minutes of both threads at full load. Notes queued together
// now bring one snapshot, and it holds every one of them.
TEST(LibraryWorker, NotesQueuedTogetherBringOneSnapshotWithAllOfThem) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("presets"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ConfigRecord r{};
    r.resetToDefaults();
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files << QDir(folder).filePath(QStringLiteral("p%1.cfg").arg(i));
        ASSERT_TRUE(saveConfigFile(files.back(), r));
    }
    const LibraryLocation location = LibraryLocation::in(dir.filePath(QStringLiteral("state")));
    ASSERT_EQ(addLibraryFolder(location.folderList, folder), QString());
    ASSERT_EQ(removeLibraryFolder(location.folderList, defaultLibraryFolder()), QString());

    LibraryThread thread(location);
    LibraryWorker* worker = &thread.worker();
    std::vector<LibrarySnapshotPtr> snapshots;
    bool scanned = false;
    QObject::connect(worker, &LibraryWorker::snapshotReady, qApp,
                     [&](const LibrarySnapshotPtr& s) { snapshots.push_back(s); });
    QObject::connect(worker, &LibraryWorker::scanning, qApp,
                     [&](bool running) { scanned = scanned || !running; });
    const auto queue = [worker](std::function<void(LibraryWorker&)> call) {
        QMetaObject::invokeMethod(
            worker, [worker, call = std::move(call)] { call(*worker); }, Qt::QueuedConnection);
    };
    queue([](LibraryWorker& w) { w.start(); });
    ASSERT_TRUE(testing::pumpUntil(
        [&] { return scanned && !snapshots.empty() && snapshots.back()->files.size() == 4; }, 10s));
    snapshots.clear();

    for (const QString& file : files) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            queue([file, slot](LibraryWorker& w) { w.setFavourite(file, slot, true); });
        }
    }
    queue([&](LibraryWorker& w) { w.changeTags(files[0], 0, {QStringLiteral("live")}, {}); });
    queue([&](LibraryWorker& w) { w.setNote(files[1], 2, QStringLiteral("Friday")); });
    ASSERT_TRUE(testing::pumpUntil([&] { return !snapshots.empty(); }));
    std::this_thread::sleep_for(300ms);
    testing::handlePending();
    ASSERT_EQ(snapshots.size(), 1u);
    const LibrarySnapshot& last = *snapshots.back();
    EXPECT_EQ(last.search(parseLibraryQuery(QStringLiteral("is:fav"))).matched.size(),
              std::size_t(4 * kSlotCount));
    EXPECT_EQ(last.search(parseLibraryQuery(QStringLiteral("tag:live friday"))).matched.size(), 0u);
    EXPECT_EQ(last.search(parseLibraryQuery(QStringLiteral("tag:live"))).matched.size(), 1u);
    EXPECT_EQ(last.search(parseLibraryQuery(QStringLiteral("friday"))).matched.size(), 1u);
}

} // namespace
} // namespace cantavel
