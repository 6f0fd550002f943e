// The virtual unit's decoder on any byte stream, cut into reads at any times: it
// never crashes, always accounts for no more bytes than it was given, and is never
// left waiting once enough time has passed.

#include "UnitDecoder.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cantavel::UnitDecoder decoder;
    auto now = cantavel::UnitDecoder::Clock::time_point{} + std::chrono::hours(1);
    std::size_t at = 0;
    // The first byte of each read tells its length and the time before it.
    while (at < size) {
        const std::uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>(size - at, 1 + control % 32);
        now += std::chrono::milliseconds((control >> 5) * 150);
        decoder.feed(std::span(data + at, length), now);
        decoder.expire(now);
        at += length;
    }
    decoder.expire(now + std::chrono::seconds(1));
    const auto& c = decoder.counts();
    const long accounted =
        3L * c.live + 19L * c.presetUploads + 27L * c.modeUploads + c.unknownBytes;
    if (accounted > static_cast<long>(size) || decoder.deadline().has_value()) {
        std::abort();
    }
    (void)decoder.describeState();
    return 0;
}
