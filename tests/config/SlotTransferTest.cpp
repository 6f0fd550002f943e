// A slot on its way between records: what the clipboard and a drag carry comes back
// as it left, and whatever else arrives is refused without harm.

#include "SlotTransfer.h"
#include "ParameterValues.h"

#include <QMimeData>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace cantavel {
namespace {

bool sameSlotBytes(const ConfigRecord& a, int slotA, const ConfigRecord& b, int slotB) {
    return std::memcmp(&a.preset(slotA), &b.preset(slotB), kEffectPresetSize) == 0 &&
           std::memcmp(&a.mode(slotA), &b.mode(slotB), kModeRecordSize) == 0;
}

// Random records, every byte of them (values out of range, lists that show no item,
// volumes above their maxima, free bits set), every slot: our own form gives the
// slot's bytes back exactly, and the text form alone the values the slot shows.
TEST(SlotTransfer, EverySlotOfAnyRecordComesBackAsItLeft) {
    std::mt19937 random(7031);
    std::uniform_int_distribution<int> byte(0, 255);
    const QString sources[] = {
        QString(), QStringLiteral("live/ballads.cfg, slot 3"),
        QStringLiteral("Lieder für Überäll.cfg, Mode A"),
        QString(700, QChar(0x00FC)), // 1400 bytes of UTF-8: cut, never inside a character
    };
    for (int round = 0; round < 40; ++round) {
        ConfigRecord record{};
        for (std::uint8_t& b : record.image()) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        const QString& source = sources[round % std::size(sources)];
        for (int slot = 0; slot < kSlotCount; ++slot) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", slot " << slot);
            const std::unique_ptr<QMimeData> data = slotMimeData(record, slot, source);
            QString why;
            const std::optional<SlotTransfer> exact = slotFromMimeData(*data, &why);
            ASSERT_TRUE(exact) << why.toStdString();
            EXPECT_EQ(exact->slot, slot);
            EXPECT_TRUE(sameSlotBytes(exact->record, slot, record, slot));
            EXPECT_EQ(source.left(exact->source.size()), exact->source);
            EXPECT_LE(exact->source.toUtf8().size(), 1024);
            EXPECT_GE(exact->source.size(), std::min<qsizetype>(source.size(), 500));

            QMimeData textOnly;
            textOnly.setText(data->text());
            const std::optional<SlotTransfer> shown = slotFromMimeData(textOnly, &why);
            ASSERT_TRUE(shown) << why.toStdString() << "\n" << data->text().toStdString();
            EXPECT_EQ(shown->slot, slot);
            EXPECT_TRUE(shown->source.isEmpty());
            for (const Parameter* p : slotParameters(slot)) {
                const QString given = shownText(record, slot, *p);
                if (!given.isEmpty()) { // a list that shows no item is not in the text
                    EXPECT_EQ(shownText(shown->record, slot, *p), given) << p->key;
                }
            }
        }
    }
}

// Whatever arrives that is not a slot is refused, with a reason, and never read past
// its end: our form damaged in each of its parts, and texts that are not one slot's
// values (or break a rule between them).
TEST(SlotTransfer, AnythingButASlotIsRefused) {
    ConfigRecord record{};
    record.resetToDefaults();
    const QByteArray good =
        slotMimeData(record, 5, QStringLiteral("a.cfg"))->data(QLatin1String(kSlotMimeType));
    ASSERT_EQ(good.size(), 46 + 5);
    const auto with = [&](qsizetype at, char value) {
        QByteArray bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const QByteArray longSource = good.left(44) + QByteArray("\x04\x01", 2) + QByteArray(1025, 'x');
    const QByteArray notUtf8 = good.left(44) + QByteArray("\x00\x02\xC3\x28", 4);
    const struct {
        const char* what;
        QByteArray bytes;
    } damaged[] = {
        {"empty", {}},
        {"header cut short", good.left(45)},
        {"source cut short", good.chopped(1)},
        {"a byte too many", good + 'x'},
        {"version 0", with(0, 0)},
        {"version 2", with(0, 2)},
        {"slot 7", with(1, 7)},
        {"slot 255", with(1, static_cast<char>(0xFF))},
        {"source length beyond the bytes", with(45, 0x7F)},
        {"source beyond its bound", longSource},
        {"source not UTF-8", notUtf8},
    };
    for (const auto& c : damaged) {
        QMimeData data;
        data.setData(QLatin1String(kSlotMimeType), c.bytes);
        data.setText(QStringLiteral("default.echoDelay=100\n")); // beside it, not taken instead
        QString why;
        EXPECT_FALSE(slotFromMimeData(data, &why)) << c.what;
        EXPECT_FALSE(why.isEmpty()) << c.what;
    }

    const char* const texts[] = {
        "",
        "# only a comment\n\n",
        "hello",
        "default.echoDelay=100\nmode-a.echoDelay=100\n", // two slots
        "default.echoDelay=100\nsome words\n",
        "default.frob=1\n",
        "9.echoDelay=100\n",
        "default.echoDelay=300\n",  // out of range
        "3.musicVolume=10\n",       // not on a numbered slot
        "default.musicVolume=60\n", // above the default maximum of 58
        "default.keyIndex=#+9\n",   // no such item
    };
    for (const char* text : texts) {
        QMimeData data;
        data.setText(QString::fromUtf8(text));
        QString why;
        EXPECT_FALSE(slotFromMimeData(data, &why)) << text;
        EXPECT_FALSE(why.isEmpty()) << text;
    }
    // A reason goes into a message box, which lays out every character: a long line
    // from the clipboard is quoted by its start and end only.
    const QString longLines[] = {
        QString(60'000, QLatin1Char('x')),
        QStringLiteral("default.echoDelay=") + QString(60'000, QLatin1Char('9')),
        QStringLiteral("default.") + QString(60'000, QLatin1Char('k')) + QStringLiteral("=1"),
        QStringLiteral("default.echoDelay=100\n") + QString(60'000, QLatin1Char('y')),
    };
    for (const QString& text : longLines) {
        QMimeData data;
        data.setText(text);
        QString why;
        EXPECT_FALSE(slotFromMimeData(data, &why)) << text.left(40).toStdString();
        EXPECT_FALSE(why.isEmpty());
        EXPECT_LT(why.size(), 400) << why.left(400).toStdString();
    }
    QMimeData huge;
    huge.setText(QStringLiteral("default.echoDelay=100\n").repeated(4000));
    EXPECT_FALSE(slotFromMimeData(huge));
    EXPECT_FALSE(slotFromMimeData(QMimeData()));

    // What a person writes: comments, blank lines, space around, CR LF, any order.
    QMimeData written;
    written.setText(QStringLiteral("# ballad\r\n\r\n  mode-b.musicVolume=60 \r\n"
                                   "Mode B.Music Vol Max=63\r\nmode-b.input=dvd"));
    const std::optional<SlotTransfer> slot = slotFromMimeData(written);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->slot, 6);
    EXPECT_EQ(slot->record.mode(6).musicVolume, 60);
    EXPECT_EQ(slot->record.mode(6).musicVolMax, 63);
    EXPECT_EQ(slot->record.mode(6).inputSource(), 2);
}

} // namespace
} // namespace cantavel
