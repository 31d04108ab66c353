// zembra rip: the main window's work from the command line. Each source is
// opened as Open DVD, Open IFO or Open VOB would open it, the options are
// applied to every row as the window's lists and dialogs would apply them,
// and "Rip Now" runs. Settings change for this run only unless --save.

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "app/geometry/output_geometry.h"
#include "app/output_options.h"
#include "app/source_kind.h"
#include "cli/command.h"
#include "platform/console_host.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: zembra rip SOURCE... [options]\n"
    "  SOURCE: a DVD folder (VIDEO_TS or above it), a disc image or drive, an IFO file,\n"
    "          or VOB/MPEG files\n"
    "  --title N --audio N --subtitle N --angle N   list positions, as the window shows them\n"
    "  --format N|TEXT       Format list entry (index or its text), e.g. \"AVI\", \"VCD\"\n"
    "  --width W --height H  output size (rounded down to a multiple of 16)\n"
    "  --zoom N --crop X1,X2,Y1,Y2 --resize N\n"
    "  --fps-index N --downsampling N --deinterlace N --luminance GAIN,OFFSET\n"
    "  --split N --split-size MB --overlap S\n"
    "  --output-dir DIR --name NAME\n"
    "  --video-codec NAME --codec-opt KEY=VALUE ... --two-pass --no-video\n"
    "  --export rgb32|rgb24|yuy2\n"
    "  --avi-audio none|wav|mp3|acm:NAME --mp3-bitrate K --mp3-quality Q --mp3-joint\n"
    "  --overwrite --priority N --shutdown --yes --no --save --quiet\n";

struct RipOptions {
    std::vector<std::string> sources;
    std::optional<int> title, audio, subtitle, angle, zoom, split, resize, width, height;
    std::optional<int> fpsIndex, downsampling, deinterlace, splitSize, overlap, priority;
    std::optional<int> exportFormat, aviAudio, mp3BitRate, mp3Quality;
    std::optional<std::string> format, outputDir, name;
    std::optional<std::array<double, 4>> crop;
    std::optional<std::pair<int, int>> luminance;
    zembra::AviChoices avi;
    bool twoPass = false, noVideo = false, overwrite = false, shutdown = false;
    bool save = false, quiet = false, mp3Joint = false;
    zembra::QuestionPolicy policy = zembra::QuestionPolicy::Ask;
};

bool parseInt(const std::string& text, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) return false;
    out = int(v);
    return true;
}

// Fills `o` from the arguments; an empty string, or what was wrong.
std::string parseOptions(const std::vector<std::string>& args, RipOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string* {
            return i + 1 < args.size() ? &args[++i] : nullptr;
        };
        auto integer = [&](std::optional<int>& slot) -> std::string {
            const std::string* v = value();
            int n;
            if (!v || !parseInt(*v, n)) return a + " needs a number";
            slot = n;
            return {};
        };
        // A number the option cannot take is refused with the range it can.
        auto ranged = [&](std::optional<int>& slot, int low, int high) -> std::string {
            if (std::string problem = integer(slot); !problem.empty()) return problem;
            if (*slot >= low && *slot <= high) return {};
            const std::string given = ", not " + std::to_string(*slot);
            if (high == std::numeric_limits<int>::max())
                return a + " needs at least " + std::to_string(low) + given;
            return a + " takes " + std::to_string(low) + " to " + std::to_string(high) + given;
        };
        auto text = [&](std::optional<std::string>& slot) -> std::string {
            const std::string* v = value();
            if (!v) return a + " needs a value";
            slot = *v;
            return {};
        };
        std::string problem;
        if (a == "--") {  // what follows are sources, even when it starts with '-'
            o.sources.insert(o.sources.end(), args.begin() + long(i) + 1, args.end());
            break;
        }
        if (a == "--help" || a == "-h") return "help";
        if (a == "--title")
            problem = integer(o.title);
        else if (a == "--audio")
            problem = integer(o.audio);
        else if (a == "--subtitle")
            problem = integer(o.subtitle);
        else if (a == "--angle")
            problem = integer(o.angle);
        else if (a == "--zoom")
            problem = ranged(o.zoom, 0, zembra::kZoomCount - 1);
        else if (a == "--split")
            problem = ranged(o.split, 0, zembra::kSplitCount - 1);
        else if (a == "--resize")
            problem = ranged(o.resize, 0, zembra::kVideoResizeCount - 1);
        else if (a == "--width")
            problem = ranged(o.width, zembra::kMinOutputSide, zembra::kMaxOutputSide);
        else if (a == "--height")
            problem = ranged(o.height, zembra::kMinOutputSide, zembra::kMaxOutputSide);
        else if (a == "--fps-index")
            problem = ranged(o.fpsIndex, 0, zembra::FrameRateTable::kCount - 1);
        else if (a == "--downsampling")
            problem = ranged(o.downsampling, 0, 4);
        else if (a == "--deinterlace")
            problem = ranged(o.deinterlace, 0, 3);
        else if (a == "--split-size")  // in MB; 0 would start a piece at every frame
            problem = ranged(o.splitSize, 1, std::numeric_limits<int>::max());
        else if (a == "--overlap")
            problem = integer(o.overlap);
        else if (a == "--priority")
            problem = ranged(o.priority, 0, 3);
        else if (a == "--mp3-bitrate")
            problem = integer(o.mp3BitRate);
        else if (a == "--mp3-quality")
            problem = integer(o.mp3Quality);
        else if (a == "--format")
            problem = text(o.format);
        else if (a == "--output-dir")
            problem = text(o.outputDir);
        else if (a == "--name") {
            problem = text(o.name);
            // The name is a file's in the output folder, never a way out of it.
            if (problem.empty() && (o.name->empty() || o.name->find('/') != std::string::npos))
                problem = "--name takes a file name without a folder, not '" + *o.name + "'";
        } else if (a == "--crop") {
            const std::string* v = value();
            std::array<double, 4> c{};
            if (!v || std::sscanf(v->c_str(), "%lf,%lf,%lf,%lf", &c[0], &c[1], &c[2], &c[3]) != 4)
                problem = "--crop needs X1,X2,Y1,Y2 (fractions 0..1)";
            // As the crop dialog refuses them: a rectangle turned round or
            // beyond the picture's sides (above and below, bands are allowed).
            else if (!(c[0] >= 0 && c[0] < c[1] && c[1] <= 1 && std::isfinite(c[2]) &&
                       std::isfinite(c[3]) && c[2] < c[3]))
                problem = "--crop needs 0 <= X1 < X2 <= 1 and Y1 < Y2";
            else
                o.crop = c;
        } else if (a == "--luminance") {
            const std::string* v = value();
            std::pair<int, int> l;
            if (!v || std::sscanf(v->c_str(), "%d,%d", &l.first, &l.second) != 2)
                problem = "--luminance needs GAIN,OFFSET";
            else
                o.luminance = l;
        } else if (a == "--video-codec") {
            const std::string* v = value();
            if (!v)
                problem = "--video-codec needs a name";
            else
                o.avi.videoCodec = *v;
        } else if (a == "--codec-opt") {
            const std::string* v = value();
            if (!v || v->find('=') == std::string::npos)
                problem = "--codec-opt needs KEY=VALUE";
            else
                o.avi.codecOptions.push_back(*v);
        } else if (a == "--export") {
            const std::string* v = value();
            if (v && *v == "rgb32")
                o.exportFormat = 0;
            else if (v && *v == "rgb24")
                o.exportFormat = 1;
            else if (v && *v == "yuy2")
                o.exportFormat = 3;
            else
                problem = "--export takes rgb32, rgb24 or yuy2";
        } else if (a == "--avi-audio") {
            const std::string* v = value();
            if (v && *v == "none")
                o.aviAudio = 0;
            else if (v && *v == "wav")
                o.aviAudio = 1;
            else if (v && *v == "mp3")
                o.aviAudio = 2;
            else if (v && v->rfind("acm:", 0) == 0 && v->size() > 4) {
                o.aviAudio = 3;
                o.avi.audioConverter = v->substr(4);
            } else
                problem = "--avi-audio takes none, wav, mp3 or acm:NAME";
        } else if (a == "--two-pass")
            o.twoPass = true;
        else if (a == "--no-video")
            o.noVideo = true;
        else if (a == "--mp3-joint")
            o.mp3Joint = true;
        else if (a == "--overwrite")
            o.overwrite = true;
        else if (a == "--shutdown")
            o.shutdown = true;
        else if (a == "--yes")
            o.policy = zembra::QuestionPolicy::AlwaysYes;
        else if (a == "--no")
            o.policy = zembra::QuestionPolicy::AlwaysNo;
        else if (a == "--save")
            o.save = true;
        else if (a == "--quiet")
            o.quiet = true;
        else if (a.size() > 1 && a[0] == '-')
            problem = "unknown option " + a;
        else
            o.sources.push_back(a);
        if (!problem.empty()) return problem;
    }
    if (o.sources.empty()) return "no source given";
    return {};
}

// A headless main window: no choosers (everything comes from the command line).
class CliView : public zembra::MainView {
public:
    std::optional<std::string> chooseFolder(const std::string&) override { return std::nullopt; }
    std::vector<std::string> chooseFiles(const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
};

void openSource(zembra::EncodeDlg& dlg, const std::string& source) {
    switch (zembra::sourceKindOf(source)) {
        case zembra::SourceKind::Dvd:
            dlg.openDvdFolder(source);  // a folder's title sets, an image or a drive
            break;
        case zembra::SourceKind::Ifo:
            dlg.openIfoFiles({source});
            break;
        case zembra::SourceKind::Vob:
            dlg.openVobFiles({source});
            break;
    }
}

// The per-row choices and the setting overrides, as the window's lists and
// dialogs would set them for the current row.
// A list position the row's list does not have: what is wrong, else empty.
std::string outsideList(const char* option, const std::optional<int>& position,
                        const zembra::ChoiceList& list) {
    const int count = int(list.entries.size());
    if (!position || (*position >= 0 && *position < count)) return {};
    const std::string given = ", not " + std::to_string(*position);
    if (count == 0) return std::string(option) + ": the list is empty" + given;
    return std::string(option) + " takes 0 to " + std::to_string(count - 1) + given;
}

// A VOB or MPEG row: its title and streams are known only once its rip
// scans the file.
bool isScannedAtRip(const zembra::EncodeDlg& dlg) {
    const int row = dlg.currentItem();
    return row >= 0 && row < int(dlg.rows().size()) &&
           zembra::sourceKindOf(dlg.rows()[size_t(row)].sourcePath) == zembra::SourceKind::Vob;
}

// The row's list choices, each checked against its list as it stands once
// the choices before it are made (the title decides the streams); what was
// wrong, else empty.
std::string chooseInLists(zembra::EncodeDlg& dlg, zembra::SettingsStore& s, const RipOptions& o) {
    std::string problem = outsideList("--title", o.title, dlg.indexList);
    if (problem.empty() && o.title) dlg.chooseIndex(*o.title);
    if (isScannedAtRip(dlg)) {
        // The stream lists come with the scan at the start of the row's rip:
        // the choices are checked against what it lists (8 audio tracks,
        // "None" and 32 subtitle streams) and kept in the row's settings,
        // which the refilled lists take up.
        zembra::ChoiceList audio, subtitles;
        audio.entries.resize(8);
        subtitles.entries.resize(33);
        if (problem.empty()) problem = outsideList("--audio", o.audio, audio);
        if (problem.empty() && o.audio) s.input.AudioTrack = *o.audio;
        if (problem.empty()) problem = outsideList("--subtitle", o.subtitle, subtitles);
        if (problem.empty() && o.subtitle) s.input.Subtitle = *o.subtitle;
    } else {
        if (problem.empty()) problem = outsideList("--audio", o.audio, dlg.audioList);
        if (problem.empty() && o.audio) dlg.chooseAudio(*o.audio);
        if (problem.empty()) problem = outsideList("--subtitle", o.subtitle, dlg.subtitleList);
        if (problem.empty() && o.subtitle) dlg.chooseSubtitle(*o.subtitle);
    }
    if (problem.empty()) problem = outsideList("--angle", o.angle, dlg.angleList);
    if (problem.empty() && o.angle) dlg.chooseAngle(*o.angle);
    return problem;
}

void applyToCurrentRow(zembra::EncodeDlg& dlg, zembra::SettingsStore& s, const RipOptions& o,
                       int formatIndex) {
    // The frame rate and sound rate first: a preset without a size of its
    // own for that rate ("Custom MPEG1" at 24 fps) then keeps the stored size,
    // and presets that set them still win, as when the rip starts.
    zembra::InputSettings& in = s.input;
    zembra::OutputSettings& out = s.output;
    if (o.fpsIndex) in.FrameRate = *o.fpsIndex;
    if (o.downsampling) in.DownSampling = *o.downsampling;
    if (formatIndex >= 0) dlg.chooseFormat(formatIndex);
    if (o.zoom) dlg.chooseZoom(*o.zoom);
    if (o.split) dlg.chooseSplit(*o.split);
    // Two passes cannot split by size: without a split option, --two-pass
    // rips whole titles rather than being refused.
    else if (o.twoPass && !o.splitSize)
        dlg.chooseSplit(0);
    if (o.splitSize) {
        dlg.chooseSplit(5);
        out.Volume = *o.splitSize;
    }
    if (o.width) out.Width = *o.width;
    if (o.height) out.Height = *o.height;
    if (o.resize) out.VideoResize = *o.resize;
    if (o.crop) {
        out.X1 = (*o.crop)[0];
        out.X2 = (*o.crop)[1];
        out.Y1 = (*o.crop)[2];
        out.Y2 = (*o.crop)[3];
    }
    if (o.deinterlace) in.Deinterlace = *o.deinterlace;
    if (o.luminance) {
        in.LuminanceFilter = 1;
        in.LuminanceGain = o.luminance->first;
        in.LuminanceOffset = o.luminance->second;
    }
    if (o.overlap) in.OverLapped = *o.overlap;
    if (o.shutdown) in.ShutDown = 1;
    dlg.settingsChanged();
}

// Output settings that StartRip takes from the window rather than the row.
void applyGlobal(zembra::SettingsStore& s, const RipOptions& o) {
    zembra::OutputSettings& out = s.output;
    zembra::ApplicationSettings& app = s.app;
    if (o.twoPass) out.Enable2Pass = 1;
    if (o.noVideo) out.DoAVIVideo = 0;
    if (o.exportFormat) out.ExportYUV = *o.exportFormat;
    if (o.aviAudio) out.DoAVIAudio = *o.aviAudio;
    if (o.overwrite) out.OverWrite = 1;
    if (o.mp3BitRate) app.BitRate = *o.mp3BitRate;
    if (o.mp3Quality) app.Quality = *o.mp3Quality;
    if (o.mp3Joint) app.Stereo = 1;
}

zembra::EncodeDlg* g_dlg = nullptr;

// Ctrl-C is the Cancel button: on a terminal the question is asked as the
// button would ask it; otherwise the rip stops at once. SIGTERM and SIGHUP
// (a logout, a service stop) stop at once too: nobody is left to answer.
void onInterrupt(void*) {
    if (!g_dlg || !g_dlg->ripping()) return;
    if (isatty(STDIN_FILENO) && !zembra::ConsoleHost::stopSignal())
        g_dlg->StartRip();
    else
        g_dlg->cancelNow();
}

int runRip(const std::vector<std::string>& args) {
    RipOptions o;
    if (std::string problem = parseOptions(args, o); !problem.empty()) {
        if (problem == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "zembra rip: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    zembra::CZembraApp app;
    app.InitInstance();
    app.loadSettings();
    zembra::SettingsStore& settings = app.settings();
    if (settings.optionsUnreadable())
        std::fprintf(stderr, "zembra rip: cannot read %s; the default settings are used\n",
                     app.optionsFile().c_str());
    zembra::ConsoleHost host(&app.strings(), o.policy);
    host.setQuiet(o.quiet);
    zembra::EngineSet engines(host, settings);
    CliView view;
    zembra::EncodeDlg dlg(host, settings, engines.catalogue(), engines.ripEngines(), &view);
    g_dlg = &dlg;

    if (o.outputDir) {
        std::error_code ec;
        fs::create_directories(*o.outputDir, ec);
        dlg.setOutputFolderText(fs::absolute(*o.outputDir, ec).string());
    }
    if (o.priority) dlg.setPriorityCommand(*o.priority);
    applyGlobal(settings, o);
    o.avi.twoPass = o.twoPass;
    if (o.mp3BitRate) o.avi.audioKbps = *o.mp3BitRate;
    if (std::string problem = engines.applyAviChoices(o.avi); !problem.empty()) {
        std::fprintf(stderr, "zembra rip: %s\n", problem.c_str());
        return 2;
    }
    const zembra::OutputSettings globalOutput = settings.output;

    for (const std::string& source : o.sources) openSource(dlg, source);
    if (dlg.rows().empty()) {
        std::fprintf(stderr, "zembra rip: no title found in the sources given\n");
        return 1;
    }
    int formatIndex = -1;
    if (o.format) {
        formatIndex = zembra::findFormat(host, *o.format).value_or(-1);
        if (formatIndex < 0) {
            std::fprintf(stderr, "zembra rip: unknown format '%s'; the list holds:\n",
                         o.format->c_str());
            for (size_t i = 0; i < dlg.formatList.entries.size(); ++i)
                std::fprintf(stderr, "  %zu  %s\n", i, dlg.formatList.entries[i].c_str());
            return 2;
        }
    }
    const int rowCount = int(dlg.rows().size());
    for (int row = 0; row < rowCount; ++row) {
        dlg.selectRow(row);
        if (std::string problem = chooseInLists(dlg, settings, o); !problem.empty()) {
            std::fprintf(stderr, "zembra rip: %s (%s)\n", problem.c_str(),
                         dlg.rows()[size_t(row)].sourcePath.c_str());
            return 2;
        }
        applyToCurrentRow(dlg, settings, o, formatIndex);
        if (o.name)
            dlg.setOutputName(row, rowCount == 1 ? *o.name : *o.name + "_" + std::to_string(row));
    }
    // The AVI tab's choices hold for every row, whatever row was applied last.
    settings.output.DoAVIAudio = globalOutput.DoAVIAudio;
    settings.output.DoAVIVideo = globalOutput.DoAVIVideo;
    settings.output.Enable2Pass = globalOutput.Enable2Pass;
    dlg.CheckAll();

    const zembra::OutputSettings& chosen = settings.output;
    if (chosen.MPEGStream >= 2 && chosen.DoAVIVideo && chosen.AVIfccHandler == 0)
        std::fprintf(stderr,
                     "zembra rip: no video compressor chosen yet; pick one with --video-codec "
                     "(zembra codecs lists them)\n");
    zembra::ConsoleHost::catchInterrupt();
    zembra::ConsoleHost::catchStopSignals();
    host.setInterruptHandler(onInterrupt, nullptr);
    dlg.StartRip();
    host.finishLine();
    g_dlg = nullptr;

    const int checked = rowCount;
    std::fprintf(stderr, "%s\n", dlg.monitorLine.c_str());
    std::fprintf(stderr, "zembra rip: %d of %d title(s) ripped to %s\n", dlg.rowsCompleted(),
                 checked, settings.app.OutputPath.c_str());
    if (o.save && !app.saveSettings())
        std::fprintf(stderr, "zembra rip: cannot write %s\n", app.optionsFile().c_str());
    app.ExitInstance();
    // Stopped by a signal: the status a shell or service manager expects.
    if (const int signal = zembra::ConsoleHost::stopSignal()) return 128 + signal;
    return dlg.rowsCompleted() == checked ? 0 : 1;
}

}  // namespace

ZEMBRA_COMMAND("rip", "rip SOURCE... [options]   (zembra rip --help for the options)",
               "convert the titles of DVD sources to AVI or MPEG files", runRip);
