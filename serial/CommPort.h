#pragma once

// The port layer: what the serial component and its threads need from the operating
// system, behind a small interface. One implementation per system (CommPortPosix.cpp
// here); tests put a fake port behind the same interface to produce what a
// pseudo-terminal cannot (line errors, carrier detect, ring). No OS header appears here.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace cantavel {

// Line settings as the component describes them; each port maps them to its driver.
struct LineState {
    std::uint32_t baudRate = 9600;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    std::uint8_t dtrControl = 0; // 0 enable, 1 disable, 2 handshake
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false; // software flow control of what we send
    bool inX = false;  // software flow control of what we receive
    bool errorCharEnabled = false;
    bool discardNull = false;
    std::uint8_t rtsControl = 0; // 0 enable, 1 disable, 2 handshake, 3 toggle
    std::uint16_t xonLimit = 500;
    std::uint16_t xoffLimit = 500;
    std::uint8_t byteSize = 8; // data bits, 5 to 8
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char errorChar = 0;

    bool operator==(const LineState&) const = default;
};

// Read and write time-outs in milliseconds. A read with an interval time-out and no
// total time-out waits for the first byte without limit and completes after a gap
// longer than the interval; all zero means a read completes only when full.
struct CommTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;

    static constexpr std::uint32_t kForever = 0xFFFFFFFFu;
    bool operator==(const CommTimeouts&) const = default;
};

// A manual-reset event the threads can wait on together with the port: once set it
// stays set until reset. Used as the stop event and as the transmit queue's wake-up.
class Signal {
public:
    Signal();
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    bool valid() const { return handle_ >= 0; }
    int error() const { return error_; } // errno when creation failed
    void set();
    void reset();
    bool isSet() const;
    int handle() const { return handle_; }

private:
    int handle_ = -1;
    int error_ = 0;
};

// Waits for either signal: 0 the first (checked first, so a stop request wins),
// 1 the second, 2 the time-out (-1: none), -1 a failed wait.
int waitAny(const Signal& first, const Signal& second, int timeoutMs);

// What woke a wait on a port. Stop always wins over anything else that is ready.
enum class Wake { Stop, Ready, Timeout, HangUp, Closed, Failed };

// Purge flags, as the component passes them.
enum PurgeFlags : unsigned {
    PurgeAbortWrites = 0x01,
    PurgeAbortReads = 0x02,
    PurgeClearOutput = 0x04,
    PurgeClearInput = 0x08,
};

// Outcome of one non-blocking read or write. count is what moved; error is 0 on
// success, or the system's error number. wouldBlock: nothing could move right now.
struct IoResult {
    std::size_t count = 0;
    int error = 0;
    bool wouldBlock = false;
    bool endOfFile = false; // a read found the device gone (0 bytes)
};

// Line error flags, as LineEvents and the receive-error notification carry them.
inline constexpr std::uint32_t kLineReceiveOverflow = 0x0001; // the input buffer was full
inline constexpr std::uint32_t kLineOverrun = 0x0002;         // the UART lost a byte
inline constexpr std::uint32_t kLineParity = 0x0004;
inline constexpr std::uint32_t kLineFraming = 0x0008;
inline constexpr std::uint32_t kLineBreak = 0x0010;

// Modem status bits, as modemStatus() reports them.
inline constexpr std::uint32_t kModemCts = 0x10;
inline constexpr std::uint32_t kModemDsr = 0x20;
inline constexpr std::uint32_t kModemRing = 0x40;
inline constexpr std::uint32_t kModemCarrier = 0x80;

// Line events reported since the last call: line error flags and modem events
// (carrier detect changed, ring).
struct LineEvents {
    std::uint32_t errors = 0;
    bool carrierChanged = false;
    bool ring = false;
    bool any() const { return errors != 0 || carrierChanged || ring; }
};

// One open port. The receive thread reads and waits for line events while the
// transmit thread writes: the two directions may be used from two threads at once;
// everything else belongs to the user-interface thread.
class CommPort {
public:
    virtual ~CommPort() = default;

    // Whether the handle is a character device at all, and whether that device
    // accepts serial settings.
    virtual bool isCharacterDevice() const = 0;
    virtual bool setupBuffers(std::size_t inputSize, std::size_t outputSize) = 0;

    virtual void purge(unsigned flags) = 0;
    // Applies all settings at once; false (and nothing changed) when refused.
    virtual bool setState(const LineState& state) = 0;
    virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
    // Read by the receive thread while the user-interface thread may set them.
    virtual CommTimeouts timeouts() const = 0;
    // Modem status bits: kModemCts, kModemDsr, kModemRing, kModemCarrier.
    virtual bool modemStatus(std::uint32_t& bits) = 0;
    // Bytes written but still in the driver's output queue, not yet on the line.
    // False when the driver cannot tell.
    virtual bool outputQueued(std::size_t& bytes) = 0;

    // Waits until the stop signal is set, the port is readable (forWrite false) or
    // writable (forWrite true), a line event is due, or timeoutMs passes (-1: no
    // limit). Ready also covers "line events may be pending".
    virtual Wake wait(const Signal& stop, bool forWrite, int timeoutMs) = 0;
    virtual IoResult read(std::uint8_t* buffer, std::size_t size) = 0;
    virtual IoResult write(const std::uint8_t* data, std::size_t size) = 0;
    // Line events since the last call; receive thread only. False on failure.
    virtual bool takeLineEvents(LineEvents& events, int& error) = 0;
    // How often line events must be looked for when the driver cannot wake a wait
    // for them, in ms; -1 when waits are woken for them (or there are none).
    virtual int lineEventPeriodMs() const = 0;
};

struct OpenResult {
    std::unique_ptr<CommPort> port;
    int error = 0;      // errno of the failed open
    std::string device; // the device path the name resolved to
};

// Resolves a port name ("COM3" is /dev/ttyS2; a name that starts with "/" is used as
// it stands) and opens it exclusively: a device this or another process holds is
// refused.
OpenResult openCommPort(const std::string& name);
std::string resolvePortName(const std::string& name);

// Device paths for port names, from the settings ("COM3" -> "/dev/ttyUSB0"); a name
// found here (as written, or in upper case) wins over the COMn rule. Set on the
// user-interface thread before ports are opened.
void setPortPaths(const std::map<std::string, std::string>& paths);

// Lends the calling thread a scheduling priority: 2 highest, 1 above normal, 0
// normal. Best effort: refused without privileges, and that is no failure.
void applyThreadPriority(int priority);

// The system's text for an error number.
std::string systemErrorText(int error);

// Error numbers the port layer reports, named for the component's rules.
bool isClosedHandleError(int error); // the port was closed under a thread

} // namespace cantavel
