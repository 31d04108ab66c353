#pragma once
// The start the commands that work on one title of a DVD source share: the
// title set found, its titles read from its IFO file, and the list
// positions the user gave checked against what the set has; and where their
// output goes.

#include <optional>
#include <string>

#include "dvd/title_set.h"

namespace zembra {
class FileSink;
struct TitleCatalogue;
class UiHost;
}  // namespace zembra

namespace zembra::cli {

// What is wrong with a list position, as every command words it ("--title
// takes 0 to 3, not 7"); empty when the list has it or none was given.
std::string outsideList(const char* option, const std::optional<int>& position, int count);

// Refuses the command line over a problem outsideList found, naming the
// source; returns the usage exit status.
int refuseChoice(const char* command, const std::string& problem, const std::string& source);

// A VOB or MPEG file the command cannot read: says so, with the system's
// reason, and gives the exit status; nothing when it can be opened. Without
// it a missing file ended the decode with no word at all.
std::optional<int> unreadableFile(const char* command, const std::string& source);

// The title set of a DVD source: the one numbered `setNumber`, else the
// first, with `catalogue` read from its IFO file. Nothing when it can go on;
// else the exit status, what went wrong already told.
std::optional<int> openTitleSet(const std::string& source, std::optional<int> setNumber,
                                TitleCatalogue& catalogue, UiHost& host, TitleSetFiles& set);

// Opens a command's output: standard output for "-", a device or pipe
// (/dev/null, a FIFO) as a stream, else the file, created or emptied.
[[nodiscard]] bool openOutput(FileSink& sink, const std::string& path);

}  // namespace zembra::cli
