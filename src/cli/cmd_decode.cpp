// zembra decode: the decoder's pictures in display order as YUV4MPEG2, or
// with a frame option the rip's paced output frames through the output
// geometry (and their PCM). Like rip it starts from the stored settings.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/encode_dlg.h"
#include "app/engines/decoder_rip_source.h"
#include "app/frame_feed.h"
#include "app/output_options.h"
#include "app/source_kind.h"
#include "audio/audio_decoder.h"
#include "avi/wav_file.h"
#include "cli/command.h"
#include "cli/open_source.h"
#include "cli/options.h"
#include "decoder/colour_convert.h"
#include "decoder/frame_source.h"
#include "decoder/mpeg2_decoder.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "geometry/output_geometry.h"
#include "platform/cancel_token.h"
#include "platform/console_host.h"
#include "platform/file_sink.h"

namespace {

void rateFraction(double rate, int& num, int& den) {
    static const struct {
        double rate;
        int num, den;
    } kKnown[] = {{24000.0 / 1001, 24000, 1001}, {24, 24, 1}, {25, 25, 1},
                  {30000.0 / 1001, 30000, 1001}, {30, 30, 1}, {50, 50, 1},
                  {60000.0 / 1001, 60000, 1001}, {60, 60, 1}};
    for (const auto& k : kKnown)
        if (std::fabs(rate - k.rate) < 0.001) {
            num = k.num;
            den = k.den;
            return;
        }
    num = int(std::lround(rate * 1000));
    den = 1000;
}

std::string y4mHeader(int width, int height, int rateNum, int rateDen, int chroma) {
    const char* c = chroma == 1 ? "420jpeg" : chroma == 2 ? "422" : "444";
    char line[96];
    std::snprintf(line, sizeof line, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C%s\n", width, height,
                  rateNum, rateDen, c);
    return line;
}

bool appendText(zembra::FileSink& sink, const std::string& text) {
    return sink.append(text.data(), text.size());
}

constexpr char kFrameTag[] = "FRAME\n";

// A piece of a gathered write (the sink only reads it).
iovec part(const void* data, size_t size) { return {const_cast<void*>(data), size}; }

using zembra::cli::openOutput;
using zembra::cli::OptionParser;
using zembra::cli::outsideList;

struct DecodeOptions {
    std::vector<std::string> sources;
    zembra::cli::SettingChoices choices;
    std::optional<std::string> output, wav, rgb24, rgb32, yuy2, list;
    std::optional<int> frames;
    bool paced = false, audioOnly = false, save = false;
};

// The options that ask for the rip's paced output frames rather than the
// decoder's pictures.
constexpr const char* kFrameOptions[] = {
    "--width",     "--height",      "--zoom",     "--crop",      "--resize",
    "--fps-index", "--deinterlace", "--subtitle", "--luminance", "--wav",
    "--rgb24",     "--rgb32",       "--yuy2",     "--paced",     "--audio-only"};

void defineOptions(OptionParser& p, DecodeOptions& o) {
    p.operands(o.sources, 0, 1);  // none with --list
    p.heading("Output");
    p.text("-o", o.output, "FILE", "YUV4MPEG2 output (- for standard output)");
    p.integer("--frames", o.frames, 0, std::numeric_limits<int>::max(), "stop after K frames", "K");
    p.flag("--paced", o.paced, "the rip's output frames even without another frame option");
    p.text("--wav", o.wav, "FILE", "the output frames' sound as a WAV file");
    p.text("--rgb24", o.rgb24, "FILE", "the output frames as raw RGB24");
    p.text("--rgb32", o.rgb32, "FILE", "the output frames as raw RGB32");
    p.text("--yuy2", o.yuy2, "FILE", "the output frames as raw YUY2");
    p.flag("--audio-only", o.audioOnly, "the sound alone; -o names the WAV file");
    zembra::cli::addStreamOptions(p, o.choices, true);
    zembra::cli::addPictureOptions(p, o.choices);
    zembra::cli::addDecoderOptions(p, o.choices);
    zembra::cli::addThreadOption(p, o.choices);
    p.heading("Settings");
    p.flag("--save", o.save, "keep the settings of this run in options.ini");
    p.text("--list", o.list, zembra::cli::listOptionHelp(),
           "print a list's entries in the current language and end");
    p.footer(
        "SOURCE: a DVD folder, a disc image or drive, an IFO file (its title set), or a VOB\n"
        "or MPEG file. Without a frame option (--width, --height, --zoom, --crop, --resize,\n"
        "--fps-index, --deinterlace, --subtitle, --luminance, --wav, --rgb24, --rgb32, --yuy2,\n"
        "--paced, --audio-only) the decoder's pictures are written in display order at the\n"
        "source size; with one, the rip's output frames at the source size unless --width and\n"
        "--height say otherwise. Every setting starts from options.ini, as in zembra rip.\n"
        "Exit status: 0 frames written, 1 none or an error, 2 a usage error, 128 + the\n"
        "signal's number when stopped by one (130 Ctrl-C, 143 SIGTERM).\n");
}

// The decoder's settings for the source: the stored settings with the
// options applied, the title and streams chosen by their list positions as
// the window lists them. Nothing when it can go on, else the exit status.
std::optional<int> decoderParams(const std::string& source, const DecodeOptions& o,
                                 zembra::InputSettings in, zembra::TitleCatalogue& catalogue,
                                 zembra::ConsoleHost& host, zembra::DecoderOpenParams& params) {
    const zembra::cli::SettingChoices& c = o.choices;
    if (zembra::sourceKindOf(source) == zembra::SourceKind::Vob) {
        if (c.title) {
            std::fprintf(stderr, "zembra decode: --title applies to DVD sources, not to %s\n",
                         source.c_str());
            return zembra::cli::kExitUsage;
        }
        // A single file has no title lists: its tracks count by stream
        // number, as the scan at the start of its rip lists them.
        std::string problem = outsideList("--audio", in.audioTrack, 8);
        if (problem.empty()) problem = outsideList("--subtitle", in.subtitle, 33);
        if (!problem.empty()) return zembra::cli::refuseChoice("decode", problem, source);
        if (auto status = zembra::cli::unreadableFile("decode", source)) return status;
        in.titleIndex = -1;
        in.vobFiles = {source};
        params = zembra::DecoderRipSource::openParams(in);
        params.audioTrack = in.audioTrack;
        params.audioFormat = 1;  // whatever the track carries
        params.subtitleStream = in.subtitle > 0 ? in.subtitle - 1 : -1;
        return std::nullopt;
    }
    zembra::TitleSetFiles set;
    if (auto status = zembra::cli::openTitleSet(source, std::nullopt, catalogue, host, set))
        return status;
    in.titleIndex =
        c.mainTitle ? std::max(0, zembra::mainTitleIndex(catalogue)) : c.title.value_or(0);
    std::string problem = outsideList("--title", in.titleIndex, catalogue.count());
    if (const zembra::TitleRecord* title = catalogue.title(in.titleIndex)) {
        if (problem.empty()) problem = outsideList("--audio", c.audio, title->audioCount);
        if (problem.empty())
            problem = outsideList("--subtitle", c.subtitle, title->subpictureCount + 1);
    }
    // The Angle list: "All", then angles 1 to 16, as rip and extract take it.
    if (problem.empty()) problem = outsideList("--angle", c.angle, 17);
    if (!problem.empty()) return zembra::cli::refuseChoice("decode", problem, source);
    if (c.angle) in.angle = *c.angle;
    in.vobFiles = set.vobs;
    zembra::EncodeDlg::resolveStreamIds(in, catalogue);
    params = zembra::DecoderRipSource::openParams(in);
    return std::nullopt;
}

// The frames of a decode as a frame feed takes them: with more than one
// thread the feed runs the decoder a few frames ahead on a thread of its
// own, while this thread scales, converts and writes. Only what the feed
// calls is passed on; the decode opens and closes the engines itself.
class DecodeFrames : public zembra::RipSource {
public:
    DecodeFrames(zembra::DecoderFrameSource& frames, zembra::HostRelay& relay)
        : frames_(frames), relay_(relay) {}

    int getNextFrame(zembra::FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                     int& pcmValues) override {
        return frames_.getNextFrame(frame, width, height, pcm, pcmValues);
    }
    zembra::HostRelay* relay() override { return &relay_; }

    zembra::Status openDecoder(const zembra::InputSettings&, const zembra::TitleCatalogue&,
                               zembra::SourceFacts&) override {
        return zembra::Status::failed();
    }
    bool isOpen() const override { return true; }
    void closeDecoder() override {}
    zembra::Status reopenDecoder() override { return zembra::Status::failed(); }
    zembra::Status scanVobFiles(const std::vector<std::string>&, const zembra::InputSettings&,
                                zembra::TitleCatalogue&, const zembra::CancelToken*) override {
        return zembra::Status::failed();
    }
    void setRunMode(int) override {}
    int getRunMode() const override { return 0; }
    zembra::Status reseek(int64_t) override { return zembra::Status::failed(); }
    int peekFrame(zembra::FrameRecord&, int&, int&) override { return 0; }
    int currentTimeSeconds() const override { return 0; }
    void setPrefill(int) override {}
    int64_t getCurrentSector() const override { return -1; }
    void setCancel(const zembra::CancelToken*) override {}

private:
    zembra::DecoderFrameSource& frames_;
    zembra::HostRelay& relay_;
};

// Ctrl-C or a stop signal: the engines' message pump takes the press and
// hands it to the token; one between two pumps is still pending.
bool stopRequested(const zembra::CancelToken& stop) {
    return stop.requested() || zembra::ConsoleHost::interruptPending();
}

int runFramesDecode(const DecodeOptions& o, zembra::DecoderOpenParams params,
                    const zembra::SettingsStore& settings, bool titleSet,
                    zembra::TitleCatalogue& catalogue, zembra::ConsoleHost& host,
                    const zembra::CancelToken& stop) {
    std::string output = o.output.value_or(""), wavPath = o.wav.value_or(""), dumpPath;
    zembra::ExportFormat dumpFormat = zembra::ExportFormat::Rgb24;
    const std::pair<const std::optional<std::string>*, zembra::ExportFormat> kDumps[] = {
        {&o.rgb24, zembra::ExportFormat::Rgb24},
        {&o.rgb32, zembra::ExportFormat::Rgb32},
        {&o.yuy2, zembra::ExportFormat::Yuy2}};
    for (const auto& [path, format] : kDumps)
        if (*path) {
            dumpPath = **path;
            dumpFormat = format;
        }
    if (o.audioOnly) {  // run mode 3: the PCM alone, -o is the WAV file
        if (wavPath.empty()) wavPath = output;
        output.clear();
    }
    if (output.empty() && wavPath.empty() && dumpPath.empty()) {
        std::fprintf(stderr, "zembra decode: no output: give -o, --wav or a picture file\n");
        return zembra::cli::kExitUsage;
    }
    if (params.downSampling == 2) {
        std::fprintf(stderr,
                     "zembra decode: the AC-3 export is the rip's; choose another "
                     "--downsampling\n");
        return zembra::cli::kExitUsage;
    }

    // The engines talk through the relay, which holds back what they say on
    // the feed's thread until this thread takes the frame it came with.
    zembra::HostRelay relay(host);
    zembra::SourceReader reader(relay, catalogue);
    // The input outlives the decoder, which closes it when it goes.
    auto readerInput = zembra::makeSourceReaderInput(reader);
    zembra::Mpeg2Decoder decoder(relay, catalogue);
    zembra::AudioDecoder audio(relay);
    zembra::FrameQueue queue(relay);
    zembra::DecoderFrameSource frameSource(decoder, queue, &audio);
    if (titleSet) decoder.setInput(readerInput.get());

    decoder.setRunMode(o.audioOnly       ? zembra::kRunAudioOnly
                       : wavPath.empty() ? zembra::kRunVideoOnly
                                         : zembra::kRunVideoAudio);
    double rate;
    int chroma, codedWidth, codedHeight;
    const zembra::Status opened =
        frameSource.openDecoder(params, rate, chroma, codedWidth, codedHeight);
    host.show(opened);
    if (!opened) return 1;
    // As in a rip, the reader fills its buffer ahead and stops quietly at a
    // read error, so that the frame queue skips ahead over the bad sectors.
    reader.setPrefill(true);

    // The stored size belongs to the stored format; decode has none, so the
    // picture keeps the source's size unless --width or --height is given.
    zembra::GeometryParams geo = zembra::geometryParams(settings.input, settings.output);
    geo.width = o.choices.width.value_or(codedWidth);
    geo.height = o.choices.height.value_or(codedHeight);
    geo.sourceWidth = codedWidth;
    geo.sourceHeight = codedHeight;
    geo.chromaFormat = chroma;
    geo.luminanceFilter = params.luminanceFilter;
    geo.luminanceGain = params.luminanceGain;
    geo.luminanceOffset = params.luminanceOffset;
    zembra::OutputGeometry geometry;
    if (const zembra::Status prepared = geometry.prepare(geo); !prepared) {
        host.show(prepared);
        decoder.closeDecoder();
        return 1;
    }
    const int ow = geo.width, oh = geo.height;
    const int ocw = geometry.chromaWidth(ow), och = geometry.chromaHeight(oh);
    std::vector<uint8_t> planes(size_t(ow) * size_t(oh) + 2 * size_t(ocw) * size_t(och));
    uint8_t* outPlanes[3] = {planes.data(), planes.data() + size_t(ow) * size_t(oh),
                             planes.data() + size_t(ow) * size_t(oh) + size_t(ocw) * size_t(och)};

    zembra::FileSink y4m, dump;
    zembra::avi::WavFile wavFile;
    zembra::avi::WavFile* wav = nullptr;
    if (!output.empty() && !openOutput(y4m, output)) {
        std::fprintf(stderr, "zembra decode: cannot write %s\n", output.c_str());
        decoder.closeDecoder();
        return 1;
    }
    // A first header with the mode's rate; the final one takes the stream's
    // where it was not resampled (44.1 kHz kept with DownSampling 4).
    int sampleRate = zembra::outputSampleRate(params.downSampling + 1);
    if (!wavPath.empty() && wavFile.open(wavPath, sampleRate)) wav = &wavFile;
    if ((!wavPath.empty() && !wav) || (!dumpPath.empty() && !openOutput(dump, dumpPath))) {
        std::fprintf(stderr, "zembra decode: cannot write the output files\n");
        decoder.closeDecoder();
        return 1;
    }
    // A picture output that fails ends the run as a failure, naming the file.
    std::string failedPath;
    if (y4m.isOpen()) {
        const zembra::FrameRateEntry& r = zembra::FrameRateTable::at(params.frameRate);
        if (!appendText(y4m, y4mHeader(ow, oh, r.numerator, r.denominator, chroma)))
            failedPath = output;
    }

    const int frames = o.frames.value_or(-1);
    int written = 0;
    uint64_t pcmBytes = 0;
    bool wavFailed = false;
    zembra::FrameRecord frame;
    int fw = 0, fh = 0, pcmCount = 0;
    const int16_t* pcm = nullptr;
    DecodeFrames source(frameSource, relay);
    zembra::FrameFeed feed(
        source, &relay, zembra::threadCount(settings.app) > 1 ? zembra::FrameFeed::kFramesAhead : 0,
        frames >= 0 ? int64_t(frames) : zembra::FrameFeed::kUnlimited);
    while (failedPath.empty() && (frames < 0 || written < frames) && !stopRequested(stop) &&
           feed.next(frame, fw, fh, pcm, pcmCount) == 1) {
        if (!frame.empty()) {
            const uint8_t* in[3] = {frame.y, frame.cb, frame.cr};
            geometry.apply(in, outPlanes);
            if (y4m.isOpen()) {
                const iovec parts[] = {part(kFrameTag, sizeof kFrameTag - 1),
                                       part(planes.data(), planes.size())};
                if (!y4m.append(parts, 2)) {
                    failedPath = output;
                    break;
                }
            }
            if (dump.isOpen()) {
                std::vector<uint8_t> pixels;
                const zembra::Status converted =
                    zembra::convertForExport(dumpFormat, outPlanes[0], outPlanes[1], outPlanes[2],
                                             ow, oh, 1, chroma, pixels);
                if (!converted) {
                    host.show(converted);
                    break;
                }
                if (!dump.append(pixels.data(), pixels.size())) {
                    failedPath = dumpPath;
                    break;
                }
            }
        }
        if (wav && pcmCount > 0) {
            if (!wav->writeSamples(pcm, size_t(pcmCount))) {
                wavFailed = true;
                break;
            }
            pcmBytes += uint64_t(pcmCount) * 2;
        }
        ++written;
    }
    // The feed's thread ends before the engines are asked or closed.
    feed.stop();
    if (pcmBytes > 0) sampleRate = audio.handedOutRate();
    // Read errors the decode could not get past (said by the decoder) leave
    // the title unfinished, as they leave a rip's.
    const bool readFailed =
        decoder.status() == zembra::DecodeStatus::ReadError || queue.endedOnReadError();
    const std::string skipped = zembra::EncodeDlg::skippedSectorsText(
        queue.skippedSectors(), host.text("STR_ERROR_SectorsSkipped"));
    if (!skipped.empty()) host.messageBox(zembra::BoxKind::Warning, skipped);
    decoder.closeDecoder();
    if (wav && !(wav->setSampleRate(sampleRate) && wav->close())) wavFailed = true;
    if (wavFailed) std::fprintf(stderr, "zembra decode: cannot write %s\n", wavPath.c_str());
    if (!y4m.close() && failedPath.empty()) failedPath = output;
    if (!dump.close() && failedPath.empty()) failedPath = dumpPath;
    if (!failedPath.empty())
        std::fprintf(stderr, "zembra decode: cannot write %s\n", failedPath.c_str());
    std::fprintf(stderr, "%d frames, %dx%d, source %.3f fps, %llu sample frames\n", written, ow, oh,
                 rate, static_cast<unsigned long long>(pcmBytes / 4));
    if (stopRequested(stop)) return zembra::cli::stoppedStatus();
    return written > 0 && !wavFailed && failedPath.empty() && !readFailed ? 0 : 1;
}

int runPictureDecode(const DecodeOptions& o, const zembra::DecoderOpenParams& params, bool titleSet,
                     zembra::TitleCatalogue& catalogue, zembra::ConsoleHost& host,
                     const zembra::CancelToken& stop) {
    if (!o.output) {
        std::fprintf(stderr, "zembra decode: no output: give -o FILE.y4m\n");
        return zembra::cli::kExitUsage;
    }
    const std::string& output = *o.output;
    zembra::SourceReader reader(host, catalogue);
    // The input outlives the decoder, which closes it when it goes.
    auto readerInput = zembra::makeSourceReaderInput(reader);
    zembra::Mpeg2Decoder decoder(host, catalogue);
    if (titleSet) decoder.setInput(readerInput.get());

    zembra::FileSink out;
    if (!openOutput(out, output)) {
        std::fprintf(stderr, "zembra decode: cannot write %s\n", output.c_str());
        return 1;
    }
    const int frames = o.frames.value_or(-1);
    int written = 0;
    bool headerDone = false, writeFailed = false;
    std::vector<iovec> rows;
    decoder.hooks.emitFrame = [&](const zembra::DecodedPicture& p) {
        if (writeFailed || (frames >= 0 && written >= frames)) return zembra::DecodeStatus::Ok;
        const int w = std::min(decoder.sequence().horizontalSize, p.width);
        const int h = std::min(decoder.sequence().verticalSize, p.height);
        const int cw = p.chromaFormat == 3 ? w : (w + 1) / 2;
        const int ch = p.chromaFormat == 1 ? (h + 1) / 2 : h;
        if (!headerDone) {
            int num, den;
            rateFraction(decoder.sequence().frameRate, num, den);
            writeFailed = !appendText(out, y4mHeader(w, h, num, den, p.chromaFormat));
            headerDone = true;
        }
        // The rows inside the coded picture's padding, gathered into one write.
        rows.assign(1, part(kFrameTag, sizeof kFrameTag - 1));
        for (int y = 0; y < h; ++y)
            rows.push_back(part(p.planes[0] + size_t(y) * p.width, size_t(w)));
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < ch; ++y)
                rows.push_back(part(p.planes[k] + size_t(y) * p.chromaWidth, size_t(cw)));
        if (writeFailed || !out.append(rows.data(), int(rows.size()))) {
            writeFailed = true;
            return zembra::DecodeStatus::Ok;
        }
        ++written;
        return zembra::DecodeStatus::Ok;
    };
    decoder.setRunMode(zembra::kRunVideoOnly);
    double rate;
    int chroma, width, height;
    const zembra::Status opened = decoder.openDecoder(params, rate, chroma, width, height);
    host.show(opened);
    if (!opened) {
        // Nothing was decoded: leave no empty file behind (but never take
        // away a device or pipe the output was sent to).
        if (!out.isStream()) {
            (void)out.close();
            std::remove(output.c_str());
        }
        return 1;
    }
    const auto goOn = [&] {
        return !writeFailed && (frames < 0 || written < frames) && !stopRequested(stop);
    };
    while (goOn() && decoder.decodeStep()) {
    }
    if (goOn()) decoder.flushLastReference();
    decoder.closeDecoder();
    if (!out.close()) writeFailed = true;
    if (writeFailed) std::fprintf(stderr, "zembra decode: cannot write %s\n", output.c_str());
    std::fprintf(stderr, "%d frames, %dx%d, %.3f fps\n", written, width, height, rate);
    if (stopRequested(stop)) return zembra::cli::stoppedStatus();
    // A read error (said by the reader) ended the pictures before the title's end.
    return written > 0 && !writeFailed && !reader.readFailed() ? 0 : 1;
}

int runDecode(const std::vector<std::string>& args) {
    zembra::CZembraApp app;
    app.InitInstance();
    DecodeOptions o;
    OptionParser parser("decode", "SOURCE", &app.strings());
    defineOptions(parser, o);
    if (auto status = parser.parseOrExit(args)) return *status;
    if (o.list) return zembra::cli::printList(*o.list, app.strings());
    if (o.sources.empty()) {
        std::fprintf(stderr,
                     "zembra decode: no source given (zembra decode --help lists the options)\n");
        return zembra::cli::kExitUsage;
    }
    app.loadSettings();
    zembra::SettingsStore& settings = app.settings();
    if (settings.optionsUnreadable())
        std::fprintf(stderr, "zembra decode: cannot read %s; the default settings are used\n",
                     app.optionsFile().c_str());
    zembra::ConsoleHost host;
    host.setQuiet(true);
    zembra::TitleCatalogue catalogue;
    const std::string& source = o.sources.front();
    zembra::cli::applyDecoderChoices(o.choices, settings.input);
    zembra::cli::applyPictureChoices(o.choices, settings.output);
    zembra::cli::applyThreadChoice(o.choices, settings.app);
    if (o.choices.audio) settings.input.audioTrack = *o.choices.audio;
    if (o.choices.subtitle) settings.input.subtitle = *o.choices.subtitle;
    zembra::DecoderOpenParams params;
    if (auto status = decoderParams(source, o, settings.input, catalogue, host, params))
        return *status;
    bool paced = false;
    for (const char* option : kFrameOptions) paced = paced || parser.given(option);
    const bool titleSet = params.title >= 0;
    // A stop request ends the decode between frames, with its files closed.
    zembra::CancelToken stop;
    zembra::cli::catchStopRequests();
    host.setInterruptHandler(
        [](void* token) { static_cast<zembra::CancelToken*>(token)->request(); }, &stop);
    const int status = paced ? runFramesDecode(o, params, settings, titleSet, catalogue, host, stop)
                             : runPictureDecode(o, params, titleSet, catalogue, host, stop);
    if (o.save && !app.saveSettings())
        std::fprintf(stderr, "zembra decode: cannot write %s\n", app.optionsFile().c_str());
    return status;
}

}  // namespace

ZEMBRA_COMMAND("decode", "decode SOURCE -o FILE.y4m [options]",
               "decode a title to YUV4MPEG2: the decoder's pictures, or with a frame option the "
               "rip's output frames (and their sound)",
               runDecode);
