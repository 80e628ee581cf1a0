// TForm1: start state, the "Serial Parameters" group, and the exchange (request steps, receive
// handler, reply timeout, parse dispatch).
#include "app/window/VX538AB.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <QCloseEvent>
#include <QColor>
#include <QPalette>
#include <QPixmap>
#include <QScopeGuard>
#include <QThread>

#include "app/commissioning/Commissioning.h"
#include "app/configuration/ConfigurationActions.h"
#include "app/exchange/JobExchange.h"
#include "app/inspection/ChangeRecorder.h"
#include "app/exchange/StatusLine.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/window/Lists.h"
#include "app/window/Logo.h"
#include "app/window/Messages.h"
#include "app/window/PortOpener.h"
#include "hart/UnitTable.h"
#include "serial/PortUrl.h"
#include "tools/Conversions.h"
#include "ui_VX538AB.h"

using app::RunGuarded;

std::string FieldText(const QLineEdit* edit) {
    return edit->text().toLatin1().toStdString();
}

std::string FieldText(const QComboBox* list) {
    return list->currentText().toLatin1().toStdString();
}

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>()) {
    ui->setupUi(this);
    move(146, 121);

    // The form's look that the designer file cannot hold: silver background, font families in order
    // of likeness, the logo, the unit lists from the one unit table.
    QPalette silver = palette();
    silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(silver);
    setAutoFillBackground(true);
    QFont base = font();
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    base.setPixelSize(11);
    setFont(base);
    QFont title = ui->Label41->font();
    title.setFamilies(
        {QStringLiteral("Segoe UI"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    title.setPointSize(18);
    title.setBold(true);
    ui->Label41->setFont(title);
    QPalette black = ui->Label41->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    ui->Label41->setPalette(black);
    // Group frames with the caption standing on the frame line, where the layout expects it.
    setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid #808080; margin-top: 6px; }"
                       "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                       " left: 8px; padding: 0px 2px; }"));
    ui->Image1->setPixmap(QPixmap::fromImage(app::LogoPicture(97, 41)));

    // "9600" stands in the baud list as text, with no item selected.
    ui->ComboBox11->setCurrentIndex(-1);
    ui->ComboBox11->setEditText(QStringLiteral("9600"));

    for (QComboBox* units : {ui->ComboBox3, ui->ComboBox31, ui->ComboBox32, ui->ComboBox33}) {
        for (std::string_view entry : hart::UnitEntries()) {
            units->addItem(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
        }
        units->setCurrentIndex(0);
    }

    Comm1 = new serial::TComm(this);
    Comm1->SetCommName("COM2");
    Comm1->SetBaudRate(9600);
    Comm1->SetReadIntervalTimeout(400);
    // After each handler of the exchange has run to its end (its message box closed), its observers
    // hear how it ended; none of them changes what the handler did.
    Comm1->OnReceiveData = [this](serial::TComm* sender, const uint8_t* buffer, uint16_t length) {
        const int32_t pendingBefore = pendingCommand_;
        lastReading_ = traffic::Read({buffer, length}, traffic::Direction::Received, pendingBefore, lastRequest_);
        RunGuarded([&] { Comm1ReceiveData(sender, buffer, length); });
        observer().blockHandled(lastReading_, pendingBefore, decodes(pendingBefore));
    };
    Comm1->OnRequestHangup = [this](serial::TComm* sender) {
        RunGuarded([&] { Comm1RequestHangup(sender); });
    };
    // A network server that set the line otherwise than asked: said, never acted on.
    Comm1->OnLineDiffers = [this](serial::TComm*, const std::string& difference) {
        observer().portLineDiffers(*Comm1, difference);
    };
    traffic_ = std::make_unique<app::TrafficMonitor>(*this, *Comm1);
    observers_.add(*traffic_);

    Timer2 = new app::Timer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->SetInterval(exchange::kParseDelayMs);
    Timer2->OnTimer = [this] {
        const int32_t pending = pendingCommand_;
        std::string error;
        RunGuarded([&] {
            try {
                Timer2Timer();
            } catch (const std::exception& e) {
                error = e.what();
                throw;
            }
        });
        observer().replyDecoded(pending, error);
    };
    Timer3 = new app::Timer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->OnTimer = [this] {
        const std::string message = exchange::TimeoutMessage(timeoutKind_);
        RunGuarded([this] { Timer3Timer(); });
        observer().timeoutHandled(message);
    };

    status_ = std::make_unique<app::StatusLine>(*this, *Comm1, *Timer3);
    observers_.add(*status_);

    connectHandlers();
    configuration_ = std::make_unique<app::ConfigurationActions>(*this);
    observers_.add(*configuration_);
    jobs_ = std::make_unique<app::JobExchange>(*this);
    commissioning_ = std::make_unique<app::Commissioning>(*this);
    opener_ = std::make_unique<app::PortOpener>();
    changes_ = std::make_unique<app::ChangeRecorder>(*this);
    observers_.add(*changes_);
    RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    // The port's threads end before the component and the window go away.
    Comm1->ClosePort();
}

app::ExchangeObserver& TForm1::observer() {
    return observers_;
}

void TForm1::AddObserver(app::ExchangeObserver& observer) {
    observers_.add(observer);
}

void TForm1::RemoveObserver(app::ExchangeObserver& observer) {
    observers_.remove(observer);
}

bool TForm1::AwaitingReply() const {
    return Timer3->Enabled() || Timer2->Enabled();
}

Request Request::configurationQuery(profile::Query query) {
    return text([query] { return profile::QueryFrame(query); }, traffic::QueryPending(profile::QueryKey(query)),
                exchange::timeout::ParameterQuery);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (Comm1->IsOpen()) {
        observer().portClosed(*Comm1);
    }
    Comm1->ClosePort();
    QWidget::closeEvent(event);
}

void TForm1::onClick(QPushButton* button, void (TForm1::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
}

void TForm1::connectHandlers() {
    onClick(ui->Button1, &TForm1::Button1Click);
    onClick(ui->Button26, &TForm1::Button26Click);

    onClick(ui->Button6, &TForm1::Button6Click);
    onClick(ui->Button23, &TForm1::Button23Click);
    onClick(ui->Button24, &TForm1::Button24Click);
    onClick(ui->Button27, &TForm1::Button27Click);
    onClick(ui->Button29, &TForm1::Button29Click);
    onClick(ui->Button30, &TForm1::Button30Click);
    onClick(ui->Button32, &TForm1::Button32Click);
    onClick(ui->Button33, &TForm1::Button33Click);
    onClick(ui->Button53, &TForm1::Button53Click);
    onClick(ui->Button52, &TForm1::Button52Click);
    connect(ui->Edit14, &QLineEdit::textChanged, this, [this] { RunGuarded([this] { Edit14Change(); }); });

    onClick(ui->Button2, &TForm1::Button2Click);
    onClick(ui->Button3, &TForm1::Button3Click);
    onClick(ui->Button5, &TForm1::Button5Click);
    onClick(ui->Button8, &TForm1::Button8Click);
    onClick(ui->Button12, &TForm1::Button12Click);
    onClick(ui->Button36, &TForm1::Button36Click);
    onClick(ui->Button37, &TForm1::Button37Click);
    onClick(ui->Button38, &TForm1::Button38Click);
    onClick(ui->Button10, &TForm1::Button10Click);
    onClick(ui->Button34, &TForm1::Button34Click);
    onClick(ui->Button11, &TForm1::Button11Click);
    onClick(ui->Button22, &TForm1::Button22Click);
    onClick(ui->Button25, &TForm1::Button25Click);
    onClick(ui->Button28, &TForm1::Button28Click);
    onClick(ui->Button35, &TForm1::Button35Click);
    onClick(ui->Button41, &TForm1::Button41Click);
    onClick(ui->Button42, &TForm1::Button42Click);
    onClick(ui->Button43, &TForm1::Button43Click);
    onClick(ui->Button51, &TForm1::Button51Click);

    onClick(ui->Button7, &TForm1::Button7Click);
    onClick(ui->Button16, &TForm1::Button16Click);
    onClick(ui->Button14, &TForm1::Button14Click);
    onClick(ui->Button20, &TForm1::Button20Click);

    onClick(ui->Button39, &TForm1::Button39Click);
    onClick(ui->Button40, &TForm1::Button40Click);
    onClick(ui->Button44, &TForm1::Button44Click);
    onClick(ui->Button45, &TForm1::Button45Click);
    onClick(ui->Button46, &TForm1::Button46Click);
    onClick(ui->Button47, &TForm1::Button47Click);
    onClick(ui->Button48, &TForm1::Button48Click);
    onClick(ui->Button49, &TForm1::Button49Click);
    onClick(ui->Button50, &TForm1::Button50Click);
    onClick(ui->Button19, &TForm1::Button19Click);
    onClick(ui->Button9, &TForm1::Button9Click);
    onClick(ui->Button17, &TForm1::Button17Click);
    onClick(ui->Button18, &TForm1::Button18Click);
    onClick(ui->Button31, &TForm1::Button31Click);

    onClick(ui->Button4, &TForm1::Button4Click);
    onClick(ui->Button13, &TForm1::Button13Click);
}

void TForm1::FormCreate() {
    ui->Button6->setEnabled(true);
    Timer2->SetEnabled(false);
    Timer3->SetEnabled(false);
}

void TForm1::closePort() {
    portOpen_ = false;
    ui->Button1->setText(QStringLiteral("Open"));
    ui->Button6->setEnabled(false);
    Comm1->ClosePort();
}

void TForm1::Button1Click() {
    if (portOpen_) {
        closePort();
        observer().portClosed(*Comm1);
        return;
    }
    if (Opening()) {
        return; // "Open" is back once the open under way has its outcome
    }
    Comm1->ClosePort();
    applyPortSettings();
    if (serial::isNetworkPortName(Comm1->CommName())) {
        openNetworkPort(Comm1->CommName());
        return;
    }
    try {
        Comm1->OpenPort();
    } catch (const std::exception& e) {
        observer().portOpenFailed(*Comm1, e.what());
        throw;
    }
    portStarted();
}

void TForm1::applyPortSettings() {
    const int32_t baud = tools::StrToInt(FieldText(ui->ComboBox11));
    if (baud <= 0) {
        // A speed of 0 would mean "hang up" to the driver, a negative one is no speed at all.
        throw tools::InputRefused(
            "Baud must be a positive number of bits per second; the port stays closed.");
    }
    Comm1->SetBaudRate(static_cast<uint32_t>(baud));
    const int parity = app::SelectedIndex(ui->ComboBox10);
    if (parity < 0) {
        throw tools::InputRefused("Parity must be one of None, Odd or Even; the port stays closed.");
    }
    Comm1->SetParity(static_cast<serial::TParity>(parity));
    // The name as the file system spells it, not one character per byte: a device path may hold any
    // bytes (a /dev/serial/by-id name with non-ASCII characters).
    Comm1->SetCommName(ui->SPREALCOM->portName().toStdString());
    Comm1->SetOutx_XonXoffFlow(false);
    Comm1->SetInx_XonXoffFlow(false);
}

bool TForm1::Opening() const {
    return opener_ && opener_->opening();
}

void TForm1::OpenPortOn(std::unique_ptr<serial::Transport> transport) {
    if (portOpen_ || Opening()) {
        return;
    }
    Comm1->ClosePort();
    applyPortSettings();
    startPort(std::move(transport));
}

void TForm1::startPort(std::unique_ptr<serial::Transport> transport) {
    try {
        Comm1->OpenPortOn(std::move(transport));
    } catch (const serial::ECommsError& e) {
        // The box shows the component's message with the reason; the status line has room for one
        // of them, and for a network port the message ("File handle is not a comm handle " for a
        // server that does not speak RFC 2217) says less than the port's own words.
        const bool ownWords = serial::isNetwork(Comm1->Kind()) && !e.Reason().empty();
        observer().portOpenFailed(*Comm1, ownWords ? e.Reason() : std::string(e.what()));
        throw;
    } catch (const std::exception& e) {
        observer().portOpenFailed(*Comm1, e.what());
        throw;
    }
    portStarted();
}

void TForm1::openNetworkPort(const std::string& name) {
    ui->Button1->setEnabled(false);
    status_->note("Opening " + name + "...");
    opener_->open(name, [this](std::unique_ptr<serial::Transport> opened, const serial::OpenOutcome& outcome,
                               const std::string& path) {
        ui->Button1->setEnabled(true);
        RunGuarded([&] {
            if (!opened) {
                // The messages a local port's open gives, from the worker's outcome.
                const serial::ECommsError error = serial::OpenError(path, outcome);
                // A network port's own words say more than the component's message (see startPort).
                const bool ownWords = serial::isNetwork(Comm1->Kind()) && !error.Reason().empty();
                observer().portOpenFailed(*Comm1, ownWords ? error.Reason() : std::string(error.what()));
                throw error;
            }
            startPort(std::move(opened));
        });
    });
}

void TForm1::portStarted() {
    observer().portOpened(*Comm1);
    portOpen_ = true;
    ui->Button1->setText(QStringLiteral("Close"));
    ui->Button6->setEnabled(true);
}

void TForm1::SetPortName(const QString& name) {
    ui->SPREALCOM->setEditText(name);
}

void TForm1::showFrame(const std::string& frame, bool hex) {
    if (hex) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
        ui->Edit8->setText(QString::fromLatin1(tools::BytesToHexText({bytes, frame.size()})));
    } else {
        ui->Edit8->setText(QString::fromLatin1(frame.data(), static_cast<qsizetype>(frame.size())));
    }
}

void TForm1::emptyFirstStepFields(const Request& request, bool withEffects) {
    ui->Edit8->clear();
    ui->Memo10->clear();
    if (withEffects && request.prepare) {
        request.prepare();
    }
}

void TForm1::Comm1RequestHangup(serial::TComm*) {
    // A hang-up that was already on its way when the user closed the port is old news.
    if (!portOpen_) {
        return;
    }
    observer().portLost(*Comm1);
    const std::string name = Comm1->CommName();
    const std::string path = Comm1->DevicePath();
    const serial::PortKind kind = Comm1->Kind();
    const std::string reason = Comm1->HangupReason();
    closePort();
    Timer3->SetEnabled(false);
    // A reply that arrived before the line went is still decoded when its parse delay ends; the
    // exchange ends with that decode instead of now, so nothing already received is thrown away.
    if (Timer2->Enabled()) {
        decodeThenEndExchange_ = true;
    } else {
        pendingCommand_ = exchange::pending::None;
    }
    const QString device = name == path ? QString::fromLocal8Bit(path)
                                        : QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(name),
                                                                        QString::fromLocal8Bit(path));
    if (!reason.empty()) {
        app::ShowMessage(QStringLiteral("The network port %1 was closed: %2. Press \"Open\" to connect again.")
                             .arg(device, QString::fromStdString(reason)));
        return;
    }
    if (serial::isNetwork(kind)) {
        app::ShowMessage(QStringLiteral("The network port %1 was lost: the server closed the connection or the "
                                        "link dropped. The port is closed; press \"Open\" when the server is back.")
                             .arg(device));
        return;
    }
    app::ShowMessage(QStringLiteral("The serial port %1 was lost: the adapter was unplugged or the line "
                                    "closed. The port is closed; press \"Open\" when the device is back.")
                         .arg(device));
}

void TForm1::SendRequest(const Request& request) {
    const bool emptiesFirst = request.kind == Request::Kind::Standard ||
                              request.kind == Request::Kind::Hart ||
                              request.kind == Request::Kind::HartAddress;
    const bool portOpen = Comm1->IsOpen();
    // The pending command the request would have left, for the record of a refusal.
    const auto intended = [&] {
        return request.kind == Request::Kind::Test            ? pendingCommand_
               : request.kind == Request::Kind::FactoryRecord ? exchange::pending::SetCommand
                                                              : request.pendingCommand;
    };
    std::string frame;
    try {
        frame = request.build();
    } catch (const tools::InputRefused& refusal) {
        observer().requestRefused(refusal.what(), intended());
        throw;
    } catch (const std::exception& error) {
        // The handler would have emptied its fields before reaching the conversion that failed.
        if (emptiesFirst) {
            emptyFirstStepFields(request, portOpen);
        }
        observer().requestRefused(error.what(), intended());
        throw;
    }

    if (emptiesFirst) {
        emptyFirstStepFields(request, portOpen);
        showFrame(frame, request.showHex);
    } else {
        showFrame(frame, request.showHex);
        ui->Memo10->clear();
    }
    // Frames are at most a few hundred bytes, far below the 16-bit length limit. SendData refuses
    // when the port is closed or its writer has ended: the frame stays on show as a preview, and
    // nothing is recorded that would wait for a reply that cannot come.
    if (!portOpen ||
        !Comm1->SendData(frame.data(), static_cast<uint16_t>(std::min<std::size_t>(frame.size(), 0xFFFF)))) {
        observer().frameSent({reinterpret_cast<const uint8_t*>(frame.data()), frame.size()}, pendingCommand_,
                             false);
        if (!request.job) {
            app::ShowMessage(QStringLiteral("Serial port is not open; nothing was sent."));
        }
        return;
    }

    lastRequest_.assign(frame.begin(), frame.end());
    const auto record = [&] {
        pendingCommand_ = request.pendingCommand;
        timeoutKind_ = request.timeoutKind;
        decodeWholeOnly_ = request.decodeWholeOnly;
        jobRequest_ = request.job;
    };
    switch (request.kind) {
    case Request::Kind::Standard:
        record();
        Timer3->SetInterval(exchange::kReplyTimeoutMs);
        Timer3->SetEnabled(true);
        break;
    case Request::Kind::Hart:
        // The reply timer keeps whatever interval it has: 1000 ms until some request set 3000 ms.
        Timer3->SetEnabled(true);
        record();
        break;
    case Request::Kind::HartAddress:
        Timer3->SetEnabled(true);
        record();
        Timer3->SetInterval(exchange::kReplyTimeoutMs);
        Timer3->SetEnabled(true);
        break;
    case Request::Kind::Test:
        break;
    case Request::Kind::FactoryRecord:
        pendingCommand_ = exchange::pending::SetCommand;
        decodeWholeOnly_ = false;
        jobRequest_ = false;
        break;
    }
    observer().frameSent({reinterpret_cast<const uint8_t*>(frame.data()), frame.size()}, pendingCommand_,
                         true);
}

void TForm1::Comm1ReceiveData(serial::TComm*, const uint8_t* Buffer, uint16_t BufferLength) {
    const int32_t pendingBefore = pendingCommand_;
    observer().blockReceived({Buffer, BufferLength}, pendingCommand_);
    // The pause lets a reply that the converter sends in pieces settle; it holds the whole window.
    QThread::msleep(exchange::kReceivePauseMs);

    receiveLength_ = std::min<std::size_t>(BufferLength, receiveBuffer_.size());
    std::memcpy(receiveBuffer_.data(), Buffer, receiveLength_);
    receivedText_.assign(reinterpret_cast<const char*>(Buffer),
                         std::min<std::size_t>(BufferLength, exchange::kReceivedTextMax));

    const exchange::ReceiveAction action = exchange::ReceiveActionFor(pendingCommand_);
    if (action.showHex) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(receivedText_.data());
        ui->Memo10->setPlainText(QString::fromLatin1(tools::BytesToHexText({bytes, receivedText_.size()})));
    } else {
        ui->Memo10->setPlainText(QString::fromLatin1(exchange::TextUpToZero(receivedText_)));
    }
    if (action.clearPending) {
        pendingCommand_ = exchange::pending::None;
    }
    Timer3->SetEnabled(false);
    if (decodes(pendingBefore)) {
        Timer2->SetEnabled(true);
    }
}

bool TForm1::decodes(int32_t pendingBefore) const {
    return exchange::ReceiveActionFor(pendingBefore).startParse && !jobRequest_ &&
           (!decodeWholeOnly_ || lastReading_.verdict == traffic::Verdict::Good);
}

void TForm1::Timer3Timer() {
    Timer3->SetEnabled(false);
    const std::string message = exchange::TimeoutMessage(timeoutKind_);
    observer().replyTimedOut(message, pendingCommand_);
    if (!message.empty()) {
        app::ShowMessage(QString::fromLatin1(message));
    }
    Timer3->SetEnabled(false);
}

void TForm1::Timer2Timer() {
    Timer2->SetEnabled(false);
    const bool endExchange = std::exchange(decodeThenEndExchange_, false);
    const auto finish = qScopeGuard([&] {
        if (endExchange) {
            pendingCommand_ = exchange::pending::None;
        }
    });
    switch (pendingCommand_) {
    case exchange::pending::HartIdentity:
        decodeHartIdentity();
        break;
    case exchange::pending::HartVariables:
        decodeHartVariables();
        break;
    case exchange::pending::SystemParameters:
        decodeSystemParameters();
        break;
    case exchange::pending::AnalogOutputs:
        decodeAnalogOutputs();
        break;
    case exchange::pending::TestValues:
        decodeTestValues();
        break;
    case exchange::pending::CustomHart:
        decodeCustomHart();
        break;
    case exchange::pending::ParseFormat:
        decodeParseFormat();
        break;
    default:
        break;
    }
}

void TForm1::Button26Click() {
    ui->Memo10->clear();
}
