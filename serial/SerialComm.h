// TComm: one serial port with a reader and a writer thread, reporting what happens on the line as
// events that run on the main (GUI) thread.
//
// Thread-safety contract:
//  - Every public member (properties, OpenPort, ClosePort, SendData, the event members) is called
//    on the thread that owns the object, the main thread; the events run there too, one at a time,
//    in posting order, after the handler that is running has returned. The one exception is the
//    static ConnectPort, which touches no component and may run on any thread.
//  - The reader and writer threads never call the component: they queue notices for it and wake
//    the main thread with a posted event (serial/Mailbox.h), and never wait for the main thread.
//    The main thread waits for them only inside ClosePort.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <QObject>

#include "serial/LineTypes.h"
#include "serial/Transport.h"

namespace serial {

class EventFd;

class TComm;
class Transport;
struct Notice;

using TReceiveDataEvent = std::function<void(TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm* Sender, uint32_t EventMask)>;
using TModemStateChangeEvent = std::function<void(TComm* Sender, uint32_t ModemEvent)>;
using TNotifyEvent = std::function<void(TComm* Sender)>;
using TSendDataEmptyEvent = std::function<void(TComm* Sender)>;
// A network port's server set the line otherwise than asked: "the server set 9600 baud where 19200
// was asked".
using TLineDiffersEvent = std::function<void(TComm* Sender, const std::string& Difference)>;

// Raised by OpenPort only; carries one of the seven messages, and, apart from the message, the
// device path it was about and why the system refused, for the user to act on.
class ECommsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    ECommsError(const std::string& message, std::string devicePath, int errorNumber, std::string reason)
        : std::runtime_error(message), devicePath_(std::move(devicePath)), errorNumber_(errorNumber),
          reason_(std::move(reason)) {}

    // The device path the open tried (or holds, for "This serial port already opened").
    const std::string& DevicePath() const { return devicePath_; }
    // errno of the step that failed; 0 when the failure was no system error.
    int ErrorNumber() const { return errorNumber_; }
    // Why, in words: "permission denied. The user must be...", "busy: ..."; empty when unknown.
    const std::string& Reason() const { return reason_; }

private:
    std::string devicePath_;
    int errorNumber_ = 0;
    std::string reason_;
};

struct OpenOutcome;
// The message a device's own failed open gives ("Error opening serial port", or "File handle is not a
// comm handle " for a device that is no serial port), with the path and why.
ECommsError OpenError(const std::string& path, const OpenOutcome& outcome);

class TComm : public QObject {
    Q_OBJECT
public:
    explicit TComm(QObject* parent = nullptr);
    ~TComm() override;

    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    void OpenPort();
    // OpenPort on a given line instead of the one CommName names: one the caller opened already (a
    // network port connected on a worker thread, so the GUI thread never waits for a server) goes
    // straight to the steps after the device's own open; one not yet open is opened first (a test's
    // simulated line). Raises as OpenPort does. The component owns the transport from here.
    void OpenPortOn(std::unique_ptr<Transport> port);
    // OpenPort in two halves, so the half that may wait (a network port's name lookup, connect and
    // negotiation, up to 3 s) can run on a worker thread: ConnectPort opens the transport of a
    // name and touches no component, so any thread may call it; `cancel`, once signalled, ends its
    // wait at once. It raises what OpenPort raises for the same failure. OpenPort(connected), on
    // the owner's thread, does the rest of OpenPort with it (and raises "This serial port already
    // opened" first, as OpenPort does).
    static std::unique_ptr<Transport> ConnectPort(const std::string& commName, const EventFd* cancel = nullptr);
    void OpenPort(std::unique_ptr<Transport> connected);
    void ClosePort();
    bool SendData(const void* Buffer, uint16_t Length);
    bool IsOpen() const;
    // The device CommName names ("COM3" is /dev/ttyS2, "ttyUSB0" is /dev/ttyUSB0, a path is itself).
    std::string DevicePath() const;
    // While OnReceiveData runs: when the block's last byte came in (the block itself is delivered only
    // after ReadIntervalTimeout of silence). Empty outside that handler.
    std::optional<std::chrono::steady_clock::time_point> LastByteTime() const;
    // When SendData last took a block (before the writer was woken, so before any of its bytes could
    // be on the line); empty until it first did.
    std::optional<std::chrono::steady_clock::time_point> LastSendTime() const;
    // True when no write request is waiting or being written: after construction, OpenPort and
    // ClosePort, and once the writer has drained what SendData handed it.
    bool IsSendQueueEmpty() const;
    // What kind of port it has open, or (closed) what CommName would open.
    PortKind Kind() const;
    // Why the port's own transport gave the line up (a network server that broke the protocol,
    // flooded or stopped reading), after a hang-up; empty when the line itself went away.
    std::string HangupReason() const;

    // Published properties. Setters of line settings and timeouts re-apply them to an open port
    // only when the value changes; CommName and Parity are stored for the next OpenPort.
    const std::string& CommName() const;
    void SetCommName(const std::string& value);
    uint32_t BaudRate() const;
    void SetBaudRate(uint32_t value);
    bool ParityCheck() const;
    void SetParityCheck(bool value);
    bool Outx_CtsFlow() const;
    void SetOutx_CtsFlow(bool value);
    bool Outx_DsrFlow() const;
    void SetOutx_DsrFlow(bool value);
    TDtrControl DtrControl() const;
    void SetDtrControl(TDtrControl value);
    bool DsrSensitivity() const;
    void SetDsrSensitivity(bool value);
    bool TxContinueOnXoff() const;
    void SetTxContinueOnXoff(bool value);
    bool Outx_XonXoffFlow() const;
    void SetOutx_XonXoffFlow(bool value);
    bool Inx_XonXoffFlow() const;
    void SetInx_XonXoffFlow(bool value);
    bool ReplaceWhenParityError() const;
    void SetReplaceWhenParityError(bool value);
    bool IgnoreNullChar() const;
    void SetIgnoreNullChar(bool value);
    TRtsControl RtsControl() const;
    void SetRtsControl(TRtsControl value);
    uint16_t XonLimit() const;
    void SetXonLimit(uint16_t value);
    uint16_t XoffLimit() const;
    void SetXoffLimit(uint16_t value);
    TByteSize ByteSize() const;
    void SetByteSize(TByteSize value);
    TParity Parity() const;
    void SetParity(TParity value);
    TStopBits StopBits() const;
    void SetStopBits(TStopBits value);
    char XonChar() const;
    void SetXonChar(char value);
    char XoffChar() const;
    void SetXoffChar(char value);
    char ReplacedChar() const;
    void SetReplacedChar(char value);
    uint32_t ReadIntervalTimeout() const;
    void SetReadIntervalTimeout(uint32_t value);
    uint32_t ReadTotalTimeoutMultiplier() const;
    void SetReadTotalTimeoutMultiplier(uint32_t value);
    uint32_t ReadTotalTimeoutConstant() const;
    void SetReadTotalTimeoutConstant(uint32_t value);
    uint32_t WriteTotalTimeoutMultiplier() const;
    void SetWriteTotalTimeoutMultiplier(uint32_t value);
    uint32_t WriteTotalTimeoutConstant() const;
    void SetWriteTotalTimeoutConstant(uint32_t value);

    // Events, assigned directly (Comm1->OnReceiveData = ...). An unassigned event is skipped.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;
    // Not one of the published events: a network port's report on its line settings.
    TLineDiffersEvent OnLineDiffers;

protected:
    bool event(QEvent* e) override;

private:
    void deliver(Notice& notice);

    // Implementation detail owned by SerialComm.cpp (threads, fds, the close event...).
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace serial
