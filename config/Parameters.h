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
    const char* control;   // objectName of the control that edits it
    const char* valueEdit; // objectName of the read-only edit showing it, or nullptr

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

const std::array<Parameter, kParameterCount>& parameterTable();
const Parameter& parameter(ParameterId id);
const Parameter* findParameterByLive(std::uint8_t live);
const Parameter* findParameterByKey(std::string_view key);

} // namespace cantavel
