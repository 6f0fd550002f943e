#include "UnitDecoder.h"
#include "Parameters.h"
#include "Protocol.h"

#include <gtest/gtest.h>

#include <random>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size() + 1; i += 3) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

class Decoder : public ::testing::Test {
protected:
    Lines feed(const Bytes& bytes, std::chrono::milliseconds at = 0ms) {
        return decoder.feed(bytes, t0 + at);
    }
    UnitDecoder decoder;
    UnitDecoder::Clock::time_point t0 = UnitDecoder::Clock::now();
};

TEST_F(Decoder, LiveCommandsNameTheirFieldAndChangeSlotZero) {
    EXPECT_EQ(feed(hex("26 00 64")), Lines{"live 0 echoDelay = 100"});
    EXPECT_EQ(decoder.state().preset(0).echoDelay, 100);
    decoder.feed(hex("26 0D 01"), t0);
    EXPECT_EQ(decoder.state().mode(0).center(), 1);
    EXPECT_EQ(decoder.state().mode(0).aux(), 2) << "a bit field leaves its neighbours";
    EXPECT_EQ(feed(hex("26 12 05")), Lines{"live 18 (unknown parameter) = 5, ignored"});
    EXPECT_EQ(feed(hex("26 30 50")), Lines{"live 48 musicVolMax = 80 (outside 1..63)"});
    EXPECT_EQ(decoder.counts().live, 4);
}

// Each parameter, from a random record's slot 0 through its live frame into the
// unit, and back out of the unit's record: the same value, and nothing else moved.
TEST_F(Decoder, EveryParameterComesBackFromTheUnitAsItWent) {
    std::mt19937 random(1208);
    for (const Parameter& p : parameterTable()) {
        SCOPED_TRACE(p.key);
        for (int round = 0; round < 10; ++round) {
            ConfigRecord record{};
            for (std::uint8_t& b : record.image()) {
                b = static_cast<std::uint8_t>(random());
            }
            const unsigned value = p.minValue + random() % (p.maxValue - p.minValue + 1u);
            p.field.set(record, 0, value);
            const ConfigRecord unitBefore = decoder.state();

            FrameBuffer frame{};
            const std::size_t length = buildLiveFrame(frame, p.live, p.field.get(record, 0));
            const Lines lines = feed(Bytes(frame.begin(), frame.begin() + length));
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], "live " + std::to_string(p.live) + " " + p.key + " = " +
                                    std::to_string(value));

            ConfigRecord expected = unitBefore;
            p.field.set(expected, 0, value);
            EXPECT_EQ(p.field.get(decoder.state(), 0), p.field.get(record, 0));
            EXPECT_TRUE(std::equal(expected.image().begin(), expected.image().end(),
                                   decoder.state().image().begin()));
        }
    }
}

TEST_F(Decoder, UploadsReplaceTheSlotTheyAddress) {
    const Bytes preset = hex("25 00 55 00 05 0A 0A 0A 0A B4 28 28 14 05 0A 0A 0A 64 37");
    EXPECT_EQ(feed(preset), Lines{"preset upload slot 1 (index 0): 55 00 05 0A 0A 0A 0A B4 28 28 "
                                  "14 05 0A 0A 0A 64 37"});
    Bytes mode = hex("3A 04 55 04 20 05 64 14 19 3A 19 23 0A 0A 0A 0A B4 28 28 14 05 0A 0A 0A 64 "
                     "32 37");
    mode[2 + 4] = 99; // swVol1
    const Lines lines = feed(mode);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("mode upload Mode A (index 4): 55 04 20 05 63", 0), 0u) << lines[0];
    EXPECT_EQ(decoder.state().mode(5).swVol1, 99);

    EXPECT_EQ(feed(hex("25 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"))
                  .front()
                  .rfind("preset upload with unknown index 7, ignored", 0),
              0u);
}

TEST_F(Decoder, FramesSplitAcrossReadsDecodeTheSame) {
    const Bytes stream = hex("26 01 10 3A 06 55 04 20 05 64 14 19 3A 19 23 0A 0A 0A 0A B4 28 28 14 "
                             "05 0A 0A 0A 64 32 37 26 02 11");
    Lines all;
    for (std::uint8_t b : stream) {
        for (const std::string& line : feed({b}, 10ms)) {
            all.push_back(line);
        }
    }
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], "live 1 echoRepeat = 16");
    EXPECT_EQ(all[1].rfind("mode upload Default (index 6)", 0), 0u);
    EXPECT_EQ(all[2], "live 2 echoLevel = 17");
}

TEST_F(Decoder, GarbageIsReportedAndDecodingResumesAtTheNextCommandByte) {
    EXPECT_EQ(feed(hex("41 42 43 26 04 07 00")),
              (Lines{"unknown bytes, start no frame: 3 bytes: 41 42 43", "live 4 reverbLevel = 7",
                     "unknown byte, starts no frame: 00"}));
    EXPECT_EQ(decoder.counts().unknownBytes, 4);
}

TEST_F(Decoder, FrameCutShortIsReportedAfterHalfASecond) {
    EXPECT_TRUE(feed(hex("25 00 55 00 05"), 0ms).empty());
    ASSERT_TRUE(decoder.deadline().has_value());
    EXPECT_TRUE(decoder.expire(t0 + 400ms).empty());
    EXPECT_EQ(decoder.expire(t0 + 501ms),
              Lines{"cut frame, nothing more within 500 ms (5 of 19 bytes): 25 00 55 00 05"});
    EXPECT_FALSE(decoder.deadline().has_value());

    // Cut found by the next bytes themselves, which then start afresh.
    feed(hex("3A 06 55"), 1000ms);
    EXPECT_EQ(feed(hex("26 00 64"), 1600ms),
              (Lines{"cut frame, nothing more within 500 ms (3 of 27 bytes): 3A 06 55",
                     "live 0 echoDelay = 100"}));
    EXPECT_EQ(decoder.counts().cutFrames, 2);
    EXPECT_EQ(decoder.state().preset(1).marker, 0x55) << "a cut upload changes nothing";
}

TEST_F(Decoder, UploadAllStreamGivesSevenFramesInSlotOrder) {
    ConfigRecord record;
    record.resetToDefaults();
    Bytes stream;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (isModeSlot(slot)) {
            record.syncModeFromPreset(slot);
            stream.push_back(kModeUpload);
            stream.push_back(deviceIndex(slot));
            const auto* m = reinterpret_cast<const std::uint8_t*>(&record.mode(slot));
            stream.insert(stream.end(), m, m + kModeRecordSize);
        } else {
            stream.push_back(kPresetUpload);
            stream.push_back(deviceIndex(slot));
            const auto* p = reinterpret_cast<const std::uint8_t*>(&record.preset(slot));
            stream.insert(stream.end(), p, p + kEffectPresetSize);
        }
    }
    ASSERT_EQ(stream.size(), 157u);
    const Lines lines = feed(stream);
    ASSERT_EQ(lines.size(), 7u);
    const char* heads[] = {"mode upload Default (index 6)",  "preset upload slot 1 (index 0)",
                           "preset upload slot 2 (index 1)", "preset upload slot 3 (index 2)",
                           "preset upload slot 4 (index 3)", "mode upload Mode A (index 4)",
                           "mode upload Mode B (index 5)"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(heads[i], 0), 0u) << lines[i];
    }
    const Lines state = decoder.describeState();
    EXPECT_EQ(state.size(), 7u + 3u) << "a preset line per slot, a mode line for 0, 5 and 6";
    EXPECT_NE(state[0].find("echoDelay=180"), std::string::npos) << state[0];
}

// The unit's dump of what it holds, field by field in the record's order, after
// every slot it takes an upload for was sent bytes that differ from one another
// (free bits set and all): the Default preset as the factory left it, a preset that
// came in, and the first and last mode records.
TEST_F(Decoder, StateDumpNamesEveryFieldOfTheRecord) {
    ConfigRecord record{};
    const auto image = record.image();
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    Bytes stream;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        const bool mode = isModeSlot(slot);
        stream.push_back(mode ? kModeUpload : kPresetUpload);
        stream.push_back(deviceIndex(slot));
        const auto* bytes = mode ? reinterpret_cast<const std::uint8_t*>(&record.mode(slot))
                                 : reinterpret_cast<const std::uint8_t*>(&record.preset(slot));
        stream.insert(stream.end(), bytes, bytes + (mode ? kModeRecordSize : kEffectPresetSize));
    }
    ASSERT_EQ(feed(stream).size(), 7u);
    const Lines state = decoder.describeState();
    ASSERT_EQ(state.size(), 10u);
    const struct {
        std::size_t line;
        const char* text;
    } pinned[] = {
        {0, "Default preset: marker=55 fbEx=0 keyIndex=5 musicBass=10 musicMiddle=10 "
            "musicTreble=10 musicBalance=10 echoDelay=180 echoRepeat=40 echoLevel=40 "
            "reverbTime=20 reverbLevel=5 micBass=10 micMiddle=10 micTreble=10 swFreq=100 "
            "effectVolume=55"},
        {1, "Default mode: marker=3E inputSource=3 fbExCopy=0 musicIn=0 center=1 aux=0 "
            "keyCopy=173 swVol1=210 byte5=247 musicVolume=28 musicVolMax=65 micVolume=102 "
            "micVolMax=139 effectCopy=[B0 D5 FA 1F 44 69 8E B3 D8 FD 22 47 6C] swVol2=145 "
            "effectVolumeCopy=182"},
        {3, "slot 2 preset: marker=F5 fbEx=26 keyIndex=63 musicBass=100 musicMiddle=137 "
            "musicTreble=174 musicBalance=211 echoDelay=248 echoRepeat=29 echoLevel=66 "
            "reverbTime=103 reverbLevel=140 micBass=177 micMiddle=214 micTreble=251 swFreq=32 "
            "effectVolume=69"},
        {9, "Mode B mode: marker=EC inputSource=1 fbExCopy=2 musicIn=6 center=0 aux=3 "
            "keyCopy=91 swVol1=128 byte5=165 musicVolume=202 musicVolMax=239 micVolume=20 "
            "micVolMax=57 effectCopy=[5E 83 A8 CD F2 17 3C 61 86 AB D0 F5 1A] swVol2=63 "
            "effectVolumeCopy=100"},
    };
    for (const auto& p : pinned) {
        EXPECT_EQ(state[p.line], p.text) << "line " << p.line;
    }
}

TEST_F(Decoder, RandomStreamsNeverLoseTrackOfBytes) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        UnitDecoder d;
        Bytes stream(random() % 400);
        for (auto& b : stream) {
            const unsigned pick = random() % 8;
            b = pick == 0   ? kLiveCommand
                : pick == 1 ? kModeUpload
                            : static_cast<std::uint8_t>(random());
        }
        auto at = t0;
        std::size_t offset = 0;
        while (offset < stream.size()) {
            const std::size_t n = std::min<std::size_t>(stream.size() - offset, 1 + random() % 40);
            at += std::chrono::milliseconds(random() % 700);
            d.feed(std::span(stream.data() + offset, n), at);
            offset += n;
        }
        d.expire(at + 10s);
        const auto& c = d.counts();
        EXPECT_FALSE(d.deadline().has_value());
        EXPECT_LE(static_cast<std::size_t>(c.unknownBytes), stream.size());
        EXPECT_LE(c.live * 3 + c.presetUploads * 19 + c.modeUploads * 27 + c.unknownBytes,
                  static_cast<int>(stream.size()));
    }
}

} // namespace
} // namespace cantavel
