// zembra rip: the main window's work from the command line. Each source is
// opened as Open DVD, Open IFO or Open VOB would open it, the options are
// applied to every row as the window's lists and dialogs would apply them,
// and "Rip Now" runs. Settings change for this run only unless --save.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "app/output_options.h"
#include "app/source_kind.h"
#include "cli/command.h"
#include "cli/open_source.h"
#include "cli/options.h"
#include "geometry/output_geometry.h"
#include "platform/console_host.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

using zembra::cli::OptionParser;

struct RipOptions {
    std::vector<std::string> sources;
    zembra::cli::SettingChoices choices;
    std::optional<int> format, split, splitSize, overlap, priority;
    std::optional<int> exportFormat, aviAudio, mp3BitRate, mp3Quality;
    std::optional<std::string> outputDir, name, list;
    zembra::AviChoices avi;
    bool twoPass = false, noVideo = false, overwrite = false, shutdown = false;
    bool save = false, quiet = false, mp3Joint = false, yes = false, no = false;
    int chapterFrom = 0, chapterTo = 0;  // --chapters A-B, from 1
    bool splitChapters = false;
};

// The options that only AVI output takes (the AVI tab's), and those only
// the MPEG encoder takes: given with the other kind of format they are
// refused, with the fix, rather than ignored.
constexpr const char* kAviOnly[] = {"--video-codec", "--codec-opt",   "--avi-audio",
                                    "--mp3-bitrate", "--mp3-quality", "--mp3-joint",
                                    "--export",      "--no-video",    "--two-pass"};
constexpr const char* kMpegOnly[] = {"--motion-search", "--adaptive-quant", "--cpu",
                                     "--dct",           "--quantmat",       "--pulldown"};

void defineOptions(OptionParser& p, RipOptions& o) {
    const int any = std::numeric_limits<int>::max();
    p.operands(o.sources, 0, std::numeric_limits<size_t>::max());
    zembra::cli::addStreamOptions(p, o.choices, true);
    p.custom("--chapters", "A-B", "only chapters A to B of the title (from 1, as players count)",
             [&o](const std::string& v) {
                 const size_t dash = v.find('-');
                 auto from = zembra::cli::parseInteger(v.substr(0, dash), 1, 999);
                 auto to = dash == std::string::npos
                               ? from
                               : zembra::cli::parseInteger(v.substr(dash + 1), 1, 999);
                 if (!from || !to || *to < *from)
                     return "--chapters needs A-B with 1 <= A <= B (or one chapter A), not '" + v +
                            "'";
                 o.chapterFrom = int(*from);
                 o.chapterTo = int(*to);
                 return std::string();
             });
    p.flag("--split-chapters", o.splitChapters,
           "one file per chapter (of the --chapters range): NAME_ch01, NAME_ch02, ...");
    p.heading("Output");
    p.list("--format", o.format, zembra::cli::ListKind::Formats, "output format");
    p.text("--output-dir", o.outputDir, "DIR", "output folder (made when missing)");
    p.custom("--name", "NAME", "output file name (rows after the first get _1, _2, ...)",
             [&o](const std::string& v) {
                 // The name is a file's in the output folder, never a way out of it.
                 if (v.empty() || v.find('/') != std::string::npos)
                     return "--name takes a file name without a folder, not '" + v + "'";
                 o.name = v;
                 return std::string();
             });
    p.list("--split", o.split, zembra::cli::ListKind::Split, "split into pieces");
    // In MB; 0 would start a piece at every frame.
    p.integer("--split-size", o.splitSize, 1, any, "split into pieces of MB (Custom Size)", "MB");
    p.integer("--overlap", o.overlap, -100000, 100000, "overlap of the pieces", "S");
    p.flag("--overwrite", o.overwrite, "replace output files that exist");
    zembra::cli::addPictureOptions(p, o.choices);
    zembra::cli::addDecoderOptions(p, o.choices);
    zembra::cli::addEncoderOptions(p, o.choices);
    zembra::cli::addThreadOption(p, o.choices);
    p.heading("AVI output (with --format 2 or a stored AVI format)");
    p.custom("--video-codec", "NAME", "video compressor by name or FOURCC (zembra codecs)",
             [&o](const std::string& v) {
                 o.avi.videoCodec = v;
                 return std::string();
             });
    p.custom("--codec-opt", "KEY=VALUE", "a setting of the compressor (repeatable)",
             [&o](const std::string& v) {
                 if (v.find('=') == std::string::npos)
                     return std::string("--codec-opt needs KEY=VALUE");
                 o.avi.codecOptions.push_back(v);
                 return std::string();
             });
    p.flag("--two-pass", o.twoPass, "two passes (whole titles unless --split is given)");
    p.flag("--no-video", o.noVideo, "sound only");
    p.custom("--export", "rgb32|rgb24|yuy2", "picture format handed to the compressor",
             [&o](const std::string& v) {
                 const std::pair<const char*, int> kFormats[] = {
                     {"rgb32", 0}, {"rgb24", 1}, {"yuy2", 3}};
                 for (const auto& [name, value] : kFormats)
                     if (v == name) {
                         o.exportFormat = value;
                         return std::string();
                     }
                 return std::string("--export takes rgb32, rgb24 or yuy2");
             });
    p.custom("--avi-audio", "none|wav|mp3|acm:NAME", "sound: none, a WAV file, MP3, a converter",
             [&o](const std::string& v) {
                 const std::pair<const char*, int> kKinds[] = {{"none", 0}, {"wav", 1}, {"mp3", 2}};
                 for (const auto& [name, value] : kKinds)
                     if (v == name) {
                         o.aviAudio = value;
                         return std::string();
                     }
                 if (v.rfind("acm:", 0) == 0 && v.size() > 4) {
                     o.aviAudio = 3;
                     o.avi.audioConverter = v.substr(4);
                     return std::string();
                 }
                 return std::string("--avi-audio takes none, wav, mp3 or acm:NAME");
             });
    p.custom(
        "--mp3-bitrate", "KBPS",
        "MP3 bit rate: 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256 or 320",
        [&o](const std::string& v) {
            // The rates an MP3 stream at 44.1 or 48 kHz can have: LAME
            // would move another to a neighbour, and the AVI's format
            // record would state a rate the stream does not have.
            static constexpr int kRates[] = {32,  40,  48,  56,  64,  80,  96,
                                             112, 128, 160, 192, 224, 256, 320};
            const auto n = zembra::cli::parseInteger(v, 0, 1000);
            if (n && std::find(std::begin(kRates), std::end(kRates), int(*n)) != std::end(kRates)) {
                o.mp3BitRate = int(*n);
                return std::string();
            }
            return "--mp3-bitrate takes 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, "
                   "256 or 320, not '" +
                   v + "'";
        });
    p.integer("--mp3-quality", o.mp3Quality, 0, 9, "MP3 encoder quality (0 best, 9 fastest)", "Q");
    p.flag("--mp3-joint", o.mp3Joint, "joint stereo MP3");
    p.heading("Running");
    p.integer("--priority", o.priority, 0, 3,
              "process priority: 0 normal, 1 idle, 2 high, 3 real time");
    p.flag("--shutdown", o.shutdown, "switch the computer off when done");
    p.flag("--yes", o.yes, "answer every question Yes");
    p.flag("--no", o.no, "answer every question No");
    p.flag("--quiet", o.quiet, "no progress line");
    p.flag("--save", o.save, "keep the settings of this run in options.ini");
    p.text("--list", o.list, zembra::cli::listOptionHelp(),
           "print a list's entries in the current language and end");
    p.footer(
        "SOURCE: a DVD folder (VIDEO_TS or above it), a disc image or drive, an IFO file, or\n"
        "VOB/MPEG files. Every setting starts from options.ini; the options change it for\n"
        "this run. Exit status: 0 all titles ripped, 1 some failed, 2 a usage error,\n"
        "128 + the signal's number when stopped by one (130 Ctrl-C, 143 SIGTERM).\n");
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
    return zembra::cli::outsideList(option, position, int(list.entries.size()));
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
std::string chooseInLists(zembra::EncodeDlg& dlg, zembra::SettingsStore& s,
                          const zembra::cli::SettingChoices& o,
                          const zembra::TitleCatalogue& catalogue) {
    std::string problem = outsideList("--title", o.title, dlg.controls.indexList);
    if (problem.empty() && o.title) dlg.chooseIndex(*o.title);
    if (o.mainTitle && !isScannedAtRip(dlg)) dlg.chooseIndex(zembra::mainTitleIndex(catalogue));
    if (isScannedAtRip(dlg)) {
        // The stream lists come with the scan at the start of the row's rip:
        // the choices are checked against what it lists (8 audio tracks,
        // "None" and 32 subtitle streams) and kept in the row's settings,
        // which the refilled lists take up.
        zembra::ChoiceList audio, subtitles;
        audio.entries.resize(8);
        subtitles.entries.resize(33);
        if (problem.empty()) problem = outsideList("--audio", o.audio, audio);
        if (problem.empty() && o.audio) s.input.audioTrack = *o.audio;
        if (problem.empty()) problem = outsideList("--subtitle", o.subtitle, subtitles);
        if (problem.empty() && o.subtitle) s.input.subtitle = *o.subtitle;
    } else {
        if (problem.empty()) problem = outsideList("--audio", o.audio, dlg.controls.audioList);
        if (problem.empty() && o.audio) dlg.chooseAudio(*o.audio);
        if (problem.empty())
            problem = outsideList("--subtitle", o.subtitle, dlg.controls.subtitleList);
        if (problem.empty() && o.subtitle) dlg.chooseSubtitle(*o.subtitle);
    }
    if (problem.empty()) problem = outsideList("--angle", o.angle, dlg.controls.angleList);
    if (problem.empty() && o.angle) dlg.chooseAngle(*o.angle);
    return problem;
}

// --chapters: the range, checked against the row's title (a VOB or MPEG
// row's chapters, its files, are known only at its rip); what was wrong.
std::string chooseChapters(zembra::EncodeDlg& dlg, const zembra::SettingsStore& s,
                           const RipOptions& o, const zembra::TitleCatalogue& catalogue) {
    if (!o.chapterFrom) return {};
    if (!isScannedAtRip(dlg)) {
        const zembra::TitleRecord* t = catalogue.title(s.input.titleIndex);
        const int count = t ? t->chapterCount() : 0;
        if (o.chapterTo > count)
            return "--chapters: the title has " + std::to_string(count) + " chapter(s), not " +
                   std::to_string(o.chapterTo);
    }
    if (!o.splitChapters) dlg.chooseChapters(o.chapterFrom, o.chapterTo);
    return {};
}

// --split-chapters: one rip per chapter of each row's title (of the
// --chapters range when given), into the row's name with "_chNN"; the
// number of rips and of those completed.
std::pair<int, int> ripChapterByChapter(zembra::EncodeDlg& dlg, const zembra::SettingsStore& s,
                                        const zembra::TitleCatalogue& catalogue,
                                        const RipOptions& o, zembra::ConsoleHost& host) {
    int rips = 0, completed = 0;
    const int rowCount = int(dlg.rows().size());
    std::vector<std::string> names;
    for (const auto& row : dlg.rows()) names.push_back(row.outputName);
    for (int row = 0; row < rowCount && !dlg.cancelled(); ++row) {
        dlg.selectRow(row);
        const zembra::TitleRecord* t =
            isScannedAtRip(dlg) ? nullptr : catalogue.title(s.input.titleIndex);
        const int first = o.chapterFrom ? o.chapterFrom : 1;
        const int last = o.chapterTo ? o.chapterTo : t ? t->chapterCount() : 1;
        for (int k = first; k <= last && !dlg.cancelled(); ++k) {
            dlg.uncheckAll();
            dlg.selectRow(row);
            dlg.checkSelected();
            if (t) dlg.chooseChapters(k, k);
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "_ch%02d", k);
            dlg.setOutputName(row, names[size_t(row)] + suffix);
            dlg.StartRip();
            host.finishLine();
            ++rips;
            completed += dlg.rowsCompleted();
        }
        dlg.setOutputName(row, names[size_t(row)]);
        dlg.chooseChapters(0, 0);
    }
    return {rips, completed};
}

void applyToCurrentRow(zembra::EncodeDlg& dlg, zembra::SettingsStore& s, const RipOptions& o) {
    // The frame rate and sound rate first: a preset without a size of its
    // own for that rate ("Custom MPEG1" at 24 fps) then keeps the stored size,
    // and presets that set them still win, as when the rip starts.
    zembra::InputSettings& in = s.input;
    zembra::OutputSettings& out = s.output;
    const zembra::cli::SettingChoices& c = o.choices;
    if (c.fpsIndex) in.frameRate = *c.fpsIndex;
    if (c.downsampling) in.downSampling = *c.downsampling;
    if (o.format) dlg.chooseFormat(*o.format);
    if (c.zoom) dlg.chooseZoom(*c.zoom);
    if (o.split) dlg.chooseSplit(*o.split);
    // Two passes cannot split by size: without a split option, --two-pass
    // rips whole titles rather than being refused.
    else if (o.twoPass && !o.splitSize)
        dlg.chooseSplit(0);
    if (o.splitSize) {
        dlg.chooseSplit(zembra::kSplitCustom);
        out.splitSizeMB = *o.splitSize;
    }
    zembra::cli::applyPictureChoices(c, out);
    // The rates were set before the format, which may impose its own.
    zembra::cli::SettingChoices decoding = c;
    decoding.fpsIndex.reset();
    decoding.downsampling.reset();
    zembra::cli::applyDecoderChoices(decoding, in);
    zembra::cli::applyEncoderChoices(c, out);
    if (o.overlap) in.splitOverlap = *o.overlap;
    if (o.shutdown) in.shutDown = true;
    dlg.settingsChanged();
}

// Output settings that StartRip takes from the window rather than the row.
void applyGlobal(zembra::SettingsStore& s, const RipOptions& o) {
    zembra::OutputSettings& out = s.output;
    zembra::ApplicationSettings& app = s.app;
    if (o.twoPass) out.twoPass = true;
    if (o.noVideo) out.aviVideo = false;
    if (o.exportFormat) out.exportYuv = *o.exportFormat;
    if (o.aviAudio) out.aviAudio = *o.aviAudio;
    if (o.overwrite) out.overwrite = true;
    if (o.mp3BitRate) app.mp3BitRate = *o.mp3BitRate;
    if (o.mp3Quality) app.mp3Quality = *o.mp3Quality;
    if (o.mp3Joint) app.mp3ChannelMode = 1;
    zembra::cli::applyThreadChoice(o.choices, app);
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

// An option that the chosen output does not take: what to do instead,
// else empty.
std::string optionForOtherOutput(const OptionParser& p, bool aviOutput) {
    if (!aviOutput) {
        for (const char* name : kAviOnly)
            if (p.given(name))
                return std::string(name) + " applies to AVI output; choose --format 2 (AVI)";
        return {};
    }
    for (const char* name : kMpegOnly)
        if (p.given(name))
            return std::string(name) + " applies to MPEG output; choose an MPEG --format";
    return {};
}

int runRip(const std::vector<std::string>& args) {
    zembra::CZembraApp app;
    app.InitInstance();
    RipOptions o;
    OptionParser parser("rip", "SOURCE...", &app.strings());
    defineOptions(parser, o);
    if (auto status = parser.parseOrExit(args)) return *status;
    if (o.list) return zembra::cli::printList(*o.list, app.strings());
    if (o.sources.empty()) {
        std::fprintf(stderr, "zembra rip: no source given (zembra rip --help lists the options)\n");
        return zembra::cli::kExitUsage;
    }
    app.loadSettings();
    zembra::SettingsStore& settings = app.settings();
    if (settings.optionsUnreadable())
        std::fprintf(stderr, "zembra rip: cannot read %s; the default settings are used\n",
                     app.optionsFile().c_str());
    const bool aviOutput = o.format.value_or(settings.output.formatIndex) == zembra::kFormatAvi;
    if (std::string problem = optionForOtherOutput(parser, aviOutput); !problem.empty()) {
        std::fprintf(stderr, "zembra rip: %s\n", problem.c_str());
        return zembra::cli::kExitUsage;
    }
    const zembra::QuestionPolicy policy = o.yes  ? zembra::QuestionPolicy::AlwaysYes
                                          : o.no ? zembra::QuestionPolicy::AlwaysNo
                                                 : zembra::QuestionPolicy::Ask;
    zembra::ConsoleHost host(&app.strings(), policy);
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
    if (o.priority) dlg.choosePriority(*o.priority);
    applyGlobal(settings, o);
    o.avi.twoPass = o.twoPass;
    if (o.mp3BitRate) o.avi.audioKbps = *o.mp3BitRate;
    if (std::string problem = engines.applyAviChoices(o.avi); !problem.empty()) {
        std::fprintf(stderr, "zembra rip: %s\n", problem.c_str());
        return zembra::cli::kExitUsage;
    }
    const zembra::OutputSettings globalOutput = settings.output;

    for (const std::string& source : o.sources) openSource(dlg, source);
    if (dlg.rows().empty()) {
        std::fprintf(stderr, "zembra rip: no title found in the sources given\n");
        return 1;
    }
    const int rowCount = int(dlg.rows().size());
    for (int row = 0; row < rowCount; ++row) {
        dlg.selectRow(row);
        std::string problem = chooseInLists(dlg, settings, o.choices, engines.catalogue());
        if (problem.empty()) problem = chooseChapters(dlg, settings, o, engines.catalogue());
        if (!problem.empty()) {
            std::fprintf(stderr, "zembra rip: %s (%s)\n", problem.c_str(),
                         dlg.rows()[size_t(row)].sourcePath.c_str());
            return 2;
        }
        applyToCurrentRow(dlg, settings, o);
        if (o.name)
            dlg.setOutputName(row, rowCount == 1 ? *o.name : *o.name + "_" + std::to_string(row));
    }
    // The AVI tab's choices hold for every row, whatever row was applied last.
    settings.output.aviAudio = globalOutput.aviAudio;
    settings.output.aviVideo = globalOutput.aviVideo;
    settings.output.twoPass = globalOutput.twoPass;
    dlg.checkAll();

    const zembra::OutputSettings& chosen = settings.output;
    if (chosen.mpegStream >= 2 && chosen.aviVideo && chosen.compressorHandler == 0)
        std::fprintf(stderr,
                     "zembra rip: no video compressor chosen yet; pick one with --video-codec "
                     "(zembra codecs lists them)\n");
    zembra::cli::catchStopRequests();
    host.setInterruptHandler(onInterrupt, nullptr);
    int checked = rowCount, completed = 0;
    if (o.splitChapters) {
        std::tie(checked, completed) =
            ripChapterByChapter(dlg, settings, engines.catalogue(), o, host);
    } else {
        dlg.StartRip();
        host.finishLine();
        completed = dlg.rowsCompleted();
    }
    const bool cancelled = dlg.cancelled();
    g_dlg = nullptr;

    // The closing monitor line, once a row was tried: before that it only
    // names the source, which would read as part of the message above it.
    if (dlg.rowsAttempted() > 0) std::fprintf(stderr, "%s\n", dlg.controls.monitorLine.c_str());
    std::fprintf(stderr, "zembra rip: %d of %d title(s) ripped to %s\n", completed, checked,
                 settings.app.outputPath.c_str());
    if (o.save && !app.saveSettings())
        std::fprintf(stderr, "zembra rip: cannot write %s\n", app.optionsFile().c_str());
    app.ExitInstance();
    // Stopped by a signal: the status a shell or service manager expects,
    // and Ctrl-C's (answered Yes on a terminal) as if it had ended the program.
    if (zembra::ConsoleHost::stopSignal() || cancelled) return zembra::cli::stoppedStatus();
    return completed == checked ? zembra::cli::kExitOk : zembra::cli::kExitFailed;
}

}  // namespace

ZEMBRA_COMMAND("rip", "rip SOURCE... [options]",
               "convert the titles of DVD sources to AVI or MPEG files", runRip);
