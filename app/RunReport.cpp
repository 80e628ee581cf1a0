// The texts of a run's end.
#include "app/RunReport.h"

#include <QStringList>

#include "app/Latin1.h"

namespace app {

namespace {

QString valueText(const std::optional<std::string>& value) {
    return value ? latin1(*value) : QStringLiteral("not read");
}

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

// Why a read-back after Write All may get no reply: the converter's RS485 port now runs at other
// settings than this port does. Empty when the settings sent are this port's.
QString lineHint(const RunState& run, const PortSettings& port) {
    const auto& baud = run.sent.value("rs485.baud");
    const auto& parity = run.sent.value("rs485.parity");
    if (!baud || !parity) {
        return {};
    }
    const bool same = *baud == std::to_string(port.baud) &&
                      QString::fromStdString(*parity).compare(QString::fromStdString(port.parity),
                                                             Qt::CaseInsensitive) == 0;
    if (same) {
        return {};
    }
    return QStringLiteral(" The converter's RS485 port now runs at %1 %2, this port at %3 %4: if the PC is on "
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

std::optional<RunMessage> stopped(const RunState& run, const PortSettings& port) {
    const RequestSequence& sequence = *run.sequence;
    const QString head = QStringLiteral("%1 stopped: ").arg(run.operation);
    switch (sequence.end()) {
    case RequestSequence::End::None:
    case RequestSequence::End::Finished:
    case RequestSequence::End::Cancelled: return std::nullopt;
    case RequestSequence::End::TimedOut: {
        QString text = head + QStringLiteral("%1 No reply came to %2.")
                                  .arg(QString::fromStdString(sequence.endMessage()), stepText(run));
        if (run.kind == RunState::Kind::WriteAll) {
            text += QStringLiteral(" The set commands were sent.") + lineHint(run, port);
        }
        return RunMessage{text, {}, false};
    }
    case RequestSequence::End::NotSent:
        return RunMessage{head + QStringLiteral("%1 was not sent.").arg(stepText(run)), {}, false};
    case RequestSequence::End::Interrupted:
        return RunMessage{head + QStringLiteral("another request was sent while it waited for the reply to %1.")
                                     .arg(stepText(run)),
                          {},
                          false};
    case RequestSequence::End::PortClosed:
        return RunMessage{head + QStringLiteral("the port was closed."), {}, false};
    }
    return std::nullopt;
}

QStringList notRead(const RunState& run) {
    QStringList lines;
    if (!run.problems.empty()) {
        lines << QString() << QStringLiteral("Not read from the converter:");
        for (const std::string& problem : run.problems) {
            lines << latin1(problem);
        }
    }
    return lines;
}

RunMessage writeAllReport(const RunState& run) {
    const auto differences = profile::Compare(run.sent, run.readBack);
    QStringList lines;
    for (const profile::Difference& d : differences) {
        lines << QStringLiteral("%1: sent %2, read back %3")
                     .arg(parameterName(d.parameter), valueText(d.expected), valueText(d.actual));
    }
    if (!run.setTimeouts.empty()) {
        lines << QString() << QStringLiteral("No reply to the set command of: %1").arg(titles(run.setTimeouts));
    }
    if (!run.skipped.empty()) {
        lines << QString()
              << QStringLiteral("Not sent, their Set buttons being disabled while the totalizer output is on: %1")
                     .arg(titles(run.skipped));
    }
    lines << notRead(run);
    const QString text =
        differences.empty()
            ? QStringLiteral("Write All sent %1 set commands; every value sent reads back as sent.").arg(run.stepsBefore)
            : QStringLiteral("Write All sent %1 set commands; %2 of the values read back differently:")
                  .arg(run.stepsBefore)
                  .arg(differences.size());
    return {text, lines.join(QLatin1Char('\n')).trimmed(), true};
}

RunMessage compareReport(const RunState& run) {
    const auto differences = profile::Compare(run.file.values, run.readBack);
    QStringList lines;
    for (const profile::Difference& d : differences) {
        lines << QStringLiteral("%1: file %2, converter %3")
                     .arg(parameterName(d.parameter), valueText(d.expected), valueText(d.actual));
    }
    lines << notRead(run);
    const QString text = differences.empty()
                             ? QStringLiteral("No parameter of the converter differs from %1.").arg(run.fileName)
                             : QStringLiteral("%1 parameter(s) of the converter differ from %2:")
                                   .arg(differences.size())
                                   .arg(run.fileName);
    return {text, lines.join(QLatin1Char('\n')).trimmed(), true};
}

} // namespace

std::optional<RunMessage> RunReport(const RunState& run, const PortSettings& port) {
    if (run.sequence->end() != RequestSequence::End::Finished) {
        return stopped(run, port);
    }
    switch (run.kind) {
    case RunState::Kind::ReadAll: return std::nullopt;
    case RunState::Kind::WriteAll: return writeAllReport(run);
    case RunState::Kind::Compare: return compareReport(run);
    }
    return std::nullopt;
}

} // namespace app
