#pragma once

// What the operator is told when a port cannot be opened, shared by the window and
// the command-line programs.

#include <QString>

#include <exception>

namespace cantavel {

// "Open serial port failure!"
QString openFailureText();
// The port (and the device it stands for), the system's reason, and a hint when the
// reason has a usual cure: the dialout group for "Permission denied", another
// program for "Device or resource busy".
QString openFailureDetail(const QString& portName, const std::exception& error);

} // namespace cantavel
