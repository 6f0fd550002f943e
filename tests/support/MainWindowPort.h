#pragma once

#include "SerialPort.h"

namespace cantavel::testing {

// The line settings the main window gives its port: 9600 8N1, no flow control of any
// kind, DTR and RTS off (flag word 0x0001).
inline void useMainWindowValues(TComm& comm) {
    comm.SetDtrControl(TDtrControl::DtrDisable);
    comm.SetTxContinueOnXoff(false);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetRtsControl(TRtsControl::RtsDisable);
}

} // namespace cantavel::testing
