#include "cli/options.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "app/output_options.h"
#include "app/settings_store.h"
#include "geometry/output_geometry.h"
#include "platform/console_host.h"
#include "platform/string_table.h"

namespace zembra::cli {

namespace {

struct ListDefinition {
    ListKind kind;
    const char* prefix;  // string-table key without the entry number
    int count;
};

// The keys of the lists the window shows (the Resize kernels' texts are the
// MPEG tab's Resize list).
constexpr ListDefinition kLists[] = {
    {ListKind::Formats, "STR_MAIN_COMBO_Format_", kFormatCount},
    {ListKind::Zoom, "STR_MAIN_COMBO_Zoom_", kZoomCount},
    {ListKind::Split, "STR_MAIN_COMBO_Split_", kSplitCount},
    {ListKind::Fps, "STR_GLOBAL_COMBO_OUTPUTFRAMERATE_", FrameRateTable::kCount},
    {ListKind::Resize, "STR_CLI_COMBO_Resize_", kVideoResizeCount},
    {ListKind::Deinterlace, "STR_GLOBAL_COMBO_DEINTERLACE_", 4},
    {ListKind::Downsampling, "STR_GLOBAL_COMBO_DOWNSAMPLING_", 5},
};

const ListDefinition& definition(ListKind kind) {
    for (const auto& d : kLists)
        if (d.kind == kind) return d;
    return kLists[0];
}

std::string textOf(const StringTable* strings, const std::string& key) {
    return strings ? strings->text(key) : std::string(StringTable::defaultText(key));
}

std::vector<std::string> entriesOf(ListKind kind, const StringTable* strings) {
    const ListDefinition& d = definition(kind);
    std::vector<std::string> entries;
    for (int i = 0; i < d.count; ++i)
        entries.push_back(textOf(strings, d.prefix + std::to_string(i)));
    return entries;
}

std::string listNameOf(ListKind kind) {
    for (const auto& [name, k] : listNames())
        if (k == kind) return std::string(name);
    return {};
}

std::string rangeProblem(const std::string& name, long long value, long long low, long long high) {
    const std::string given = ", not " + std::to_string(value);
    if (high == std::numeric_limits<int>::max())
        return name + " needs at least " + std::to_string(low) + given;
    return name + " takes " + std::to_string(low) + " to " + std::to_string(high) + given;
}

// "0.5,0.25": numbers separated by commas, each checked.
std::optional<std::vector<double>> parseReals(const std::string& text, size_t count) {
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        auto value = parseReal(std::string_view(text).substr(start, comma - start));
        if (!value) return std::nullopt;
        values.push_back(*value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() != count) return std::nullopt;
    return values;
}

}  // namespace

// --- Lists --------------------------------------------------------------------

const std::vector<std::pair<std::string_view, ListKind>>& listNames() {
    static const std::vector<std::pair<std::string_view, ListKind>> names = {
        {"formats", ListKind::Formats},
        {"zoom", ListKind::Zoom},
        {"split", ListKind::Split},
        {"fps", ListKind::Fps},
        {"resize", ListKind::Resize},
        {"deinterlace", ListKind::Deinterlace},
        {"downsampling", ListKind::Downsampling}};
    return names;
}

std::optional<ListKind> listByName(std::string_view name) {
    for (const auto& [n, kind] : listNames())
        if (n == name) return kind;
    return std::nullopt;
}

std::vector<std::string> listEntries(ListKind kind, const StringTable& strings) {
    return entriesOf(kind, &strings);
}

std::optional<int> findEntry(const std::vector<std::string>& entries, std::string_view given) {
    if (auto n = parseInteger(given, 0, (long long)entries.size() - 1)) return int(*n);
    const std::string text(given);
    for (size_t i = 0; i < entries.size(); ++i)
        if (!text.empty() && strcasecmp(entries[i].c_str(), text.c_str()) == 0) return int(i);
    return std::nullopt;
}

int printList(std::string_view name, const StringTable& strings) {
    auto kind = listByName(name);
    if (!kind) {
        std::fprintf(stderr, "zembra: --list takes %s, not '%.*s'\n", listOptionHelp().c_str(),
                     int(name.size()), name.data());
        return kExitUsage;
    }
    const auto entries = listEntries(*kind, strings);
    for (size_t i = 0; i < entries.size(); ++i) std::printf("%2zu  %s\n", i, entries[i].c_str());
    return kExitOk;
}

std::string listOptionHelp() {
    std::string names;
    for (const auto& [name, kind] : listNames()) {
        if (!names.empty()) names += '|';
        names.append(name);
    }
    return names;
}

// --- Numbers ------------------------------------------------------------------

std::optional<long long> parseInteger(std::string_view text, long long low, long long high) {
    const std::string s(text);
    if (s.empty() || !(s[0] == '-' || s[0] == '+' || (s[0] >= '0' && s[0] <= '9')))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || end == s.c_str() || v < low || v > high)
        return std::nullopt;
    return v;
}

std::optional<double> parseReal(std::string_view text) {
    const std::string s(text);
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

// --- The parser ---------------------------------------------------------------

OptionParser::OptionParser(std::string command, std::string operands, const StringTable* strings)
    : command_(std::move(command)), operandsText_(std::move(operands)), strings_(strings) {}

void OptionParser::heading(std::string title) {
    Option o;
    o.name = std::move(title);
    o.heading = true;
    options_.push_back(std::move(o));
}

void OptionParser::flag(std::string name, bool& target, std::string help) {
    options_.push_back({std::move(name), "", std::move(help), false, [&target](const std::string&) {
                            target = true;
                            return std::string();
                        }});
}

void OptionParser::setter(std::string name, std::optional<bool>& target, bool value,
                          std::string help) {
    options_.push_back(
        {std::move(name), "", std::move(help), false, [&target, value](const std::string&) {
             target = value;
             return std::string();
         }});
}

void OptionParser::integer(std::string name, std::optional<int>& target, int low, int high,
                           std::string help, std::string meta) {
    options_.push_back({name, std::move(meta), std::move(help), false,
                        [&target, low, high, name](const std::string& value) {
                            constexpr long long kAny = std::numeric_limits<long long>::max();
                            auto n = parseInteger(value, -kAny, kAny);
                            if (!n) return name + " needs a number, not '" + value + "'";
                            if (*n < low || *n > high) return rangeProblem(name, *n, low, high);
                            target = int(*n);
                            return std::string();
                        }});
}

void OptionParser::real(std::string name, std::optional<double>& target, double low, double high,
                        std::string help, std::string meta) {
    options_.push_back({name, std::move(meta), std::move(help), false,
                        [&target, low, high, name](const std::string& value) {
                            auto v = parseReal(value);
                            if (!v) return name + " needs a number, not '" + value + "'";
                            if (*v < low || *v > high) {
                                char text[128];
                                std::snprintf(text, sizeof text, " takes %g to %g, not %s", low,
                                              high, value.c_str());
                                return name + text;
                            }
                            target = *v;
                            return std::string();
                        }});
}

void OptionParser::text(std::string name, std::optional<std::string>& target, std::string meta,
                        std::string help) {
    options_.push_back(
        {std::move(name), std::move(meta), std::move(help), false, [&target](const std::string& v) {
             target = v;
             return std::string();
         }});
}

void OptionParser::list(std::string name, std::optional<int>& target, ListKind kind,
                        std::string help) {
    const StringTable* strings = strings_;
    const std::string listName = listNameOf(kind);
    help += " (zembra " + command_ + " --list " + listName + ")";
    options_.push_back({name, "N|TEXT", std::move(help), false,
                        [&target, kind, strings, name, listName](const std::string& value) {
                            const auto entries = entriesOf(kind, strings);
                            auto index = findEntry(entries, value);
                            const long long last = (long long)entries.size() - 1;
                            constexpr long long kAny = std::numeric_limits<long long>::max();
                            if (auto n = parseInteger(value, -kAny, kAny); n && !index)
                                return rangeProblem(name, *n, 0, last);
                            if (!index) {
                                std::string problem = name + " takes 0 to " + std::to_string(last) +
                                                      " or an entry's text, not '" + value +
                                                      "'; the list holds:";
                                for (size_t i = 0; i < entries.size(); ++i)
                                    problem += "\n  " + std::to_string(i) + "  " + entries[i];
                                return problem;
                            }
                            target = *index;
                            return std::string();
                        }});
}

void OptionParser::custom(std::string name, std::string meta, std::string help,
                          std::function<std::string(const std::string&)> take) {
    options_.push_back({std::move(name), std::move(meta), std::move(help), false, std::move(take)});
}

void OptionParser::operands(std::vector<std::string>& target, size_t least, size_t most) {
    operands_ = &target;
    least_ = least;
    most_ = most;
}

void OptionParser::footer(std::string text) { footer_ = std::move(text); }

const OptionParser::Option* OptionParser::find(std::string_view name) const {
    for (const auto& o : options_)
        if (!o.heading && o.name == name) return &o;
    return nullptr;
}

bool OptionParser::given(std::string_view name) const {
    for (const auto& g : given_)
        if (g == name) return true;
    return false;
}

OptionParser::Outcome OptionParser::parse(const std::vector<std::string>& args) {
    problem_.clear();
    bool onlyOperands = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyOperands || a == "-" || a.empty() || a[0] != '-') {
            if (!operands_ || operands_->size() >= most_) {
                problem_ = "unexpected '" + a + "'";
                return Outcome::Usage;
            }
            operands_->push_back(a);
            continue;
        }
        if (a == "--") {  // what follows are operands, even when it starts with '-'
            onlyOperands = true;
            continue;
        }
        if (a == "--help" || a == "-h") return Outcome::Help;
        // --name=value is the same as --name value.
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const Option* option = find(name);
        if (!option) {
            problem_ = "unknown option " + name;
            return Outcome::Usage;
        }
        std::string value;
        if (!option->meta.empty()) {
            if (eq != std::string::npos)
                value = a.substr(eq + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else {
                problem_ = name + " needs a value (" + option->meta + ")";
                return Outcome::Usage;
            }
        } else if (eq != std::string::npos) {
            problem_ = name + " takes no value";
            return Outcome::Usage;
        }
        problem_ = option->take(value);
        if (!problem_.empty()) return Outcome::Usage;
        given_.push_back(name);
    }
    if (operands_ && operands_->size() < least_) {
        problem_ = operandsText_.empty() ? "an operand is missing" : operandsText_ + " missing";
        return Outcome::Usage;
    }
    return Outcome::Run;
}

std::string OptionParser::help() const {
    std::string out = "usage: zembra " + command_;
    if (!operandsText_.empty()) out += " " + operandsText_;
    out += " [options]\n";
    for (const auto& o : options_) {
        if (o.heading) {
            out += "\n" + o.name + ":\n";
            continue;
        }
        std::string left = "  " + o.name + (o.meta.empty() ? "" : " " + o.meta);
        if (left.size() < 26)
            left.resize(26, ' ');
        else
            left += "\n" + std::string(26, ' ');
        out += left + o.help + "\n";
    }
    out += "\n  --help                  this text\n";
    if (!footer_.empty()) out += "\n" + footer_;
    return out;
}

std::optional<int> OptionParser::parseOrExit(const std::vector<std::string>& args) {
    switch (parse(args)) {
        case Outcome::Run:
            return std::nullopt;
        case Outcome::Help:
            std::fputs(help().c_str(), stdout);
            return kExitOk;
        case Outcome::Usage:
            break;
    }
    std::fprintf(stderr, "zembra %s: %s (zembra %s --help lists the options)\n", command_.c_str(),
                 problem_.c_str(), command_.c_str());
    return kExitUsage;
}

// --- Shared options -------------------------------------------------------------

void addTitleOption(OptionParser& p, std::optional<int>& title, bool& mainTitle) {
    p.custom("--title", "N|main",
             "title: its position in the Index list, from 0; main: the main feature",
             [&title, &mainTitle](const std::string& v) {
                 if (v == "main") {
                     mainTitle = true;
                     return std::string();
                 }
                 auto n = parseInteger(v, std::numeric_limits<int>::min(),
                                       std::numeric_limits<int>::max());
                 if (!n) return "--title needs a number or main, not '" + v + "'";
                 title = int(*n);
                 return std::string();
             });
}

void addStreamOptions(OptionParser& p, SettingChoices& c, bool withAngle) {
    // Any number here: the title's lists say which they hold, and the
    // message names their range.
    const int low = std::numeric_limits<int>::min(), any = std::numeric_limits<int>::max();
    p.heading("Title and streams (positions in the window's lists)");
    addTitleOption(p, c.title, c.mainTitle);
    p.integer("--audio", c.audio, low, any, "audio track: its position in the Audio list, from 0");
    p.integer("--subtitle", c.subtitle, low, any,
              "subtitle to burn in: its position in the Subtitle list, 0 = None, 1 = the first");
    if (withAngle)
        p.integer("--angle", c.angle, low, any, "angle: its position in the Angle list, from 0");
}

void addDecoderOptions(OptionParser& p, SettingChoices& c) {
    p.heading("Decoding (stored in options.ini, as the Global tab sets them)");
    p.list("--fps-index", c.fpsIndex, ListKind::Fps, "output frame rate");
    p.list("--downsampling", c.downsampling, ListKind::Downsampling, "audio output rate");
    p.list("--deinterlace", c.deinterlace, ListKind::Deinterlace, "deinterlace filter");
    p.setter("--detect24", c.detect24, true, "detect 24 fps film in 29.97 fps video");
    p.setter("--no-detect24", c.detect24, false, "keep the stream's frame rate");
    p.real("--ac3-gain", c.ac3Gain, 0, 100, "AC-3 output gain (3.0 by default)", "GAIN");
    p.setter("--dolby", c.dolby, true, "Dolby Surround down-mix of multichannel AC-3");
    p.setter("--no-dolby", c.dolby, false, "plain stereo down-mix");
    p.integer("--idct", c.idct, 0, 4, "inverse DCT (0-4, as the Global tab's iDCT list)");
    p.custom("--luminance", "GAIN,OFFSET", "luminance filter on with this gain and offset",
             [&c](const std::string& v) {
                 auto values = parseReals(v, 2);
                 if (!values || (*values)[0] != std::floor((*values)[0]) ||
                     (*values)[1] != std::floor((*values)[1]) || std::fabs((*values)[0]) > 1e6 ||
                     std::fabs((*values)[1]) > 1e6)
                     return std::string("--luminance needs GAIN,OFFSET (whole numbers)");
                 c.luminance = {int((*values)[0]), int((*values)[1])};
                 return std::string();
             });
    p.integer("--sub-color", c.subColor, 0, 1, "subtitle colours: 1 from the disc, 0 fixed");
    p.integer("--sub-offset", c.subOffset, -100000, 100000, "subtitle offset");
}

void addPictureOptions(OptionParser& p, SettingChoices& c) {
    p.heading("Output picture");
    p.integer("--width", c.width, kMinOutputSide, kMaxOutputSide,
              "output width (rounded down to a multiple of 16)", "W");
    p.integer("--height", c.height, kMinOutputSide, kMaxOutputSide,
              "output height (rounded down to a multiple of 16)", "H");
    p.list("--zoom", c.zoom, ListKind::Zoom, "zoom");
    p.list("--resize", c.resize, ListKind::Resize, "resampling kernel");
    p.custom("--crop", "X1,X2,Y1,Y2", "crop rectangle in fractions of the source (0..1)",
             [&c](const std::string& v) {
                 auto x = parseReals(v, 4);
                 if (!x) return std::string("--crop needs X1,X2,Y1,Y2 (fractions 0..1)");
                 // As the crop dialog refuses them: a rectangle turned round or
                 // beyond the picture's sides (above and below, bands are allowed).
                 const auto& r = *x;
                 if (!(r[0] >= 0 && r[0] < r[1] && r[1] <= 1 && r[2] < r[3]))
                     return std::string("--crop needs 0 <= X1 < X2 <= 1 and Y1 < Y2");
                 c.crop = std::array<double, 4>{r[0], r[1], r[2], r[3]};
                 return std::string();
             });
}

void addEncoderOptions(OptionParser& p, SettingChoices& c) {
    p.heading("MPEG encoder (stored in options.ini, as the MPEG settings set them)");
    p.custom("--motion-search", "N|best",
             "motion search: 0 normal (fast), 1 good, 2 high (slow), 3 very high, 4 best",
             [&c](const std::string& v) {
                 if (strcasecmp(v.c_str(), "best") == 0) {
                     c.motionSearch = kBestMotionSearch;
                     return std::string();
                 }
                 constexpr long long kAny = std::numeric_limits<long long>::max();
                 const auto n = parseInteger(v, -kAny, kAny);
                 if (!n) return "--motion-search needs a number or best, not '" + v + "'";
                 if (*n < 0 || *n >= kMotionSearchLevels)
                     return rangeProblem("--motion-search", *n, 0, kMotionSearchLevels - 1);
                 c.motionSearch = int(*n);
                 return std::string();
             });
    p.integer("--adaptive-quant", c.adaptiveQuant, 0, kAdaptiveQuantLevels - 1,
              "motion search best: how far the quantiser follows each macroblock's detail, "
              "0 none (one quantiser a picture) to 4 as far as levels 0-3 do");
    p.integer("--cpu", c.cpu, 0, 3, "calculation: 0 MMX, 1 3DNow, 2 SSE2, 3 normal");
    p.integer("--dct", c.dct, 0, 2, "forward DCT: 0 MMX, 1 SSE2, 2 FPU (best quality)");
    p.integer("--quantmat", c.quantMat, 0, 1, "quantiser matrices: 0 default, 1 standard");
    p.setter("--pulldown", c.pulldown, true, "3:2 pulldown flags (24 fps coded for 29.97 fps)");
}

void addThreadOption(OptionParser& p, SettingChoices& c) {
    p.heading("Threads (stored in options.ini, as the MPEG tab sets them)");
    p.integer("--threads", c.threads, 0, kMaxThreads,
              "worker threads: 0 one per core (the default), 1 a single-threaded run");
}

void applyThreadChoice(const SettingChoices& c, ApplicationSettings& app) {
    if (c.threads) app.threads = *c.threads;
}

void applyDecoderChoices(const SettingChoices& c, InputSettings& in) {
    if (c.fpsIndex) in.frameRate = *c.fpsIndex;
    if (c.downsampling) in.downSampling = *c.downsampling;
    if (c.deinterlace) in.deinterlace = *c.deinterlace;
    if (c.detect24) in.detect24Fps = *c.detect24;
    if (c.ac3Gain) in.ac3Gain = *c.ac3Gain;
    if (c.dolby) in.dolby = *c.dolby;
    if (c.idct) in.idct = *c.idct;
    if (c.subColor) in.subtitleColors = *c.subColor;
    if (c.subOffset) in.subtitleOffset = *c.subOffset;
    if (c.luminance) {
        in.luminanceFilter = true;
        in.luminanceGain = c.luminance->first;
        in.luminanceOffset = c.luminance->second;
    }
}

void applyPictureChoices(const SettingChoices& c, OutputSettings& out) {
    if (c.zoom) applyZoom(*c.zoom, out);
    if (c.width) out.width = *c.width;
    if (c.height) out.height = *c.height;
    if (c.resize) out.videoResize = *c.resize;
    if (c.crop) {
        out.cropLeft = (*c.crop)[0];
        out.cropRight = (*c.crop)[1];
        out.cropTop = (*c.crop)[2];
        out.cropBottom = (*c.crop)[3];
    }
}

void applyEncoderChoices(const SettingChoices& c, OutputSettings& out) {
    if (c.motionSearch) out.motionSearch = *c.motionSearch;
    if (c.adaptiveQuant) out.adaptiveQuant = *c.adaptiveQuant;
    if (c.cpu) out.cpu = *c.cpu;
    if (c.dct) out.dct = *c.dct;
    if (c.quantMat) out.quantMatrix = *c.quantMat;
    if (c.pulldown) out.pulldown = *c.pulldown;
}

bool anyEncoderChoice(const SettingChoices& c) {
    return c.motionSearch || c.adaptiveQuant || c.cpu || c.dct || c.quantMat || c.pulldown;
}

void catchStopRequests() {
    ConsoleHost::catchInterrupt();
    ConsoleHost::catchStopSignals();
}

int stoppedStatus() {
    const int signal = ConsoleHost::stopSignal();
    return signal ? 128 + signal : kExitInterrupted;
}

}  // namespace zembra::cli
