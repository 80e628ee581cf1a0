// Message boxes and the general error handler.
#include "app/window/Messages.h"

#include <exception>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "serial/SerialComm.h"

namespace app {

namespace {

constexpr int kDetailWidth = 420;

// A report whose detail runs longer than this many lines shows it behind "Show Details...".
constexpr int kInformativeLines = 12;

MessageRecorder& recorder() {
    static MessageRecorder instance;
    return instance;
}

FileChooser& chooser() {
    static FileChooser instance;
    return instance;
}

void showBox(MessageKind kind, const QString& text, const QString& detail) {
    if (recorder()) {
        recorder()(kind, text, detail);
        return;
    }
    QMessageBox box(kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // Informative rather than detailed text: the reason is what the user needs, not one more click;
    // only a long list goes behind the button.
    if (detail.count(QLatin1Char('\n')) >= kInformativeLines) {
        box.setDetailedText(detail);
    } else {
        box.setInformativeText(detail);
    }
    if (!detail.isEmpty()) {
        // A box sized for its short message would wrap a device path and its reason into a column;
        // an empty item across the grid's last row gives it room.
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
            grid->addItem(new QSpacerItem(kDetailWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                          grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    box.exec();
}

// "<device path>: <reason>" of a failed open.
QString openFailureDetail(const serial::ECommsError& error) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(error.DevicePath()));
    const QString reason = QString::fromStdString(error.Reason());
    if (path.isEmpty() || reason.isEmpty()) {
        return path + reason;
    }
    return path + QStringLiteral(": ") + reason;
}

} // namespace

void SetMessageRecorder(MessageRecorder newRecorder) {
    recorder() = std::move(newRecorder);
}

void ShowMessage(const QString& text) {
    showBox(MessageKind::Plain, text, {});
}

void ShowErrorMessage(const QString& text, const QString& detail) {
    showBox(MessageKind::Error, text, detail);
}

void ShowReport(const QString& text, const QString& detail) {
    showBox(MessageKind::Plain, text, detail);
}

namespace {

QuestionAnswerer& answerer() {
    static QuestionAnswerer instance;
    return instance;
}

} // namespace

void SetQuestionAnswerer(QuestionAnswerer newAnswerer) {
    answerer() = std::move(newAnswerer);
}

bool AskQuestion(const QString& text, const QString& detail) {
    if (answerer()) {
        return answerer()(text, detail);
    }
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), text,
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setInformativeText(detail);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void AskQuestionLater(QWidget* parent, const QString& text, const QString& detail,
                      std::function<void(bool yes)> answered) {
    const QPointer<QWidget> owner(parent);
    if (answerer()) {
        const bool yes = answerer()(text, detail);
        QTimer::singleShot(0, parent, [owner, yes, answered = std::move(answered)] {
            if (owner) {
                answered(yes);
            }
        });
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QApplication::applicationDisplayName(), text,
                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(detail);
    box->setDefaultButton(QMessageBox::No);
    QObject::connect(box, &QMessageBox::finished, parent, [box, answered = std::move(answered)] {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->open();
}

void SetFileChooser(FileChooser newChooser) {
    chooser() = std::move(newChooser);
}

QString ChooseFile(FileDialogKind kind, const QString& caption, const QString& ownFilter, const QString& suffix) {
    if (chooser()) {
        return chooser()(kind, caption);
    }
    static QString folder;
    const QString filter =
        (ownFilter.isEmpty() ? QStringLiteral("Configuration files (*.json)") : ownFilter) + QStringLiteral(";;All files (*)");
    QWidget* parent = QApplication::activeWindow();
    QString path;
    if (kind == FileDialogKind::Save) {
        QFileDialog dialog(parent, caption, folder, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix.isEmpty() && ownFilter.isEmpty() ? QStringLiteral("json") : suffix);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
        }
    } else {
        path = QFileDialog::getOpenFileName(parent, caption, folder, filter);
    }
    if (!path.isEmpty()) {
        folder = QFileInfo(path).absolutePath();
    }
    return path;
}

void RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const serial::ECommsError& e) {
        ShowErrorMessage(QString::fromLatin1(e.what()), openFailureDetail(e));
    } catch (const std::exception& e) {
        // Messages are built from field texts taken one character per byte.
        ShowErrorMessage(QString::fromLatin1(e.what()));
    }
}

} // namespace app
