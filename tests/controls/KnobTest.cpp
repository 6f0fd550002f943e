// The rotary knob: its geometry on real rendered pixels, the pointer mapped by real
// synthetic mouse events, and exactly one change event per real change.

#include "Knob.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <functional>

#include <vector>

namespace cantavel {
namespace {

// A knob that counts its paints, shown offscreen so that repaints really happen.
class CountingKnob : public TmKnob {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        TmKnob::paintEvent(event);
    }
};

class Knob : public ::testing::Test {
protected:
    void SetUp() override {
        knob.resize(65, 65);
        knob.SetMaxValue(80);
        knob.SetTickColor(clRed);
        knob.SetColor(rgbColor(40, 90, 160));
        knob.OnChange = [this](QObject* sender, int value) {
            EXPECT_EQ(sender, &knob);
            changes.push_back(value);
        };
        // A window larger than the knob, so that a drag can leave the knob.
        window.resize(300, 120);
        knob.setParent(&window);
        knob.move(0, 0);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        changes.clear();
    }

    QImage render() { return knob.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    static bool isTick(const QImage& image, int x, int y) {
        return image.pixelColor(x, y) == QColor(255, 0, 0);
    }
    static int tickPixels(const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += isTick(image, x, y) ? 1 : 0;
            }
        }
        return n;
    }
    void press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(&knob, button, {}, at);
    }

    QWidget window;
    CountingKnob knob;
    std::vector<int> changes;
};

TEST(KnobGeometry, PaintBoxAndMarkOnTheSweep) {
    const knob::PaintBox b = knob::paintBox(65, 65, 0, false);
    EXPECT_EQ(b.W, 61);
    EXPECT_EQ(b.cx, 30);
    EXPECT_EQ(b.cx - b.ix, 20) << "inner radius";
    EXPECT_EQ(b.cx - b.ox, 29) << "outer radius";
    EXPECT_EQ(knob::markFor(b, 0, 80, 0)->point, QPoint(18, 46));
    EXPECT_EQ(knob::markFor(b, 0, 80, 0)->outer, QPoint(13, 53));
    EXPECT_EQ(knob::markFor(b, 0, 80, 40)->point, QPoint(30, 10));
    EXPECT_EQ(knob::markFor(b, 0, 80, 80)->point, QPoint(42, 46));
    EXPECT_DOUBLE_EQ(knob::markFor(b, 0, 80, 80)->theta, 2.5);
    // The default 60 x 60 knob on 0..100 at 50.
    EXPECT_EQ(knob::markFor(knob::paintBox(60, 60, 50, false), 0, 100, 50)->point, QPoint(28, 9));
    EXPECT_FALSE(knob::markFor(b, -10, 10, -1)) << "a negative position has no mark";
    EXPECT_FALSE(knob::markFor(b, 5, 5, 5)) << "Max equal to Min has no sweep";
}

TEST(KnobGeometry, RotationEffectMakesOddPositionsOneRowTaller) {
    EXPECT_EQ(knob::paintBox(65, 65, 41, true).H, 62);
    EXPECT_EQ(knob::paintBox(65, 65, -3, true).H, 62);
    EXPECT_EQ(knob::paintBox(65, 65, 42, true).H, 61);
    EXPECT_EQ(knob::paintBox(65, 65, 41, false).H, 61);
}

TEST(KnobGeometry, RoundingAndClamping) {
    EXPECT_EQ(knob::nearest(31.5), 32);
    EXPECT_EQ(knob::nearest(32.5), 32);
    EXPECT_EQ(knob::nearest(-10.5), -10);
    EXPECT_EQ(knob::ConstrainValue(0, 100, 120), 100);
    EXPECT_EQ(knob::ConstrainValue(0, 100, -1), 0);
    // Min above Max: above Max gives Max, otherwise below Min gives Min.
    EXPECT_EQ(knob::ConstrainValue(10, 5, 7), 5);
    EXPECT_EQ(knob::ConstrainValue(10, 5, 4), 10);
    EXPECT_EQ(knob::ConstrainValue(10, 5, 11), 5);
}

TEST_F(Knob, DotPaintsWhereTheSweepPutsIt) {
    knob.SetMarkStyle(TMarkStyle::msCircle);
    const struct {
        int position;
        QPoint dot;
    } cases[] = {{0, {18, 46}}, {40, {30, 10}}, {80, {42, 46}}};
    for (const auto& c : cases) {
        knob.SetCurValue(c.position);
        const QImage image = render();
        EXPECT_TRUE(isTick(image, c.dot.x(), c.dot.y())) << "position " << c.position;
        // The dot is about 7 pixels across and nothing else is red.
        EXPECT_FALSE(isTick(image, c.dot.x() + 5, c.dot.y())) << "position " << c.position;
        EXPECT_FALSE(isTick(image, c.dot.x(), c.dot.y() - 5)) << "position " << c.position;
        EXPECT_GT(tickPixels(image), 20);
        EXPECT_LT(tickPixels(image), 70);
    }
}

TEST_F(Knob, LineRunsFromTheInnerToTheOuterRadius) {
    knob.SetCurValue(0);
    const QImage image = render();
    EXPECT_TRUE(isTick(image, 18, 46));
    EXPECT_TRUE(isTick(image, 13, 53));
    EXPECT_TRUE(isTick(image, 15, 50)) << "the stroke between them";
    EXPECT_FALSE(isTick(image, 30, 10)) << "no mark at the top";
}

TEST_F(Knob, PointerMapsToValuesAroundTheReadingCentre) {
    const struct {
        QPoint at;
        int max;
        int expected;
    } cases[] = {{{32, 0}, 80, 40},  {{32, 0}, 63, 32}, {{64, 32}, 80, 65}, {{0, 32}, 80, 15},
                 {{33, 64}, 80, 80}, {{32, 64}, 80, 0}, {{32, 32}, 80, 0}};
    for (const auto& c : cases) {
        knob.SetMaxValue(c.max);
        knob.SetCurValue(c.expected == 5 ? 6 : 5);
        press(c.at);
        QTest::mouseRelease(&knob, Qt::LeftButton, {}, c.at);
        EXPECT_EQ(knob.Position(), c.expected)
            << "press at " << c.at.x() << "," << c.at.y() << " with Max " << c.max;
    }
    // The raw value below the gap lies beyond the range before clamping.
    EXPECT_EQ(knob::valueFromPoint(65, 65, 0, 80, 33, 64), 90);
    EXPECT_EQ(knob::valueFromPoint(65, 65, 0, 80, 32, 64), -10);
}

TEST_F(Knob, AnyButtonDragsAndMovesOutsideKeepDragging) {
    press({32, 0}, Qt::RightButton);
    EXPECT_TRUE(knob.Dragging());
    EXPECT_EQ(knob.Position(), 40);
    QTest::mouseMove(&knob, {64, 32});
    EXPECT_EQ(knob.Position(), 65);
    QTest::mouseMove(&knob, {150, 110}); // outside the control, button still held
    EXPECT_EQ(knob.Position(), 74);
    QTest::mouseRelease(&knob, Qt::RightButton, {}, {150, 110});
    EXPECT_FALSE(knob.Dragging());
    QTest::mouseMove(&knob, {0, 32});
    EXPECT_EQ(knob.Position(), 74) << "moves without a button do nothing";
    EXPECT_EQ(changes, (std::vector<int>{40, 65, 74}));
}

TEST_F(Knob, ChangeFiresOncePerRealChangeAndOnClampedValues) {
    knob.SetMaxValue(100);
    knob.SetCurValue(100);
    ASSERT_EQ(changes, std::vector<int>{100});
    const int paints = knob.paints;
    knob.SetCurValue(100);
    EXPECT_EQ(changes.size(), 1u) << "the same value fires nothing";
    EXPECT_EQ(knob.paints, paints) << "and paints nothing";
    knob.SetCurValue(120);
    EXPECT_EQ(knob.Position(), 100);
    EXPECT_EQ(changes, (std::vector<int>{100, 100})) << "an unclamped difference fires";
    EXPECT_GT(knob.paints, paints);
}

TEST_F(Knob, DragNotAllowedLeavesEverythingUntouched) {
    knob.SetCurValue(10);
    changes.clear();
    knob.SetDrag(false);
    press({64, 32});
    QTest::mouseMove(&knob, {32, 0});
    QTest::mouseRelease(&knob, Qt::LeftButton, {}, {32, 0});
    EXPECT_EQ(knob.Position(), 10);
    EXPECT_TRUE(changes.empty());
    EXPECT_FALSE(knob.Dragging());
}

TEST_F(Knob, KeysAndTheWheelTurnItWithinItsRangeAndReportRealChangesOnly) {
    knob.SetCurValue(40);
    changes.clear();
    knob.setFocus();
    const auto wheel = [this](int delta) {
        QWheelEvent event({30, 30}, knob.mapToGlobal(QPointF(30, 30)), {}, {0, delta}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&knob, &event);
    };
    const struct {
        std::function<void()> act;
        int position;
    } steps[] = {
        {[&] { QTest::keyClick(&knob, Qt::Key_Right); }, 41},
        {[&] { QTest::keyClick(&knob, Qt::Key_Up); }, 42},
        {[&] { QTest::keyClick(&knob, Qt::Key_Left); }, 41},
        {[&] { QTest::keyClick(&knob, Qt::Key_PageUp); }, 51},
        {[&] { QTest::keyClick(&knob, Qt::Key_PageDown); }, 41},
        {[&] { QTest::keyClick(&knob, Qt::Key_End); }, 80},
        {[&] { QTest::keyClick(&knob, Qt::Key_Right); }, 80}, // at the end: no report
        {[&] { QTest::keyClick(&knob, Qt::Key_PageUp); }, 80},
        {[&] { QTest::keyClick(&knob, Qt::Key_Home); }, 0},
        {[&] { wheel(120); }, 1},
        {[&] { wheel(60); }, 1}, // half a notch
        {[&] { wheel(60); }, 2},
        {[&] { wheel(-240); }, 0},
    };
    std::vector<int> expected;
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(knob.Position(), step.position);
        if (expected.empty() ? step.position != 40 : expected.back() != step.position) {
            expected.push_back(step.position);
        }
    }
    EXPECT_EQ(changes, expected);
    EXPECT_EQ(knob.focusPolicy(), Qt::StrongFocus);

    knob.SetDrag(false);
    QTest::keyClick(&knob, Qt::Key_End);
    wheel(120);
    EXPECT_EQ(knob.Position(), 0) << "a knob the operator may not turn";
}

// On a screen scaled by two the knob is drawn at the device's pixels, not drawn at
// one and scaled: the rim has edges finer than a logical pixel, and the mark sits
// where it sits at ratio 1.
TEST_F(Knob, PaintsWithDevicePixelDetailAtRatioTwo) {
    knob.SetMarkStyle(TMarkStyle::msCircle);
    knob.SetCurValue(40);
    const QImage one = knob.Render(1).convertToFormat(QImage::Format_RGB32);
    const QImage two = knob.Render(2).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(two.size(), QSize(130, 130));
    EXPECT_EQ(two.devicePixelRatio(), 2.0);
    // 2 x 2 blocks whose four pixels differ: none in a picture merely scaled up.
    int finer = 0;
    for (int y = 0; y + 1 < two.height(); y += 2) {
        for (int x = 0; x + 1 < two.width(); x += 2) {
            const QRgb c = two.pixel(x, y);
            finer += (two.pixel(x + 1, y) != c || two.pixel(x, y + 1) != c ||
                      two.pixel(x + 1, y + 1) != c)
                         ? 1
                         : 0;
        }
    }
    EXPECT_GT(finer, 100) << "the rim's edges are drawn at device pixels";
    EXPECT_TRUE(isTick(one, 30, 10));
    EXPECT_TRUE(isTick(two, 60, 20) || isTick(two, 61, 21)) << "the mark in logical pixels";
    EXPECT_FALSE(isTick(two, 60 + 10, 20));
}

TEST_F(Knob, MaxLoweredBelowPositionKeepsPositionAndDrawsBeyondTheSweep) {
    knob.SetCurValue(70);
    changes.clear();
    knob.SetMaxValue(42);
    EXPECT_EQ(knob.Position(), 70);
    EXPECT_TRUE(changes.empty());
    const knob::PaintBox b = knob::paintBox(65, 65, 70, false);
    EXPECT_GT(knob::markFor(b, 0, 42, 70)->theta, 2.5);
    EXPECT_GT(tickPixels(render()), 0);
}

TEST_F(Knob, MinAndRotationEffectAreWrittenWithoutRepaint) {
    const int paints = knob.paints;
    knob.SetMin(-10);
    knob.SetRotationEffect(true);
    EXPECT_EQ(knob.paints, paints);
    knob.SetColor(knob.FaceColor()); // the face colour repaints even when equal
    EXPECT_EQ(knob.paints, paints + 1);
}

TEST_F(Knob, NegativePositionAndEmptyRangePaintWithoutAMark) {
    knob.SetMin(-20);
    knob.SetCurValue(-5);
    EXPECT_EQ(tickPixels(render()), 0);
    knob.SetMin(30);
    knob.SetMaxValue(30);
    knob.SetCurValue(30);
    const QImage image = render();
    EXPECT_EQ(tickPixels(image), 0);
    EXPECT_EQ(image.pixelColor(30, 30), QColor(40, 90, 160)) << "the face is still there";
    press({10, 10});
    EXPECT_EQ(knob.Position(), 30);
}

TEST_F(Knob, RotationEffectChangesOnlyOddPositions) {
    knob.SetCurValue(41);
    const QImage oddPlain = render();
    knob.SetRotationEffect(true);
    knob.repaint();
    EXPECT_NE(render(), oddPlain);
    knob.SetCurValue(42);
    const QImage evenTurning = render();
    knob.SetRotationEffect(false);
    EXPECT_EQ(render(), evenTurning);
}

TEST_F(Knob, TinyKnobsStillPaintAndMapThePointer) {
    for (int size : {1, 3, 4, 5}) {
        knob.resize(size, size);
        EXPECT_FALSE(render().isNull()) << "size " << size;
        press({0, 0});
        QTest::mouseRelease(&knob, Qt::LeftButton, {}, {0, 0});
    }
}

TEST_F(Knob, DefaultsAndPublishedProperties) {
    const TmKnob fresh;
    EXPECT_EQ(fresh.width(), 60);
    EXPECT_EQ(fresh.height(), 60);
    EXPECT_EQ(fresh.Max(), 100);
    EXPECT_EQ(fresh.Min(), 0);
    EXPECT_EQ(fresh.Position(), 0);
    EXPECT_EQ(fresh.FaceColor(), rgbColor(189, 204, 181));
    EXPECT_EQ(fresh.TickColor(), clBlack);
    EXPECT_TRUE(fresh.AllowUserDrag());
    EXPECT_EQ(fresh.MarkStyle(), TMarkStyle::msLine);
    EXPECT_FALSE(fresh.RotationEffect());
    const QMetaObject* meta = fresh.metaObject();
    QStringList names;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        names << QString::fromLatin1(meta->property(i).name());
    }
    EXPECT_EQ(names, (QStringList{"AllowUserDrag", "FaceColor", "TickColor", "Position",
                                  "RotationEffect", "MarkStyle", "Max", "Min"}));
}

// Outside its face the knob shows what its parent paints, not a square of its own
// (a group box is darker than a button's face).
TEST(KnobBackground, CornersShowTheParentBehindTheKnob) {
    QWidget parent;
    parent.resize(100, 100);
    QPalette dark = parent.palette();
    dark.setColor(QPalette::Window, QColor(20, 60, 30));
    parent.setPalette(dark);
    parent.setAutoFillBackground(true);
    TmKnob knob(&parent);
    knob.setGeometry(10, 10, 65, 65);
    knob.SetColor(rgbColor(200, 200, 240));
    const QImage image = parent.grab().toImage();
    for (const QPoint corner : {QPoint(10, 10), QPoint(74, 10), QPoint(10, 74), QPoint(74, 74)}) {
        EXPECT_EQ(image.pixelColor(corner), QColor(20, 60, 30)) << corner.x() << "," << corner.y();
    }
    EXPECT_EQ(image.pixelColor(42, 42), QColor(200, 200, 240)) << "the face is painted";
}

// Three knobs as the main window has them, for people to look at.
TEST(KnobPicture, ThreePositionsSavedForPeople) {
    QImage sheet(3 * 75, 75, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    const int positions[] = {0, 40, 80};
    for (int i = 0; i < 3; ++i) {
        TmKnob k;
        k.resize(65, 65);
        k.SetColor(clGradientActiveCaption);
        k.SetTickColor(clRed);
        k.SetMarkStyle(TMarkStyle::msCircle);
        k.SetMaxValue(80);
        k.SetCurValue(positions[i]);
        painter.drawPixmap(i * 75 + 5, 5, k.grab());
    }
    painter.end();
    const QString path = QStringLiteral(CANTAVEL_BUILD_DIR "/knob-positions.png");
    EXPECT_TRUE(sheet.save(path)) << path.toStdString();
}

} // namespace
} // namespace cantavel
