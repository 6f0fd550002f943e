#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <thread>

namespace cantavel::testing {

// Delivers posted events until done() holds or the time is up; returns done().
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Handles what is due by now, waiting for nothing more: posted events, timers that
// have run out and what other threads have already posted. Once the threads that
// could make something more happen are done, what a test sees after this is final.
inline void handlePending() {
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace cantavel::testing
