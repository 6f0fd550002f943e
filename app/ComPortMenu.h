#pragma once

// Device > Com Port: the COM items of the form, the serial devices present listed
// below them, and what happens when the chosen device goes away while it is open.

#include "RuntimeState.h"
#include "SerialDevices.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QAction;
class QMenu;

namespace cantavel {

class DeviceCommandHost;
class DeviceLink;
class TComm;

class ComPortMenu : public QObject {
    Q_OBJECT

public:
    // Lists `devices`, or the system's when none. Everything given outlives this
    // object. The window (`host`) turns Link off and shows messages.
    ComPortMenu(QMenu& menu, const RuntimeState& state, const SerialDeviceSource* devices,
                DeviceLink& link, TComm& comm, DeviceCommandHost& host, QObject* parent = nullptr);

    // A COM item picked: its "Tag" is the port's number.
    void comItemClicked(QAction* item);
    // Lists the serial devices present below the COM items, afresh at each opening.
    void listDevices();
    // Checks exactly the COM item with this tag; none for 0.
    void checkComItem(int tag);
    // The device went away while the port was open.
    void hangUp();

private:
    void chooseDevice(const SerialDevice& device, const QString& mappedName);
    // A COM item the settings leave alone opens this device: it is not listed again.
    bool isDefaultComDevice(const SerialDevice& device) const;

    QMenu& menu_;
    const RuntimeState& state_;
    std::unique_ptr<SerialDeviceSource> ownDevices_;
    const SerialDeviceSource& devices_;
    DeviceLink& link_;
    TComm& comm_;
    DeviceCommandHost& host_;
    std::vector<QAction*> deviceItems_; // owned by the menu
    bool hangupReported_ = false;
};

} // namespace cantavel
