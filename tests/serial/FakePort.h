#pragma once

// A port behind the port-layer interface for what a pseudo-terminal cannot show:
// line errors, carrier detect, ring, the number of calls that reach the driver, and
// the moment each read has been posted.

#include "CommPort.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

namespace cantavel::testing {

class FakePort final : public CommPort {
public:
    struct Shared {
        std::mutex mutex;
        std::deque<std::uint8_t> inbound;  // bytes the far end sent
        LineEvents events;                 // line events not yet taken
        std::vector<std::uint8_t> written; // what the component wrote
        std::vector<LineState> states;     // every setState call
        std::vector<CommTimeouts> timeoutCalls;
        CommTimeouts timeouts;
        Signal readable;
        std::atomic<int> readCalls{0};
        std::atomic<int> lastTakingCall{0};      // the number of the last read that took bytes
        std::atomic<int> readPurges{0};          // the receive thread purges as it ends
        std::atomic<std::size_t> driverQueue{0}; // what outputQueued reports
        bool gone = false; // guarded by mutex: the far end went away, waits hang up
        bool characterDevice = true;
        bool buffersWork = true;
    };

    explicit FakePort(Shared& shared) : s_(shared) {}

    // Test side, from any thread.
    static void feed(Shared& s, const std::vector<std::uint8_t>& bytes) {
        const std::lock_guard lock(s.mutex);
        s.inbound.insert(s.inbound.end(), bytes.begin(), bytes.end());
        s.readable.set();
    }
    static void hangUp(Shared& s) {
        const std::lock_guard lock(s.mutex);
        s.gone = true;
        s.readable.set();
    }
    static void raise(Shared& s, const LineEvents& e) {
        const std::lock_guard lock(s.mutex);
        s.events.errors |= e.errors;
        s.events.carrierChanged = s.events.carrierChanged || e.carrierChanged;
        s.events.ring = s.events.ring || e.ring;
        s.readable.set();
    }

    bool isCharacterDevice() const override { return s_.characterDevice; }
    bool setupBuffers(std::size_t, std::size_t) override { return s_.buffersWork; }
    void purge(unsigned flags) override {
        if (flags == (PurgeAbortReads | PurgeClearInput)) {
            ++s_.readPurges;
        }
    }
    bool setState(const LineState& state) override {
        const std::lock_guard lock(s_.mutex);
        s_.states.push_back(state);
        return true;
    }
    bool setTimeouts(const CommTimeouts& t) override {
        const std::lock_guard lock(s_.mutex);
        s_.timeoutCalls.push_back(t);
        s_.timeouts = t;
        return true;
    }
    CommTimeouts timeouts() const override {
        const std::lock_guard lock(s_.mutex);
        return s_.timeouts;
    }
    bool modemStatus(std::uint32_t& bits) override {
        bits = 0x30;
        return true;
    }
    bool outputQueued(std::size_t& bytes) override {
        bytes = s_.driverQueue;
        return true;
    }
    Wake wait(const Signal& stop, bool forWrite, int timeoutMs) override {
        if (forWrite) {
            return stop.isSet() ? Wake::Stop : Wake::Ready;
        }
        switch (waitAny(stop, s_.readable, timeoutMs)) {
        case 0:
            return Wake::Stop;
        case 1: {
            const std::lock_guard lock(s_.mutex);
            return s_.gone ? Wake::HangUp : Wake::Ready;
        }
        case 2:
            return Wake::Timeout;
        default:
            return Wake::Failed;
        }
    }
    IoResult read(std::uint8_t* buffer, std::size_t size) override {
        const int call = ++s_.readCalls;
        const std::lock_guard lock(s_.mutex);
        IoResult r;
        while (r.count < size && !s_.inbound.empty()) {
            buffer[r.count++] = s_.inbound.front();
            s_.inbound.pop_front();
        }
        if (r.count > 0) {
            s_.lastTakingCall = call;
        }
        if (r.count == 0) {
            r.wouldBlock = true;
        }
        if (s_.inbound.empty() && !s_.events.any() && !s_.gone) {
            s_.readable.reset();
        }
        return r;
    }
    IoResult write(const std::uint8_t* data, std::size_t size) override {
        const std::lock_guard lock(s_.mutex);
        s_.written.insert(s_.written.end(), data, data + size);
        return {size, 0, false, false};
    }
    bool takeLineEvents(LineEvents& events, int&) override {
        const std::lock_guard lock(s_.mutex);
        events = s_.events;
        s_.events = {};
        if (s_.inbound.empty() && !s_.gone) {
            s_.readable.reset();
        }
        return true;
    }
    int lineEventPeriodMs() const override { return -1; }

private:
    Shared& s_;
};

} // namespace cantavel::testing
