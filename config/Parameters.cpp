#include "Parameters.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace cantavel {

namespace {

using enum ParameterId;
using enum ControlKind;
constexpr Display kTone = Display::Tone;
constexpr Display kPlain = Display::AsStored;

constexpr FieldRef preset(std::size_t offset) {
    return {RecordPart::Preset, static_cast<std::uint8_t>(offset)};
}
constexpr FieldRef mode(std::size_t offset, std::uint8_t mask = 0xFF) {
    return {RecordPart::Mode, static_cast<std::uint8_t>(offset), mask};
}

#define PRESET(field) preset(offsetof(EffectPreset, field))
#define MODE(field) mode(offsetof(ModeRecord, field))

// One row per parameter, in ParameterId order.
// clang-format off
constexpr std::array<Parameter, kParameterCount> kTable{{
    {MusicBass, 9, "musicBass", "Music Bass", PRESET(musicBass), 0, 20, kTone, Slider, "TrackBar5", "Edit2"},
    {MusicMiddle, 10, "musicMiddle", "Music Middle", PRESET(musicMiddle), 0, 20, kTone, Slider, "TrackBar7", "Edit3"},
    {MusicTreble, 11, "musicTreble", "Music Treble", PRESET(musicTreble), 0, 20, kTone, Slider, "TrackBar10", "Edit4"},
    {MusicBalance, 12, "musicBalance", "Music Balance", PRESET(musicBalance), 0, 20, kTone, Slider, "TrackBar9", "Edit5"},
    {EchoDelay, 0, "echoDelay", "Delay", PRESET(echoDelay), 2, 247, kPlain, Slider, "TrackBar11", "Edit6"},
    {EchoRepeat, 1, "echoRepeat", "Repeat", PRESET(echoRepeat), 0, 80, kPlain, Slider, "TrackBar12", "Edit7"},
    {EchoLevel, 2, "echoLevel", "Echo", PRESET(echoLevel), 0, 80, kPlain, Slider, "TrackBar13", "Edit8"},
    {ReverbTime, 3, "reverbTime", "Rev Time", PRESET(reverbTime), 0, 80, kPlain, Slider, "TrackBar14", "Edit9"},
    {ReverbLevel, 4, "reverbLevel", "Rev Level", PRESET(reverbLevel), 0, 80, kPlain, Slider, "TrackBar15", "Edit10"},
    {MicBass, 5, "micBass", "Mic Bass", PRESET(micBass), 0, 20, kTone, Slider, "TrackBar16", "Edit11"},
    {MicMiddle, 6, "micMiddle", "Mic Middle", PRESET(micMiddle), 0, 20, kTone, Slider, "TrackBar17", "Edit12"},
    {MicTreble, 7, "micTreble", "Mic Treble", PRESET(micTreble), 0, 20, kTone, Slider, "TrackBar18", "Edit13"},
    {SwFreq, 16, "swFreq", "SW FREQ", PRESET(swFreq), 50, 250, kPlain, UpDown, "UpDown2", "LabeledEdit2"},
    {EffectVolume, 21, "effectVolume", "Effect Volume", PRESET(effectVolume), 0, 80, kPlain, Knob, "mKnob1", "Edit14"},
    {FbEx, 8, "fbEx", "F.B-EX", PRESET(fbEx), 0, 3, kPlain, List, "ComboBox6", nullptr},
    {KeyIndex, 27, "keyIndex", "Key", PRESET(keyIndex), 0, 10, kPlain, List, "ComboBox1", nullptr},
    {InputSource, 26, "inputSource", "Input", mode(1, ModeRecord::kInputSourceMask), 0, 4, kPlain, List, "ComboBox2", nullptr},
    {Center, 13, "center", "Center", mode(2, ModeRecord::kCenterMask), 0, 1, kPlain, List, "ComboBox3", nullptr},
    {Aux, 14, "aux", "Aux", mode(2, ModeRecord::kAuxMask), 0, 2, kPlain, List, "ComboBox4", nullptr},
    {MusicIn, 15, "musicIn", "Music In", mode(2, ModeRecord::kMusicInMask), 0, 3, kPlain, List, "ComboBox5", nullptr},
    {SwVol1, 17, "swVol1", "SW VOL 1", MODE(swVol1), 1, 100, kPlain, UpDown, "UpDown1", "LabeledEdit5"},
    {SwVol2, 50, "swVol2", "SW VOL 2", MODE(swVol2), 1, 100, kPlain, UpDown, "UpDown5", "LabeledEdit1"},
    {MusicVolMax, 48, "musicVolMax", "Music Vol Max", MODE(musicVolMax), 1, 63, kPlain, UpDown, "UpDown4", "LabeledEdit4"},
    {MicVolMax, 49, "micVolMax", "Mic Vol Max", MODE(micVolMax), 1, 42, kPlain, UpDown, "UpDown3", "LabeledEdit3"},
    {MusicVolume, 19, "musicVolume", "Music", MODE(musicVolume), 0, 63, kPlain, Knob, "mKnob2", "Edit15"},
    {MicVolume, 20, "micVolume", "Mic", MODE(micVolume), 0, 42, kPlain, Knob, "mKnob3", "Edit16"},
}};
// clang-format on

#undef PRESET
#undef MODE

constexpr bool rowsFollowTheirIds() {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (static_cast<std::size_t>(kTable[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowTheirIds(), "parameter rows must be in ParameterId order");

constexpr bool liveNumbersDiffer() {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        for (std::size_t j = i + 1; j < kTable.size(); ++j) {
            if (kTable[i].live == kTable[j].live) {
                return false;
            }
        }
    }
    return true;
}
static_assert(liveNumbersDiffer(), "two parameters share a live number");

} // namespace

std::size_t FieldRef::imageOffset(int slot) const {
    if (slot < 0 || slot >= kSlotCount) {
        throw std::out_of_range("preset slot " + std::to_string(slot) + " is not 0 to 6");
    }
    const auto s = static_cast<std::size_t>(slot);
    return part == RecordPart::Preset
               ? offsetof(ConfigRecord, presets) + s * kEffectPresetSize + byte
               : offsetof(ConfigRecord, modes) + s * kModeRecordSize + byte;
}

std::uint8_t FieldRef::get(const ConfigRecord& record, int slot) const {
    return ModeRecord::readBits(record.image()[imageOffset(slot)], mask);
}

void FieldRef::set(ConfigRecord& record, int slot, unsigned value) const {
    ModeRecord::writeBits(record.image()[imageOffset(slot)], mask, value);
}

const std::array<Parameter, kParameterCount>& parameterTable() {
    return kTable;
}

const Parameter& parameter(ParameterId id) {
    return kTable[static_cast<std::size_t>(id)];
}

const Parameter* findParameterByLive(std::uint8_t live) {
    const auto it = std::find_if(kTable.begin(), kTable.end(),
                                 [live](const Parameter& p) { return p.live == live; });
    return it == kTable.end() ? nullptr : &*it;
}

const Parameter* findParameterByKey(std::string_view key) {
    const auto it = std::find_if(kTable.begin(), kTable.end(),
                                 [key](const Parameter& p) { return key == p.key; });
    return it == kTable.end() ? nullptr : &*it;
}

} // namespace cantavel
