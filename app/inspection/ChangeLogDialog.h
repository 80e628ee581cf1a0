// The change log's lines as a table, newest last, narrowed to the window's port, a parameter or a
// time; read again on demand and whenever the window logs a set command.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace app {

class ChangeLogDialog : public QDialog {
    Q_OBJECT
public:
    // `port`: the window's port name as it is now (for "This port only").
    ChangeLogDialog(std::string path, std::function<std::string()> port, QWidget* parent);

    // Reads the file again and fills the table.
    void refresh();
    QTableWidget& table() { return *table_; }

private:
    std::string path_;
    std::function<std::string()> port_;
    QCheckBox* thisPort_;
    QLineEdit* parameter_;
    QLineEdit* since_;
    QLabel* status_;
    QTableWidget* table_;
};

} // namespace app
