// The record as the window shows it, read without the window (for the printed sheet
// and the command-line tool), and File > Print... and Export PDF....

#include "ParameterValues.h"
#include "WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <random>

namespace cantavel::testing {
namespace {

class Sheet : public WindowTest {};

// Random records, values out of range and list indices beyond the items included:
// each tab shows what shownText() says, and showing it stores what bringIntoRange()
// stores, byte for byte.
TEST_F(Sheet, ValuesAsShownAgreeWithTheWindowOnEveryTab) {
    for (const unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        std::mt19937 random(seed);
        for (std::uint8_t& byte : record().image()) {
            byte = static_cast<std::uint8_t>(random());
        }
        ConfigRecord expected = record();
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (tabs()->currentIndex() == slot) {
                form->TabControl1Change(nullptr);
            } else {
                clickTab(slot);
            }
            bringIntoRange(expected, slot);
            for (std::size_t i = 0; i < kConfigImageSize; ++i) {
                ASSERT_EQ(record().image()[i], expected.image()[i])
                    << "seed " << seed << ", slot " << slot << ", byte " << i;
            }
            for (const Parameter* p : slotParameters(slot)) {
                const QString shown = p->valueEdit ? child<QLineEdit>(p->valueEdit)->text()
                                                   : child<QComboBox>(p->control)->currentText();
                EXPECT_EQ(shown, shownText(record(), slot, *p))
                    << "seed " << seed << ", slot " << slot << ", " << p->key;
            }
        }
    }
}

} // namespace
} // namespace cantavel::testing
