// CPU time the editor's side spends during a full Upload All with Link off (about
// 4.5 s of paced waits), against a pseudo-terminal. Low figures show the waits sleep.
// Usage: cantavel-upload-bench [runs]

#include "DeviceLink.h"
#include "PtyPair.h"
#include "SerialPort.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

struct Host : cantavel::DeviceCommandHost {
    int slot = 0;
    bool isLinkChecked() const override { return false; }
    void setLinkChecked(bool) override {}
    int selectedSlot() const override { return slot; }
    int tabCount() const override { return cantavel::kSlotCount; }
    void selectTabQuietly(int s) override { slot = s; }
    void setBusyPointer(bool) override {}
    void showMessage(const QString& text, const QString& detail) override {
        std::fprintf(stderr, "%s %s\n", qPrintable(text), qPrintable(detail));
    }
    void checkComPortItem(int) override {}
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    const PtyPair line;
    const int master = line.master;
    // A reader on the far side, as the unit would be; it keeps the slave open too.
    std::atomic<bool> stop{false};
    std::atomic<long> received{0};
    std::thread reader([&] {
        std::array<char, 512> buffer{};
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(master, buffer.data(), buffer.size());
                if (n > 0)
                    received += n;
            }
        }
    });

    cantavel::ConfigRecord record;
    record.resetToDefaults();
    cantavel::RuntimeState state;
    state.comPortName = QString::fromLocal8Bit(line.name.data());
    cantavel::TComm comm;
    cantavel::useUnitLine(comm);
    Host host;
    cantavel::DeviceLink link(record, state, comm, host);

    std::vector<double> shares;
    for (int i = 0; i < runs; ++i) {
        const double cpu0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        link.Configuator1Click();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // The far end's reader thread counts too, so this is an upper bound.
        const double cpu = cpuSeconds() - cpu0;
        shares.push_back(100 * cpu / wall);
        std::printf("run %d: %.3f s wall, %.4f s CPU (%.3f%% of a core)\n", i + 1, wall, cpu,
                    100 * cpu / wall);
    }
    stop = true;
    reader.join();
    std::sort(shares.begin(), shares.end());
    std::printf("bytes received by the far end: %ld (%d runs of 157)\n", received.load(), runs);
    std::printf("median CPU during Upload All: %.3f%% of a core (includes the far end's reader)\n",
                shares[shares.size() / 2]);
    return 0;
}
