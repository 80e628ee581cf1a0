// The texts of a run's end.
#include "app/configuration/RunReport.h"

#include <QStringList>

#include "app/window/Latin1.h"

namespace app {

namespace {

using End = exchange::RequestSequence::End;

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
    if (!baud || !parity ||
        (*baud == std::to_string(port.baud) &&
         QString::fromStdString(*parity).compare(QString::fromStdString(port.parity), Qt::CaseInsensitive) ==
             0)) {
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
    const exchange::RequestSequence& sequence = *run.sequence;
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
    const exchange::RequestSequence& sequence = *run.sequence;
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
    case End::None:
    case End::Finished:
    case End::Cancelled: // told apart by the run's end
        break;
    }
    return {};
}

// Where Write All's set commands stand once it stopped before its read-back: each step sent and
// acknowledged, the one under way (sent without an answer, or refused), the ones not sent.
RunMessage account(const RunState& run, const PortSettings& port) {
    const exchange::RequestSequence& sequence = *run.sequence;
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

// What a run of each kind (Read All, Write All, Compare with File) says once it is over, where %1 is
// the subject (the number of set commands sent, the file's name): a difference (%1 the parameter, %2
// the value expected, %3 the value read); all alike; nothing differing but values not read (%2 their
// count); differences (%2 their count, %3 ", N could not be read" or nothing); and, after why it
// stopped, what that leaves.
struct Texts {
    const char* difference;
    const char* alike;
    const char* unreadOnly;
    const char* differ;
    const char* stopped;
};
constexpr Texts kTexts[] = {
    {"", "", "", "", ""},
    {"%1: sent %2, read back %3", "Write All sent %1 set commands; every value sent reads back as sent.",
     "Write All sent %1 set commands; none of the values read back differently, %2 could not be read:",
     "Write All sent %1 set commands; %2 of the values read back differently%3:",
     " The set commands were sent; the values were not read back."},
    {"%1: file %2, converter %3", "No parameter of the converter differs from %1.",
     "No parameter of the converter that could be read differs from %1; %2 could not be read:",
     "%2 parameter(s) of the converter differ from %1%3:",
     " The converter's values could not be read, so nothing was compared."},
};

std::optional<RunMessage> stopped(const RunState& run, const PortSettings& port) {
    const bool writeAll = run.kind == RunState::Kind::WriteAll;
    if (writeAll && !run.readingBack) {
        return account(run, port);
    }
    const End end = run.sequence->end();
    if (end == End::Cancelled) {
        if (!writeAll) {
            return std::nullopt;
        }
        return RunMessage{
            QStringLiteral("Write All was cancelled while it read back: every set command was sent "
                           "and acknowledged; the values were not read back."),
            {},
            false};
    }
    return RunMessage{QStringLiteral("%1 stopped: %2").arg(run.operation, cause(run)) +
                          (writeAll && end == End::TimedOut
                               ? QStringLiteral(" The set commands were sent.") + lineHint(run.sent, port)
                               : QString::fromLatin1(kTexts[static_cast<int>(run.kind)].stopped)),
                      {},
                      false};
}

// The differences between what was expected and what was read, told apart from the values that could
// not be read at all; then the set commands left out, and what stood in the way of reading.
RunMessage comparison(const RunState& run) {
    const Texts& texts = kTexts[static_cast<int>(run.kind)];
    const bool writeAll = run.kind == RunState::Kind::WriteAll;
    const QString subject = writeAll ? QString::number(run.stepsBefore) : run.fileName;
    QStringList lines;
    QStringList unread;
    for (const profile::Difference& d :
         profile::Compare(writeAll ? run.sent : run.file.values, run.readBack)) {
        if (d.actual) {
            lines << QString::fromLatin1(texts.difference)
                         .arg(parameterName(d.parameter),
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
    if (!run.skipped.empty()) {
        lines << QString() << QStringLiteral("%1: %2").arg(kSkipped, titles(run.skipped));
    }
    if (!run.problems.empty()) {
        lines << QString() << QStringLiteral("Not read from the converter:");
        for (const std::string& problem : run.problems) {
            lines << latin1(problem);
        }
    }
    const QString unreadClause =
        unread.isEmpty() ? QString() : QStringLiteral(", %1 could not be read").arg(unread.size());
    const QString text = differ == 0 && unread.isEmpty() ? QString::fromLatin1(texts.alike).arg(subject)
                         : differ == 0
                             ? QString::fromLatin1(texts.unreadOnly).arg(subject).arg(unread.size())
                             : QString::fromLatin1(texts.differ).arg(subject).arg(differ).arg(unreadClause);
    return {text, lines.join(QLatin1Char('\n')).trimmed(), true};
}

} // namespace

std::optional<RunMessage> RunReport(const RunState& run, const PortSettings& port) {
    if (run.sequence->end() != End::Finished) {
        return stopped(run, port);
    }
    if (run.kind == RunState::Kind::ReadAll) {
        return std::nullopt;
    }
    return comparison(run);
}

} // namespace app
