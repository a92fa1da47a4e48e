#pragma once
// The launcher's readings of outside text, free of processes and output so that tests and
// fuzz targets reach them directly: its own arguments and youtube-dl's two outputs.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

using Args = std::vector<std::string>;

// Pulls the player command and the --player option out of args: the argument after the
// first one containing the option ("--player=x" counts too) is the player; that value's
// first occurrence and the exact option are removed. "" and args untouched when there is
// none.
std::string takePlayer(Args& args);

// The command line as the roads take it, once the player pair is out.
struct CommandLine {
    std::optional<std::string> page;     // the first argument left; absent when none is
    std::optional<std::string> quality;  // only with exactly four arguments: the second left
    bool best = false;                   // with a quality: the second argument as given,
                                         // lower-cased, is "best"
    std::string player;                  // "" when there is none
};
CommandLine readCommandLine(const Args& args);

// The channel name of a channel page: its last path segment, without query, fragment or
// a trailing slash.
std::string channelName(const std::string& page);

// The one address the player is started on, from youtube-dl -g's output: its non-empty
// lines (cut at LF, a CR before a LF or at the very end being part of the line end);
// nothing else is trimmed. When several come and the quality is best, `askBest` gives
// youtube-dl -g -f best's output, whose one line serves. Throws runtime::ThrownMessage,
// saying what came, unless exactly one address is found.
std::string streamAddress(const std::string& output, bool best,
                          const std::function<std::string()>& askBest);

struct FormatSummary {
    Args printed;         // the lines to print before the summary
    std::string summary;  // "Available streams: <codes>", or "" when the table has no rows
};

// youtube-dl -F output, cut at LF (a CR before a LF being part of the line end): the lines
// to print, and the first word of each table row. Under youtube-dl's header (a line
// holding "resolution note" past its start) the lines before it are printed and every
// later line gives a word, each followed by ",", with ",," then removed; an empty word (a
// line that is empty or begins with a blank) is skipped but on the last line. Without it every line is printed, and the rows of yt-dlp's
// tables (under "ID ... EXT ... RESOLUTION" and a rule of dashes) give their codes, joined
// by ",". Throws runtime::ThrownMessage on an empty output: youtube-dl listed nothing.
FormatSummary summarizeFormats(const std::string& listing);

}  // namespace launcher
