// The commissioning dialogs of the window, each showing the result of a job of jobs/: the instrument
// scan ("Find Instrument..."), the field list of a read meter command's reply ("From the
// instrument..."), the check of the registers against the instrument ("Check Mapping...") and the
// register map ("Register Map..."). A failed read empties or marks what it would have filled.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/commissioning/JobDialog.h"
#include "hart/HartReplies.h"
#include "jobs/Check.h"
#include "jobs/Instrument.h"
#include "jobs/Scan.h"
#include "profile/Mapping.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QProgressBar;
class QPushButton;

namespace app {

class InstrumentScanDialog : public JobDialog {
    Q_OBJECT
public:
    explicit InstrumentScanDialog(TForm1& form, QWidget* parent = nullptr);

    struct Found {
        int address = 0;
        hart::IdentityReply identity;
    };
    // The instruments found: rows of the table with an identity (an address that answered with a
    // damaged or cut reply has a row too, saying so, but is no instrument).
    const std::vector<Found>& found() const { return found_; }
    bool scanning() const { return busy(); }
    void start();
    void cancel();
    // Selects the row's address in the main window's "HART Address:" list.
    void useRow(int row);
    QTableWidget* table() const { return table_; }

protected:
    void asking(const jobs::Request& request) override;

private:
    void scanned(const jobs::ScanResult& result);

    jobs::ScanJob* job_ = nullptr; // the scan under way (its progress), once it has started
    QComboBox* range_;
    QCheckBox* first_;
    QPushButton* startCancel_;
    QProgressBar* progress_;
    QTableWidget* table_;
    std::vector<Found> found_;
    std::vector<int> rowAddress_; // per table row: the address, -1 for a row that is no instrument
};

class ReplyFieldsDialog : public JobDialog {
    Q_OBJECT
public:
    explicit ReplyFieldsDialog(TForm1& form, QWidget* parent = nullptr);

    // Reads read meter command 1 or 2 from the converter and sends it to the instrument.
    void read(int command);
    bool reading() const { return busy(); }
    const std::vector<profile::ReplyField>& fields() const { return fields_; }
    // Fills the address and length of variable `variable` (1..8) from field `row` of the list; the
    // user still presses that row's "Set". False, with the reason shown, for a field no row can take.
    bool fill(int row, int variable);
    QTableWidget* table() const { return table_; }

private:
    void shown(const jobs::FieldsResult& result, int command);

    QComboBox* command_;
    QPushButton* readButton_;
    QTableWidget* table_;
    QComboBox* variable_;
    QPushButton* fillButton_;
    std::vector<profile::ReplyField> fields_;
    int shownCommand_ = 1;
};

class CheckMappingDialog : public JobDialog {
    Q_OBJECT
public:
    explicit CheckMappingDialog(TForm1& form, QWidget* parent = nullptr);

    void start();
    // Sits between the check that found the converter in another mode and the one that switches it:
    // the question is open then, and the check waits for it.
    bool checking() const { return busy() || asking_; }
    const std::vector<profile::CheckRow>& rows() const { return rows_; }
    QTableWidget* table() const { return table_; }
    QLabel* summary() const { return status_; }

protected:
    // Closed while its question is open: the question goes unanswered, as No.
    void hideEvent(QHideEvent* event) override;

private:
    void check(bool switchMode);
    void checked(const jobs::CheckResult& result);
    void showRows(const jobs::CheckResult& result);
    // The parse format rows the main window shows otherwise than the converter holds them (edited and
    // not yet Set): the check takes the converter's, and says so.
    QString unsetEdits(const profile::Configuration& converter) const;

    QDoubleSpinBox* tolerance_;
    QPushButton* checkButton_;
    QTableWidget* table_;
    bool asking_ = false;
    std::vector<profile::CheckRow> rows_;
};

class RegisterMapDialog : public JobDialog {
    Q_OBJECT
public:
    explicit RegisterMapDialog(TForm1& form, QWidget* parent = nullptr);

    void read();
    bool reading() const { return busy(); }
    const std::vector<profile::MapRow>& rows() const { return rows_; }
    // The map as text in `format`, as Copy and Save write it; empty while there is none.
    std::string text(profile::MapFormat format) const;
    void copy() const;
    // Saves to `path` in the format its extension names (.csv, .md, .json; text otherwise).
    bool save(const QString& path);
    QTableWidget* table() const { return table_; }

private:
    void mapped(const jobs::MapResult& result);

    QPushButton* readButton_;
    QPushButton* copyButton_;
    QPushButton* saveButton_;
    QTableWidget* table_;
    QLabel* reading_;                    // how mbpoll and a 0-based master read the variables
    std::optional<jobs::MapResult> map_; // the last map read whole enough to print
    std::vector<profile::MapRow> rows_;
};

} // namespace app
