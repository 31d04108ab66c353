#pragma once
// The command line's options: one parser for every command, so that numbers
// are checked the same way everywhere and each command's --help lists all of
// its options; the options the commands share (a flag has one name and one
// meaning in every command); and the window's lists, whose entries are given
// by position or by their text in the current language.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembra {
struct ApplicationSettings;
struct InputSettings;
struct OutputSettings;
class StringTable;
}  // namespace zembra

namespace zembra::cli {

// The exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some work failed (a title not ripped, a file unreadable)
inline constexpr int kExitUsage = 2;   // the command line was wrong; nothing was done
// A stop by a signal gives 128 + its number, as a shell reports a program
// the signal ended: 130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP.
inline constexpr int kExitInterrupted = 130;
// Ctrl-C, SIGTERM and SIGHUP are recorded rather than left to end the
// program, so the command can close what it writes; then its status is
// stoppedStatus(): 128 + the signal that came, 130 for Ctrl-C.
void catchStopRequests();
int stoppedStatus();

// --- The window's lists -----------------------------------------------------

enum class ListKind { Formats, Zoom, Split, Fps, Resize, Deinterlace, Downsampling };

// The names --list takes, in the order its help gives them.
const std::vector<std::pair<std::string_view, ListKind>>& listNames();
std::optional<ListKind> listByName(std::string_view name);
// The entries of a list as the current language words them.
std::vector<std::string> listEntries(ListKind kind, const StringTable& strings);
// An entry by its position ("13") or its text, compared without regard to
// case ("svcd pal great quality").
std::optional<int> findEntry(const std::vector<std::string>& entries, std::string_view given);

// --- Numbers ------------------------------------------------------------------

// The whole text as a whole number within [low, high]; a sign, blanks,
// trailing letters or an overflow give nothing.
std::optional<long long> parseInteger(std::string_view text, long long low, long long high);
// The whole text as a finite decimal number.
std::optional<double> parseReal(std::string_view text);

// --- The parser ---------------------------------------------------------------

class OptionParser {
public:
    // `operands` is what the usage line shows for them ("SOURCE..."); list
    // options match entry texts in `strings` (the built-in texts without).
    OptionParser(std::string command, std::string operands, const StringTable* strings = nullptr);

    // Starts a group of options in the help.
    void heading(std::string title);
    void flag(std::string name, bool& target, std::string help);
    // A switch that stores `value` (--dolby stores on, --no-dolby off).
    void setter(std::string name, std::optional<bool>& target, bool value, std::string help);
    void integer(std::string name, std::optional<int>& target, int low, int high, std::string help,
                 std::string meta = "N");
    void real(std::string name, std::optional<double>& target, double low, double high,
              std::string help, std::string meta = "X");
    void text(std::string name, std::optional<std::string>& target, std::string meta,
              std::string help);
    // A position in one of the window's lists, or the entry's text.
    void list(std::string name, std::optional<int>& target, ListKind kind, std::string help);
    // Any other value: `take` returns what is wrong with it, or nothing.
    void custom(std::string name, std::string meta, std::string help,
                std::function<std::string(const std::string&)> take);
    // Words that are not options; fewer than `least` is a usage error, and
    // so is more than `most`.
    void operands(std::vector<std::string>& target, size_t least, size_t most);
    // Lines printed after the options in the help.
    void footer(std::string text);

    enum class Outcome { Run, Help, Usage };
    Outcome parse(const std::vector<std::string>& args);
    // What was wrong when parse gave Usage.
    const std::string& problem() const { return problem_; }
    // Whether an option was on the command line.
    bool given(std::string_view name) const;
    std::string help() const;

    // Parses; on --help prints the help and gives 0, on a mistake prints it
    // with a pointer to --help and gives 2; nothing when the command runs.
    std::optional<int> parseOrExit(const std::vector<std::string>& args);

private:
    struct Option {
        std::string name, meta, help;
        bool heading = false;
        // Takes the value (empty for a switch); what was wrong, else empty.
        std::function<std::string(const std::string&)> take;
    };
    const Option* find(std::string_view name) const;
    std::string valueProblem(const Option& option, const std::string& value) const;

    std::string command_, operandsText_, footer_;
    const StringTable* strings_;
    std::vector<Option> options_;
    std::vector<std::string>* operands_ = nullptr;
    size_t least_ = 0, most_ = 0;
    std::vector<std::string> given_;
    std::string problem_;
};

// --- Options the commands share -----------------------------------------------

// Each is a setting of options.ini: a command starts from the stored value
// and an option given replaces it for this run (kept only with --save).
struct SettingChoices {
    // Positions in the Index, Audio, Subtitle and Angle lists, as the window
    // shows them: titles and audio tracks from 0, subtitles from 1 (0 = None).
    std::optional<int> title, audio, subtitle, angle;
    bool mainTitle = false;  // --title main: the main feature (mainTitleIndex)
    // Decoding (the Global tab).
    std::optional<int> fpsIndex, downsampling, deinterlace, idct, subColor, subOffset;
    std::optional<bool> detect24, dolby;
    std::optional<double> ac3Gain;
    std::optional<std::pair<int, int>> luminance;
    // The output picture.
    std::optional<int> zoom, resize, width, height;
    std::optional<std::array<double, 4>> crop;
    // The MPEG encoder (the MPEG settings dialog).
    std::optional<int> motionSearch, adaptiveQuant, cpu, dct, quantMat;
    std::optional<bool> pulldown;
    // Worker threads (0 one per core, 1 a single-threaded run).
    std::optional<int> threads;
};

// --title N|main, the same in every command that takes a title.
void addTitleOption(OptionParser& parser, std::optional<int>& title, bool& mainTitle);
void addStreamOptions(OptionParser& parser, SettingChoices& choices, bool withAngle);
void addDecoderOptions(OptionParser& parser, SettingChoices& choices);
void addPictureOptions(OptionParser& parser, SettingChoices& choices);
void addEncoderOptions(OptionParser& parser, SettingChoices& choices);
void addThreadOption(OptionParser& parser, SettingChoices& choices);

// The decoding and picture choices onto the settings records (the list
// positions are the caller's: they need the title's lists).
void applyDecoderChoices(const SettingChoices& choices, InputSettings& input);
void applyPictureChoices(const SettingChoices& choices, OutputSettings& output);
void applyEncoderChoices(const SettingChoices& choices, OutputSettings& output);
void applyThreadChoice(const SettingChoices& choices, ApplicationSettings& app);
// Whether any encoder option was given (they apply to MPEG output only).
bool anyEncoderChoice(const SettingChoices& choices);

// `zembra CMD --list NAME`: the entries of a list with their positions.
int printList(std::string_view name, const StringTable& strings);
// The help line of --list.
std::string listOptionHelp();

}  // namespace zembra::cli
