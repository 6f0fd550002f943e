#include "UnitDecoder.h"

#include "Parameters.h"
#include "Protocol.h"

#include <cstdio>
#include <cstring>

namespace cantavel {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    char cell[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(cell, sizeof cell, "%02X", b);
        if (!text.empty()) {
            text += ' ';
        }
        text += cell;
    }
    return text;
}

UnitDecoder::UnitDecoder() {
    state_.resetToDefaults(); // what a unit fresh from the factory would hold
}

std::string UnitDecoder::slotName(int slot) {
    switch (slot) {
    case 0:
        return "Default";
    case 5:
        return "Mode A";
    case 6:
        return "Mode B";
    default:
        return "slot " + std::to_string(slot);
    }
}

std::vector<std::string> UnitDecoder::feed(std::span<const std::uint8_t> bytes,
                                           Clock::time_point now) {
    std::vector<std::string> out;
    for (std::uint8_t b : bytes) {
        if (!frame_.empty() && now - lastByte_ > kCutAfter) {
            out.push_back(cutFrame());
            frame_.clear();
        }
        if (frame_.empty()) {
            expected_ = frameLength(b);
            if (expected_ == 0) {
                unknown_.push_back(b);
                continue;
            }
            flushUnknown(out); // a command byte ends the run of unknown ones
        }
        frame_.push_back(b);
        lastByte_ = now;
        if (frame_.size() == expected_) {
            out.push_back(decode());
            frame_.clear();
        }
    }
    flushUnknown(out);
    return out;
}

std::vector<std::string> UnitDecoder::expire(Clock::time_point now) {
    std::vector<std::string> out;
    if (!frame_.empty() && now - lastByte_ > kCutAfter) {
        out.push_back(cutFrame());
        frame_.clear();
    }
    return out;
}

std::optional<UnitDecoder::Clock::time_point> UnitDecoder::deadline() const {
    if (frame_.empty()) {
        return std::nullopt;
    }
    return lastByte_ + kCutAfter + std::chrono::milliseconds(1);
}

void UnitDecoder::flushUnknown(std::vector<std::string>& out) {
    if (unknown_.empty()) {
        return;
    }
    counts_.unknownBytes += static_cast<int>(unknown_.size());
    out.push_back((unknown_.size() == 1 ? std::string("unknown byte, starts no frame: ")
                                        : "unknown bytes, start no frame: " +
                                              std::to_string(unknown_.size()) + " bytes: ") +
                  hexBytes(unknown_));
    unknown_.clear();
}

std::string UnitDecoder::cutFrame() {
    ++counts_.cutFrames;
    return "cut frame, nothing more within 500 ms (" + std::to_string(frame_.size()) + " of " +
           std::to_string(expected_) + " bytes): " + hexBytes(frame_);
}

std::string UnitDecoder::decode() {
    const std::uint8_t command = frame_[0];
    const std::uint8_t index = frame_[1];
    const std::span<const std::uint8_t> payload(frame_.data() + 2, frame_.size() - 2);
    if (command == kLiveCommand) {
        ++counts_.live;
        return applyLive(index, frame_[2]);
    }
    const int slot = slotForDeviceIndex(command, index);
    if (command == kPresetUpload) {
        ++counts_.presetUploads;
        if (slot < 0) {
            return "preset upload with unknown index " + std::to_string(index) +
                   ", ignored: " + hexBytes(payload);
        }
        std::memcpy(&state_.preset(slot), payload.data(), kEffectPresetSize);
        return "preset upload slot " + std::to_string(slot) + " (index " + std::to_string(index) +
               "): " + hexBytes(payload);
    }
    ++counts_.modeUploads;
    if (slot < 0) {
        return "mode upload with unknown index " + std::to_string(index) +
               ", ignored: " + hexBytes(payload);
    }
    std::memcpy(&state_.mode(slot), payload.data(), kModeRecordSize);
    return "mode upload " + slotName(slot) + " (index " + std::to_string(index) +
           "): " + hexBytes(payload);
}

std::string UnitDecoder::applyLive(std::uint8_t parameter, std::uint8_t value) {
    const Parameter* info = findParameterByLive(parameter);
    std::string line = "live " + std::to_string(parameter) + " ";
    if (info == nullptr) {
        return line + "(unknown parameter) = " + std::to_string(value) + ", ignored";
    }
    line += std::string(info->key) + " = " + std::to_string(value);
    if (value < info->minValue || value > info->maxValue) {
        line += " (outside " + std::to_string(info->minValue) + ".." +
                std::to_string(info->maxValue) + ")";
    }
    // Live commands carry slot 0; a bit field takes only its own bits.
    info->field.set(state_, 0, value);
    return line;
}

std::vector<std::string> UnitDecoder::describeState() const {
    std::vector<std::string> lines;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const EffectPreset& p = state_.preset(slot);
        char text[512];
        std::snprintf(text, sizeof text,
                      "%s preset: marker=%02X fbEx=%u keyIndex=%u musicBass=%u musicMiddle=%u "
                      "musicTreble=%u musicBalance=%u echoDelay=%u echoRepeat=%u echoLevel=%u "
                      "reverbTime=%u reverbLevel=%u micBass=%u micMiddle=%u micTreble=%u "
                      "swFreq=%u effectVolume=%u",
                      slotName(slot).c_str(), p.marker, p.fbEx, p.keyIndex, p.musicBass,
                      p.musicMiddle, p.musicTreble, p.musicBalance, p.echoDelay, p.echoRepeat,
                      p.echoLevel, p.reverbTime, p.reverbLevel, p.micBass, p.micMiddle, p.micTreble,
                      p.swFreq, p.effectVolume);
        lines.emplace_back(text);
        if (!isModeSlot(slot)) {
            continue; // the unit keeps no mode record for slots 1 to 4
        }
        const ModeRecord& m = state_.mode(slot);
        std::snprintf(text, sizeof text,
                      "%s mode: marker=%02X inputSource=%u fbExCopy=%u musicIn=%u center=%u "
                      "aux=%u keyCopy=%u swVol1=%u byte5=%u musicVolume=%u musicVolMax=%u "
                      "micVolume=%u micVolMax=%u effectCopy=[%s] swVol2=%u effectVolumeCopy=%u",
                      slotName(slot).c_str(), m.marker, m.inputSource(), m.fbExCopy(), m.musicIn(),
                      m.center(), m.aux(), m.keyCopy, m.swVol1, m.byte5, m.musicVolume,
                      m.musicVolMax, m.micVolume, m.micVolMax, hexBytes(m.effectCopy).c_str(),
                      m.swVol2, m.effectVolumeCopy);
        lines.emplace_back(text);
    }
    return lines;
}

} // namespace cantavel
