// Start, show and close of the main window with real settings files, the About
// dialog, and exceptions that reach the event loop.

#include "AboutBox.h"
#include "Application.h"
#include "SerialPort.h"
#include "WindowFixture.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Startup = testing::WindowTest;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class StartupWithSettings : public testing::WindowTest {
protected:
    void restartWith(const QByteArray& ini) {
        form.reset();
        QFile::remove(settingsPath());
        if (!ini.isNull()) {
            QFile f(settingsPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(ini);
        }
        state = RuntimeState{};
        createWindow(false);
    }
    QStringList checkedPorts() const { return checkedItems("Connect1"); }
};

TEST_F(StartupWithSettings, FirstStartWithoutSettingsUsesCom1AndDefaults) {
    restartWith(QByteArray());
    EXPECT_EQ(state.comPortName, QStringLiteral("COM1"));
    EXPECT_EQ(state.comPortNumber, 1);
    EXPECT_EQ(checkedPorts(), QStringList{"COM1"});
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Digital Cantavel Processor v1.5"));
    EXPECT_EQ(action("Upload1")->text().remove('&'), QStringLiteral("Upload Default"));
    ConfigRecord defaults;
    defaults.resetToDefaults();
    EXPECT_TRUE(
        std::equal(defaults.image().begin(), defaults.image().end(), record().image().begin()));
    EXPECT_FALSE(QFile::exists(settingsPath())) << "nothing is written before closing";
}

TEST_F(StartupWithSettings, IndexOutsideTheMenuChecksNothing) {
    restartWith("[Config]\nCOM=COM3\nindex=20\n");
    EXPECT_TRUE(checkedPorts().isEmpty());
    EXPECT_EQ(state.comPortName, QStringLiteral("COM3"));
}

TEST_F(StartupWithSettings, IndexWithoutComChecksItsItemAndKeepsCom1) {
    restartWith("[Config]\nindex=7\n");
    EXPECT_EQ(checkedPorts(), QStringList{"COM7"});
    EXPECT_EQ(state.comPortName, QStringLiteral("COM1"));
    restartWith("[Config]\nindex=seven\n");
    EXPECT_EQ(checkedPorts(), QStringList{"COM1"});
}

TEST_F(StartupWithSettings, PortsSectionPointsAComNameAtADevice) {
    restartWith("[Config]\nCOM=COM2\nindex=2\n\n[Ports]\nCOM2=" +
                QFile::encodeName(pty.slavePath()) + "\n");
    EXPECT_EQ(state.comPortName, QStringLiteral("COM2"));
    EXPECT_EQ(linkOn().left(2), QByteArray("\x3A\x06", 2));
    form->close();
    EXPECT_TRUE(
        readAll(settingsPath()).contains("[Ports]\nCOM2=" + QFile::encodeName(pty.slavePath())))
        << "kept as it was";
}

TEST_F(StartupWithSettings, CloseBoxWritesWhatExitWrites) {
    restartWith(QByteArray());
    action("COM41")->trigger();
    action("Close1")->trigger(); // Exit
    const QByteArray byExit = readAll(settingsPath());
    EXPECT_EQ(byExit, QByteArray("[Config]\nCOM=COM4\nindex=4\n"));

    restartWith(QByteArray());
    action("COM41")->trigger();
    QCloseEvent closeBox; // what the title bar's close box delivers
    QApplication::sendEvent(form.get(), &closeBox);
    EXPECT_TRUE(closeBox.isAccepted()) << "no question about unsaved changes";
    EXPECT_EQ(readAll(settingsPath()), byExit);
}

TEST_F(Startup, ClosingStopsThePortBeforeWritingTheSettings) {
    linkOn();
    form->close();
    EXPECT_FALSE(form->Comm().IsOpen());
    EXPECT_TRUE(QFile::exists(settingsPath()));
}

TEST(AboutBox, ShowsItsTextsAndClosesWithOkEnterOrTheCloseBox) {
    TAboutBox about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about.size(), QSize(270, 172));
    const auto* name = about.findChild<QLabel*>(QStringLiteral("ProductName"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), QStringLiteral("Digital Cantavel Processor"));
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("Version"))->text(),
              QStringLiteral("Version 1.5"));
    EXPECT_FALSE(about.findChild<QLabel*>(QStringLiteral("ProgramIcon"))->pixmap().isNull());
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("OKButton"));
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());

    QTimer::singleShot(0, ok, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    QTimer::singleShot(0, &about, [&about] { QTest::keyClick(&about, Qt::Key_Return); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    QTimer::singleShot(0, &about, [&about] { about.close(); });
    EXPECT_EQ(about.exec(), QDialog::Rejected);
    EXPECT_EQ(name->text(), QStringLiteral("Digital Cantavel Processor")) << "the same each time";
}

// Every label's text fits its label, inside the panel; the panel has a lowered outer
// and a raised inner bevel (once a single sunken box, and a second line cut off).
TEST(AboutBox, TextsAreWholeAndThePanelHasTwoBevels) {
    TAboutBox about;
    auto* panel = about.findChild<QWidget*>(QStringLiteral("Panel1"));
    ASSERT_NE(panel, nullptr);
    for (const QLabel* label : panel->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue; // the icon
        }
        const int needed =
            label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        EXPECT_LE(needed, label->height()) << label->objectName().toStdString();
        EXPECT_LE(label->geometry().bottom(), panel->height() - 3)
            << label->objectName().toStdString();
        if (!label->wordWrap()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->objectName().toStdString();
        }
    }
    const QImage image = panel->grab().toImage();
    const QRgb light = panel->palette().color(QPalette::Light).rgb();
    const QRgb dark = panel->palette().color(QPalette::Dark).rgb();
    const int r = panel->width() - 1;
    const int b = panel->height() - 1;
    EXPECT_EQ(image.pixel(0, 5), dark) << "outer bevel, lowered: dark at the left";
    EXPECT_EQ(image.pixel(r, 5), light) << "...light at the right";
    EXPECT_EQ(image.pixel(1, 5), light) << "inner bevel, raised: light at the left";
    EXPECT_EQ(image.pixel(r - 1, 5), dark) << "...dark at the right";
    EXPECT_EQ(image.pixel(5, 0), dark);
    EXPECT_EQ(image.pixel(5, b), light);
    EXPECT_EQ(image.pixel(5, 1), light);
    EXPECT_EQ(image.pixel(5, b - 1), dark);
}

TEST_F(Startup, HelpAboutShowsTheDialogModally) {
    TAboutBox about;
    form->SetAboutBox(&about);
    bool wasShown = false;
    QTimer::singleShot(0, &about, [&] {
        wasShown = about.isVisible() && about.isModal();
        about.accept();
    });
    action("About1")->trigger();
    EXPECT_TRUE(wasShown);
    EXPECT_FALSE(about.isVisible());
}

TEST(EventLoop, AnExceptionIsShownAndTheLoopGoesOn) {
    auto* app = static_cast<TApplication*>(QCoreApplication::instance());
    QStringList shown;
    const auto saved = app->ShowException;
    app->ShowException = [&](const QString& message) { shown << message; };
    bool later = false;
    // Three events, handled in turn.
    QTimer::singleShot(0, [] { throw std::runtime_error("Unable to Start new Print Job"); });
    QTimer::singleShot(0, [] { throw 42; }); // not an exception: an empty message
    QTimer::singleShot(0, [&] { later = true; });
    testing::pumpUntil([&] { return later; }, 2s);
    app->ShowException = saved;
    EXPECT_EQ(shown, (QStringList{"Unable to Start new Print Job", ""}));
    EXPECT_TRUE(later);
}

} // namespace
} // namespace cantavel
