// The hyperlink label: hover colour and cursor, and presses that open its URL
// through a URL handler registered for a test scheme.

#include "LinkLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace cantavel {
namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class TextUrl : public ::testing::Test {
protected:
    void SetUp() override {
        QDesktopServices::setUrlHandler(QStringLiteral("cantavel-test"), &catcher, "open");
        label.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&label));
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("cantavel-test")); }

    void enter() {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(&label, &event);
    }
    void leave() {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(&label, &event);
    }
    QColor textColor() const { return label.palette().color(label.foregroundRole()); }

    UrlCatcher catcher;
    TTextUrl label;
};

TEST_F(TextUrl, StartsShowingItsDefaultLink) {
    EXPECT_EQ(label.URL(), TTextUrl::kDefaultUrl);
    EXPECT_EQ(label.text(), TTextUrl::kDefaultUrl);
    EXPECT_TRUE(QUrl(label.URL()).isValid());
    EXPECT_EQ(label.HighlightColor(), clBlack);
}

TEST_F(TextUrl, EveryButtonOpensTheNewTargetWhileTheCaptionKeepsTheOldText) {
    const QString old = label.text();
    label.SetUrl(QStringLiteral("cantavel-test://unit/manual"));
    EXPECT_EQ(label.text(), old);
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(&label, button, {}, {3, 3});
        QTest::mouseRelease(&label, button, {}, {3, 3});
    }
    ASSERT_EQ(catcher.opened.size(), 3);
    for (const QUrl& url : catcher.opened) {
        EXPECT_EQ(url, QUrl(QStringLiteral("cantavel-test://unit/manual")));
    }
}

TEST_F(TextUrl, HoverShowsTheHandAndHighlightAndLeavingRestoresThem) {
    label.setCursor(Qt::IBeamCursor);
    const QColor normal = textColor();
    label.SetColour(rgbColor(0, 0, 200));
    enter();
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(textColor(), QColor(0, 0, 200));
    leave();
    EXPECT_EQ(label.cursor().shape(), Qt::IBeamCursor);
    EXPECT_EQ(textColor(), normal);
}

TEST_F(TextUrl, HighlightChangeShowsFromTheNextEntry) {
    label.SetColour(rgbColor(0, 150, 0));
    enter();
    label.SetColour(rgbColor(200, 0, 0));
    EXPECT_EQ(textColor(), QColor(0, 150, 0)) << "not while the pointer is over it";
    leave();
    enter();
    EXPECT_EQ(textColor(), QColor(200, 0, 0));
    leave();
}

} // namespace
} // namespace cantavel

#include "LinkLabelTest.moc"
