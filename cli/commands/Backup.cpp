// vx538 backup: the whole configuration read into a configuration file.
#include <CLI/CLI.hpp>

#include <iterator>

#include "cli/Command.h"
#include "cli/Files.h"
#include "cli/Steps.h"
#include "config/TextCommands.h"
#include "traffic/EventLog.h"

namespace cli {

namespace {

// A backup's output file for one port: "{port}" in the name stands for the port's last path element.
std::string backupPath(const std::string& pattern, const std::string& port) {
    const std::string name = port.substr(port.find_last_of('/') + 1);
    std::string path = pattern;
    for (std::size_t at; (at = path.find("{port}")) != std::string::npos;) {
        path.replace(at, 6, name);
    }
    return path;
}

class Backup : public Command {
public:
    Backup() : Command("backup", "read the whole configuration into a file") {}
    void define(CLI::App& app) override {
        app.add_option("-o,--output", file_,
                       "FILE to write ('-' for standard output; '{port}' in the name stands "
                       "for the port, needed with several ports)")
            ->type_name("FILE")
            ->required();
    }
    void prepare(const Globals& globals) override {
        if (globals.ports.size() > 1 && (file_ == "-" || file_.find("{port}") == std::string::npos)) {
            throw Failure(
                code::Usage,
                "with several ports the backup file name needs {port}, e.g. -o 'backup-{port}.json'");
        }
        json_ = globals.json;
        // A file that cannot take the backup is said before any converter is read.
        for (const std::string& port : globals.ports) {
            CheckOutputFile(backupPath(file_, port));
        }
    }

    void run(Session& session, Result& result) const override {
        profile::Backup file;
        file.writtenBy = "vx538 " VX538_VERSION;
        file.date = profile::UtcDateText(traffic::Now().wallMs);
        file.port = session.line().path();
        const Answer identity =
            session.request(config::communicationQueryFrame(),
                            {ReplyShape::Kind::Request, traffic::pending::SystemParameters},
                            traffic::pending::SystemParameters, true, "the communication query");
        file.device = identity.reply.bytes;
        const ReadResult read = ReadConverter(
            session, std::vector<profile::Query>(std::begin(profile::kQueries), std::end(profile::kQueries)));
        if (!read.problems.empty()) {
            Unexpected(result, read.problems,
                       "the converter's replies do not hold every value; nothing was written");
        }
        file.values = read.values;
        file.replies.emplace_back("QV", identity.reply.bytes);
        file.replies.insert(file.replies.end(), read.replies.begin(), read.replies.end());
        const std::string text = profile::WriteBackup(file);
        const std::string path = backupPath(file_, session.port());
        if (path == "-") {
            // With --json the file is the "backup" member of the port's object, so the output stays one
            // object per port.
            if (json_) {
                result.data("backup", Json::parse(text));
            } else {
                result.line(text.substr(0, text.size() - 1));
            }
            return;
        }
        WriteOutputFile(path, text);
        result.field("file", {},
                     "backup of " + session.port() + " (" + std::to_string(file.values.count()) +
                         " parameters) written to " + path,
                     path);
    }

private:
    std::string file_;
    bool json_ = false;
};

} // namespace

std::unique_ptr<Command> MakeBackup() {
    return std::make_unique<Backup>();
}

} // namespace cli
