#pragma once

// TComm: a serial port with its own receive and transmit threads. The user-interface
// thread opens and closes the port, queues outgoing blocks with WriteCommData and
// receives everything the threads report as events, in the order it was posted.

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace cantavel {

class CommPort;
class CommNotifier;
class Signal;
class TReadThread;
class TWriteThread;
struct Notification;
struct OpenResult;

// Raised by StartComm with one fixed message; the system's reason for a failed open
// and the device path rides along for whoever wants to show more.
class ECommsError : public std::runtime_error {
public:
    explicit ECommsError(const char* message, std::string systemReason = {},
                         std::string device = {})
        : std::runtime_error(message), systemReason_(std::move(systemReason)),
          device_(std::move(device)) {}

    const std::string& systemReason() const { return systemReason_; }
    const std::string& device() const { return device_; }

private:
    std::string systemReason_;
    std::string device_;
};

class TComm : public QObject {
    Q_OBJECT

public:
    enum class TDtrControl : std::uint8_t { DtrEnable, DtrDisable, DtrHandshake };
    enum class TRtsControl : std::uint8_t {
        RtsEnable,
        RtsDisable,
        RtsHandshake,
        RtsTransmissionAvailable
    };
    enum class TByteSize : std::uint8_t { _5, _6, _7, _8 };
    enum class TParity : std::uint8_t { None, Odd, Even, Mark, Space };
    enum class TStopBits : std::uint8_t { _1, _1_5, _2 };
    Q_ENUM(TDtrControl)
    Q_ENUM(TRtsControl)
    Q_ENUM(TByteSize)
    Q_ENUM(TParity)
    Q_ENUM(TStopBits)

    using TReceiveDataEvent = std::function<void(QObject* Sender, const std::uint8_t* Buffer,
                                                 std::uint16_t BufferLength)>;
    using TReceiveErrorEvent = std::function<void(QObject* Sender, std::uint32_t EventMask)>;
    using TModemStateChangeEvent = std::function<void(QObject* Sender, std::uint32_t ModemEvent)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using TSendDataEmptyEvent = std::function<void(QObject* Sender)>;

    // Opens a port by name; tests put a fake port layer here.
    using PortOpener = std::function<OpenResult(const std::string& name)>;

    // clang-format off
    Q_PROPERTY(QString CommName READ CommName WRITE SetCommName)
    Q_PROPERTY(quint32 BaudRate READ BaudRate WRITE SetBaudRate)
    Q_PROPERTY(bool ParityCheck READ ParityCheck WRITE SetParityCheck)
    Q_PROPERTY(bool Outx_CtsFlow READ Outx_CtsFlow WRITE SetOutx_CtsFlow)
    Q_PROPERTY(bool Outx_DsrFlow READ Outx_DsrFlow WRITE SetOutx_DsrFlow)
    Q_PROPERTY(TDtrControl DtrControl READ DtrControl WRITE SetDtrControl)
    Q_PROPERTY(bool DsrSensitivity READ DsrSensitivity WRITE SetDsrSensitivity)
    Q_PROPERTY(bool TxContinueOnXoff READ TxContinueOnXoff WRITE SetTxContinueOnXoff)
    Q_PROPERTY(bool Outx_XonXoffFlow READ Outx_XonXoffFlow WRITE SetOutx_XonXoffFlow)
    Q_PROPERTY(bool Inx_XonXoffFlow READ Inx_XonXoffFlow WRITE SetInx_XonXoffFlow)
    Q_PROPERTY(bool ReplaceWhenParityError READ ReplaceWhenParityError WRITE SetReplaceWhenParityError)
    Q_PROPERTY(bool IgnoreNullChar READ IgnoreNullChar WRITE SetIgnoreNullChar)
    Q_PROPERTY(TRtsControl RtsControl READ RtsControl WRITE SetRtsControl)
    Q_PROPERTY(quint16 XonLimit READ XonLimit WRITE SetXonLimit)
    Q_PROPERTY(quint16 XoffLimit READ XoffLimit WRITE SetXoffLimit)
    Q_PROPERTY(TByteSize ByteSize READ ByteSize WRITE SetByteSize)
    Q_PROPERTY(TParity Parity READ Parity WRITE SetParity)
    Q_PROPERTY(TStopBits StopBits READ StopBits WRITE SetStopBits)
    Q_PROPERTY(char XonChar READ XonChar WRITE SetXonChar)
    Q_PROPERTY(char XoffChar READ XoffChar WRITE SetXoffChar)
    Q_PROPERTY(char ReplacedChar READ ReplacedChar WRITE SetReplacedChar)
    Q_PROPERTY(quint32 ReadIntervalTimeout READ ReadIntervalTimeout WRITE SetReadIntervalTimeout)
    Q_PROPERTY(quint32 ReadTotalTimeoutMultiplier READ ReadTotalTimeoutMultiplier WRITE SetReadTotalTimeoutMultiplier)
    Q_PROPERTY(quint32 ReadTotalTimeoutConstant READ ReadTotalTimeoutConstant WRITE SetReadTotalTimeoutConstant)
    Q_PROPERTY(quint32 WriteTotalTimeoutMultiplier READ WriteTotalTimeoutMultiplier WRITE SetWriteTotalTimeoutMultiplier)
    Q_PROPERTY(quint32 WriteTotalTimeoutConstant READ WriteTotalTimeoutConstant WRITE SetWriteTotalTimeoutConstant)
    // clang-format on

    explicit TComm(QObject* owner = nullptr);
    // Stops an open port first: its threads would otherwise go on posting to a
    // component that no longer exists.
    ~TComm() override;

    void StartComm();
    void StopComm() noexcept;
    bool WriteCommData(const std::uint8_t* data, std::uint16_t length);
    // Bytes WriteCommData has queued since the port opened.
    std::uint64_t BytesQueued() const { return queued_; }
    // Whether the first `total` bytes queued since the port opened have left: the
    // port's write took them and the driver's output queue holds none of them. A
    // count the transmit thread has not reached yet is waited for up to `grace`.
    // False when the port is closed or the driver cannot tell.
    bool HasSent(std::uint64_t total, std::chrono::milliseconds grace);
    std::uint32_t GetModemState();
    bool IsOpen() const { return PortHandle != nullptr; }

    // The device path the last StartComm resolved CommName to.
    const std::string& DevicePath() const { return devicePath_; }

    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

    void SetPortOpener(PortOpener opener);

    // Published properties. CommName is plain: it is only read by the next StartComm.
    QString CommName() const { return commName_; }
    void SetCommName(const QString& name) { commName_ = name; }

    quint32 BaudRate() const { return baudRate_; }
    bool ParityCheck() const { return parityCheck_; }
    bool Outx_CtsFlow() const { return outxCtsFlow_; }
    bool Outx_DsrFlow() const { return outxDsrFlow_; }
    TDtrControl DtrControl() const { return dtrControl_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
    bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
    bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
    bool IgnoreNullChar() const { return ignoreNullChar_; }
    TRtsControl RtsControl() const { return rtsControl_; }
    quint16 XonLimit() const { return xonLimit_; }
    quint16 XoffLimit() const { return xoffLimit_; }
    TByteSize ByteSize() const { return byteSize_; }
    TParity Parity() const { return parity_; }
    TStopBits StopBits() const { return stopBits_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    char ReplacedChar() const { return replacedChar_; }
    quint32 ReadIntervalTimeout() const { return readIntervalTimeout_; }
    quint32 ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
    quint32 ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
    quint32 WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
    quint32 WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }

    void SetBaudRate(quint32 value) { setLine(baudRate_, value); }
    void SetParityCheck(bool value) { setLine(parityCheck_, value); }
    void SetOutx_CtsFlow(bool value) { setLine(outxCtsFlow_, value); }
    void SetOutx_DsrFlow(bool value) { setLine(outxDsrFlow_, value); }
    void SetDtrControl(TDtrControl value) { setLine(dtrControl_, value); }
    void SetDsrSensitivity(bool value) { setLine(dsrSensitivity_, value); }
    void SetTxContinueOnXoff(bool value) { setLine(txContinueOnXoff_, value); }
    void SetOutx_XonXoffFlow(bool value) { setLine(outxXonXoffFlow_, value); }
    void SetInx_XonXoffFlow(bool value) { setLine(inxXonXoffFlow_, value); }
    void SetReplaceWhenParityError(bool value) { setLine(replaceWhenParityError_, value); }
    void SetIgnoreNullChar(bool value) { setLine(ignoreNullChar_, value); }
    void SetRtsControl(TRtsControl value) { setLine(rtsControl_, value); }
    void SetXonLimit(quint16 value) { setLine(xonLimit_, value); }
    void SetXoffLimit(quint16 value) { setLine(xoffLimit_, value); }
    void SetByteSize(TByteSize value) { setLine(byteSize_, value); }
    void SetParity(TParity value) { setLine(parity_, value); }
    void SetStopBits(TStopBits value) { setLine(stopBits_, value); }
    void SetXonChar(char value) { setLine(xonChar_, value); }
    void SetXoffChar(char value) { setLine(xoffChar_, value); }
    void SetReplacedChar(char value) { setLine(replacedChar_, value); }
    void SetReadIntervalTimeout(quint32 value) { setTimeout(readIntervalTimeout_, value); }
    void SetReadTotalTimeoutMultiplier(quint32 value) {
        setTimeout(readTotalTimeoutMultiplier_, value);
    }
    void SetReadTotalTimeoutConstant(quint32 value) {
        setTimeout(readTotalTimeoutConstant_, value);
    }
    void SetWriteTotalTimeoutMultiplier(quint32 value) {
        setTimeout(writeTotalTimeoutMultiplier_, value);
    }
    void SetWriteTotalTimeoutConstant(quint32 value) {
        setTimeout(writeTotalTimeoutConstant_, value);
    }

protected:
    void _SetCommState();
    void _SetCommTimeout();
    void CloseReadThread();
    void CloseWriteThread();

    // Runs on the user-interface thread for each notification, in posting order.
    void CommWndProc(Notification& message);
    friend class CommNotifier;

    void ReceiveData(const std::uint8_t* buffer, std::uint16_t length);
    void ReceiveError(std::uint32_t flags);
    void RequestHangup();
    void ModemStateChange(std::uint32_t code);
    void _SendDataEmpty();

private:
    template <typename T> void setLine(T& field, T value) {
        if (field == value) {
            return;
        }
        field = value;
        if (IsOpen()) {
            _SetCommState();
        }
    }
    template <typename T> void setTimeout(T& field, T value) {
        if (field == value) {
            return;
        }
        field = value;
        if (IsOpen()) {
            _SetCommTimeout();
        }
    }
    void closePort() noexcept;

    QString commName_ = QStringLiteral("COM2");
    quint32 baudRate_ = 9600;
    bool parityCheck_ = false;
    bool outxCtsFlow_ = false;
    bool outxDsrFlow_ = false;
    TDtrControl dtrControl_ = TDtrControl::DtrEnable;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = true;
    bool outxXonXoffFlow_ = true;
    bool inxXonXoffFlow_ = true;
    bool replaceWhenParityError_ = false;
    bool ignoreNullChar_ = false;
    TRtsControl rtsControl_ = TRtsControl::RtsEnable;
    quint16 xonLimit_ = 500;
    quint16 xoffLimit_ = 500;
    TByteSize byteSize_ = TByteSize::_8;
    TParity parity_ = TParity::None;
    TStopBits stopBits_ = TStopBits::_1;
    char xonChar_ = 0x11;
    char xoffChar_ = 0x13;
    char replacedChar_ = 0x00;
    quint32 readIntervalTimeout_ = 100;
    quint32 readTotalTimeoutMultiplier_ = 0;
    quint32 readTotalTimeoutConstant_ = 0;
    quint32 writeTotalTimeoutMultiplier_ = 0;
    quint32 writeTotalTimeoutConstant_ = 0;

    // Port, stop event and threads exist only while the port is open; the notifier
    // lives as long as the component, so that notifications posted before StopComm
    // are still delivered after it.
    std::unique_ptr<CommPort> PortHandle;
    std::unique_ptr<Signal> StopEvent;
    std::unique_ptr<CommNotifier> NotifyWindow;
    std::unique_ptr<TReadThread> ReadThread;
    std::unique_ptr<TWriteThread> WriteThread;
    PortOpener openPort_;
    std::string devicePath_;
    std::uint64_t queued_ = 0; // bytes queued since StartComm
};

using TDtrControl = TComm::TDtrControl;
using TRtsControl = TComm::TRtsControl;
using TByteSize = TComm::TByteSize;
using TParity = TComm::TParity;
using TStopBits = TComm::TStopBits;

} // namespace cantavel
