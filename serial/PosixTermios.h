#pragma once

// Internal to the POSIX port layer (and its tests): how line settings map to termios.
//
//  data bits 5-8          CS5..CS8
//  parity odd/even        PARENB (+PARODD); mark and space add CMSPAR
//  stop bits 1 / 2        CSTOPB off / on; 1.5 does not exist on Linux: refused
//  parity check           INPCK (a byte with a parity error is read as 0)
//  CTS out flow, RTS handshake   CRTSCTS
//  XON/XOFF out / in      IXON / IXOFF, with VSTART and VSTOP from the two characters
//  baud rate              the standard speed codes; any other rate is refused
//
// DSR flow control and sensitivity, continue-on-XOFF, the XON/XOFF limits, a
// replacement byte for parity errors and discarding NUL bytes have no counterpart
// here; the component keeps them but the driver never sees them.

#include "CommPort.h"

#include <termios.h>

namespace cantavel {

// Fills t for s, keeping what s does not speak of; false when s cannot be applied.
bool toTermios(const LineState& s, termios& t);

} // namespace cantavel
