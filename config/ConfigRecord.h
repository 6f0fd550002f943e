#pragma once

// The editor's whole state: one effect preset and one mode record for each of the
// seven preset slots. The byte image of ConfigRecord is at once the .cfg file and
// the source of every frame sent to the unit, so its layout is fixed to the byte.

#include "SlotKind.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace cantavel {

inline constexpr std::size_t kEffectPresetSize = 17;
inline constexpr std::size_t kModeRecordSize = 25;
inline constexpr std::size_t kConfigImageSize = 294;
inline constexpr std::uint8_t kRecordMarker = 0x55;

struct EffectPreset {
    std::uint8_t marker;
    std::uint8_t fbEx;
    std::uint8_t keyIndex;
    std::uint8_t musicBass;
    std::uint8_t musicMiddle;
    std::uint8_t musicTreble;
    std::uint8_t musicBalance;
    std::uint8_t echoDelay;
    std::uint8_t echoRepeat;
    std::uint8_t echoLevel;
    std::uint8_t reverbTime;
    std::uint8_t reverbLevel;
    std::uint8_t micBass;
    std::uint8_t micMiddle;
    std::uint8_t micTreble;
    std::uint8_t swFreq;
    std::uint8_t effectVolume;

    void setDefaults();
};

// Bytes 1 and 2 pack several small fields; the upper bits of both belong to the unit
// and are carried through every write untouched.
struct ModeRecord {
    std::uint8_t marker;
    std::uint8_t byte1; // inputSource (bits 0-2), fbExCopy (bits 3-4), free bits 5-7
    std::uint8_t byte2; // musicIn (bits 0-2), center (bit 3), aux (bits 4-5), free bits 6-7
    std::uint8_t keyCopy;
    std::uint8_t swVol1;
    std::uint8_t byte5;
    std::uint8_t musicVolume;
    std::uint8_t musicVolMax;
    std::uint8_t micVolume;
    std::uint8_t micVolMax;
    std::array<std::uint8_t, 13> effectCopy; // copy of EffectPreset bytes 3 to 15
    std::uint8_t swVol2;
    std::uint8_t effectVolumeCopy;

    static constexpr std::uint8_t kInputSourceMask = 0x07;
    static constexpr std::uint8_t kFbExCopyMask = 0x18;
    static constexpr std::uint8_t kMusicInMask = 0x07;
    static constexpr std::uint8_t kCenterMask = 0x08;
    static constexpr std::uint8_t kAuxMask = 0x30;

    std::uint8_t inputSource() const { return readBits(byte1, kInputSourceMask); }
    std::uint8_t fbExCopy() const { return readBits(byte1, kFbExCopyMask); }
    std::uint8_t musicIn() const { return readBits(byte2, kMusicInMask); }
    std::uint8_t center() const { return readBits(byte2, kCenterMask); }
    std::uint8_t aux() const { return readBits(byte2, kAuxMask); }

    void setInputSource(unsigned value) { writeBits(byte1, kInputSourceMask, value); }
    void setFbExCopy(unsigned value) { writeBits(byte1, kFbExCopyMask, value); }
    void setMusicIn(unsigned value) { writeBits(byte2, kMusicInMask, value); }
    void setCenter(unsigned value) { writeBits(byte2, kCenterMask, value); }
    void setAux(unsigned value) { writeBits(byte2, kAuxMask, value); }

    // Defaults of File > New; the free bits of bytes 1 and 2 keep their values.
    void setDefaults();

    static constexpr int firstBit(std::uint8_t mask) {
        int bit = 0;
        while (mask != 0 && (mask & 1u) == 0) {
            mask = static_cast<std::uint8_t>(mask >> 1);
            ++bit;
        }
        return bit;
    }
    static constexpr std::uint8_t readBits(std::uint8_t byte, std::uint8_t mask) {
        return static_cast<std::uint8_t>((byte & mask) >> firstBit(mask));
    }
    // new byte = (old AND NOT mask) OR ((value AND width mask) << first bit)
    static constexpr void writeBits(std::uint8_t& byte, std::uint8_t mask, unsigned value) {
        const unsigned widthMask = static_cast<unsigned>(mask) >> firstBit(mask);
        byte = static_cast<std::uint8_t>((byte & ~mask) | ((value & widthMask) << firstBit(mask)));
    }
};

class ConfigRecord {
public:
    std::array<EffectPreset, kSlotCount> presets{};
    std::array<ModeRecord, kSlotCount> modes{};

    // File > New: the mode records of the mode slots first, then every preset.
    // The mode records of slots 1 to 4 are left as the last opened file had them.
    void resetToDefaults();

    // Copies the slot's effect fields into its mode record, just before the mode
    // record goes to the unit. Only meaningful for mode slots.
    void syncModeFromPreset(int slot);

    // Slots run from 0 to 6; anything else throws std::out_of_range.
    EffectPreset& preset(int slot);
    const EffectPreset& preset(int slot) const;
    ModeRecord& mode(int slot);
    const ModeRecord& mode(int slot) const;

    std::span<std::uint8_t, kConfigImageSize> image();
    std::span<const std::uint8_t, kConfigImageSize> image() const;
};

static_assert(sizeof(EffectPreset) == kEffectPresetSize);
static_assert(sizeof(ModeRecord) == kModeRecordSize);
static_assert(sizeof(ConfigRecord) == kConfigImageSize);
static_assert(offsetof(ConfigRecord, presets) == 0);
static_assert(offsetof(ConfigRecord, presets) + sizeof(EffectPreset) == 17);
static_assert(offsetof(ConfigRecord, modes) == 119);
static_assert(offsetof(ConfigRecord, modes) + sizeof(ModeRecord) == 144);
static_assert(offsetof(EffectPreset, musicBass) == 3);
static_assert(offsetof(EffectPreset, swFreq) == 15);
static_assert(offsetof(ModeRecord, effectCopy) == 10);
static_assert(offsetof(ModeRecord, swVol2) == 23);

} // namespace cantavel
