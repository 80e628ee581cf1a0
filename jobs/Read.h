// Reading the converter's configuration: its queries one after another (Read All), and the values
// read compared with a file's (Compare). Nothing is taken from a reply that is not whole: the first
// query without its whole reply stops the read, its values stay unread and the queries after it are
// named as not reached.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jobs/Script.h"
#include "profile/Configuration.h"

namespace jobs {

// The queries that report the given parameters, in the order a backup sends them.
std::vector<profile::Query> QueriesFor(const std::vector<std::size_t>& parameters);
// Every parameter of the table, or only those a restore sets.
std::vector<std::size_t> AllParameters(bool restorableOnly);
// The restorable parameters `values` has.
std::vector<std::size_t> PresentIn(const profile::Configuration& values);
// The problems that concern the given parameters, or their queries as a whole.
std::vector<profile::Problem> ProblemsFor(const std::vector<profile::Problem>& problems,
                                          const std::vector<std::size_t>& parameters);

// A configuration query as its button sends it: "QX1 (system parameters)".
Request QueryRequest(profile::Query query);
// The communication query, whose reply names the converter.
Request CommunicationRequest();

struct ReadResult {
    profile::Configuration values;
    std::vector<profile::Problem> problems; // of whole replies: a field no value of its parameter
    std::vector<std::pair<std::string, std::string>> replies; // query key, the reply's block, whole ones
    std::optional<std::string> device; // the communication query's reply, when it was asked
    std::optional<Stop> stop;
};

struct ReadOptions {
    std::vector<profile::Query> queries;
    bool communication = false; // ask the communication query first (a backup names the converter)
};

class ReadAllJob : public Script {
public:
    explicit ReadAllJob(ReadOptions options) : options_(std::move(options)) {}
    const ReadResult& result() const { return result_; }

private:
    Body run() override;
    ReadOptions options_;
    ReadResult result_;
};

// A difference for people, a line each, the names padded to one width:
// "rs485.baud  file 19200, converter 9600"; a value not known is "(none)" in the file and "(not read)"
// from the converter.
inline constexpr const char* kNoFileValue = "(none)";
inline constexpr const char* kNotRead = "(not read)";
std::vector<std::string> DifferenceLines(const std::vector<profile::Difference>& differences);

struct CompareResult {
    std::vector<std::size_t> compared; // the file's restorable parameters
    ReadResult read;
    std::vector<profile::Problem> problems; // those of the compared parameters: nothing compared then
    std::vector<profile::Difference> differences;

    bool readWhole() const { return !read.stop && problems.empty(); }
};

// Reads what `expected` holds and compares it, parameter by parameter.
class CompareJob : public Script {
public:
    explicit CompareJob(profile::Configuration expected) : expected_(std::move(expected)) {}
    const CompareResult& result() const { return result_; }

private:
    Body run() override;
    profile::Configuration expected_;
    CompareResult result_;
};

} // namespace jobs
