// The main window TForm1: its controls (from VX538AB.ui, each under its documented name), the port
// component, the two timers, and the exchange of requests and replies with the converter.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QWidget>

#include "exchange/Rules.h"
#include "app/exchange/ExchangeObserver.h"
#include "app/exchange/ObserverList.h"
#include "app/exchange/Timer.h"
#include "hart/HartFrames.h"
#include "profile/Parameters.h"
#include "serial/SerialComm.h"

namespace app {
class ChangeRecorder;
class Commissioning;
class ConfigurationActions;
class JobExchange;
class PortOpener;
class StatusLine;
class TrafficMonitor;
}

class QComboBox;
class QLineEdit;
class QPushButton;

namespace Ui {
class TForm1;
}

// One request as the exchange sends it. The frame is built first, from the controls, by a function
// that has no effect on the window; the exchange then performs the request steps of its kind.
// With the port closed (or its writer gone) every kind still shows its frame as it would, then says
// "Serial port is not open; nothing was sent." at once: no write, and the pending command, timeout
// kind and reply timer stay as they were (the factory record's pending 200 included).
struct Request {
    enum class Kind {
        // Empty the send and receive fields, show, write, record pending command and timeout kind,
        // reply timer 3000 ms and started.
        Standard,
        // HART requests that leave the reply timer's interval as it is: show, write, enable the reply
        // timer, then record pending command and kind.
        Hart,
        // The HART polling address request: enable the reply timer, record, set 3000 ms, enable again.
        HartAddress,
        // Output tests: show, empty the receive field, write; no pending command, kind or timer.
        Test,
        // The factory record: show, pending command 200 (kind kept), empty the receive field, write;
        // no reply timer.
        FactoryRecord,
    };

    Kind kind = Kind::Standard;
    // Returns the bytes to write. May throw: a tools::InputRefused leaves the window as it was; any
    // other error, for the kinds that empty the fields first, leaves them emptied, as a handler that
    // stops at its conversion does.
    std::function<std::string()> build;
    // Extra effects of the request's first step (Standard and Hart kinds), e.g. emptying the identity
    // fields; they happen whether or not the frame could be built, unless it was refused, and not
    // when the port is closed (nothing is sent then, so nothing else may change).
    std::function<void()> prepare;
    bool showHex = false; // send field shows hex pairs instead of the text
    // The reply is decoded only when the frame interpreter finds it whole and its check right (a run
    // of queries); a button's request decodes whatever comes, as the window always has.
    bool decodeWholeOnly = false;
    // A job's request (a commissioning window's): the window decodes nothing of its reply into its
    // fields and opens no box when the port does not take it; the job's own window tells what came
    // of it.
    bool job = false;
    int32_t pendingCommand = exchange::pending::None;
    int32_t timeoutKind = 0;

    // A text command that records its pending command and timeout kind and starts the reply timer.
    static Request text(std::function<std::string()> build, int32_t pendingCommand, int32_t timeoutKind) {
        Request request;
        request.build = std::move(build);
        request.pendingCommand = pendingCommand;
        request.timeoutKind = timeoutKind;
        return request;
    }
    // A query of the configuration ("QQQ#QX1#"...), as its button sends it: the pending command of
    // its decoder, "Parameter Query Timeout!".
    static Request configurationQuery(profile::Query query);
    // A set command: pending command 200, "Parameter Setting Timeout!".
    static Request set(std::function<std::string()> build) {
        return text(std::move(build), exchange::pending::SetCommand, exchange::timeout::ParameterSetting);
    }
    // A set command whose frame is built already (Write All's planned frames), as its Set button sends it.
    static Request setFrame(std::string frame) {
        return set([frame = std::move(frame)] { return frame; });
    }
    // A read meter command's set command: its bytes are raw, so the whole frame is shown as hex pairs.
    static Request readMeterCommand(std::string frame) {
        Request request = setFrame(std::move(frame));
        request.showHex = true;
        return request;
    }
    // A HART frame (kind Hart or HartAddress), shown as hex, "HART Command Timeout!".
    static Request hart(Kind kind, std::function<std::string()> build, int32_t pendingCommand) {
        Request request = text(std::move(build), pendingCommand, exchange::timeout::HartCommand);
        request.kind = kind;
        request.showHex = true;
        return request;
    }
    // A frame of its own kind (Test, FactoryRecord) that records nothing by itself.
    static Request unrecorded(Kind kind, std::function<std::string()> build) {
        Request request;
        request.kind = kind;
        request.build = std::move(build);
        return request;
    }
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    serial::TComm* Comm1 = nullptr;
    app::Timer* Timer2 = nullptr; // parse timer, 300 ms
    app::Timer* Timer3 = nullptr; // reply timer

    // The exchange state.
    int32_t PendingCommand() const { return pendingCommand_; }
    int32_t TimeoutKind() const { return timeoutKind_; }
    // Bytes of the latest block held in the receive buffer (at most 604).
    std::span<const uint8_t> ReceiveBuffer() const { return {receiveBuffer_.data(), receiveLength_}; }
    // The first bytes of the latest block, one character per byte (at most 255).
    const std::string& ReceivedText() const { return receivedText_; }
    const hart::HartIdentity& StoredHartIdentity() const { return hartIdentity_; }

    // Puts a port name into "Serial Port:" (the command line's --port), as if typed there.
    void SetPortName(const QString& name);
    // The traffic monitor: sees every event of the exchange and never changes it.
    app::TrafficMonitor& Traffic() { return *traffic_; }
    // The status line along the bottom edge: the port's state and what the exchange last did.
    app::StatusLine& Status() { return *status_; }
    // Read All, Write All, Save, Load and Compare with File, from the header's menu button.
    app::ConfigurationActions& Configuration() { return *configuration_; }
    // Live Values, Find Instrument, Check Mapping, Register Map and the parse format's field list.
    app::Commissioning& Commissioning() { return *commissioning_; }
    // The queue through which those windows' jobs share the port with the buttons.
    app::JobExchange& Jobs() { return *jobs_; }

    // A network port is being opened on a worker thread; "Open" is back once it has its outcome.
    bool Opening() const;
    // "Open" on a line opened elsewhere (a test's simulated line): the settings of the "Serial
    // Parameters" group applied, the port's threads started, the window's state as after "Open".
    void OpenPortOn(std::unique_ptr<serial::Transport> transport);
    // The change log of the set commands the window sends, and "Change Log...".
    app::ChangeRecorder& Changes() { return *changes_; }

    // The request steps, shared by every request handler: the exchange's one send function.
    void SendRequest(const Request& request);

    // Observers of the exchange beside the window's own (a window that polls over this port): each
    // hears every event from now on, after the traffic monitor, the status line and the runs.
    void AddObserver(app::ExchangeObserver& observer);
    void RemoveObserver(app::ExchangeObserver& observer);
    // A reply is awaited, or a received one waits for its decoder: a request sent now would take the
    // exchange away from it.
    bool AwaitingReply() const;
    // The last frame written to the port: what a received block is read against.
    std::span<const uint8_t> LastRequest() const { return lastRequest_; }
    // The frame interpreter's reading of the latest block against LastRequest() at its arrival.
    const traffic::Reading& LastReading() const { return lastReading_; }

    // Whether analog output row `output` (0..7) can be set: the last four rows' Set buttons are
    // disabled while the converter reports a totalizer output.
    bool AnalogOutputSettable(int output) const;
    void SetAnalogOutputSettable(int output, bool settable);

    // Handlers, named after their control and event.
    void FormCreate();
    void Button1Click();
    void Comm1ReceiveData(serial::TComm* Sender, const uint8_t* Buffer, uint16_t BufferLength);
    // The line went away while open (adapter unplugged, peer closed): the port is closed as by
    // "Close", the exchange is dropped, and one message names the device.
    void Comm1RequestHangup(serial::TComm* Sender);
    void Timer2Timer();
    void Timer3Timer();
    void Button26Click();

    // Converter text commands of the "System Parameters" tab.
    void Button6Click();
    void Button23Click();
    void Button24Click();
    void Button27Click();
    void Button29Click();
    void Button30Click();
    void Button32Click();
    void Button33Click();
    void Button53Click();
    void Button52Click();
    void Edit14Change();

    // Analog outputs and output tests.
    void Button2Click();
    void Button3Click();
    void Button5Click();
    void Button8Click();
    void Button12Click();
    void Button36Click();
    void Button37Click();
    void Button38Click();
    void Button10Click();
    void Button34Click();
    void Button11Click();
    void Button22Click();
    void Button25Click();
    void Button28Click();
    void Button35Click();
    void Button41Click();
    void Button42Click();
    void Button43Click();
    void Button51Click();

    // Transparent mode (HART).
    void Button7Click();
    void Button16Click();
    void Button14Click();
    void Button20Click();

    // "Modbus Parameter Configuration" tab: HART data parsing format and custom HART commands.
    void Button39Click();
    void Button40Click();
    void Button44Click();
    void Button45Click();
    void Button46Click();
    void Button47Click();
    void Button48Click();
    void Button49Click();
    void Button50Click();
    void Button19Click();
    void Button9Click();
    void Button17Click();
    void Button18Click();
    void Button31Click();

    // MODBUS read test and IEEE-754 calculator.
    void Button4Click();
    void Button13Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();
    app::ExchangeObserver& observer();
    void onClick(QPushButton* button, void (TForm1::*handler)());
    void showFrame(const std::string& frame, bool hex);
    void emptyFirstStepFields(const Request& request, bool withEffects);
    // Whether the parse timer runs for the block that arrived under `pendingBefore`: its code has a
    // decoder, and the reply is whole where the request asked for that.
    bool decodes(int32_t pendingBefore) const;
    // "Close" of the "Serial Parameters" group: flag, caption, "Communication Query", the port.
    void closePort();
    // Steps 2 to 5 of "Open": baud, parity, name and flow control from the group into the component.
    void applyPortSettings();
    // The port component takes the open line (raising as OpenPort does), then step 7 of "Open".
    void startPort(std::unique_ptr<serial::Transport> transport);
    // A network port's name lookup, connect and negotiation run on a worker; the outcome comes back
    // as an event, with the messages a local port's open gives.
    void openNetworkPort(const std::string& name);
    void portStarted();

    // Decoders run by the parse timer.
    void decodeSystemParameters();
    void decodeTestValues();
    void decodeAnalogOutputs();
    void decodeHartIdentity();
    void decodeHartVariables();
    void clearHartIdentityFields();
    // A HART reply whose check byte is wrong changes no field: a box says so. Whether it was one.
    bool refusedDamagedHartReply();
    void decodeParseFormat();
    void decodeCustomHart();

    // One analog output row: Set and Test.
    void setAnalogOutput(int output);
    void testAnalogOutput(int output);

    // One parse format row's Set (variable 1..8), one read meter command's Set (1 or 2).
    void setParseFormat(int variable);
    void setReadMeterCommand(int command);

    std::unique_ptr<Ui::TForm1> ui;

    bool portOpen_ = false;
    // The line was lost while a received reply waited for its parse delay: decode it, then clear the
    // pending command.
    bool decodeThenEndExchange_ = false;
    // The request recorded as pending decodes only a whole reply.
    bool decodeWholeOnly_ = false;
    // ... is a job's: the window's decoders leave its reply alone.
    bool jobRequest_ = false;
    int32_t pendingCommand_ = exchange::pending::None;
    int32_t timeoutKind_ = 0;
    std::array<uint8_t, exchange::kReceiveBufferSize> receiveBuffer_{};
    std::size_t receiveLength_ = 0;
    std::string receivedText_;
    std::vector<uint8_t> lastRequest_;
    traffic::Reading lastReading_;
    hart::HartIdentity hartIdentity_;
    // Observers of the exchange, in the order they hear of an event; destroyed last to first.
    app::ObserverList observers_;
    std::unique_ptr<app::TrafficMonitor> traffic_;
    std::unique_ptr<app::StatusLine> status_;
    std::unique_ptr<app::ConfigurationActions> configuration_;
    // The jobs' queue outlives the commissioning windows whose jobs it serves.
    std::unique_ptr<app::JobExchange> jobs_;
    std::unique_ptr<app::Commissioning> commissioning_;
    std::unique_ptr<app::PortOpener> opener_;
    std::unique_ptr<app::ChangeRecorder> changes_;
};

// Field texts travel to the converter one character per byte, as the received text does.
std::string FieldText(const QLineEdit* edit);
std::string FieldText(const QComboBox* list);
