// vx538's exit codes: one table gives each its number, the word the summary shows and the line of
// --help (and of the README's table) that explains it.
#pragma once

#include <string>
#include <string_view>

namespace cli {

namespace code {
inline constexpr int Done = 0;
inline constexpr int Differences = 1;
inline constexpr int Usage = 2;
inline constexpr int PortUnusable = 3;
inline constexpr int NoReply = 4;
inline constexpr int Unexpected = 5;
inline constexpr int HartSilent = 6;
inline constexpr int ModbusFault = 7;
inline constexpr int BadFile = 8;
inline constexpr int Internal = 9;
inline constexpr int Mixed = 10;
inline constexpr int WrongMode = 11;
inline constexpr int Interrupted = 130;
} // namespace code

// The summary's word for a code; "failed" for one the table lacks.
std::string_view ExitWord(int code);

// "Exit status:" and a line per code, wrapped to the width of --help.
std::string ExitCodesHelp();

} // namespace cli
