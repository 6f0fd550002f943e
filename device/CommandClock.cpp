#include "CommandClock.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace cantavel {

bool EventLoopClock::wait(std::chrono::milliseconds duration) {
    const unsigned interruptions = interruptions_;
    const Clock::time_point end = Clock::now() + duration;
    for (;;) {
        if (interruptions_ != interruptions) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loops_.push_back(&loop);
        const int result = loop.exec();
        loops_.erase(std::find(loops_.begin(), loops_.end(), &loop));
        if (result != 0) {
            // The application is quitting and refuses new event loops: waiting on
            // would only spin.
            return false;
        }
    }
}

void EventLoopClock::interrupt() {
    ++interruptions_;
    for (QEventLoop* loop : loops_) {
        loop->quit();
    }
}

} // namespace cantavel
