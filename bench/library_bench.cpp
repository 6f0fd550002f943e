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
#include "MainWindow.h"
#include "ParameterValues.h"
#include "PresetDocument.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
        // A library's files were saved long before it is scanned; a file saved in the
        // last seconds is read again by the next scan, whose clock may not have moved.
        file.close();
        const timespec day{std::time(nullptr) - 86400, 0};
        const timespec times[2] = {day, day};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
}

// What a snapshot holds in its own memory, as far as its containers tell: the
// vectors' elements and the strings' characters (not the allocator's overhead).
double snapshotMiB(const LibrarySnapshot& snapshot) {
    const auto text = [](const QString& s) { return double(s.capacity()) * 2 + 24; };
    double bytes = double(snapshot.files.capacity() * sizeof(LibraryFile)) +
                   double(snapshot.allSlots.capacity() * sizeof(LibrarySlot));
    for (const LibraryFile& f : snapshot.files) {
        bytes += text(f.path) + text(f.name) + text(f.folder);
    }
    for (const LibrarySlot& s : snapshot.allSlots) {
        bytes += s.note.isEmpty() ? 0 : text(s.note);
        for (const QString& tag : s.tags) {
            bytes += text(tag) + 8;
        }
    }
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

// The editor's side of a scan: the real main window opens View > Library, whose
// thread scans a fresh index of the generated folder while the window shows each
// snapshot under a search, as an operator would see it. A 1 ms timer on the window's
// thread measures the longest gap between its ticks. `rssGrowth` is the growth of
// the resident set from the editor alone to the editor with its library shown.
double longestStall(const QString& stateDir, const QString& libraryDir, const QString& query,
                    int count, double& rssGrowth) {
    const LibraryLocation location = LibraryLocation::in(stateDir);
    if (const QString error = addLibraryFolder(location.folderList, libraryDir); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    (void)removeLibraryFolder(location.folderList, defaultLibraryFolder());
    ConfigRecord record{};
    record.resetToDefaults();
    RuntimeState state;
    TForm1Options options;
    options.settingsPath = QDir(stateDir).filePath(QStringLiteral("cantavel.ini"));
    options.libraryDir = stateDir;
    TForm1 form(record, state, options);
    form.show();
    QCoreApplication::processEvents();
    const long rssEditor = statusKiB("VmRSS");

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
    clock.start();
    ticks.start();
    QElapsedTimer wall;
    wall.start();
    form.findChild<QAction*>(QStringLiteral("Library1"))->trigger();
    auto* search = form.findChild<QLineEdit*>(QStringLiteral("LibrarySearch"));
    auto* status = form.findChild<QLabel*>(QStringLiteral("LibraryStatus"));
    auto* progress = form.findChild<QWidget*>(QStringLiteral("LibraryProgress"));
    if (!search || !status || !progress) {
        std::fprintf(stderr, "the library window has not its search box, status or progress\n");
        std::exit(1);
    }
    search->setText(query);
    // Done when the scan has ended and the window lists the whole library.
    const QString all = QStringLiteral(" %1 files").arg(QLocale().toString(count));
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (progress->isHidden() && status->text().contains(all)) {
            QCoreApplication::quit();
        }
    });
    poll.start(50);
    QTimer::singleShot(120'000, qApp, [] {
        std::fprintf(stderr, "the scan did not end within 120 s\n");
        QCoreApplication::exit(1);
    });
    if (QCoreApplication::exec() != 0) {
        std::exit(1);
    }
    ticks.stop();
    rssGrowth = double(statusKiB("VmRSS") - rssEditor) / 1024;
    std::printf("  (the editor with its library window: scan and listing %.2f s wall; \"%s\")\n",
                seconds(wall), qPrintable(status->text()));
    // Typing in the window's search box: each key searches and lists anew, drawn.
    for (const QString& typed : {QStringLiteral("delay>=200"), QStringLiteral("set-4 ballad")}) {
        std::vector<double> keys;
        for (int round = 0; round < 5; ++round) {
            for (qsizetype n = 1; n <= typed.size(); ++n) {
                QElapsedTimer key;
                key.start();
                search->setText(typed.left(n));
                QCoreApplication::processEvents();
                keys.push_back(seconds(key) * 1000);
            }
        }
        const std::string label = "the window's search, typing '" + typed.toStdString() +
                                  "' key by key, listed and drawn (median)";
        verdict(label.c_str(), median(keys), "ms", 30);
        std::printf("  (max %.2f ms)\n", *std::max_element(keys.begin(), keys.end()));
    }
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
    // The editor's window is drawn off screen, and its single-instance guard is its own.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("CANTAVEL_INSTANCE", QByteArray("library bench ") + QByteArray::number(::getpid()));
    QApplication app(argc, argv);
    const QString libraryDir = root.filePath(QStringLiteral("presets"));

    QElapsedTimer t;
    t.start();
    makeLibrary(libraryDir, count, seed);
    std::printf("%d presets of 294 bytes in %d folders, made in %.2f s (seed %u)\n", count,
                kFolders, seconds(t), seed);

    // First, while this process holds nothing else of the library: the editor.
    double windowGrowth = 0;
    const double stall =
        longestStall(root.filePath(QStringLiteral("state")), libraryDir,
                     QStringLiteral("delay>=200 -key=0 reverbTime<40"), count, windowGrowth);
    verdict("longest event-loop stall of the editor's window during a scan", stall, "ms", 50);
    verdict("memory, the editor with its library window against the editor alone (VmRSS)",
            windowGrowth, "MiB", 50);

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
    const double held = snapshotMiB(*snapshot);
    std::printf("  (VmRSS %.1f MiB before, %.1f MiB after the scans, %.1f MiB with the snapshot; "
                "peak VmHWM %.1f MiB; the snapshot's own data %.1f MiB, LibrarySlot %zu bytes "
                "each)\n",
                double(rssBefore) / 1024, double(rssScanned) / 1024, double(rssHeld) / 1024,
                double(statusKiB("VmHWM")) / 1024, held, sizeof(LibrarySlot));

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
    return failures == 0 ? 0 : 1;
}
