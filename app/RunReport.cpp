// The texts of a run's end.
#include "app/RunReport.h"

#include <QStringList>

#include "app/Latin1.h"

namespace app {

namespace {

using End = RequestSequence::End;

const QString kSkipped =
    QStringLiteral("Not sent, their Set buttons being disabled while the totalizer output is on");

QString parameterName(std::size_t parameter) {
    return latin1(profile::Parameters()[parameter].name);
}

QString titles(const std::vector<std::string>& list) {
    QStringList out;
    for (const std::string& t : list) {
        out << QString::fromStdString(t);
    }
    return out.join(QStringLiteral(", "));
}

// Why the converter may no longer answer on this port: the RS485 settings `sent` to it are not
// this port's. Empty when they are, or when none were sent.
QString lineHint(const profile::Configuration& sent, const PortSettings& port) {
    const auto& baud = sent.value("rs485.baud");
    const auto& parity = sent.value("rs485.parity");
    if (!baud || !parity) {
        return {};
    }
    const bool same = *baud == std::to_string(port.baud) &&
                      QString::fromStdString(*parity).compare(QString::fromStdString(port.parity),
                                                              Qt::CaseInsensitive) == 0;
    if (same) {
        return {};
    }
    return QStringLiteral(
               " The converter's RS485 port now runs at %1 %2, this port at %3 %4: if the PC is on "
               "that port, open it with the new settings and press Read All.")
        .arg(QString::fromStdString(*baud), QString::fromStdString(*parity))
        .arg(port.baud)
        .arg(QString::fromStdString(port.parity));
}

// "the system parameters query (QQQ#QX1#)" or "the set command of the working mode (QQS#MD:1#)".
QString stepText(const RunState& run) {
    const RequestSequence& sequence = *run.sequence;
    const std::size_t at = sequence.current();
    if (at >= sequence.steps().size()) {
        return {};
    }
    const QString title = QString::fromStdString(sequence.steps()[at].title);
    const QString frame = latin1(run.frames.at(at));
    return run.readingBack ? QStringLiteral("the %1 query (%2)").arg(title, frame)
                           : QStringLiteral("the set command of the %1 (%2)").arg(title, frame);
}

bool refused(const RunState& run) {
    return run.sequence->end() == End::BadReply && run.rejected &&
           run.rejected->verdict == traffic::Verdict::Refused;
}

// Why the run stopped, as a sentence after "<operation> stopped: ".
QString cause(const RunState& run) {
    const RequestSequence& sequence = *run.sequence;
    switch (sequence.end()) {
    case End::TimedOut:
        return QStringLiteral("%1 No reply came to %2.")
            .arg(QString::fromStdString(sequence.endMessage()), stepText(run));
    case End::NotSent:
        return QStringLiteral("%1 was not sent.").arg(stepText(run));
    case End::Interrupted:
        return QStringLiteral("another request was sent while it waited for the reply to %1.")
            .arg(stepText(run));
    case End::PortClosed:
        return QStringLiteral("the port was closed.");
    case End::BadReply: {
        const traffic::Reading& reply = *run.rejected;
        const QString meaning = latin1(reply.meaning);
        if (refused(run)) {
            return QStringLiteral("the converter refused %1 (%2).").arg(stepText(run), meaning);
        }
        const QString what =
            reply.verdict == traffic::Verdict::Cut             ? QStringLiteral("was cut short")
            : reply.verdict == traffic::Verdict::ChecksumWrong ? QStringLiteral("failed its check")
            : reply.verdict == traffic::Verdict::Echo          ? QStringLiteral("was only the request's echo")
                                                               : QStringLiteral("was not its answer");
        return QStringLiteral("the reply to %1 %2 (%3); nothing was taken from it.")
            .arg(stepText(run), what, meaning);
    }
    case End::Cancelled:
        return QStringLiteral("cancelled.");
    case End::None:
    case End::Finished:
        break;
    }
    return {};
}

// Where Write All's set commands stand once it stopped before its read-back: each step sent and
// acknowledged, the one under way (sent without an answer, or refused), the ones not sent.
RunMessage account(const RunState& run, const PortSettings& port) {
    const RequestSequence& sequence = *run.sequence;
    const auto& steps = sequence.steps();
    const std::size_t at = sequence.current();
    // A step's fates in the order the text counts them (the acknowledged ones with the total) and the
    // detail lists them.
    enum Fate { Acknowledged, Unanswered, Refused, NotSent };
    static constexpr std::pair<const char*, const char*> kFates[] = {
        {"", "Sent and acknowledged"},
        {", %1 was sent without an answer (the converter may have taken it)", "Sent without an answer"},
        {", %1 was refused", "Refused"},
        {", %1 not sent.", "Not sent"}};
    std::vector<std::string> fates[std::size(kFates)];
    profile::Configuration reached; // what the converter now holds or may hold
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Fate fate = i < at                                ? Acknowledged
                          : i > at || !sequence.endedInFlight() ? NotSent
                          : refused(run)                        ? Refused
                                                                : Unanswered;
        fates[fate].push_back(steps[i].title);
        if (fate == Acknowledged || fate == Unanswered) {
            for (const std::size_t p : profile::ParametersOf(run.setters.at(i))) {
                reached.set(p, *run.sent.value(p));
            }
        }
    }
    QString text =
        (sequence.end() == End::Cancelled ? QStringLiteral("Write All was cancelled. ")
                                          : QStringLiteral("Write All stopped: %1 ").arg(cause(run))) +
        QStringLiteral("%1 of %2 set commands were sent and acknowledged")
            .arg(fates[Acknowledged].size())
            .arg(steps.size());
    QStringList lines;
    for (std::size_t f = 0; f < std::size(kFates); ++f) {
        if (f == NotSent || (f != Acknowledged && !fates[f].empty())) {
            text += QString::fromLatin1(kFates[f].first).arg(fates[f].size());
        }
        if (!fates[f].empty()) {
            lines << QStringLiteral("%1: %2").arg(QLatin1String(kFates[f].second), titles(fates[f]));
        }
    }
    if (fates[Acknowledged].size() != steps.size()) {
        text += QStringLiteral(" The converter is partly configured: press Write All again to finish.");
    }
    text += lineHint(reached, port);
    if (!run.skipped.empty()) {
        lines << QStringLiteral("%1: %2").arg(kSkipped, titles(run.skipped));
    }
    return {text, lines.join(QLatin1Char('\n')), true};
}

std::optional<RunMessage> stopped(const RunState& run, const PortSettings& port) {
    const End end = run.sequence->end();
    if (run.kind == RunState::Kind::WriteAll && !run.readingBack) {
        return account(run, port);
    }
    if (end == End::Cancelled) {
        if (run.kind != RunState::Kind::WriteAll) {
            return std::nullopt;
        }
        return RunMessage{
            QStringLiteral("Write All was cancelled while it read back: every set command was sent "
                           "and acknowledged; the values were not read back."),
            {},
            false};
    }
    QString text = QStringLiteral("%1 stopped: %2").arg(run.operation, cause(run));
    if (run.kind == RunState::Kind::WriteAll && end == End::TimedOut) {
        text += QStringLiteral(" The set commands were sent.") + lineHint(run.sent, port);
    } else if (run.kind == RunState::Kind::WriteAll) {
        text += QStringLiteral(" The set commands were sent; the values were not read back.");
    } else if (run.kind == RunState::Kind::Compare) {
        text += QStringLiteral(" The converter's values could not be read, so nothing was compared.");
    }
    return RunMessage{text, {}, false};
}

// How a comparison ends, by what it found: all alike; nothing differing but values not read (%2
// their count); differences (%2 their count, %3 ", N could not be read" or nothing). %1 is the
// subject: the number of set commands sent, the file's name.
struct Endings {
    QString alike;
    QString unreadOnly;
    QString differ;
};

// The differences between what was expected and what was read, told apart from the values that could
// not be read at all; then `notes`, and what stood in the way of reading.
RunMessage comparison(const RunState& run, const profile::Configuration& expected, const QString& row,
                      const QString& subject, const Endings& endings, const QStringList& notes = {}) {
    QStringList lines;
    QStringList unread;
    for (const profile::Difference& d : profile::Compare(expected, run.readBack)) {
        if (d.actual) {
            lines << row.arg(parameterName(d.parameter),
                             d.expected ? latin1(*d.expected) : QStringLiteral("not known"),
                             latin1(*d.actual));
        } else {
            unread << parameterName(d.parameter);
        }
    }
    const qsizetype differ = lines.size();
    if (!unread.isEmpty()) {
        lines << QString() << QStringLiteral("Could not be read: %1").arg(unread.join(QStringLiteral(", ")));
    }
    lines << notes;
    if (!run.problems.empty()) {
        lines << QString() << QStringLiteral("Not read from the converter:");
        for (const std::string& problem : run.problems) {
            lines << latin1(problem);
        }
    }
    const QString unreadClause =
        unread.isEmpty() ? QString() : QStringLiteral(", %1 could not be read").arg(unread.size());
    const QString text = differ == 0 && unread.isEmpty() ? endings.alike.arg(subject)
                         : differ == 0                   ? endings.unreadOnly.arg(subject).arg(unread.size())
                                       : endings.differ.arg(subject).arg(differ).arg(unreadClause);
    return {text, lines.join(QLatin1Char('\n')).trimmed(), true};
}

RunMessage writeAllReport(const RunState& run) {
    QStringList notes;
    if (!run.skipped.empty()) {
        notes << QString() << QStringLiteral("%1: %2").arg(kSkipped, titles(run.skipped));
    }
    return comparison(
        run, run.sent, QStringLiteral("%1: sent %2, read back %3"), QString::number(run.stepsBefore),
        {QStringLiteral("Write All sent %1 set commands; every value sent reads back as sent."),
         QStringLiteral(
             "Write All sent %1 set commands; none of the values read back differently, %2 could not "
             "be read:"),
         QStringLiteral("Write All sent %1 set commands; %2 of the values read back differently%3:")},
        notes);
}

RunMessage compareReport(const RunState& run) {
    return comparison(
        run, run.file.values, QStringLiteral("%1: file %2, converter %3"), run.fileName,
        {QStringLiteral("No parameter of the converter differs from %1."),
         QStringLiteral(
             "No parameter of the converter that could be read differs from %1; %2 could not be read:"),
         QStringLiteral("%2 parameter(s) of the converter differ from %1%3:")});
}

} // namespace

std::optional<RunMessage> RunReport(const RunState& run, const PortSettings& port) {
    if (run.sequence->end() != End::Finished) {
        return stopped(run, port);
    }
    switch (run.kind) {
    case RunState::Kind::ReadAll:
        return std::nullopt;
    case RunState::Kind::WriteAll:
        return writeAllReport(run);
    case RunState::Kind::Compare:
        return compareReport(run);
    }
    return std::nullopt;
}

} // namespace app
