// Writing and checking the configuration file.
#include "profile/BackupFile.h"

#include <cmath>
#include <ctime>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/Conversions.h"

namespace profile {

namespace {

using Json = nlohmann::ordered_json;

// Replies are bytes; JSON strings are Unicode. Each byte becomes the character of its code.
std::string bytesToUtf8(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

Json valueToJson(const Parameter& p, const std::string& canonical) {
    switch (p.kind) {
    case Kind::Integer:
    case Kind::NumericChoice:
        return Json(tools::StrToInt(canonical));
    case Kind::Float:
        return Json(tools::StrToFloat(canonical));
    default:
        return Json(canonical);
    }
}

[[noreturn]] void bad(std::string_view what) {
    throw FileError(FileError::Kind::BadContent, std::string(what));
}
[[noreturn]] void notABackup(std::string_view what) {
    throw FileError(FileError::Kind::NotABackup, std::string(what));
}

// What `read` gives; a value it refuses is the file's fault, named after `where`.
template <class Read> auto orBad(std::string_view where, Read read) {
    try {
        return read();
    } catch (const BadValue& error) {
        bad(std::string(where) + error.what());
    }
}

// The reverse of bytesToUtf8; a character above U+00FF is no byte, and the file is refused naming
// where it stands.
std::string utf8ToBytes(std::string_view text, std::string_view where) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[++i]);
            out += static_cast<char>(((b & 0x03) << 6) | (next & 0x3F));
        } else {
            bad("\"" + std::string(where) + "\" holds a character that is no byte");
        }
    }
    return out;
}

std::string jsonToText(const Parameter& p, const Json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_number_integer()) {
        return value.dump();
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (p.kind == Kind::Float) {
            // The number as JSON gives it, rounded once to a single: the same as reading its text.
            try {
                return tools::ShortestSingleText(tools::ToSingle(number));
            } catch (const tools::ConversionError& error) {
                bad(std::string(p.name) + ": " + value.dump() + ": " + error.what());
            }
        }
        if (std::trunc(number) == number && std::fabs(number) < 1e9) {
            return std::to_string(static_cast<long long>(number));
        }
        return value.dump();
    }
    bad(std::string(p.name) + ": " + value.dump() + " is neither a number nor a text");
}

std::string stringMember(const Json& root, const char* key) {
    const auto it = root.find(key);
    if (it == root.end() || it->is_null()) {
        return {};
    }
    if (!it->is_string()) {
        bad(std::string("\"") + key + "\" is not a text");
    }
    return it->get<std::string>();
}

Json parametersObject(const Configuration& values) {
    Json parameters = Json::object();
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        const Parameter& p = Parameters()[i];
        if (const auto& value = values.value(i)) {
            // Texts (test values) come from the converter as bytes.
            parameters[std::string(p.name)] =
                p.kind == Kind::Text ? Json(bytesToUtf8(*value)) : valueToJson(p, *value);
        }
    }
    return parameters;
}

} // namespace

std::string ParametersJson(const Configuration& values) {
    return parametersObject(values).dump();
}

std::string WriteBackup(const Backup& backup) {
    Json root;
    root["format"] = kFileFormat;
    root["version"] = kFileVersion;
    root["written_by"] = backup.writtenBy;
    root["date"] = backup.date;
    if (!backup.saved.empty()) {
        root["saved"] = backup.saved;
    }
    root["port"] = bytesToUtf8(backup.port);
    root["device"] = bytesToUtf8(backup.device);
    Json notRead = Json::array();
    for (std::size_t i = 0; i < ParameterCount(); ++i) {
        if (!backup.values.has(i)) {
            notRead.push_back(Parameters()[i].name);
        }
    }
    root["parameters"] = parametersObject(backup.values);
    root["not_read"] = std::move(notRead);
    Json replies = Json::object();
    for (const auto& [key, reply] : backup.replies) {
        replies[key] = bytesToUtf8(reply);
    }
    root["replies"] = std::move(replies);
    return root.dump(2) + "\n";
}

Backup ReadBackup(std::string_view text) {
    // JSON lets a name stand twice in one object and keeps the last; a file that says two things of one
    // parameter (or has two versions) says nothing certain, so it is refused naming the name.
    struct Object {
        std::string name;
        std::set<std::string> members;
    };
    std::vector<Object> open;
    std::string lastName;
    const Json::parser_callback_t noDuplicates = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            open.push_back({lastName, {}});
        } else if (event == Json::parse_event_t::object_end && !open.empty()) {
            open.pop_back();
        } else if (event == Json::parse_event_t::key && !open.empty()) {
            lastName = parsed.get<std::string>();
            if (!open.back().members.insert(lastName).second) {
                if (open.size() == 1) {
                    notABackup("not a configuration file: \"" + lastName + "\" stands twice");
                }
                bad(open.back().name + ": " + lastName + " is given twice");
            }
        }
        return true;
    };
    Json root;
    try {
        root = Json::parse(text.begin(), text.end(), noDuplicates);
    } catch (const Json::exception& error) { // a syntax error, or a number beyond a double's range
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." without its prefix.
        std::string what = error.what();
        if (const auto at = what.find("] "); at != std::string::npos) {
            what.erase(0, at + 2);
        }
        notABackup("not a configuration file: " + what);
    }
    if (!root.is_object()) {
        notABackup("not a configuration file: no JSON object");
    }
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || format->get<std::string>() != kFileFormat) {
        notABackup("not a configuration file: \"format\" is not \"" + std::string(kFileFormat) + "\"");
    }
    const auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer()) {
        notABackup("configuration file without a version number");
    }
    const auto number = version->get<long long>();
    if (number > kFileVersion) {
        notABackup("configuration file of version " + std::to_string(number) +
                   ", newer than this program reads (" + std::to_string(kFileVersion) +
                   "); use a newer version of the program");
    }
    if (number < 1) {
        notABackup("configuration file of version " + std::to_string(number) + ", which never existed");
    }

    Backup backup;
    backup.writtenBy = stringMember(root, "written_by");
    backup.date = stringMember(root, "date");
    backup.saved = stringMember(root, "saved");
    backup.port = utf8ToBytes(stringMember(root, "port"), "port");
    backup.device = utf8ToBytes(stringMember(root, "device"), "device");

    const auto parameters = root.find("parameters");
    if (parameters == root.end() || !parameters->is_object()) {
        bad("no \"parameters\" object");
    }
    for (const auto& [name, value] : parameters->items()) {
        const std::size_t index = orBad("parameters: ", [&] { return ParameterIndex(name); });
        const Parameter& p = Parameters()[index];
        std::string typed = jsonToText(p, value);
        if (p.kind == Kind::Text) {
            typed = utf8ToBytes(typed, "parameters");
        }
        orBad("", [&] { backup.values.set(index, CanonicalValue(p, typed)); });
    }
    if (const auto notRead = root.find("not_read"); notRead != root.end()) {
        if (!notRead->is_array()) {
            bad("\"not_read\" is not a list of names");
        }
        for (const Json& name : *notRead) {
            if (!name.is_string()) {
                bad("\"not_read\" holds " + name.dump() + ", which is no name");
            }
            if (backup.values.has(
                    orBad("not_read: ", [&] { return ParameterIndex(name.get<std::string>()); }))) {
                bad(name.get<std::string>() + " has a value and is listed as not read");
            }
        }
    }
    if (const auto replies = root.find("replies"); replies != root.end()) {
        if (!replies->is_object()) {
            bad("\"replies\" is not an object");
        }
        for (const auto& [key, reply] : replies->items()) {
            if (!reply.is_string()) {
                bad("replies: " + key + " is not a text");
            }
            backup.replies.emplace_back(key, utf8ToBytes(reply.get<std::string>(), "replies"));
        }
    }
    return backup;
}

std::string UtcDateText(long long epochMs) {
    const std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace profile
