#include "ConfigRecord.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace cantavel {

void EffectPreset::setDefaults() {
    fbEx = 0;
    keyIndex = 5;
    musicBass = 10;
    musicMiddle = 10;
    musicTreble = 10;
    musicBalance = 10;
    echoDelay = 180;
    echoRepeat = 40;
    echoLevel = 40;
    reverbTime = 20;
    reverbLevel = 5;
    micBass = 10;
    micMiddle = 10;
    micTreble = 10;
    swFreq = 100;
    effectVolume = 55;
    marker = kRecordMarker;
}

void ModeRecord::setDefaults() {
    setInputSource(4);
    setFbExCopy(0);
    setMusicIn(0);
    setCenter(0);
    setAux(2);
    keyCopy = 5;
    swVol1 = 100;
    byte5 = 20;
    musicVolume = 25;
    musicVolMax = 58;
    micVolume = 25;
    micVolMax = 35;
    effectCopy = {10, 10, 10, 10, 2, 0, 0, 0, 0, 10, 10, 10, 100};
    swVol2 = 50;
    effectVolumeCopy = 10;
    marker = kRecordMarker;
}

void ConfigRecord::resetToDefaults() {
    for (int slot : kModeSlots) {
        mode(slot).setDefaults();
    }
    for (EffectPreset& p : presets) {
        p.setDefaults();
    }
}

void ConfigRecord::syncModeFromPreset(int slot) {
    const EffectPreset& p = preset(slot);
    ModeRecord& m = mode(slot);
    m.setFbExCopy(p.fbEx & 3u);
    m.keyCopy = p.keyIndex;
    // Bytes 3 to 15 of the preset, musicBass to swFreq, in their stored order.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&p);
    std::copy_n(bytes + offsetof(EffectPreset, musicBass), m.effectCopy.size(),
                m.effectCopy.begin());
    m.effectVolumeCopy = p.effectVolume;
}

namespace {
void checkSlot(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        throw std::out_of_range("preset slot " + std::to_string(slot) + " is not 0 to 6");
    }
}
} // namespace

EffectPreset& ConfigRecord::preset(int slot) {
    checkSlot(slot);
    return presets[static_cast<std::size_t>(slot)];
}

const EffectPreset& ConfigRecord::preset(int slot) const {
    checkSlot(slot);
    return presets[static_cast<std::size_t>(slot)];
}

ModeRecord& ConfigRecord::mode(int slot) {
    checkSlot(slot);
    return modes[static_cast<std::size_t>(slot)];
}

const ModeRecord& ConfigRecord::mode(int slot) const {
    checkSlot(slot);
    return modes[static_cast<std::size_t>(slot)];
}

// The record is a standard-layout aggregate of bytes with no padding (checked in the
// header), so its object representation is the file image.
std::span<std::uint8_t, kConfigImageSize> ConfigRecord::image() {
    return std::span<std::uint8_t, kConfigImageSize>(reinterpret_cast<std::uint8_t*>(this),
                                                     kConfigImageSize);
}

std::span<const std::uint8_t, kConfigImageSize> ConfigRecord::image() const {
    return std::span<const std::uint8_t, kConfigImageSize>(
        reinterpret_cast<const std::uint8_t*>(this), kConfigImageSize);
}

} // namespace cantavel
