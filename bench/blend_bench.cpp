// A blend dragged from end to end in one second with Link on, against the virtual
// unit on a pseudo-terminal: the real window (offscreen) and its Blend dialog, the
// slider moved a step every 10 ms. Prints the frames sent and coalesced, the most
// values waiting and the most bytes handed to the port but not yet on the line, and
// how far the unit was behind the slider.
//
// Behind: for each position of the slider and each parameter, the time from the
// slider reaching it until the unit holds that position's value of the parameter or
// one of a later position's (the line may have skipped to a newer one). The figure of
// a position is its worst parameter; median and maximum are over the positions.
//
// Usage: cantavel-blend-bench [runs]   (each run: towards an effect preset, then
// towards a mode slot that differs in every parameter)

#include "MainWindow.h"
#include "ParameterValues.h"
#include "PtyPair.h"
#include "SerialPort.h"
#include "SoundDialogs.h"
#include "SoundTools.h"
#include "UnitDecoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace cantavel;
using Clock = std::chrono::steady_clock;

namespace {

// The far end of the line: every frame with the time its last byte arrived.
class Unit {
public:
    struct Frame {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    explicit Unit(int master) : master_(master), thread_([this] { run(); }) {}
    ~Unit() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Frame> frames() {
        const std::lock_guard lock(mutex_);
        return frames_;
    }
    std::uint64_t bytes() const { return bytes_.load(); }
    ConfigRecord state() {
        const std::lock_guard lock(mutex_);
        return decoder_.state();
    }

private:
    void run() {
        std::vector<std::uint8_t> pending;
        std::array<std::uint8_t, 512> buffer{};
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            const ssize_t n = read(master_, buffer.data(), buffer.size());
            if (n <= 0) {
                continue;
            }
            const auto now = Clock::now();
            bytes_ += static_cast<std::uint64_t>(n);
            const std::lock_guard lock(mutex_);
            decoder_.feed({buffer.data(), static_cast<std::size_t>(n)}, now);
            pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
            for (;;) {
                const std::size_t length = pending.empty()      ? 0
                                           : pending[0] == 0x26 ? 3
                                           : pending[0] == 0x25 ? 19
                                           : pending[0] == 0x3A ? 27
                                                                : 1;
                if (length == 0 || pending.size() < length) {
                    break;
                }
                frames_.push_back({now, {pending.begin(), pending.begin() + length}});
                pending.erase(pending.begin(), pending.begin() + length);
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> bytes_{0};
    std::mutex mutex_; // frames_ and decoder_, written by the reader, read at the end
    std::vector<Frame> frames_;
    UnitDecoder decoder_;
    std::thread thread_;
};

struct NoDialogs : EditorDialogs {
    std::function<int(QDialog&)> drive;
    void message(QWidget*, Icon, const QString&, const QString& text,
                 const QString& detail) override {
        std::fprintf(stderr, "message: %s %s\n", qPrintable(text), qPrintable(detail));
    }
    QString chooseFile(QFileDialog&) override { return {}; }
    Answer askToSave(QWidget*, const QString&, const QString&) override { return Answer::Discard; }
    bool choosePrinter(QWidget*, QPrinter&) override { return false; }
    bool confirm(QWidget*, const QString&, const QString&) override { return false; }
    int run(QDialog& dialog) override { return drive(dialog); }
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Result {
    std::uint64_t sent = 0;
    std::uint64_t coalesced = 0;
    std::size_t mostWaiting = 0;
    std::uint64_t mostBacklog = 0;
    int changedParameters = 0;
    double lagMedian = 0;
    double lagMax = 0;
    bool unitMatches = false;
};

Result drag(TForm1& form, NoDialogs& dialogs, Unit& unit, int sourceSlot) {
    Result result;
    const ConfigRecord a = form.Document().record();
    struct Position {
        Clock::time_point at;
        ConfigRecord values;
    };
    std::vector<Position> positions;
    Clock::time_point dragStart{};
    std::uint64_t handedAtStart = 0;
    std::uint64_t unitAtStart = 0;
    const auto before = form.Link().livePacing();
    dialogs.drive = [&](QDialog& d) {
        auto& blend = dynamic_cast<BlendDialog&>(d);
        for (std::size_t i = 0; i < blend.sources().size(); ++i) {
            if (blend.sources()[i].slot == sourceSlot) {
                blend.setSource(static_cast<int>(i));
            }
        }
        handedAtStart = form.Link().bytesHandedOver();
        unitAtStart = unit.bytes();
        const auto start = Clock::now();
        dragStart = start;
        for (int percent = 1; percent <= 100; ++percent) {
            // A step every 10 ms, as a pointer dragged across in a second moves it.
            const auto due = start + std::chrono::milliseconds(10 * percent);
            while (Clock::now() < due) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            blend.setPercent(percent);
            positions.push_back({Clock::now(), form.Document().record()});
            result.mostWaiting = std::max(result.mostWaiting, form.Link().livePacing().waiting);
            const std::uint64_t handed = form.Link().bytesHandedOver() - handedAtStart;
            const std::uint64_t arrived = unit.bytes() - unitAtStart;
            result.mostBacklog =
                std::max(result.mostBacklog, handed > arrived ? handed - arrived : 0);
        }
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 400) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return int(QDialog::Accepted);
    };
    form.Blend1Click();
    const auto after = form.Link().livePacing();
    result.sent = after.sent - before.sent;
    result.coalesced = after.coalesced - before.coalesced;

    // The unit's value of each live number over time, from the frames after the drag began.
    std::vector<Unit::Frame> frames = unit.frames();
    std::erase_if(frames, [&](const Unit::Frame& f) { return f.at < dragStart; });
    const ConfigRecord& end = form.Document().record();
    for (const Parameter& p : parameterTable()) {
        result.changedParameters += p.field.get(a, 0) != p.field.get(end, 0);
    }
    std::vector<double> lags;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        double worst = 0;
        for (const Parameter& p : parameterTable()) {
            std::set<int> reached; // this position's value and every later one's
            for (std::size_t j = i; j < positions.size(); ++j) {
                reached.insert(p.field.get(positions[j].values, 0));
            }
            // The unit's value when the slider got here (A's, as Link sent it, until a
            // frame of the drag changed it), then each frame of it after.
            int held = p.field.get(a, 0);
            Clock::time_point caught{};
            bool found = false;
            for (const Unit::Frame& f : frames) {
                if (f.bytes.size() != 3 || f.bytes[1] != p.live) {
                    continue;
                }
                if (f.at <= positions[i].at) {
                    held = f.bytes[2];
                    continue;
                }
                if (reached.count(held)) {
                    break;
                }
                held = f.bytes[2];
                if (reached.count(held)) {
                    caught = f.at;
                    found = true;
                    break;
                }
            }
            if (found) {
                worst = std::max(worst, ms(caught - positions[i].at));
            } else if (!reached.count(held)) {
                worst = 1e9; // never caught up
            }
        }
        lags.push_back(worst);
    }
    result.lagMedian = median(lags);
    result.lagMax = lags.empty() ? 0 : *std::max_element(lags.begin(), lags.end());
    const ConfigRecord unitState = unit.state();
    result.unitMatches = true;
    for (const Parameter& p : parameterTable()) {
        result.unitMatches = result.unitMatches && p.field.get(unitState, 0) == p.field.get(end, 0);
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const PtyPair line;
    Unit unit(line.master);
    QTemporaryDir dir;
    ConfigRecord record;
    RuntimeState state;
    NoDialogs dialogs;
    TForm1 form(record, state,
                {.settingsPath = dir.filePath(QStringLiteral("cantavel.ini")),
                 .dialogs = &dialogs,
                 .libraryDir = dir.filePath(QStringLiteral("library"))});
    state.comPortName = QString::fromLatin1(line.name.data());
    form.show();

    std::printf("%-26s %5s %9s %11s %12s %10s %10s %s\n", "blend (Default towards)", "moved",
                "sent", "coalesced", "most waiting", "lag median", "lag max", "unit = dialog");
    std::vector<double> medians[2];
    std::vector<double> maxima[2];
    for (int run = 0; run < runs; ++run) {
        for (const int source : {2, 5}) {
            // Default from fresh values; the other slot far from them.
            form.Document().makeNew();
            ConfigRecord& r = record;
            for (const Parameter* p : slotParameters(source)) {
                const int items =
                    p->kind == ControlKind::List ? static_cast<int>(listItems(*p).size()) : 0;
                const int top = items ? items - 1 : p->maxValue;
                const int bottom = items ? 0 : p->minValue;
                const int now = p->field.get(r, 0);
                p->field.set(r, source,
                             static_cast<unsigned>(now - bottom > top - now ? bottom : top));
            }
            r.mode(source).musicVolume = r.mode(source).musicVolMax;
            r.mode(source).micVolume = r.mode(source).micVolMax;
            r.mode(source).swVol2 = r.mode(source).swVol1;
            form.TabControl1Change(nullptr);
            // Link made afresh: the unit is sent Default as it now is.
            if (form.isLinkChecked()) {
                form.Link().Link1Click();
            }
            form.Link().Link1Click();
            QElapsedTimer settle;
            settle.start();
            while (settle.elapsed() < 300) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            }
            const Result result = drag(form, dialogs, unit, source);
            const int k = source == 5 ? 1 : 0;
            medians[k].push_back(result.lagMedian);
            maxima[k].push_back(result.lagMax);
            std::printf("%-26s %5d %9llu %11llu %12zu %8.1f ms %7.1f ms %s\n",
                        source == 5 ? "Mode A (every parameter)" : "slot 2 (effect preset)",
                        result.changedParameters, static_cast<unsigned long long>(result.sent),
                        static_cast<unsigned long long>(result.coalesced), result.mostWaiting,
                        result.lagMedian, result.lagMax, result.unitMatches ? "yes" : "NO");
            std::printf("%-26s most bytes handed over but not yet on the line: %llu\n", "",
                        static_cast<unsigned long long>(result.mostBacklog));
        }
    }
    const double frame =
        std::chrono::duration<double, std::milli>(form.Link().liveFrameTime()).count();
    std::printf("\nA live frame takes %.3f ms on the line at %u baud.\n", frame,
                form.Comm().BaudRate());
    for (int k = 0; k < 2; ++k) {
        std::printf("%s: lag median of medians %.1f ms, median of maxima %.1f ms, worst %.1f ms "
                    "(%d runs)\n",
                    k ? "towards Mode A" : "towards slot 2", median(medians[k]), median(maxima[k]),
                    *std::max_element(maxima[k].begin(), maxima[k].end()), runs);
    }
    form.Link().Link1Click();
    return 0;
}
