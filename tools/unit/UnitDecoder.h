#pragma once

// The virtual unit's decoder: turns the bytes on the line back into frames, keeps
// the state of the unit's seven slots, and says in one line what each frame did.

#include "ConfigRecord.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cantavel {

class UnitDecoder {
public:
    using Clock = std::chrono::steady_clock;
    // A frame whose next byte does not come within this time is reported as cut.
    static constexpr std::chrono::milliseconds kCutAfter{500};

    struct Counts {
        int live = 0;
        int presetUploads = 0;
        int modeUploads = 0;
        int unknownBytes = 0;
        int cutFrames = 0;
    };

    UnitDecoder();

    // Decodes the bytes that arrived at `now`; returns one line per event.
    std::vector<std::string> feed(std::span<const std::uint8_t> bytes, Clock::time_point now);
    // Reports a frame cut short when its time is up at `now`.
    std::vector<std::string> expire(Clock::time_point now);
    // When the frame being received will be reported as cut, if one is.
    std::optional<Clock::time_point> deadline() const;

    const ConfigRecord& state() const { return state_; }
    const Counts& counts() const { return counts_; }
    // The state of all seven slots with the record's field names, a few lines.
    std::vector<std::string> describeState() const;

    static std::string slotName(int slot);

private:
    std::string decode();
    std::string applyLive(std::uint8_t parameter, std::uint8_t value);
    void flushUnknown(std::vector<std::string>& out);
    std::string cutFrame();

    ConfigRecord state_;
    Counts counts_;
    std::vector<std::uint8_t> frame_; // the frame being received
    std::size_t expected_ = 0;        // its full length
    Clock::time_point lastByte_{};
    std::vector<std::uint8_t> unknown_; // a run of bytes that start no frame
};

std::string hexBytes(std::span<const std::uint8_t> bytes);

} // namespace cantavel
