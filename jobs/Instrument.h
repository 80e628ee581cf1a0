// The jobs that ask the instrument behind the converter (transparent mode): its identity and
// variables (commands 0 and 3), the reply to a read meter command by offset ("reply fields"), and the
// register map an integrator programs a PLC from, with the units the instrument's replies name.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "hart/HartReplies.h"
#include "jobs/ReadMapping.h"

namespace jobs {

struct IdentityOptions {
    std::string preambles = "5";
    int address = 0; // polling address 0..9
    bool master = true;
    bool variables = false; // then command 3, addressed by the identity
};

struct IdentityResult {
    std::optional<hart::IdentityReply> identity;
    std::optional<hart::VariablesReply> variables;
    std::string meaning; // of the last reply, for a reply that held no identity or no variables
    std::optional<Stop> stop;
};

class IdentityJob : public Script {
public:
    explicit IdentityJob(IdentityOptions options) : options_(std::move(options)) {}
    const IdentityResult& result() const { return result_; }

private:
    Body run() override;
    IdentityOptions options_;
    IdentityResult result_;
};

struct FieldsOptions {
    std::string preambles = "5";
    int command = 1; // read meter command 1 or 2
};

struct FieldsResult {
    MappingResult mapping;
    std::optional<profile::HartReply> reply;
    std::vector<profile::ReplyField> fields; // empty unless the reply was whole and good
    std::vector<std::string> notes;          // "the converter does not poll read meter command 1: it is off"
    std::optional<Stop> stop;
};

class ReplyFieldsJob : public Script {
public:
    explicit ReplyFieldsJob(FieldsOptions options) : options_(std::move(options)) {}
    const FieldsResult& result() const { return result_; }

private:
    Body run() override;
    FieldsOptions options_;
    FieldsResult result_;
};

struct MapResult {
    MappingResult mapping;
    std::optional<profile::InstrumentIdentity> instrument;
    std::array<std::optional<profile::HartReply>, 2> replies;
    // Why the units are not all known: the instrument's request that did not get a good reply (silent,
    // damaged, cut...), said as such; the map still stands without them.
    std::optional<Stop> instrumentProblem;
    std::vector<profile::MapRow> rows;
    // What the heading says of an instrument whose identity was not read: "did not answer", or how it
    // answered ("answered with a reply whose CRC or check byte is wrong"); empty when it was read.
    std::string instrumentWords() const;
    std::optional<Stop> stop; // no mapping: nothing to print
};

class RegisterMapJob : public Script {
public:
    explicit RegisterMapJob(std::string preambles) : preambles_(std::move(preambles)) {}
    const MapResult& result() const { return result_; }

private:
    Body run() override;
    std::string preambles_;
    MapResult result_;
};

} // namespace jobs
