// The commissioning dialogs of the window, each thin over profile's mapping arithmetic and sending
// through ExchangeClient: the instrument scan ("Find Instrument..."), the field list of a read meter
// command's reply ("From the instrument..."), the check of the registers against the instrument
// ("Check Mapping...") and the register map ("Register Map...").
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "app/exchange/ExchangeClient.h"
#include "hart/HartReplies.h"
#include "profile/Mapping.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TForm1;

namespace app {

// A read meter command's body (or any HART body) as the window sends it in transparent mode: the
// preamble length of "Preamble Length:", no message box when no reply comes (the dialog says so).
Request HartBodyRequest(TForm1& form, std::vector<uint8_t> body);

// Whether the window's port is open; when it is not, `status` says so. The commissioning windows use
// the main window's port and never open it themselves.
bool PortOpenOrSay(TForm1& form, QLabel* status);

// Reads the configuration queries (system parameters, custom HART commands, parse format) through the
// buttons' own requests and hands over the mapping, or the reason there is none.
void ReadMapping(ExchangeClient& client,
                 std::function<void(std::optional<profile::Mapping> mapping, std::optional<int> mode, QString problem)> done);

class InstrumentScanDialog : public QDialog {
    Q_OBJECT
public:
    explicit InstrumentScanDialog(TForm1& form, QWidget* parent = nullptr);

    struct Found {
        int address = 0;
        hart::IdentityReply identity;
    };
    const std::vector<Found>& found() const { return found_; }
    bool scanning() const { return scanning_; }
    void start();
    void cancel();
    // Selects the row's address in the main window's "HART Address:" list.
    void useRow(int row);
    QTableWidget* table() const { return table_; }

private:
    void next();

    TForm1& form_;
    ExchangeClient client_;
    QComboBox* range_;
    QCheckBox* first_;
    QPushButton* startCancel_;
    QProgressBar* progress_;
    QTableWidget* table_;
    QLabel* status_;
    std::vector<Found> found_;
    bool scanning_ = false;
    int address_ = 0;
    int last_ = 15;
};

class ReplyFieldsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ReplyFieldsDialog(TForm1& form, QWidget* parent = nullptr);

    // Reads read meter command 1 or 2 from the converter and sends it to the instrument.
    void read(int command);
    bool reading() const { return reading_; }
    const std::vector<profile::ReplyField>& fields() const { return fields_; }
    // Fills the address and length of variable `variable` (1..8) from field `row` of the list; the
    // user still presses that row's "Set". False, with the reason shown, for a field no row can take.
    bool fill(int row, int variable);
    QTableWidget* table() const { return table_; }

private:
    void showFields(const profile::HartReply& reply, int command);

    TForm1& form_;
    ExchangeClient client_;
    QComboBox* command_;
    QPushButton* readButton_;
    QTableWidget* table_;
    QComboBox* variable_;
    QPushButton* fillButton_;
    QLabel* status_;
    std::vector<profile::ReplyField> fields_;
    bool reading_ = false;
    int shownCommand_ = 1;
};

class CheckMappingDialog : public QDialog {
    Q_OBJECT
public:
    explicit CheckMappingDialog(TForm1& form, QWidget* parent = nullptr);

    void start();
    bool checking() const { return checking_; }
    const std::vector<profile::CheckRow>& rows() const { return rows_; }
    QTableWidget* table() const { return table_; }
    QLabel* summary() const { return status_; }

private:
    void mappingRead(std::optional<profile::Mapping> mapping, std::optional<int> mode, const QString& problem);
    void readHart(bool after);
    void readNextHart(bool after);
    void readRegisters();
    void restoreMode(std::function<void()> then);
    void finish(const QString& problem = {});
    void showRows();

    TForm1& form_;
    ExchangeClient client_;
    QDoubleSpinBox* tolerance_;
    QPushButton* checkButton_;
    QTableWidget* table_;
    QLabel* status_;
    bool checking_ = false;
    std::optional<profile::Mapping> mapping_;
    std::optional<int> originalMode_; // set while the converter was switched and must go back
    std::array<profile::CommandReads, 2> reads_;
    std::vector<int> hartToRead_; // read meter commands still to send, in order
    std::vector<uint16_t> registers_;
    std::vector<profile::CheckRow> rows_;
};

class RegisterMapDialog : public QDialog {
    Q_OBJECT
public:
    explicit RegisterMapDialog(TForm1& form, QWidget* parent = nullptr);

    void read();
    bool reading() const { return reading_; }
    const std::vector<profile::MapRow>& rows() const { return rows_; }
    // The map as text in `format`, as Copy and Save write it.
    std::string text(profile::MapFormat format) const;
    void copy() const;
    // Saves to `path` in the format its extension names (.csv, .md, .json; text otherwise).
    bool save(const QString& path);
    QTableWidget* table() const { return table_; }

private:
    void showMap();

    TForm1& form_;
    ExchangeClient client_;
    QPushButton* readButton_;
    QPushButton* copyButton_;
    QPushButton* saveButton_;
    QTableWidget* table_;
    QLabel* status_;
    bool reading_ = false;
    std::optional<profile::Mapping> mapping_;
    std::optional<profile::InstrumentIdentity> instrument_;
    std::array<std::optional<profile::HartReply>, 2> replies_;
    std::vector<profile::MapRow> rows_;
};

} // namespace app
