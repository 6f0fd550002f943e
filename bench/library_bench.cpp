// The library at the size an operator's collection may reach: 10,000 presets of random
// (but valid) values in 100 folders, in a temporary folder, indexed in a temporary
// database. Measures the first scan, a rescan with nothing changed, the snapshot,
// searches over it, the memory the held snapshot costs, and the longest stall of the
// main thread's event loop while a scan runs on the library's thread and its
// snapshots are searched as they arrive, as the window does.
// Usage: cantavel-library-bench [--files N] [--seed S]

#include "LibraryIndex.h"
#include "LibraryQuery.h"
#include "LibraryWorker.h"
#include "ParameterValues.h"
#include "PresetDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace cantavel;

namespace {

constexpr int kFolders = 100;

double seconds(QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The process's resident set, in KiB (VmRSS or VmHWM of /proc/self/status).
long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return -1;
}

int failures = 0;

void verdict(const char* what, double value, const char* unit, double target) {
    const bool pass = value <= target;
    failures += pass ? 0 : 1;
    std::printf("%s: %.*f %s (target <= %g %s) %s\n", what, std::strcmp(unit, "s") == 0 ? 3 : 2,
                value, unit, target, unit, pass ? "PASS" : "FAIL");
    std::fflush(stdout);
}

// `count` presets of random values over kFolders folders under `root`, the same for
// the same seed. Every value is one its field may hold; limits between values of a
// slot are left as drawn, as files from elsewhere may hold them.
void makeLibrary(const QString& root, int count, unsigned seed) {
    std::mt19937 random(seed);
    for (int f = 0; f < kFolders; ++f) {
        QDir().mkpath(QStringLiteral("%1/set-%2").arg(root).arg(f, 2, 10, QLatin1Char('0')));
    }
    for (int i = 0; i < count; ++i) {
        ConfigRecord record{};
        record.resetToDefaults();
        PresetDocument document(record);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (const Parameter* p : slotParameters(slot)) {
                const ValueRange range = fullRange(*p);
                std::uniform_int_distribution<int> value(range.min, range.max);
                document.setValue(slot, p->id, value(random), PresetDocument::Limits::Defer);
            }
        }
        const QString path = QStringLiteral("%1/set-%2/preset-%3.cfg")
                                 .arg(root)
                                 .arg(i % kFolders, 2, 10, QLatin1Char('0'))
                                 .arg(i, 5, 10, QLatin1Char('0'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(record.image().data()), kConfigImageSize) !=
                qint64(kConfigImageSize)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
    }
}

// What a snapshot holds in its own memory, as far as its containers tell: the
// vectors' elements and the strings' characters (not the allocator's overhead).
double snapshotMiB(const LibrarySnapshot& snapshot, double* summaries) {
    const auto text = [](const QString& s) { return double(s.capacity()) * 2 + 24; };
    double bytes = double(snapshot.files.capacity() * sizeof(LibraryFile)) +
                   double(snapshot.allSlots.capacity() * sizeof(LibrarySlot));
    for (const LibraryFile& f : snapshot.files) {
        bytes += text(f.path) + text(f.name) + text(f.folder);
    }
    *summaries = 0;
    for (const LibrarySlot& s : snapshot.allSlots) {
        *summaries += s.summary.isEmpty() ? 0 : text(s.summary);
        bytes += s.note.isEmpty() ? 0 : text(s.note);
        for (const QString& tag : s.tags) {
            bytes += text(tag) + 8;
        }
    }
    bytes += *summaries;
    *summaries /= 1024 * 1024;
    return bytes / (1024 * 1024);
}

struct SearchTimes {
    double median = 0;
    double max = 0;
    std::size_t found = 0;
};

SearchTimes timeSearch(const LibrarySnapshot& snapshot, const QString& text, int runs) {
    std::vector<double> times;
    SearchTimes result;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const LibraryQuery query = parseLibraryQuery(text);
        const LibraryMatches found = snapshot.search(query);
        times.push_back(seconds(t) * 1000);
        result.found = found.matched.size() + found.otherFiles.size();
        if (!query.ok()) {
            std::fprintf(stderr, "'%s' not understood: %s\n", qPrintable(text),
                         qPrintable(query.error));
            std::exit(1);
        }
    }
    result.median = median(times);
    result.max = *std::max_element(times.begin(), times.end());
    return result;
}

// The window's side of a scan: the library's thread scans a fresh index while this
// thread ticks every millisecond and searches each snapshot that comes in. Returns
// the longest gap between ticks, in ms.
double longestStall(const QString& stateDir, const QString& libraryDir, const QString& query) {
    const LibraryLocation location = LibraryLocation::in(stateDir);
    if (const QString error = addLibraryFolder(location.folderList, libraryDir); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    const LibraryQuery parsed = parseLibraryQuery(query);
    LibraryThread thread(location);
    LibraryWorker& worker = thread.worker();

    QElapsedTimer clock;
    qint64 lastTick = -1;
    qint64 longest = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) {
            longest = std::max(longest, now - lastTick);
        }
        lastTick = now;
    });

    LibrarySnapshotPtr held;
    bool scanned = false;
    int snapshots = 0;
    double longestSearch = 0;
    double longestDrop = 0;
    QObject::connect(&worker, &LibraryWorker::scanning, qApp,
                     [&](bool running) { scanned = scanned || !running; });
    QObject::connect(&worker, &LibraryWorker::problem, qApp, [](const QString& text) {
        std::fprintf(stderr, "library: %s\n", qPrintable(text));
    });
    QObject::connect(&worker, &LibraryWorker::snapshotReady, qApp,
                     [&](const LibrarySnapshotPtr& snapshot) {
                         ++snapshots;
                         QElapsedTimer t;
                         t.start();
                         held.reset(); // the window lets the old one go
                         longestDrop = std::max(longestDrop, seconds(t) * 1000);
                         held = snapshot;
                         t.restart();
                         const LibraryMatches found = held->search(parsed);
                         longestSearch = std::max(longestSearch, seconds(t) * 1000);
                         if (scanned) {
                             QTimer::singleShot(50, qApp, &QCoreApplication::quit);
                         }
                     });
    QTimer::singleShot(120'000, qApp, [] {
        std::fprintf(stderr, "the scan did not end within 120 s\n");
        QCoreApplication::exit(1);
    });
    clock.start();
    ticks.start();
    QMetaObject::invokeMethod(&worker, "start", Qt::QueuedConnection);
    QElapsedTimer wall;
    wall.start();
    if (QCoreApplication::exec() != 0) {
        std::exit(1);
    }
    std::printf("  (scan on the library's thread: %.2f s wall, %d snapshots; on this thread "
                "the longest search took %.1f ms, letting a snapshot go %.1f ms)\n",
                seconds(wall), snapshots, longestSearch, longestDrop);
    held.reset();
    return double(longest) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    int count = 10'000;
    unsigned seed = 20240611;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--files" && i + 1 < argc) {
            count = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--files N] [--seed S]\n", argv[0]);
            return 2;
        }
    }

    // Everything in a folder of its own: the library's default folder (in the home's
    // documents) and its data folder must not be the user's.
    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
        qputenv(variable, root.path().toLocal8Bit());
    }
    QCoreApplication app(argc, argv);
    const QString libraryDir = root.filePath(QStringLiteral("presets"));

    QElapsedTimer t;
    t.start();
    makeLibrary(libraryDir, count, seed);
    std::printf("%d presets of 294 bytes in %d folders, made in %.2f s (seed %u)\n", count,
                kFolders, seconds(t), seed);

    const long rssBefore = statusKiB("VmRSS");
    LibraryIndex index(root.filePath(QStringLiteral("bench.sqlite")));
    if (const LibraryIndex::Opened opened = index.open(); !opened.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error));
        return 1;
    }

    t.restart();
    const LibraryIndex::ScanReport first = index.scan({libraryDir});
    const double firstScan = seconds(t);
    if (!first.ok || first.read != count) {
        std::fprintf(stderr, "first scan: %s (%d of %d read)\n", qPrintable(first.error),
                     first.read, count);
        return 1;
    }
    verdict("first scan", firstScan, "s", 5);

    std::vector<double> rescans;
    for (int i = 0; i < 5; ++i) {
        t.restart();
        const LibraryIndex::ScanReport again = index.scan({libraryDir});
        rescans.push_back(seconds(t));
        if (!again.ok || again.read != 0) {
            std::fprintf(stderr, "rescan read %d files: %s\n", again.read, qPrintable(again.error));
            return 1;
        }
    }
    verdict("rescan, nothing changed (median of 5)", median(rescans), "s", 0.5);
    const long rssScanned = statusKiB("VmRSS");

    // A few notes, as an operator's library has: a tag on one slot in a hundred files.
    for (int i = 0; i < count; i += 100) {
        const QString path = QStringLiteral("%1/set-%2/preset-%3.cfg")
                                 .arg(libraryDir)
                                 .arg(i % kFolders, 2, 10, QLatin1Char('0'))
                                 .arg(i, 5, 10, QLatin1Char('0'));
        if (const QString error = index.changeTags(path, 1 + i % 4, {QStringLiteral("ballad")}, {});
            !error.isEmpty()) {
            std::fprintf(stderr, "tag: %s\n", qPrintable(error));
            return 1;
        }
    }

    std::vector<double> snapshotTimes;
    std::unique_ptr<LibrarySnapshot> snapshot;
    for (int i = 0; i < 5; ++i) {
        snapshot.reset();
        t.restart();
        snapshot = index.snapshot();
        snapshotTimes.push_back(seconds(t));
        if (!snapshot) {
            std::fprintf(stderr, "no snapshot\n");
            return 1;
        }
    }
    std::printf("snapshot() (median of 5): %.3f s, %zu files, %zu slots\n", median(snapshotTimes),
                snapshot->files.size(), snapshot->allSlots.size());

    const long rssHeld = statusKiB("VmRSS");
    verdict("memory, index open and snapshot held (VmRSS growth)",
            double(rssHeld - rssBefore) / 1024, "MiB", 50);
    double summaries = 0;
    const double held = snapshotMiB(*snapshot, &summaries);
    std::printf("  (VmRSS %.1f MiB before, %.1f MiB after the scans, %.1f MiB with the snapshot; "
                "peak VmHWM %.1f MiB; the snapshot's own data %.1f MiB, of which slot summaries "
                "%.1f MiB, LibrarySlot %zu bytes each)\n",
                double(rssBefore) / 1024, double(rssScanned) / 1024, double(rssHeld) / 1024,
                double(statusKiB("VmHWM")) / 1024, held, summaries, sizeof(LibrarySlot));

    const struct {
        const char* label;
        const char* text;
    } searches[] = {
        {"search, a word ('set-4')", "set-4"},
        {"search, a value ('delay>=200')", "delay>=200"},
        {"search, combined ('delay>=200 -key=0 reverbTime<40')", "delay>=200 -key=0 reverbTime<40"},
        {"search, a tag ('tag:ballad')", "tag:ballad"},
    };
    for (const auto& s : searches) {
        const SearchTimes times = timeSearch(*snapshot, QString::fromUtf8(s.text), 50);
        const std::string label = std::string(s.label) + " (median of 50)";
        verdict(label.c_str(), times.median, "ms", 30);
        std::printf("  (max %.2f ms; %zu found)\n", times.max, times.found);
    }
    snapshot.reset();

    const double stall = longestStall(root.filePath(QStringLiteral("state")), libraryDir,
                                      QStringLiteral("delay>=200 -key=0 reverbTime<40"));
    verdict("longest event-loop stall during a scan", stall, "ms", 50);
    return failures == 0 ? 0 : 1;
}
