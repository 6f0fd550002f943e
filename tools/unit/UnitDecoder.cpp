#include "UnitDecoder.h"

#include "Parameters.h"
#include "Protocol.h"

#include <algorithm>
#include <cstddef>
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

namespace {

// The fields of a slot's record that the parameter table does not name, as the
// state dump shows them.
struct OtherField {
    enum class Shown { Number, Hex, HexRun };
    std::size_t byte; // within the effect preset or mode record
    std::uint8_t mask = 0xFF;
    const char* name = "";
    Shown shown = Shown::Number;
    std::size_t length = 1; // bytes of a HexRun
};
using Shown = OtherField::Shown;

constexpr OtherField kPresetOthers[] = {
    {offsetof(EffectPreset, marker), 0xFF, "marker", Shown::Hex},
};
constexpr OtherField kModeOthers[] = {
    {offsetof(ModeRecord, marker), 0xFF, "marker", Shown::Hex},
    {offsetof(ModeRecord, byte1), ModeRecord::kFbExCopyMask, "fbExCopy"},
    {offsetof(ModeRecord, keyCopy), 0xFF, "keyCopy"},
    {offsetof(ModeRecord, byte5), 0xFF, "byte5"},
    {offsetof(ModeRecord, effectCopy), 0xFF, "effectCopy", Shown::HexRun,
     sizeof(ModeRecord::effectCopy)},
    {offsetof(ModeRecord, effectVolumeCopy), 0xFF, "effectVolumeCopy"},
};

// "name=value" for each field of one part of a slot's record (the `size` bytes from
// `start` in the image), in the record's order and, within a packed byte, lowest
// bits first. The parameter table names its own fields; `others` the rest.
std::string describeFields(const ConfigRecord& record, int slot, std::size_t start,
                           std::size_t size, std::span<const OtherField> others) {
    struct Named {
        std::uint8_t mask;
        std::string text; // name=value
    };
    const auto image = record.image();
    std::string line;
    for (std::size_t byte = 0; byte < size; ++byte) {
        const std::size_t offset = start + byte;
        std::vector<Named> fields;
        for (const Parameter& p : parameterTable()) {
            if (p.field.imageOffset(slot) == offset) {
                fields.push_back({p.field.mask, std::string(p.key) + '=' +
                                                    std::to_string(p.field.get(record, slot))});
            }
        }
        for (const OtherField& f : others) {
            if (f.byte != byte) {
                continue;
            }
            std::string value;
            switch (f.shown) {
            case Shown::Number:
                value = std::to_string(ModeRecord::readBits(image[offset], f.mask));
                break;
            case Shown::Hex:
                value = hexBytes(image.subspan(offset, 1));
                break;
            case Shown::HexRun:
                value = '[' + hexBytes(image.subspan(offset, f.length)) + ']';
                break;
            }
            fields.push_back({f.mask, std::string(f.name) + '=' + value});
        }
        std::stable_sort(fields.begin(), fields.end(), [](const Named& a, const Named& b) {
            return ModeRecord::firstBit(a.mask) < ModeRecord::firstBit(b.mask);
        });
        for (const Named& field : fields) {
            if (!line.empty()) {
                line += ' ';
            }
            line += field.text;
        }
    }
    return line;
}

} // namespace

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
        const auto s = static_cast<std::size_t>(slot);
        lines.push_back(slotName(slot) + " preset: " +
                        describeFields(state_, slot,
                                       offsetof(ConfigRecord, presets) + s * kEffectPresetSize,
                                       kEffectPresetSize, kPresetOthers));
        if (!isModeSlot(slot)) {
            continue; // the unit keeps no mode record for slots 1 to 4
        }
        lines.push_back(slotName(slot) + " mode: " +
                        describeFields(state_, slot,
                                       offsetof(ConfigRecord, modes) + s * kModeRecordSize,
                                       kModeRecordSize, kModeOthers));
    }
    return lines;
}

} // namespace cantavel
