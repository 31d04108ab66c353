// `zembra encode`: codes a raw YUV4MPEG2 picture stream (and a WAV file) into
// an MPEG-1 or MPEG-2 program stream through the same MPEG writer and format
// presets as a rip.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/command.h"
#include "cli/options.h"
#include "encoder/mpeg_writer.h"
#include "encoder/presets.h"
#include "platform/byte_order.h"
#include "platform/console_host.h"

namespace zembra::cli {

namespace {

struct Y4mReader {
    std::ifstream file;
    std::istream* in = &file;
    bool piped = false;  // standard input: read once, length unknown
    int width = 0, height = 0;
    double rate = 0;
    int chroma = 420;  // 420 or 444
    std::size_t frameBytes = 0;

    bool open(const std::string& path, std::string& err) {
        piped = path == "-";
        if (piped) {
            in = &std::cin;
        } else {
            file.open(path, std::ios::binary);
            if (!file) {
                err = "cannot open " + path;
                return false;
            }
        }
        const std::string name = piped ? "the standard input" : path;
        std::string header;
        if (!std::getline(*in, header) || header.rfind("YUV4MPEG2", 0) != 0) {
            err = name + " is not a YUV4MPEG2 stream";
            return false;
        }
        std::istringstream ss(header.substr(9));
        std::string tok;
        while (ss >> tok) {
            switch (tok[0]) {
                case 'W':
                    width = std::atoi(tok.c_str() + 1);
                    break;
                case 'H':
                    height = std::atoi(tok.c_str() + 1);
                    break;
                case 'F': {
                    long num = 0, den = 1;
                    if (std::sscanf(tok.c_str() + 1, "%ld:%ld", &num, &den) == 2 && den > 0)
                        rate = static_cast<double>(num) / den;
                    break;
                }
                case 'C':
                    // 8-bit planes only: C420p10 or C444alpha would be read
                    // as other pictures than they are.
                    if (tok == "C444")
                        chroma = 444;
                    else if (tok == "C420" || tok == "C420jpeg" || tok == "C420paldv" ||
                             tok == "C420mpeg2")
                        chroma = 420;
                    else {
                        err = "unsupported chroma " + tok + " (8-bit 4:2:0 or 4:4:4 is read)";
                        return false;
                    }
                    break;
                default:
                    break;
            }
        }
        if (width <= 0 || height <= 0 || width > 4096 || height > 4096 || (width | height) & 1) {
            err = "bad picture size in " + name;
            return false;
        }
        frameBytes = static_cast<std::size_t>(width) * height * (chroma == 444 ? 3 : 1) +
                     (chroma == 444 ? 0 : 2 * static_cast<std::size_t>(width / 2) * (height / 2));
        return true;
    }
    // Counts the frames and rewinds; 0 (no limit) for a pipe.
    int count() {
        if (piped) return 0;
        auto start = file.tellg();
        file.seekg(0, std::ios::end);
        auto end = file.tellg();
        file.seekg(start);
        return static_cast<int>((end - start) / static_cast<std::streamoff>(frameBytes + 6));
    }
    // The next picture; false at the end of the stream, and also where it
    // is cut short or is no longer a picture stream (then `damaged`).
    bool next(std::vector<std::uint8_t>& buf) {
        std::string line;
        if (!std::getline(*in, line)) {
            damaged = !line.empty();
            return false;
        }
        if (line.rfind("FRAME", 0) != 0) {
            damaged = true;
            return false;
        }
        buf.resize(frameBytes);
        in->read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(frameBytes));
        damaged = static_cast<std::size_t>(in->gcount()) != frameBytes;
        return !damaged;
    }
    bool damaged = false;
};

bool readWav(const std::string& path, std::vector<std::int16_t>& stereo, std::string& err) {
    std::ifstream f(path, std::ios::binary);
    std::vector<std::uint8_t> d((std::istreambuf_iterator<char>(f)), {});
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) || std::memcmp(d.data() + 8, "WAVE", 4)) {
        err = path + " is not a WAV file";
        return false;
    }
    auto u16 = [&](std::size_t o) { return readLe16(&d[o]); };
    auto u32 = [&](std::size_t o) { return readLe32(&d[o]); };
    int channels = 0, rate = 0, bits = 0;
    for (std::size_t pos = 12; pos + 8 <= d.size();) {
        std::uint32_t len = u32(pos + 4);
        std::size_t body = pos + 8;
        if (len > d.size() - body) len = static_cast<std::uint32_t>(d.size() - body);
        if (!std::memcmp(d.data() + pos, "fmt ", 4) && len >= 16) {
            channels = u16(body + 2);
            rate = static_cast<int>(u32(body + 4));
            bits = u16(body + 14);
        } else if (!std::memcmp(d.data() + pos, "data", 4)) {
            if (bits != 16 || (channels != 1 && channels != 2) || rate != 44100) {
                err = "the WAV file must hold 16-bit mono or stereo PCM at 44100 Hz";
                return false;
            }
            std::size_t n = len / 2;
            for (std::size_t i = 0; i < n; ++i) {
                auto v = static_cast<std::int16_t>(u16(body + 2 * i));
                stereo.push_back(v);
                if (channels == 1) stereo.push_back(v);
            }
            return true;
        }
        pos = body + len + (len & 1);
    }
    err = path + " holds no PCM data";
    return false;
}

// Bilinear resize of one plane: each used source row is blended across once,
// then pairs of those rows are blended down. The sums are the same expressions
// in the same order as a sample-by-sample resize, so the bytes do not move; a
// row that falls exactly on a source row (weight 0) is that row's blend alone,
// which is the same value.
void resizePlane(const std::uint8_t* src, int sw, int sh, std::uint8_t* dst, int dw, int dh) {
    if (sw == dw && sh == dh) {
        // Every sample falls on itself: the same bytes, without the arithmetic.
        std::memcpy(dst, src, static_cast<std::size_t>(sw) * sh);
        return;
    }
    struct Tap {
        int first, second;
        double weight;
    };
    auto tap = [](int o, int in, int out) {
        const double f = (o + 0.5) * in / out - 0.5;
        const int first = f < 0 ? 0 : static_cast<int>(f);
        return Tap{first, first + 1 < in ? first + 1 : in - 1, f < 0 ? 0 : f - first};
    };
    std::vector<Tap> columns(static_cast<std::size_t>(dw));
    for (int x = 0; x < dw; ++x) columns[static_cast<std::size_t>(x)] = tap(x, sw, dw);
    const std::size_t width = static_cast<std::size_t>(dw);
    std::vector<double> across(static_cast<std::size_t>(sh) * width);
    std::vector<bool> blended(static_cast<std::size_t>(sh), false);
    auto sourceRow = [&](int r) {
        double* row = across.data() + static_cast<std::size_t>(r) * width;
        if (!blended[static_cast<std::size_t>(r)]) {
            const std::uint8_t* in = src + static_cast<std::size_t>(r) * sw;
            for (std::size_t x = 0; x < width; ++x) {
                const Tap& c = columns[x];
                row[x] = (1 - c.weight) * in[c.first] + c.weight * in[c.second];
            }
            blended[static_cast<std::size_t>(r)] = true;
        }
        return static_cast<const double*>(row);
    };
    for (int y = 0; y < dh; ++y) {
        const Tap t = tap(y, sh, dh);
        const double* top = sourceRow(t.first);
        std::uint8_t* out = dst + static_cast<std::size_t>(y) * width;
        if (t.weight == 0) {
            for (std::size_t x = 0; x < width; ++x)
                out[x] = static_cast<std::uint8_t>(top[x] + 0.5);
            continue;
        }
        const double* bottom = sourceRow(t.second);
        const double wy = t.weight;
        for (std::size_t x = 0; x < width; ++x)
            out[x] = static_cast<std::uint8_t>((1 - wy) * top[x] + wy * bottom[x] + 0.5);
    }
}

// An output named .m1v, .m2v or .mpv is the video elementary stream alone,
// as tools that multiplex for themselves take it.
bool namesVideoStream(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "m1v" || ext == "m2v" || ext == "mpv";
}

struct EncodeOptions {
    std::vector<std::string> inputs;
    SettingChoices choices;
    std::optional<int> format, bitrate, vbv;
    std::optional<double> muxRate;
    std::optional<std::string> output, list;
    bool overwrite = false, quiet = false, save = false;
};

void defineOptions(OptionParser& p, EncodeOptions& o) {
    p.operands(o.inputs, 0, 2);  // none with --list
    p.heading("Output");
    p.text("-o", o.output, "OUT.mpg", "the program stream to write (.m1v, .m2v: the video alone)");
    p.list("--format", o.format, ListKind::Formats, "an MPEG format (the stored one without)");
    p.integer("--bitrate", o.bitrate, 1, 100000, "video bit rate", "KBPS");
    p.integer("--vbv", o.vbv, 1, 100000, "video buffer size (16 kbit units)");
    p.real("--muxrate", o.muxRate, 0, 1000, "multiplex rate above the streams' rates", "PCT");
    p.flag("--overwrite", o.overwrite, "replace the output file when it exists");
    addEncoderOptions(p, o.choices);
    addThreadOption(p, o.choices);
    p.heading("Running");
    p.flag("--quiet", o.quiet, "no progress line");
    p.flag("--save", o.save, "keep the settings of this run in options.ini");
    p.text("--list", o.list, listOptionHelp(),
           "print a list's entries in the current language and end");
    p.footer(
        "IN.y4m: 4:2:0 or 4:4:4 YUV4MPEG2 pictures, scaled to the format's size; - reads\n"
        "them from the standard input. IN.wav: 16-bit PCM at 44100 Hz (silence without).\n"
        "OUT.m1v, OUT.m2v or OUT.mpv: the video elementary stream alone, without sound or\n"
        "program stream packs. The settings\n"
        "start from options.ini, as in zembra rip: the stored format and MPEG settings\n"
        "unless options say otherwise.\n"
        "Exit status: 0 written, 1 failed, 2 a usage error, 128 + the signal's number when\n"
        "stopped by one (130 Ctrl-C, 143 SIGTERM).\n");
}

// The stored MPEG settings, as the rip hands them to the MPEG writer.
MpegSettings storedMpegSettings(const SettingsStore& store) {
    const OutputSettings& out = store.output;
    MpegSettings s;
    s.streamTypeSelected = out.formatIndex;
    s.mpegStream = out.mpegStream;
    s.width = out.width;
    s.height = out.height;
    s.frameRateIndex = store.input.frameRate;
    s.videoKbps = out.videoBitRate;
    s.maxVideoKbps = out.maxVideoBitRate;
    s.audioBitRate = out.audioBitRate;
    s.motionSearch = out.motionSearch;
    s.adaptiveQuant = out.adaptiveQuant;
    s.cpu = out.cpu;
    s.dct = out.dct;
    s.vbv = out.vbvBufferSize;
    s.pulldown = out.pulldown;
    s.quantMat = out.quantMatrix;
    s.muxRate = out.muxRate;
    s.paddMin = out.paddingMin;
    s.paddMax = out.paddingMax;
    s.downSampling = store.input.downSampling;
    return s;
}

int runEncode(const std::vector<std::string>& args) {
    CZembraApp app;
    app.InitInstance();
    EncodeOptions eo;
    OptionParser parser("encode", "IN.y4m [IN.wav]", &app.strings());
    defineOptions(parser, eo);
    if (auto status = parser.parseOrExit(args)) return *status;
    if (eo.list) return printList(*eo.list, app.strings());
    if (eo.inputs.empty() || !eo.output) {
        std::fprintf(stderr, "zembra encode: %s (zembra encode --help lists the options)\n",
                     eo.inputs.empty() ? "no input given" : "no output given: -o OUT.mpg");
        return kExitUsage;
    }
    app.loadSettings();
    SettingsStore& store = app.settings();
    if (store.optionsUnreadable())
        std::fprintf(stderr, "zembra encode: cannot read %s; the default settings are used\n",
                     app.optionsFile().c_str());
    const std::string in = eo.inputs[0], wav = eo.inputs.size() > 1 ? eo.inputs[1] : "";
    const std::string out = *eo.output;
    const bool overwrite = eo.overwrite, quiet = eo.quiet;
    const int fmt = eo.format.value_or(store.output.formatIndex);
    if (fmt < 0 || fmt >= kFormatCount || formatPreset(fmt).mpegStream > 1) {
        std::fprintf(stderr,
                     "zembra encode: '%s' is not an MPEG format; choose one with --format "
                     "(zembra encode --list formats)\n",
                     app.strings().text("STR_MAIN_COMBO_Format_" + std::to_string(fmt)).c_str());
        return kExitUsage;
    }
    applyEncoderChoices(eo.choices, store.output);
    applyThreadChoice(eo.choices, store.app);
    MpegSettings s = storedMpegSettings(store);
    Y4mReader y4m;
    std::string err;
    if (!y4m.open(in, err)) {
        std::fprintf(stderr, "zembra encode: %s\n", err.c_str());
        return 1;
    }
    // The custom entries keep the input's rate; the others impose theirs.
    for (int r = 0; r < 5; ++r)
        if (std::abs(y4m.rate - kFrameRates[r]) < 0.01) s.frameRateIndex = r;
    applyFormatPreset(fmt, s);
    if (eo.bitrate) s.videoKbps = *eo.bitrate;
    if (eo.vbv) s.vbv = *eo.vbv;
    if (eo.muxRate) s.muxRate = *eo.muxRate;

    std::vector<std::int16_t> pcm;
    if (!wav.empty() && !readWav(wav, pcm, err)) {
        std::fprintf(stderr, "zembra encode: %s\n", err.c_str());
        return 1;
    }
    const bool haveWav = !wav.empty();
    const bool videoOnly = namesVideoStream(out);
    if (videoOnly && haveWav) {
        std::fprintf(stderr, "zembra encode: %s holds video alone; leave out %s or write a .mpg\n",
                     out.c_str(), wav.c_str());
        return kExitUsage;
    }

    ConsoleHost host(nullptr, overwrite ? QuestionPolicy::AlwaysYes : QuestionPolicy::Ask);
    host.setQuiet(quiet);
    catchStopRequests();
    CancelToken cancel;
    // The writer pumps messages between the pictures of a batch, and the pump
    // takes the Ctrl-C: it must reach the cancel flag from there too.
    host.setInterruptHandler([](void* flag) { static_cast<CancelToken*>(flag)->request(); },
                             &cancel);
    MpegWriter writer(host, &cancel);
    MpegOpenArgs o;
    o.outputPath = out;
    o.mpegStream = s.mpegStream;
    o.frameCount = y4m.count();
    o.width = s.width;
    o.height = s.height;
    o.motionSearch = s.motionSearch;
    o.adaptiveQuant = s.adaptiveQuant;
    o.cpu = s.cpu;
    o.dct = s.dct;
    o.vbv = s.vbv;
    o.chromaCode = y4m.chroma == 444 ? 3 : 1;
    o.videoKbps = s.videoKbps;
    o.maxVideoKbps = s.maxVideoKbps;
    o.audioBitRate = s.audioBitRate;
    o.frameRate = kFrameRates[s.frameRateIndex];
    o.paddMin = s.paddMin;
    o.paddMax = s.paddMax;
    o.muxRateFactor = 1 + s.muxRate / 100;
    o.overwrite = overwrite;
    o.pulldown = s.pulldown != 0;
    o.quantMat = s.quantMat;
    o.threads = threadCount(store.app);
    o.videoOnly = videoOnly;
    if (const Status opened = writer.openMpeg(o); !opened) {
        host.show(opened);
        return 1;
    }

    const int w = s.width, h = s.height;
    const int cw = o.chromaCode == 3 ? w : w / 2, ch = o.chromaCode == 3 ? h : h / 2;
    const int icw = y4m.chroma == 444 ? y4m.width : y4m.width / 2;
    const int ich = y4m.chroma == 444 ? y4m.height : y4m.height / 2;
    std::vector<std::uint8_t> frame, py(static_cast<std::size_t>(w) * h),
        pu(static_cast<std::size_t>(cw) * ch), pv(static_cast<std::size_t>(cw) * ch);
    std::vector<std::int16_t> silence;
    const double samplesPerPicture = 44100.0 / o.frameRate;
    int n = 0;
    bool ok = true;
    while (ok && y4m.next(frame)) {
        const std::uint8_t* sy = frame.data();
        const std::uint8_t* su = sy + static_cast<std::size_t>(y4m.width) * y4m.height;
        const std::uint8_t* sv = su + static_cast<std::size_t>(icw) * ich;
        resizePlane(sy, y4m.width, y4m.height, py.data(), w, h);
        resizePlane(su, icw, ich, pu.data(), cw, ch);
        resizePlane(sv, icw, ich, pv.data(), cw, ch);
        std::size_t a = 2 * static_cast<std::size_t>(n * samplesPerPicture);
        const std::size_t b = 2 * static_cast<std::size_t>((n + 1) * samplesPerPicture);
        const std::int16_t* samples = nullptr;
        if (videoOnly) {
            a = b;  // no sound to code
        } else if (haveWav) {
            if (b > pcm.size()) pcm.resize(b, 0);  // silence after the sound ends
            samples = pcm.data() + a;
        } else {
            silence.assign(b - a, 0);
            samples = silence.data();
        }
        ok =
            writer.writeMpegFrame(py.data(), pu.data(), pv.data(), samples, static_cast<int>(b - a))
                .ok();
        ++n;
        if (ConsoleHost::interruptPending()) cancel.request();
        if (n % 25 == 0) {
            char line[128];
            if (o.frameCount > 0)
                std::snprintf(line, sizeof line, "%d / %d pictures, %.1f MB", n, o.frameCount,
                              writer.getMpegSizeMB());
            else
                std::snprintf(line, sizeof line, "%d pictures, %.1f MB", n, writer.getMpegSizeMB());
            host.setStatus(line);
        }
    }
    if (ok) ok = writer.closeMpeg().ok();
    host.finishLine();
    if (!ok || cancel.requested()) {
        std::fprintf(stderr, "zembra encode: stopped after %d pictures\n", n);
        // Stopped by Ctrl-C or a signal: the status of a program it ended.
        return cancel.requested() ? stoppedStatus() : kExitFailed;
    }
    // A stream cut short or broken mid-way is not coded whole, though the
    // pictures before the fault are written; one without any is no input.
    if (y4m.damaged) {
        std::fprintf(stderr,
                     "zembra encode: %s is cut short or damaged after %d pictures; those are "
                     "written to %s\n",
                     in.c_str(), n, out.c_str());
        return kExitFailed;
    }
    if (n == 0) {
        std::fprintf(stderr, "zembra encode: %s holds no pictures\n", in.c_str());
        return kExitFailed;
    }
    if (!quiet) std::printf("%s: %d pictures\n", out.c_str(), n);
    if (eo.save) {
        // What the options changed, as the MPEG settings dialog would keep it.
        store.output.formatIndex = fmt;
        store.output.mpegStream = s.mpegStream;
        if (eo.bitrate) store.output.videoBitRate = s.videoKbps;
        if (eo.vbv) store.output.vbvBufferSize = s.vbv;
        if (eo.muxRate) store.output.muxRate = s.muxRate;
        if (!app.saveSettings())
            std::fprintf(stderr, "zembra encode: cannot write %s\n", app.optionsFile().c_str());
    }
    return 0;
}

}  // namespace

ZEMBRA_COMMAND("encode", "encode IN.y4m [IN.wav] -o OUT.mpg [options]",
               "code raw video (and sound) to an MPEG program stream", runEncode);

}  // namespace zembra::cli
