// Track bars as they are drawn: the pixels the style puts down for a slider's option,
// read back from an image.

#include "TrackBarStyle.h"

#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QSlider>
#include <QStyleOptionSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace cantavel {
namespace {

// A slider whose style option is at hand, as its own paint event makes it.
class Bar : public QSlider {
public:
    Bar(Qt::Orientation orientation, QSize size, TTrackBarStyle& style) : QSlider(orientation) {
        setStyle(&style);
        setRange(-10, 10);
        setTickPosition(QSlider::TicksBelow);
        setTickInterval(1);
        resize(size);
    }
    QStyleOptionSlider option() const {
        QStyleOptionSlider o;
        initStyleOption(&o);
        o.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        if (tickPosition() != QSlider::NoTicks) {
            o.subControls |= QStyle::SC_SliderTickmarks;
        }
        return o;
    }
};

QImage draw(const QStyle& style, const QStyleOptionSlider& option, const QWidget* bar) {
    QImage image(option.rect.size(), QImage::Format_RGB32);
    image.fill(option.palette.color(QPalette::Window));
    QPainter painter(&image);
    style.drawComplexControl(QStyle::CC_Slider, &option, &painter, bar);
    return image;
}

bool bluish(QColor c) {
    return c.blue() > c.red() + 40;
}

// The rows (vertical bar) with a tick in the column band the ticks take, right of the
// channel and the thumb.
std::vector<int> tickRows(const QImage& image, int fromX) {
    std::vector<int> rows;
    const QColor ground = image.pixelColor(image.width() - 1, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = fromX; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != ground) {
                rows.push_back(y);
                break;
            }
        }
    }
    return rows;
}

class TrackBar : public ::testing::Test {
protected:
    TTrackBarStyle style;
};

// The first bar of a size used to get blue ticks, the next ones grey: the ticks took
// the colour the style had last used for the channel's highlight.
TEST_F(TrackBar, TicksAreOneColourAndStandWhereTheThumbsCentreCanBe) {
    Bar first(Qt::Vertical, QSize(33, 161), style);
    Bar second(Qt::Vertical, QSize(33, 161), style);
    QPixmapCache::clear(); // the first bar is the first of its size again
    const QStyleOptionSlider option = first.option();
    const QImage one = draw(style, option, &first);
    const QImage two = draw(style, second.option(), &second);
    const QRect channel =
        style.subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &first);
    const QRect thumb =
        style.subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &first);
    const int band = std::max(channel.right(), thumb.right()) + 2;
    const std::vector<int> rows = tickRows(one, band);
    ASSERT_EQ(rows.size(), 21u) << "one tick for each of -10 to 10";
    EXPECT_EQ(one.copy(band, 0, one.width() - band, one.height()),
              two.copy(band, 0, two.width() - band, two.height()))
        << "the same ticks, in the same colour, for both bars";
    for (int y : rows) {
        for (int x = band; x < one.width(); ++x) {
            EXPECT_FALSE(bluish(one.pixelColor(x, y))) << x << "," << y;
        }
    }

    // The end ticks are level with the thumb's centre at either end.
    for (const int value : {-10, 10}) {
        QStyleOptionSlider at = option;
        at.sliderPosition = at.sliderValue = value;
        const QRect end =
            style.subControlRect(QStyle::CC_Slider, &at, QStyle::SC_SliderHandle, &first);
        const int tick = value == first.minimum() ? rows.back() : rows.front();
        EXPECT_LE(std::abs(tick - end.center().y()), 1) << value;
    }
}

// A tone bar shows its highest tone at the top: its minimum is up. Its channel fills
// from the bottom all the same, so that a high tone looks full.
TEST_F(TrackBar, AVerticalChannelFillsFromTheBottomWhicheverEndItsMinimumIsAt) {
    for (const bool minimumAtTop : {false, true}) {
        SCOPED_TRACE(minimumAtTop);
        Bar bar(Qt::Vertical, QSize(33, 161), style);
        bar.setInvertedAppearance(minimumAtTop);
        bar.setValue(minimumAtTop ? -5 : 5); // a quarter of the way from the top
        const QStyleOptionSlider option = bar.option();
        const QImage image = draw(style, option, &bar);
        const QRect thumb =
            style.subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &bar);
        const QRect channel =
            style.subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &bar);
        const int x = thumb.center().x();
        EXPECT_TRUE(bluish(image.pixelColor(x, (thumb.bottom() + channel.bottom()) / 2)))
            << "filled below the thumb";
        EXPECT_FALSE(bluish(image.pixelColor(x, (thumb.top() + channel.top()) / 2)))
            << "empty above it";
    }
}

TEST_F(TrackBar, KeyboardFocusIsADottedFrameInTheHighlightColour) {
    for (const Qt::Orientation orientation : {Qt::Horizontal, Qt::Vertical}) {
        Bar bar(orientation, orientation == Qt::Horizontal ? QSize(201, 33) : QSize(33, 110),
                style);
        QStyleOptionSlider option = bar.option();
        option.state &= ~QStyle::State_HasFocus;
        const QImage plain = draw(style, option, &bar);
        option.state |= QStyle::State_HasFocus;
        const QImage focused = draw(style, option, &bar);
        const QColor highlight = option.palette.color(QPalette::Highlight);
        int framed = 0;
        int before = 0;
        for (int y = 0; y < plain.height(); ++y) {
            framed += focused.pixelColor(0, y) == highlight ? 1 : 0;
            before += plain.pixelColor(0, y) == highlight ? 1 : 0;
        }
        EXPECT_EQ(before, 0) << orientation;
        EXPECT_GE(framed, plain.height() / 3) << orientation;
        EXPECT_LT(framed, plain.height()) << "dotted, not solid: " << orientation;
    }
}

} // namespace
} // namespace cantavel
