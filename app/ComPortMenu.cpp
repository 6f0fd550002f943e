#include "ComPortMenu.h"

#include "CommPort.h"
#include "DeviceLink.h"
#include "Elide.h"
#include "SerialPort.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace cantavel {

ComPortMenu::ComPortMenu(QMenu& menu, const RuntimeState& state, const SerialDeviceSource* devices,
                         DeviceLink& link, TComm& comm, DeviceCommandHost& host, QObject* parent)
    : QObject(parent), menu_(menu), state_(state),
      ownDevices_(devices ? nullptr : std::make_unique<SystemSerialDevices>()),
      devices_(devices ? *devices : *ownDevices_), link_(link), comm_(comm), host_(host) {}

void ComPortMenu::comItemClicked(QAction* item) {
    link_.COM11Click(item->property("Tag").toInt());
}

namespace {
// "COM3" -> 3 for the names of the Com Port items; 0 for any other name.
int comItemNumber(const QString& name) {
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]?)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(name);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    return number <= 15 ? number : 0;
}
} // namespace

// The device a COM item opens when the settings give it no other: COM1 is /dev/ttyS0.
bool ComPortMenu::isDefaultComDevice(const SerialDevice& device) const {
    for (int number = 1; number <= 15; ++number) {
        const QString name = QStringLiteral("COM%1").arg(number);
        const bool elsewhere = std::any_of(
            state_.portPaths.keyBegin(), state_.portPaths.keyEnd(),
            [&](const QString& key) { return key.compare(name, Qt::CaseInsensitive) == 0; });
        const QString opened = QString::fromStdString(resolvePortName(name.toStdString()));
        if (!elsewhere && (sameDevice(opened, device.node) || sameDevice(opened, device.path))) {
            return true;
        }
    }
    return false;
}

void ComPortMenu::listDevices() {
    for (QAction* item : std::exchange(deviceItems_, {})) {
        delete item;
    }
    const QString current = state_.comPortName;
    const bool currentIsPath = current.startsWith(QLatin1Char('/'));
    bool currentListed = false;
    auto add = [this](const QString& text, bool checked) {
        if (deviceItems_.empty()) {
            QAction* separator = menu_.addSeparator();
            separator->setObjectName(QStringLiteral("N4"));
            deviceItems_.push_back(separator);
        }
        auto* item = new QAction(text, &menu_);
        item->setObjectName(QStringLiteral("SerialDevice"));
        item->setCheckable(true);
        item->setChecked(checked);
        menu_.addAction(item);
        deviceItems_.push_back(item);
        return item;
    };
    const auto isDevice = [](const QString& name, const SerialDevice& device) {
        return sameDevice(name, device.path) || sameDevice(name, device.node);
    };
    for (const SerialDevice& device : devices_.devices()) {
        // A device the settings already give a port name is listed under that name.
        QString mapped;
        for (auto it = state_.portPaths.cbegin(); it != state_.portPaths.cend(); ++it) {
            if (isDevice(it.value(), device)) {
                mapped = it.key();
                break;
            }
        }
        const bool chosen =
            (!mapped.isEmpty() && mapped.compare(current, Qt::CaseInsensitive) == 0) ||
            (currentIsPath && isDevice(current, device));
        if (mapped.isEmpty() && !chosen && isDefaultComDevice(device)) {
            continue; // its COM item above is the device itself (COM1 is ttyS0)
        }
        currentListed = currentListed || chosen;
        QAction* item = add(
            mapped.isEmpty() ? device.label : device.label + QLatin1Char('\t') + mapped, chosen);
        item->setToolTip(device.path);
        item->setProperty("DevicePath", device.path);
        connect(item, &QAction::triggered, this,
                [this, device, mapped] { chooseDevice(device, mapped); });
    }
    if (currentIsPath && !currentListed) {
        // The remembered device is not plugged in: shown, and a command on it says why.
        QAction* item = add(elideMiddle(current) + QStringLiteral(" (not connected)"), true);
        item->setToolTip(current);
        item->setProperty("DevicePath", current);
        connect(item, &QAction::triggered, this, [this, current] { link_.choosePort(current, 0); });
    }
    menu_.setToolTipsVisible(true);
}

void ComPortMenu::chooseDevice(const SerialDevice& device, const QString& mappedName) {
    if (mappedName.isEmpty()) {
        link_.choosePort(device.path, 0);
    } else {
        link_.choosePort(mappedName, comItemNumber(mappedName));
    }
    for (QAction* item : deviceItems_) {
        item->setChecked(item->property("DevicePath").toString() == device.path);
    }
}

void ComPortMenu::checkComItem(int tag) {
    for (QAction* item : menu_.actions()) {
        item->setChecked(item->property("Tag").toInt() == tag && tag != 0);
    }
}

// A USB adapter pulled out, say: live changes would be lost without a word, so Link
// goes off and the operator is told, once, however many hang-ups the threads report.
void ComPortMenu::hangUp() {
    if (!comm_.IsOpen() || hangupReported_) {
        return;
    }
    const QString device = QString::fromStdString(comm_.DevicePath());
    const std::vector<int> unsent = link_.CancelCommands();
    host_.setLinkChecked(false);
    comm_.StopComm();
    hangupReported_ = true;
    QString detail = QStringLiteral("The serial port %1 (%2) went away; the adapter may have "
                                    "been unplugged. Link is off. Reconnect the cable and "
                                    "choose Device > Link again.")
                         .arg(elideMiddle(state_.comPortName), elideMiddle(device));
    if (!unsent.empty()) {
        detail += QStringLiteral("\n%1 did not reach the unit.").arg(link_.slotList(unsent));
    }
    host_.showMessage(QStringLiteral("The connection to the unit was lost."), detail);
    hangupReported_ = false;
}

} // namespace cantavel
