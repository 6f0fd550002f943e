#pragma once

// Time as the Device commands see it: what the time is, and a wait during which the
// window's events go on being handled. The editor uses the event loop's clock; tests
// hand in a clock of their own, so that commands run without sleeping and a test can
// act at a chosen moment of a wait.

#include <chrono>
#include <vector>

class QEventLoop;

namespace cantavel {

class CommandClock {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~CommandClock() = default;
    virtual Clock::time_point now() const = 0;
    // Returns after `duration`, handling events meanwhile. False when interrupt()
    // cut it short or events can no longer be handled (the application is quitting).
    virtual bool wait(std::chrono::milliseconds duration) = 0;
    // Ends every wait in progress at once, the nested ones included.
    virtual void interrupt() = 0;
};

// Sleeps inside the Qt event loop until its deadline; never spins.
class EventLoopClock final : public CommandClock {
public:
    Clock::time_point now() const override { return Clock::now(); }
    bool wait(std::chrono::milliseconds duration) override;
    void interrupt() override;

private:
    std::vector<QEventLoop*> loops_; // nested waits, innermost last
    unsigned interruptions_ = 0;
};

} // namespace cantavel
