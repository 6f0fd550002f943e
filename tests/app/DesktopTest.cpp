// The editor on a Linux desktop: serial devices in the Com Port menu, unsaved work,
// undo and redo, recent files, keyboard and screen reader.

#include "WindowFixture.h"

#include <QDir>
#include <QFile>
#include <QMenu>

namespace cantavel {
namespace {

using Desktop = testing::WindowTest;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DeviceMenu : public testing::WindowTest {
protected:
    // Opens Device > Com Port and returns the device items below the COM items.
    QList<QAction*> openPortMenu() {
        auto* menu = child<QMenu>("Connect1");
        Q_EMIT menu->aboutToShow();
        QList<QAction*> items;
        for (QAction* item : menu->actions()) {
            if (item->objectName() == QStringLiteral("SerialDevice")) {
                items << item;
            }
        }
        return items;
    }
    QStringList checkedItems() const {
        QStringList names;
        for (QAction* item : child<QMenu>("Connect1")->actions()) {
            if (item->isChecked()) {
                names << item->text();
            }
        }
        return names;
    }
};

TEST_F(DeviceMenu, ListsDevicesWhenOpenedAndChoosingOneMakesItThePortKeptInTheSettings) {
    EXPECT_EQ(devices.asked, 0) << "nothing is enumerated at start-up";
    const QString other = dir.filePath(QStringLiteral("ttyOTHER"));
    QFile(other).open(QIODevice::WriteOnly);
    state.portPaths.insert(QStringLiteral("COM3"), other);
    devices.list = {{pty.slavePath(), pty.slavePath(), QStringLiteral("Fake UART (pts)")},
                    {other, other, QStringLiteral("Other Adapter (ttyOTHER)")}};

    QList<QAction*> items = openPortMenu();
    EXPECT_EQ(devices.asked, 1);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Fake UART (pts)"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Other Adapter (ttyOTHER)\tCOM3"))
        << "a device the settings map is listed once, with its port name";
    EXPECT_TRUE(items[0]->isChecked()) << "the fixture's port is the pty";

    // The mapped device is its COM item.
    items[1]->trigger();
    EXPECT_EQ(state.comPortName, QStringLiteral("COM3"));
    EXPECT_EQ(checkedItems(), (QStringList{"COM3", "Other Adapter (ttyOTHER)\tCOM3"}));

    // A device of its own: the port of the next command, no COM item checked.
    items = openPortMenu();
    EXPECT_EQ(devices.asked, 2) << "listed afresh at each opening";
    items[0]->trigger();
    EXPECT_EQ(state.comPortName, pty.slavePath());
    EXPECT_EQ(state.comPortNumber, 0);
    EXPECT_EQ(checkedItems(), QStringList{"Fake UART (pts)"});
    EXPECT_EQ(linkOn().size(), 27) << "Link opens the chosen device";

    form->close();
    const QByteArray ini = readAll(settingsPath());
    EXPECT_TRUE(ini.contains("COM=" + pty.slavePath().toUtf8() + "\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("index=0\n")) << ini.constData();
}

TEST_F(DeviceMenu, ARememberedDeviceThatIsGoneShowsAsNotConnectedAndSaysWhyWhenUsed) {
    state.comPortName = QStringLiteral("/dev/serial/by-id/usb-Gone_Adapter-if00-port0");
    state.comPortNumber = 0;
    const QList<QAction*> items = openPortMenu();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->text(),
              QStringLiteral("/dev/serial/by-id/usb-Gone_Adapter-if00-port0 (not connected)"));
    EXPECT_TRUE(items[0]->isChecked());

    action("Link1")->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Open serial port failure!"));
    EXPECT_TRUE(dialogs.messages[0].detail.contains(QStringLiteral("No such file or directory")))
        << dialogs.messages[0].detail.toStdString();
    EXPECT_FALSE(action("Link1")->isChecked());
}

TEST(SerialDevices, TheStablePathIsTheByIdLinkToTheNodeWhereThereIsOne) {
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(node).open(QIODevice::WriteOnly);
    QDir().mkpath(dir.filePath(QStringLiteral("by-id")));
    const QString link = dir.filePath(QStringLiteral("by-id/usb-FTDI_FT232R_A5-if00-port0"));
    ASSERT_TRUE(QFile::link(node, link));
    EXPECT_EQ(stableSerialPath(node, dir.filePath(QStringLiteral("by-id"))), link);
    EXPECT_EQ(stableSerialPath(dir.filePath(QStringLiteral("ttyUSB1")),
                               dir.filePath(QStringLiteral("by-id"))),
              dir.filePath(QStringLiteral("ttyUSB1")));
    EXPECT_TRUE(sameDevice(link, node));
    EXPECT_EQ(serialDeviceLabel(QStringLiteral("FT232R USB UART"), QStringLiteral("ttyUSB0")),
              QStringLiteral("FT232R USB UART (ttyUSB0)"));
    EXPECT_EQ(serialDeviceLabel(QString(), QStringLiteral("ttyS0")), QStringLiteral("ttyS0"));
}

} // namespace
} // namespace cantavel
