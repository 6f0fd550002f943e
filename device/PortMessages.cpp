#include "PortMessages.h"

#include "CommPort.h"
#include "Elide.h"
#include "SerialPort.h"

#include <cerrno>

namespace cantavel {

QString openFailureText() {
    return QStringLiteral("Open serial port failure!");
}

QString openFailureDetail(const QString& portName, const std::exception& error) {
    const auto* comms = dynamic_cast<const ECommsError*>(&error);
    QString where = elideMiddle(portName);
    if (comms && !comms->device().empty() && QString::fromStdString(comms->device()) != portName) {
        where += QStringLiteral(" (%1)").arg(elideMiddle(QString::fromStdString(comms->device())));
    }
    const std::string reason =
        comms && !comms->systemReason().empty() ? comms->systemReason() : std::string(error.what());
    QString detail = QStringLiteral("%1: %2").arg(where, QString::fromStdString(reason));
    if (comms && comms->systemReason() == systemErrorText(EACCES)) {
        detail += QStringLiteral("\nYour user must be allowed to use serial devices "
                                 "(on Debian, a member of the group \"dialout\").");
    } else if (comms && comms->systemReason() == systemErrorText(EBUSY)) {
        detail += QStringLiteral("\nAnother program is using this port.");
    }
    return detail;
}

} // namespace cantavel
