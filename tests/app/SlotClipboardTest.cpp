// A whole slot copied and pasted through the clipboard, or dropped on a tab: one step
// to take back, only the values both slots show, and in Link mode on "Default" the
// unit told of every change.

#include "ParameterValues.h"
#include "SlotTransfer.h"
#include "WindowFixture.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>

#include <cstring>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Slots = testing::WindowTest;

using Image = PresetDocument::Image;
using testing::imageOf;

// A record whose slots hold values that differ from slot to slot and from the
// defaults, all within their ranges and limits.
ConfigRecord distinctRecord() {
    ConfigRecord r{};
    r.resetToDefaults();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        for (const Parameter* p : slotParameters(slot)) {
            const unsigned span = p->maxValue - p->minValue;
            const unsigned value = p->minValue + (static_cast<unsigned>(slot) + 1 + p->live) % span;
            p->field.set(r, slot, value);
        }
        ModeRecord& m = r.mode(slot);
        m.musicVolume = std::min(m.musicVolume, m.musicVolMax);
        m.micVolume = std::min(m.micVolume, m.micVolMax);
        m.swVol2 = std::min(m.swVol2, m.swVol1);
    }
    return r;
}

TEST_F(Slots, CopyThenPasteOnAnotherTabIsOneStepThatUndoTakesBack) {
    record() = distinctRecord();
    clickTab(2);
    action("CopySlot1")->trigger();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    const std::optional<SlotTransfer> onClipboard = slotFromMimeData(*copied);
    ASSERT_TRUE(onClipboard);
    EXPECT_EQ(onClipboard->source, QStringLiteral("Untitled, slot 2"));
    EXPECT_TRUE(copied->text().contains(QStringLiteral("2.echoDelay=")));

    clickTab(3);
    const Image before = imageOf(record());
    action("PasteSlot1")->trigger();
    EXPECT_EQ(tabs()->currentIndex(), 3);
    EXPECT_EQ(std::memcmp(&record().preset(3), &record().preset(2), kEffectPresetSize), 0);
    EXPECT_EQ(
        std::memcmp(&record().mode(3), before.data() + 119 + 3 * kModeRecordSize, kModeRecordSize),
        0)
        << "a numbered slot's mode record is not the pasted slot's";
    EXPECT_EQ(text("Edit6"), QString::number(record().preset(2).echoDelay));
    EXPECT_TRUE(form->windowTitle().startsWith('*'));

    action("Undo1")->trigger();
    EXPECT_TRUE(imageOf(record()) == before) << "one step, taken back byte for byte";
    EXPECT_EQ(text("Edit6"), QString::number(record().preset(3).echoDelay));
    action("Redo1")->trigger();
    EXPECT_EQ(std::memcmp(&record().preset(3), &record().preset(2), kEffectPresetSize), 0);

    // Nothing usable on the clipboard: one message, and nothing changes.
    const Image pasted = imageOf(record());
    for (const QString& text : {QStringLiteral("hello"), QString()}) {
        dialogs.messages.clear();
        QGuiApplication::clipboard()->setText(text);
        action("PasteSlot1")->trigger();
        ASSERT_EQ(dialogs.messages.size(), 1u) << text.toStdString();
        EXPECT_EQ(dialogs.messages[0].text,
                  QStringLiteral("The clipboard holds no slot to paste."));
        EXPECT_TRUE(imageOf(record()) == pasted);
    }
    EXPECT_EQ(action("CopySlot1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    EXPECT_EQ(action("PasteSlot1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+V")));
}

// Only what both slots show changes: an effect preset on a mode slot leaves its
// Default Setting, and a mode slot on an effect preset gives only its effect. The
// bytes no parameter holds (markers, the unit's free bits, the mode record's copies)
// stay as the target had them.
TEST_F(Slots, OnlyTheValuesBothSlotsShowChange) {
    const ConfigRecord from = distinctRecord();
    const struct {
        int target;
        int fromSlot;
    } cases[] = {{5, 2}, {0, 1}, {1, 6}, {6, 0}, {4, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fromSlot << " onto " << c.target);
        action("New1")->trigger();
        ModeRecord& m = record().mode(c.target);
        m.byte1 |= 0xE0;
        m.byte2 |= 0xC0;
        m.keyCopy = 0x5A;
        m.effectCopy[4] = 0xA5;
        ConfigRecord expected = record();
        for (const Parameter* p : slotParameters(c.target)) {
            if (slotHas(c.fromSlot, *p)) {
                p->field.set(expected, c.target, p->field.get(from, c.fromSlot));
            }
        }
        ASSERT_TRUE(form->PasteSlot(c.target, from, c.fromSlot));
        EXPECT_EQ(tabs()->currentIndex(), c.target);
        EXPECT_TRUE(imageOf(record()) == imageOf(expected));
    }
}

// A slot dragged onto the tab strip, in either form, lands on the tab under the
// point; beside the tabs, or data that holds no slot, is not taken.
TEST_F(Slots, ASlotDroppedOnATabLandsOnThatTab) {
    const ConfigRecord from = distinctRecord();
    const auto send = [this](QEvent& event) {
        QCoreApplication::sendEvent(tabs(), &event);
        return event.isAccepted();
    };
    const auto drop = [&](const QMimeData& data, QPoint at) {
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        const bool entered = send(enter);
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        return send(dropped) && entered;
    };
    const QPoint onTab4 = tabs()->tabRect(4).center();
    const std::unique_ptr<QMimeData> exact = slotMimeData(from, 1, QStringLiteral("library"));
    EXPECT_TRUE(drop(*exact, onTab4));
    EXPECT_EQ(tabs()->currentIndex(), 4);
    EXPECT_EQ(std::memcmp(&record().preset(4), &from.preset(1), kEffectPresetSize), 0);

    QMimeData text;
    text.setText(slotAssignments(from, 6));
    EXPECT_TRUE(drop(text, tabs()->tabRect(5).center()));
    EXPECT_EQ(tabs()->currentIndex(), 5);
    for (const Parameter* p : slotParameters(5)) {
        EXPECT_EQ(shownText(record(), 5, *p), shownText(from, 6, *p)) << p->key;
    }

    const Image before = imageOf(record());
    QMimeData words;
    words.setText(QStringLiteral("a few words"));
    EXPECT_FALSE(drop(words, tabs()->tabRect(2).center()));
    const QPoint beside = tabs()->tabRect(tabs()->count() - 1).topRight() + QPoint(5, 2);
    EXPECT_FALSE(drop(*exact, beside));
    EXPECT_TRUE(imageOf(record()) == before);
    EXPECT_EQ(tabs()->currentIndex(), 5);
}

// In Link mode on "Default" the unit hears every value a paste changes, in the order
// the document makes them; a paste on a numbered tab ends Link as entering it does;
// while a Device command runs, nothing is pasted.
TEST_F(Slots, APasteOnDefaultInLinkModeIsSentLive) {
    const ConfigRecord from = distinctRecord();
    linkOn();
    QByteArray expected;
    QObject::connect(&form->Document(), &PresetDocument::valueChanged, form.get(),
                     [&](int, ParameterId id, unsigned, unsigned after) {
                         expected += hex("26") + char(parameter(id).live) + char(after);
                     });
    ASSERT_TRUE(form->PasteSlot(0, from, 5));
    EXPECT_GE(expected.size(), 3 * 16) << "most values differ";
    EXPECT_EQ(sent().toHex(' '), expected.toHex(' '));
    EXPECT_TRUE(action("Link1")->isChecked());

    ASSERT_TRUE(form->PasteSlot(2, from, 5));
    EXPECT_FALSE(action("Link1")->isChecked());
    EXPECT_TRUE(sent().isEmpty());

    const Image before = imageOf(record());
    bool pasted = true;
    QGuiApplication::clipboard()->setMimeData(slotMimeData(from, 1).release());
    clock.after(300ms, [&] {
        pasted = form->PasteSlot(3, from, 1);
        dialogs.messages.clear();
        action("PasteSlot1")->trigger(); // from the menu: one message says why not
    });
    action("Upload1")->trigger();
    EXPECT_FALSE(pasted);
    EXPECT_TRUE(imageOf(record()) == before);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("The slot was not pasted."));
}

// A text that gives some values of a slot changes only those: the rest of the tab
// stays as it was, not a new record's.
TEST_F(Slots, ATextOfSomeValuesChangesOnlyThose) {
    record() = distinctRecord();
    clickTab(4);
    const Image before = imageOf(record());
    QGuiApplication::clipboard()->setText(QStringLiteral("# a nudge\n3.echoDelay=33\n3.key=#+4\n"));
    action("PasteSlot1")->trigger();
    EXPECT_EQ(record().preset(4).echoDelay, 33);
    EXPECT_EQ(shownText(record(), 4, parameter(ParameterId::KeyIndex)), QStringLiteral("#+4"));
    Image expected = before;
    const std::size_t delay = parameter(ParameterId::EchoDelay).field.imageOffset(4);
    const std::size_t key = parameter(ParameterId::KeyIndex).field.imageOffset(4);
    expected[delay] = 33;
    expected[key] = record().image()[key];
    EXPECT_TRUE(imageOf(record()) == expected) << "a value the text does not give changed";
    action("Undo1")->trigger();
    EXPECT_TRUE(imageOf(record()) == before);
}

} // namespace
} // namespace cantavel
