#pragma once

// A clock for the Device commands that never sleeps: each wait moves the time on at
// once and handles the events that are due, and a test can act at a chosen moment
// (a tab click 1.3 s into Upload All). The waits asked for are kept for the test.

#include "CommandClock.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace cantavel::testing {

class FakeClock final : public CommandClock {
public:
    Clock::time_point now() const override { return now_; }

    bool wait(std::chrono::milliseconds duration) override {
        waits.push_back(duration);
        if (settle) {
            settle();
        }
        const unsigned interruptions = interruptions_;
        const Clock::time_point end = now_ + duration;
        while (!actions_.empty() && actions_.front().when <= end) {
            Action next = std::move(actions_.front());
            actions_.erase(actions_.begin());
            now_ = std::max(now_, next.when);
            next.run(); // may start commands of its own, which wait on this clock
            if (interruptions_ != interruptions) {
                return false;
            }
        }
        now_ = std::max(now_, end);
        QCoreApplication::processEvents();
        return interruptions_ == interruptions;
    }

    void interrupt() override { ++interruptions_; }

    // Runs `action` inside the wait that spans `offset` after the clock's start.
    void at(std::chrono::milliseconds offset, std::function<void()> action) {
        const Action entry{start_ + offset, std::move(action)};
        const auto place =
            std::upper_bound(actions_.begin(), actions_.end(), entry,
                             [](const Action& a, const Action& b) { return a.when < b.when; });
        actions_.insert(place, entry);
    }

    // Runs `action` `offset` from now.
    void after(std::chrono::milliseconds offset, std::function<void()> action) {
        at(elapsed() + offset, std::move(action));
    }

    // Time passed since the clock's start.
    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_);
    }
    std::chrono::milliseconds totalWaited() const {
        std::chrono::milliseconds sum{0};
        for (const auto w : waits) {
            sum += w;
        }
        return sum;
    }

    std::vector<std::chrono::milliseconds> waits;
    // Called as each wait begins: lets what was handed to the port reach the line,
    // as it would in the time the wait stands for.
    std::function<void()> settle;

private:
    struct Action {
        Clock::time_point when;
        std::function<void()> run;
    };
    const Clock::time_point start_{std::chrono::hours(1)};
    Clock::time_point now_{start_};
    std::vector<Action> actions_;
    unsigned interruptions_ = 0;
};

} // namespace cantavel::testing
