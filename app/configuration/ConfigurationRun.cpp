// A run of Read All, Write All or Compare with File: its steps sent one after another through the
// exchange, its progress dialog, and its read-back.
#include "app/configuration/ConfigurationRun.h"

#include "app/exchange/JobExchange.h"

#include "app/window/Messages.h"

#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

namespace app {

namespace {

// Read All: the queries of the three tabs, in the order of the tabs and of their groups.
constexpr profile::Query kReadAll[] = {profile::Query::QX1, profile::Query::QX2, profile::Query::QX6,
                                       profile::Query::QX4, profile::Query::QX3};

} // namespace

std::optional<profile::Query> QueryDecodedUnder(int32_t pendingCommand) {
    for (const profile::Query query : profile::kQueries) {
        if (traffic::QueryPending(profile::QueryKey(query)) == pendingCommand) {
            return query;
        }
    }
    return std::nullopt;
}

RunState::RunState(Kind kind) : kind(kind) {
    static constexpr const char* kOperations[] = {"Read All", "Write All", "Compare with File"};
    operation = QString::fromLatin1(kOperations[static_cast<int>(kind)]);
}

void RunState::startReadBack() {
    std::vector<exchange::SequenceStep> steps;
    requests.clear();
    frames.clear();
    for (const profile::Query query : kReadAll) {
        steps.push_back(
            {std::string(profile::QueryTitle(query)), traffic::QueryPending(profile::QueryKey(query))});
        Request request = Request::configurationQuery(query);
        // A reply that is not whole writes no field: the run stops at it instead.
        request.decodeWholeOnly = true;
        requests.push_back(std::move(request));
        frames.push_back(profile::QueryFrame(query));
    }
    sequence = std::make_unique<exchange::RequestSequence>(std::move(steps), true);
    readingBack = true;
}

int RunState::totalSteps() const {
    return stepsBefore + static_cast<int>(sequence->steps().size() + (readingBack ? 0 : std::size(kReadAll)));
}

ConfigurationRun::ConfigurationRun(TForm1& form, QObject& parent, RunState state,
                                   std::function<void(const ConfigurationRun&)> over)
    : QObject(&parent), form_(form), state_(std::move(state)), over_(std::move(over)) {
    form_.AddObserver(*this);
    dialog_ = new QProgressDialog(&form_);
    dialog_->setObjectName(QStringLiteral("ConfigurationProgress"));
    dialog_->setWindowTitle(state_.operation);
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    dialog_->setRange(0, state_.totalSteps());
    // Its one action, with a mnemonic, pressed by Return as by Esc. (The dialog's own button, renamed:
    // a button of ours put in its place would leave the dialog two Esc shortcuts, and Esc would do
    // nothing.)
    dialog_->setCancelButtonText(tr("&Cancel"));
    if (auto* cancelButton = dialog_->findChild<QPushButton*>()) {
        cancelButton->setDefault(true);
    }
    connect(dialog_, &QProgressDialog::canceled, this, &ConfigurationRun::cancel);
    // Esc that reaches the dialog itself (not its button's shortcut) rejects it, which hides it: the
    // run must not go on behind a dialog no longer shown.
    connect(dialog_, &QDialog::rejected, this, &ConfigurationRun::cancel);
    showProgress();
    dialog_->show();
    moved(true);
}

ConfigurationRun::~ConfigurationRun() {
    form_.RemoveObserver(*this);
}

void ConfigurationRun::showProgress() {
    const exchange::RequestSequence& sequence = *state_.sequence;
    const int done = state_.stepsBefore + static_cast<int>(sequence.completed());
    dialog_->setValue(done);
    if (!sequence.over()) {
        const exchange::SequenceStep& step = sequence.steps()[sequence.current()];
        const QString doing =
            state_.readingBack ? QStringLiteral("reading the %1") : QStringLiteral("setting the %1");
        dialog_->setLabelText(QStringLiteral("%1: %2 (%3 of %4)...")
                                  .arg(state_.operation, doing.arg(QString::fromStdString(step.title)))
                                  .arg(done + 1)
                                  .arg(state_.totalSteps()));
    }
}

void ConfigurationRun::moved(bool movedOn) {
    if (!movedOn || ended_ || sendQueued_) {
        return;
    }
    // Not inside the exchange's handler that reported the event: the next request, or a message box,
    // comes once that handler has returned.
    sendQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        sendQueued_ = false;
        if (ended_) {
            return;
        }
        if (state_.sequence->over()) {
            finish();
        } else if (exchange::RequestSequence& sequence = *state_.sequence; sequence.readyToSend()) {
            if (!form_.Jobs().quiet()) {
                // A commissioning window's request is on the line: its reply is not the run's. Jobs
                // wait for the run from here on, so the run goes once that one is over.
                form_.Jobs().whenJobsQuiet([alive = QPointer<ConfigurationRun>(this)] {
                    if (alive) {
                        alive->moved(true);
                    }
                });
                return;
            }
            showProgress();
            const std::size_t step = sequence.current();
            sequence.sending();
            // A refusal's message box runs while the request is sent; the run may end meanwhile.
            const QPointer<ConfigurationRun> alive(this);
            RunGuarded([&] { form_.SendRequest(state_.requests.at(step)); });
            if (alive && !ended_) {
                sequence.sendFinished();
                moved(sequence.over());
            }
        }
    });
}

void ConfigurationRun::cancel() {
    if (!ended_) {
        moved(state_.sequence->cancel());
    }
}

void ConfigurationRun::finish() {
    exchange::RequestSequence& sequence = *state_.sequence;
    if (state_.kind == RunState::Kind::WriteAll && !state_.readingBack &&
        sequence.end() == exchange::RequestSequence::End::Finished) {
        state_.stepsBefore = static_cast<int>(sequence.steps().size());
        state_.startReadBack();
        showProgress();
        moved(true);
        return;
    }
    ended_ = true;
    form_.RemoveObserver(*this);
    dialog_->disconnect(this);
    dialog_->hide();
    dialog_->deleteLater();
    over_(*this);
    deleteLater();
}

void ConfigurationRun::blockHandled(const traffic::Reading& reading, int32_t pendingBefore, bool) {
    // A query's step needs its reply whole, a set command's its acknowledgement; anything else under
    // the step's code ends the run there.
    const traffic::Verdict answer =
        state_.readingBack ? traffic::Verdict::Good : traffic::Verdict::Acknowledged;
    const bool rejected =
        reading.verdict != answer &&
        state_.sequence->replyRejected(pendingBefore, traffic::VerdictText(reading.verdict));
    if (rejected) {
        state_.rejected = reading;
    }
    moved(rejected || state_.sequence->blockHandled(pendingBefore));
}

void ConfigurationRun::replyDecoded(int32_t pendingCommand, std::string_view) {
    // The reply the run's query waits for: its values are the run's read-back.
    const bool ours = state_.sequence->replyDecoded(pendingCommand);
    if (const auto query = QueryDecodedUnder(pendingCommand); ours && query) {
        for (const profile::Problem& problem :
             profile::DecodeReply(*query, form_.ReceivedText(), state_.readBack)) {
            state_.problems.push_back(profile::ProblemText(problem));
        }
    }
    moved(ours);
}

} // namespace app
