#pragma once

// Every parameter the window edits, described once: its live command number, its
// stable identifier (the record's field name) and the name the window shows, where
// it lives in the record, its range, how it is shown, and the control that edits it.
// The window, the preset sheet, cantavel-cfg and the virtual unit all read this
// table; the protocol only carries the live numbers it is given.

#include "ConfigRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cantavel {

// In the window's handler order: sliders, up-down and knob of the effect, its lists,
// then the Default Setting.
enum class ParameterId : std::uint8_t {
    MusicBass,
    MusicMiddle,
    MusicTreble,
    MusicBalance,
    EchoDelay,
    EchoRepeat,
    EchoLevel,
    ReverbTime,
    ReverbLevel,
    MicBass,
    MicMiddle,
    MicTreble,
    SwFreq,
    EffectVolume,
    FbEx,
    KeyIndex,
    InputSource,
    Center,
    Aux,
    MusicIn,
    SwVol1,
    SwVol2,
    MusicVolMax,
    MicVolMax,
    MusicVolume,
    MicVolume,
};
inline constexpr std::size_t kParameterCount = 26;

enum class RecordPart : std::uint8_t { Preset, Mode };

// A field of one slot's effect preset or mode record: its byte and, for the packed
// bytes of the mode record, its bits.
struct FieldRef {
    RecordPart part;
    std::uint8_t byte;
    std::uint8_t mask = 0xFF;

    std::uint8_t get(const ConfigRecord& record, int slot) const;
    // Writes only the field's bits; a value wider than the field is cut to its width.
    void set(ConfigRecord& record, int slot, unsigned value) const;
    // The largest value the field can hold.
    constexpr unsigned widthMask() const {
        return static_cast<unsigned>(mask) >> ModeRecord::firstBit(mask);
    }
    // Where the byte is in the 294-byte image; a slot outside 0 to 6 throws
    // std::out_of_range.
    std::size_t imageOffset(int slot) const;
};

// How a stored value is shown. A tone is stored 0 to 20 and shown as stored - 10;
// its slider, whose top is -10, stands at 10 - stored.
enum class Display : std::uint8_t { AsStored, Tone };

enum class ControlKind : std::uint8_t { Slider, List, UpDown, Knob };

struct Parameter {
    ParameterId id;
    std::uint8_t live; // number in a live command
    const char* key;   // stable identifier: the record's name for the field
    const char* name;  // as the window names it
    FieldRef field;
    std::uint8_t minValue; // stored range
    std::uint8_t maxValue;
    Display display;
    ControlKind kind;
    const char* control;         // objectName of the control that edits it
    const char* valueEdit;       // objectName of the read-only edit showing it, or nullptr
    const char* items = nullptr; // a list's items in its order, split by '|'

    // The value as the window shows it, and back.
    constexpr int shown(int stored) const {
        return display == Display::Tone ? stored - 10 : stored;
    }
    constexpr int storedFromShown(int value) const {
        return display == Display::Tone ? value + 10 : value;
    }
    // The control's position for a stored value, and back (a tone slider is upside down).
    constexpr int position(int stored) const {
        return display == Display::Tone ? 10 - stored : stored;
    }
    constexpr int storedFromPosition(int position) const {
        return display == Display::Tone ? 10 - position : position;
    }
};

namespace detail {
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
inline constexpr std::array<Parameter, kParameterCount> kTable{{
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
    {FbEx, 8, "fbEx", "F.B-EX", PRESET(fbEx), 0, 3, kPlain, List, "ComboBox6", nullptr, "0|1|2|3"},
    {KeyIndex, 27, "keyIndex", "Key", PRESET(keyIndex), 0, 10, kPlain, List, "ComboBox1", nullptr, "b-5|b-4|b-3|b-2|b-1|0|#+1|#+2|#+3|#+4|#+5"},
    {InputSource, 26, "inputSource", "Input", mode(1, ModeRecord::kInputSourceMask), 0, 4, kPlain, List, "ComboBox2", nullptr, "BGM|AUX|DVD|TV|AUTO"},
    {Center, 13, "center", "Center", mode(2, ModeRecord::kCenterMask), 0, 1, kPlain, List, "ComboBox3", nullptr, "Music|Mic"},
    {Aux, 14, "aux", "Aux", mode(2, ModeRecord::kAuxMask), 0, 2, kPlain, List, "ComboBox4", nullptr, "Mic|Music|Mic+Music"},
    {MusicIn, 15, "musicIn", "Music In", mode(2, ModeRecord::kMusicInMask), 0, 3, kPlain, List, "ComboBox5", nullptr, "L+R|L+L|R+R|L-R"},
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

} // namespace detail

constexpr const std::array<Parameter, kParameterCount>& parameterTable() {
    return detail::kTable;
}
constexpr const Parameter& parameter(ParameterId id) {
    return detail::kTable[static_cast<std::size_t>(id)];
}

const Parameter* findParameterByLive(std::uint8_t live);
const Parameter* findParameterByKey(std::string_view key);

} // namespace cantavel
