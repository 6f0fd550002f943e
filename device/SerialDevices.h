#pragma once

// The serial devices present on this machine, for the Com Port menu. The menu asks
// each time it opens; tests hand the window a list of their own.

#include <QString>

#include <utility>
#include <vector>

namespace cantavel {

struct SerialDevice {
    // The path the editor opens and remembers: the device's name under
    // /dev/serial/by-id/ where it has one (it survives replugging), else its node.
    QString path;
    // The device node, /dev/ttyUSB0.
    QString node;
    // What the menu shows: "FT232R USB UART (ttyUSB0)".
    QString label;
};

class SerialDeviceSource {
public:
    virtual ~SerialDeviceSource() = default;
    virtual std::vector<SerialDevice> devices() const = 0;
};

// The system's serial devices (USB and ACM adapters, UARTs that answer), as Qt's
// serial port information lists them.
class SystemSerialDevices final : public SerialDeviceSource {
public:
    explicit SystemSerialDevices(QString byIdFolder = QStringLiteral("/dev/serial/by-id"))
        : byIdFolder_(std::move(byIdFolder)) {}
    std::vector<SerialDevice> devices() const override;

private:
    QString byIdFolder_;
};

// "description (name)", or the name alone when there is no description.
QString serialDeviceLabel(const QString& description, const QString& name);

// The entry of `byIdFolder` that leads to `node`, or `node` itself when none does.
QString stableSerialPath(const QString& node, const QString& byIdFolder);

// Whether two paths name the same device (after following links).
bool sameDevice(const QString& a, const QString& b);

} // namespace cantavel
