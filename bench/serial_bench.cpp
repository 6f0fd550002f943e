// Serial component timings over pseudo-terminals:
//  - latency of a 3-byte frame from WriteCommData to readable at the pty master,
//    next to the floor (a raw write(2) of the same 3 bytes on a slave) and to
//    QSerialPort (write and waitForBytesWritten), the three taking turns frame by
//    frame so that all see the same machine;
//  - throughput of 1 MiB each way;
//  - CPU time of an open, idle port over 10 s.
// Usage: cantavel-serial-bench [frames] [idle-seconds]

#include "DeviceLink.h"
#include "PtyPair.h"
#include "SerialPort.h"

#include <QSerialPort>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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

using namespace std::chrono;
using cantavel::TComm;

namespace {

void readExactly(int fd, std::size_t count) {
    std::array<char, 65536> buffer{};
    std::size_t got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, -1);
        const ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count - got));
        if (n > 0)
            got += static_cast<std::size_t>(n);
    }
}

struct Stats {
    double median = 0, p99 = 0;
};
Stats statsOf(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void configure(TComm& comm, const char* name) {
    comm.SetCommName(QString::fromLocal8Bit(name));
    cantavel::useUnitLine(comm);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const std::uint8_t frame[3] = {0x26, 0x00, 0x64};

    // Three lines, one for each way of sending; the ways take turns frame by frame.
    PtyPair rawPty;
    PtyPair qtPty;
    QSerialPort qt(QString::fromLocal8Bit(qtPty.name.data()));
    if (!qt.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "QSerialPort: %s\n", qPrintable(qt.errorString()));
        return 1;
    }
    qt.setBaudRate(9600);
    PtyPair pty;
    pty.closeSlave();
    TComm comm;
    configure(comm, pty.name.data());
    comm.StartComm();
    QCoreApplication::processEvents();

    std::vector<double> floorUs;
    std::vector<double> qtUs;
    std::vector<double> latencyUs;
    const auto timed = [](const auto& send, int master) {
        const auto t0 = steady_clock::now();
        send();
        readExactly(master, 3);
        return duration<double, std::micro>(steady_clock::now() - t0).count();
    };
    for (int i = 0; i < frames; ++i) {
        floorUs.push_back(timed(
            [&] {
                if (::write(rawPty.slave, frame, 3) != 3)
                    std::exit(1);
            },
            rawPty.master));
        qtUs.push_back(timed(
            [&] {
                qt.write(reinterpret_cast<const char*>(frame), 3);
                qt.waitForBytesWritten(1000);
            },
            qtPty.master));
        latencyUs.push_back(timed([&] { comm.WriteCommData(frame, 3); }, pty.master));
        if (i % 256 == 0)
            QCoreApplication::processEvents(); // queue-empty notices
    }
    qt.close();

    // 1 MiB out.
    constexpr std::size_t kMiB = 1 << 20;
    std::vector<std::uint8_t> block(65535, 0x5A);
    auto t0 = steady_clock::now();
    std::thread reader([&] { readExactly(pty.master, kMiB); });
    std::size_t queued = 0;
    while (queued < kMiB) {
        const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(65535, kMiB - queued));
        comm.WriteCommData(block.data(), n);
        queued += n;
    }
    reader.join();
    const double outSeconds = duration<double>(steady_clock::now() - t0).count();

    // 1 MiB in.
    std::size_t received = 0;
    comm.OnReceiveData = [&](QObject*, const std::uint8_t*, std::uint16_t n) { received += n; };
    t0 = steady_clock::now();
    std::thread writer([&] {
        std::vector<char> data(kMiB, 'i');
        std::size_t done = 0;
        while (done < kMiB) {
            const ssize_t n = ::write(pty.master, data.data() + done, kMiB - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else {
                pollfd p{pty.master, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    });
    while (received < kMiB) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    writer.join();
    const double inSeconds = duration<double>(steady_clock::now() - t0).count();
    comm.OnReceiveData = nullptr;

    // Idle: the port stays open while the event loop sleeps.
    QCoreApplication::processEvents();
    const double cpu0 = cpuSeconds();
    const auto w0 = steady_clock::now();
    QEventLoop loop;
    QTimer::singleShot(idleSeconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    const double idleCpu = cpuSeconds() - cpu0;
    const double idleWall = duration<double>(steady_clock::now() - w0).count();
    comm.StopComm();

    const Stats f = statsOf(floorUs);
    const Stats q = statsOf(qtUs);
    const Stats l = statsOf(latencyUs);
    std::printf("frames                         %d\n", frames);
    std::printf("floor write(2)->master         median %.1f us  p99 %.1f us\n", f.median, f.p99);
    std::printf("QSerialPort->master            median %.1f us  p99 %.1f us  (%.2fx floor)\n",
                q.median, q.p99, q.median / f.median);
    std::printf("WriteCommData->master          median %.1f us  p99 %.1f us  (%.2fx floor, "
                "%.2fx QSerialPort)\n",
                l.median, l.p99, l.median / f.median, l.median / q.median);
    std::printf("1 MiB out                      %.3f s  %.1f MiB/s\n", outSeconds, 1 / outSeconds);
    std::printf("1 MiB in                       %.3f s  %.1f MiB/s\n", inSeconds, 1 / inSeconds);
    std::printf("idle open port                 %.4f s CPU in %.1f s  (%.4f%% of a core)\n",
                idleCpu, idleWall, 100 * idleCpu / idleWall);
    return 0;
}
