// The inspection report for people: one set of sections and tables, written out as HTML or Markdown.
// The HTML keeps to what Qt's rich text also draws (tables with borders, bold, colours), so the
// window prints the same page to PDF.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "inspection/Report.h"
#include "tools/Utf8Text.h"

namespace inspection {

namespace {

// A text of the report for a cell: strings as they stand, numbers as JSON writes them, nothing else.
std::string text(const Json& j, const char* key) {
    if (!j.is_object()) {
        return {};
    }
    const auto it = j.find(key);
    if (it == j.end() || it->is_null() || it->is_object() || it->is_array()) {
        return {};
    }
    return it->is_string() ? tools::Utf8Text(it->get<std::string>()) : it->dump();
}

const Json& part(const Json& j, const char* key) {
    static const Json none;
    if (!j.is_object()) {
        return none;
    }
    const auto it = j.find(key);
    return it == j.end() ? none : *it;
}

std::vector<std::reference_wrapper<const Json>> items(const Json& list) {
    std::vector<std::reference_wrapper<const Json>> out;
    if (list.is_array()) {
        for (const Json& item : list) {
            out.emplace_back(item);
        }
    }
    return out;
}

std::string upper(std::string verdict) {
    if (verdict == "pass" || verdict == "fail") {
        for (char& c : verdict) {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return verdict;
}

// A number of mA or percent as the report shows it: three decimals.
std::string fixed3(const Json& j, const char* key, bool sign = false) {
    const Json& v = part(j, key);
    if (!v.is_number()) {
        return text(j, key);
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, sign ? "%+.3f" : "%.3f", v.get<double>());
    return buffer;
}

// What both renderers write: headings, paragraphs and tables of text cells, a cell marked as a
// verdict when it is one.
class Writer {
public:
    virtual ~Writer() = default;
    virtual void title(const std::string& t) = 0;
    virtual void heading(const std::string& h, int level) = 0;
    virtual void paragraph(const std::string& p) = 0;
    virtual void verdict(const std::string& label, const std::string& v) = 0;
    virtual void table(const std::vector<std::string>& head,
                       const std::vector<std::vector<std::string>>& rows, int verdictColumn) = 0;
    virtual std::string finish() = 0;
};

std::string escapeHtml(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
        }
    }
    return out;
}

std::string verdictClass(const std::string& v) {
    return v == "pass" || v == "PASS" || v == "same"                                               ? "pass"
           : v == "fail" || v == "FAIL" || v == "DIFFERS" || v == "NOT A FIELD" || v == "NO VALUE" ? "fail"
                                                                                                   : "other";
}

class Html : public Writer {
public:
    void title(const std::string& t) override {
        out_ = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + escapeHtml(t) +
               "</title>\n<style>\nbody { font-family: sans-serif; font-size: 10pt; margin: 1.5em; }\n"
               "table { border-collapse: collapse; margin-bottom: 1em; }\n"
               "th, td { border: 1px solid #888; padding: 2px 6px; text-align: left; }\n"
               "th { background-color: #e4e4e4; }\n"
               ".pass { color: #006400; font-weight: bold; }\n.fail { color: #b00000; font-weight: bold; }\n"
               ".other { color: #7a5a00; font-weight: bold; }\n</style></head>\n<body>\n<h1>" +
               escapeHtml(t) + "</h1>\n";
    }
    void heading(const std::string& h, int level) override {
        const std::string tag = "h" + std::to_string(level);
        out_ += "<" + tag + ">" + escapeHtml(h) + "</" + tag + ">\n";
    }
    void paragraph(const std::string& p) override { out_ += "<p>" + escapeHtml(p) + "</p>\n"; }
    void verdict(const std::string& label, const std::string& v) override {
        out_ += "<p>" + escapeHtml(label) + ": <span class=\"" + verdictClass(v) + "\">" +
                escapeHtml(upper(v)) + "</span></p>\n";
    }
    void table(const std::vector<std::string>& head, const std::vector<std::vector<std::string>>& rows,
               int verdictColumn) override {
        // The attributes draw the grid where style sheets are not read (Qt's rich text).
        out_ += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n<tr>";
        for (const std::string& h : head) {
            out_ += "<th>" + escapeHtml(h) + "</th>";
        }
        out_ += "</tr>\n";
        for (const auto& row : rows) {
            out_ += "<tr>";
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (static_cast<int>(i) == verdictColumn) {
                    out_ +=
                        "<td class=\"" + verdictClass(row[i]) + "\">" + escapeHtml(upper(row[i])) + "</td>";
                } else {
                    out_ += "<td>" + escapeHtml(row[i]) + "</td>";
                }
            }
            out_ += "</tr>\n";
        }
        out_ += "</table>\n";
    }
    std::string finish() override { return out_ + "</body></html>\n"; }

private:
    std::string out_;
};

std::string escapeMarkdown(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '|' || c == '\\' || c == '*' || c == '_' || c == '`' || c == '<' || c == '[' || c == ']' ||
            c == '#') {
            out += '\\';
        }
        out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    }
    return out;
}

class Markdown : public Writer {
public:
    void title(const std::string& t) override { out_ = "# " + escapeMarkdown(t) + "\n\n"; }
    void heading(const std::string& h, int level) override {
        out_ += std::string(static_cast<std::size_t>(level), '#') + " " + escapeMarkdown(h) + "\n\n";
    }
    void paragraph(const std::string& p) override { out_ += escapeMarkdown(p) + "\n\n"; }
    void verdict(const std::string& label, const std::string& v) override {
        out_ += escapeMarkdown(label) + ": **" + escapeMarkdown(upper(v)) + "**\n\n";
    }
    void table(const std::vector<std::string>& head, const std::vector<std::vector<std::string>>& rows,
               int verdictColumn) override {
        const auto line = [&](const std::vector<std::string>& cells, bool verdicts) {
            out_ += "|";
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const bool bold = verdicts && static_cast<int>(i) == verdictColumn;
                const std::string cell = escapeMarkdown(bold ? upper(cells[i]) : cells[i]);
                out_ += " " + (bold && !cell.empty() ? "**" + cell + "**" : cell) + " |";
            }
            out_ += "\n";
        };
        line(head, false);
        out_ += "|";
        for (std::size_t i = 0; i < head.size(); ++i) {
            out_ += " --- |";
        }
        out_ += "\n";
        for (const auto& row : rows) {
            line(row, true);
        }
        out_ += "\n";
    }
    std::string finish() override { return out_; }

private:
    std::string out_;
};

void checkSection(Writer& w, const Json& check, const std::string& stage) {
    if (!check.is_object()) {
        return;
    }
    w.heading("Mapping check, " + stage, 2);
    w.verdict("Verdict", text(check, "verdict"));
    if (const std::string s = text(check, "summary"); !s.empty()) {
        w.paragraph(s + " (tolerance " + text(check, "tolerance") + " %)");
    }
    std::vector<std::vector<std::string>> rows;
    for (const Json& r : items(part(check, "rows"))) {
        rows.push_back({text(r, "variable"), text(r, "register"), text(r, "source"),
                        text(r, "hart") + (text(r, "unit").empty() ? "" : " " + text(r, "unit")),
                        text(r, "modbus"), text(r, "verdict"), text(r, "note")});
    }
    if (!rows.empty()) {
        w.table({"Variable", "Register", "Source", "Instrument", "Register value", "Verdict", "Note"}, rows,
                5);
    }
    for (const Json& n : items(part(check, "notes"))) {
        if (n.is_string()) {
            w.paragraph(tools::Utf8Text(n.get<std::string>()));
        }
    }
}

void loopSection(Writer& w, const Json& loop, const std::string& stage) {
    if (!loop.is_object()) {
        return;
    }
    w.heading("Loop check, " + stage, 2);
    w.verdict("Verdict", text(loop, "verdict"));
    std::string about = text(loop, "summary");
    if (const std::string t = text(loop, "tolerance"); !t.empty()) {
        about += "; tolerance " + t + " % of the 16 mA span";
    }
    if (const std::string r = text(loop, "readings"); !r.empty()) {
        about += "; readings " + (r == "meter"  ? "from the meter " + text(loop, "meter")
                                  : r == "file" ? "from a file"
                                                : r);
    }
    w.paragraph(about);
    for (const Json& o : items(part(loop, "outputs"))) {
        std::string name = text(o, "name");
        std::string range = "variable " + text(o, "variable") + ", " + text(o, "at_4ma") + " at 4 mA, " +
                            text(o, "at_20ma") + " at 20 mA";
        w.heading(name + " (" + range + "): " + upper(text(o, "verdict")), 3);
        if (const std::string note = text(o, "note"); !note.empty()) {
            w.paragraph(note);
        }
        std::vector<std::vector<std::string>> rows;
        for (const Json& p : items(part(o, "points"))) {
            rows.push_back({fixed3(p, "point_ma"), text(p, "test_value"), fixed3(p, "expected_ma"),
                            fixed3(p, "reading_ma"), fixed3(p, "error_percent", true), text(p, "verdict"),
                            text(p, "note")});
        }
        if (!rows.empty()) {
            w.table(
                {"Point mA", "Test value", "Expected mA", "Reading mA", "Error % of span", "Verdict", "Note"},
                rows, 5);
        }
    }
    for (const Json& n : items(part(loop, "notes"))) {
        if (n.is_string()) {
            w.paragraph(tools::Utf8Text(n.get<std::string>()));
        }
    }
}

std::string render(Writer& w, const Json& report) {
    const Json& converter = part(report, "converter");
    w.title("Inspection report: " +
            (text(converter, "version").empty() ? "converter" : text(converter, "version")) + " on " +
            text(report, "port"));
    const Json& verdict = part(report, "verdict");
    w.verdict(text(report, "stage") == "as found"
                  ? "Verdict as found (the inspection goes on after adjustment)"
                  : "Overall verdict",
              text(verdict, "overall"));
    w.table({"", ""},
            {{"Inspector", text(report, "inspector")},
             {"Started", text(report, "started")},
             {"Finished", text(report, "finished")},
             {"Port", text(report, "port")},
             {"Converter", text(converter, "version") + " (" + text(converter, "device") + ")"},
             {"MODBUS slave address", text(converter, "slave_address")},
             {"Written by", text(report, "written_by")}},
            -1);
    std::vector<std::vector<std::string>> parts;
    if (const Json& all = part(verdict, "parts"); all.is_object()) {
        for (const auto& [name, v] : all.items()) {
            parts.push_back({tools::Utf8Text(name),
                             v.is_string() ? tools::Utf8Text(v.get<std::string>()) : std::string()});
        }
    }
    if (!parts.empty()) {
        w.heading("Verdict per part", 2);
        w.table({"Part", "Verdict"}, parts, 1);
    }

    const Json& instrument = part(report, "instrument");
    if (instrument.is_object()) {
        w.heading("Instrument (HART command 0)", 2);
        if (part(instrument, "read") == true) {
            w.table({"Manufacturer", "Device type", "Device ID", "Polling address", "Preambles"},
                    {{text(instrument, "manufacturer"), text(instrument, "device_type"),
                      text(instrument, "device_id"), text(instrument, "polling_address"),
                      text(instrument, "preambles")}},
                    -1);
        } else {
            w.paragraph("not read: " + text(instrument, "note"));
        }
    }

    for (const auto& [key, stage] : {std::pair{"as_found", "as found"}, std::pair{"as_left", "as left"}}) {
        checkSection(w, part(part(report, key), "check"), stage);
        loopSection(w, part(part(report, key), "loop_check"), stage);
    }

    // The configuration: as found beside as left, the differences marked.
    const Json& found = part(part(part(report, "as_found"), "configuration"), "parameters");
    const Json& left = part(part(part(report, "as_left"), "configuration"), "parameters");
    if (found.is_object()) {
        w.heading("Configuration", 2);
        const Json differences = part(report, "differences");
        w.paragraph(left.is_object() ? std::to_string(differences.is_array() ? differences.size() : 0) +
                                           " parameters differ between as found and as left"
                                     : "as found; not read as left");
        std::vector<std::vector<std::string>> rows;
        for (const auto& [name, value] : found.items()) {
            const std::string a = value.is_string() ? value.get<std::string>() : value.dump();
            std::string b;
            if (left.is_object()) {
                const auto it = left.find(name);
                b = it == left.end() ? "not read" : it->is_string() ? it->get<std::string>() : it->dump();
            }
            rows.push_back({tools::Utf8Text(name), tools::Utf8Text(a), tools::Utf8Text(b),
                            left.is_object() && a != b ? "changed" : ""});
        }
        w.table({"Parameter", "As found", "As left", ""}, rows, -1);
    }

    std::vector<std::vector<std::string>> changes;
    for (const Json& c : items(part(report, "changes"))) {
        changes.push_back({text(c, "time"), text(c, "parameter"), text(c, "old"), text(c, "new"),
                           text(c, "status"), text(c, "front_end"), text(c, "user")});
    }
    w.heading("Changes during the inspection", 2);
    if (changes.empty()) {
        w.paragraph("none logged");
    } else {
        w.table({"Time (UTC)", "Parameter", "Old", "New", "Status", "From", "User"}, changes, -1);
    }
    return w.finish();
}

} // namespace

std::string ReportHtml(const Json& report) {
    Html html;
    return render(html, report);
}

std::string ReportMarkdown(const Json& report) {
    Markdown markdown;
    return render(markdown, report);
}

} // namespace inspection
