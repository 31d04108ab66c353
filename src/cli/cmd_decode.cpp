// zembra decode: the decoder's pictures in display order as YUV4MPEG2.

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/geometry/output_geometry.h"
#include "audio/audio_decoder.h"
#include "cli/command.h"
#include "decoder/colour_convert.h"
#include "decoder/frame_source.h"
#include "decoder/mpeg2_decoder.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"

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

// A DVD folder or an IFO file names a title set, not a stream: without
// --title its first title is meant.
int titleFor(const std::string& source, int title) {
    if (title >= 1) return title;
    std::error_code ec;
    std::string ext = std::filesystem::path(source).extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return std::filesystem::is_directory(source, ec) || ext == ".ifo" ? 1 : title;
}

int usage() {
    std::fprintf(stderr,
                 "usage: zembra decode SOURCE [--title N] [--audio K] [--frames K] [--idct S] "
                 "-o FILE.y4m\n");
    return 2;
}

// --- Output frames: what getNextFrame hands out, through the output geometry ---

bool wantsOutputFrames(const std::vector<std::string>& args) {
    static const char* kOptions[] = {"--width",     "--height",    "--zoom",        "--crop",
                                     "--resize",    "--fps-index", "--deinterlace", "--subtitle",
                                     "--luminance", "--wav",       "--rgb24",       "--rgb32",
                                     "--yuy2",      "--paced",     "--audio-only"};
    for (const auto& a : args)
        for (const char* o : kOptions)
            if (a == o) return true;
    return false;
}

void putLe(std::FILE* f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(int((v >> (8 * i)) & 255), f);
}

void writeWavHeader(std::FILE* f, int rate, uint32_t dataBytes) {
    std::fputs("RIFF", f);
    putLe(f, 36 + dataBytes, 4);
    std::fputs("WAVEfmt ", f);
    putLe(f, 16, 4), putLe(f, 1, 2), putLe(f, 2, 2), putLe(f, uint32_t(rate), 4);
    putLe(f, uint32_t(rate) * 4, 4), putLe(f, 4, 2), putLe(f, 16, 2);
    std::fputs("data", f);
    putLe(f, dataBytes, 4);
}

int framesUsage() {
    std::fprintf(
        stderr,
        "usage: zembra decode SOURCE [--title N] [--audio K] [--frames K] [--idct S]\n"
        "  [--width W --height H] [--zoom 0-4] [--crop X1,X2,Y1,Y2] [--resize 0-12]\n"
        "  [--fps-index 0-5] [--deinterlace 0-3] [--subtitle S] [--sub-color 0|1]\n"
        "  [--sub-offset N] [--luminance GAIN,OFFSET] [--downsampling 0-4] [--detect24]\n"
        "  [--wav FILE.wav] [--rgb24|--rgb32|--yuy2 FILE] [--paced] [--audio-only] -o FILE\n");
    return 2;
}

int runFramesDecode(const std::vector<std::string>& args) {
    std::string source, output, wavPath, dumpPath;
    bool audioOnly = false;  // run mode 3: the PCM alone, -o is the WAV file
    zembra::ExportFormat dumpFormat = zembra::ExportFormat::Rgb24;
    int title = -1, frames = -1, width = 0, height = 0;
    zembra::GeometryParams geo;
    geo.ratio = 3;
    zembra::DecoderOpenParams params;
    params.detect24Fps = 0;
    params.subColor = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const char* {
            return i + 1 < args.size() ? args[++i].c_str() : nullptr;
        };
        const char* v = nullptr;
        if (a == "--title" && (v = value()))
            title = std::atoi(v);
        else if (a == "--audio" && (v = value()))
            params.audioTrack = std::atoi(v);
        else if (a == "--frames" && (v = value()))
            frames = std::atoi(v);
        else if (a == "--idct" && (v = value()))
            params.idct = std::atoi(v);
        else if (a == "--width" && (v = value()))
            width = std::atoi(v);
        else if (a == "--height" && (v = value()))
            height = std::atoi(v);
        else if (a == "--zoom" && (v = value()))
            geo.ratio = std::atoi(v);
        else if (a == "--resize" && (v = value()))
            geo.videoResize = std::atoi(v);
        else if (a == "--crop" && (v = value())) {
            if (std::sscanf(v, "%lf,%lf,%lf,%lf", &geo.x1, &geo.x2, &geo.y1, &geo.y2) != 4)
                return framesUsage();
        } else if (a == "--fps-index" && (v = value()))
            params.frameRate = std::atoi(v);
        else if (a == "--deinterlace" && (v = value()))
            params.deinterlace = std::atoi(v);
        else if (a == "--subtitle" && (v = value()))
            params.subtitleStream = std::atoi(v);
        else if (a == "--sub-color" && (v = value()))
            params.subColor = std::atoi(v);
        else if (a == "--sub-offset" && (v = value()))
            params.subOffset = std::atoi(v);
        else if (a == "--downsampling" && (v = value()))
            params.downSampling = std::atoi(v);
        else if (a == "--detect24")
            params.detect24Fps = 1;
        else if (a == "--luminance" && (v = value())) {
            if (std::sscanf(v, "%d,%d", &params.luminanceGain, &params.luminanceOffset) != 2)
                return framesUsage();
            params.luminanceFilter = 1;
        } else if (a == "--wav" && (v = value()))
            wavPath = v;
        else if ((a == "--rgb24" || a == "--rgb32" || a == "--yuy2") && (v = value())) {
            dumpPath = v;
            dumpFormat = a == "--rgb24"   ? zembra::ExportFormat::Rgb24
                         : a == "--rgb32" ? zembra::ExportFormat::Rgb32
                                          : zembra::ExportFormat::Yuy2;
        } else if (a == "--audio-only") {
            audioOnly = true;
        } else if (a == "--paced") {
        } else if (a == "-o" && (v = value()))
            output = v;
        else if (!a.empty() && a[0] != '-' && source.empty())
            source = a;
        else
            return framesUsage();
    }
    if (audioOnly) {
        if (wavPath.empty()) wavPath = output;
        output.clear();
    }
    if (source.empty() || (output.empty() && wavPath.empty() && dumpPath.empty()))
        return framesUsage();
    if (params.frameRate < 0 || params.frameRate > 5 || params.downSampling < 0 ||
        params.downSampling > 4 || params.downSampling == 2)
        return framesUsage();

    title = titleFor(source, title);
    zembra::ConsoleHost host;
    host.setQuiet(true);
    zembra::TitleCatalogue catalogue;
    zembra::SourceReader reader(host, catalogue);
    // The input outlives the decoder, which closes it when it goes.
    auto readerInput = zembra::makeSourceReaderInput(reader);
    zembra::Mpeg2Decoder decoder(host, catalogue);
    zembra::AudioDecoder audio(host);
    zembra::FrameQueue queue(host);
    zembra::DecoderFrameSource frameSource(decoder, queue, &audio);
    if (title >= 1) {
        auto sets = zembra::findTitleSets(source);
        if (sets.empty()) {
            std::fprintf(stderr, "no title set found in %s\n", source.c_str());
            return 1;
        }
        if (!zembra::parseIfo(catalogue, sets.front().ifo, host)) return 1;
        if (title > catalogue.count()) {
            std::fprintf(stderr, "title %d not found (%d titles)\n", title, catalogue.count());
            return 1;
        }
        params.files = sets.front().vobs;
        params.title = title - 1;
        params.saveBufferSize = 4;
        decoder.setInput(readerInput.get());
        // The chosen track's coding from the title, so MPEG audio and LPCM
        // tracks are routed too. Tracks of different codings may share the
        // number: the one the Audio list shows first is meant.
        params.audioFormat = 1;
        if (const zembra::TitleRecord* rec = catalogue.title(params.title))
            for (int i = 0; i < rec->audioCount && i < zembra::kMaxAudioSlots; ++i)
                if (rec->audioStream[size_t(i)] == params.audioTrack) {
                    params.audioFormat = rec->audioCoding[size_t(i)];
                    break;
                }
    } else {
        params.files = {source};
        params.audioFormat = 1;  // no title attributes: whatever the track carries
    }

    decoder.setRunMode(audioOnly         ? zembra::kRunAudioOnly
                       : wavPath.empty() ? zembra::kRunVideoOnly
                                         : zembra::kRunVideoAudio);
    double rate;
    int chroma, codedWidth, codedHeight;
    if (!frameSource.openDecoder(params, rate, chroma, codedWidth, codedHeight)) return 1;

    geo.width = width > 0 ? width : codedWidth;
    geo.height = height > 0 ? height : codedHeight;
    geo.sourceWidth = codedWidth;
    geo.sourceHeight = codedHeight;
    geo.chromaFormat = chroma;
    geo.luminanceFilter = params.luminanceFilter != 0;
    geo.luminanceGain = params.luminanceGain;
    geo.luminanceOffset = params.luminanceOffset;
    zembra::OutputGeometry geometry;
    if (!geometry.prepare(geo, &host)) {
        decoder.closeDecoder();
        return 1;
    }
    const int ow = geo.width, oh = geo.height;
    const int ocw = geometry.chromaWidth(ow), och = geometry.chromaHeight(oh);
    std::vector<uint8_t> planes(size_t(ow) * size_t(oh) + 2 * size_t(ocw) * size_t(och));
    uint8_t* outPlanes[3] = {planes.data(), planes.data() + size_t(ow) * size_t(oh),
                             planes.data() + size_t(ow) * size_t(oh) + size_t(ocw) * size_t(och)};

    std::FILE* y4m = nullptr;
    std::FILE* wav = nullptr;
    std::FILE* dump = nullptr;
    auto closeAll = [&] {
        if (y4m && y4m != stdout) std::fclose(y4m);
        if (wav) std::fclose(wav);
        if (dump) std::fclose(dump);
    };
    if (!output.empty() && !(y4m = output == "-" ? stdout : std::fopen(output.c_str(), "wb"))) {
        std::fprintf(stderr, "cannot write %s\n", output.c_str());
        decoder.closeDecoder();
        return 1;
    }
    if ((!wavPath.empty() && !(wav = std::fopen(wavPath.c_str(), "wb"))) ||
        (!dumpPath.empty() && !(dump = std::fopen(dumpPath.c_str(), "wb")))) {
        std::fprintf(stderr, "cannot write output files\n");
        closeAll();
        decoder.closeDecoder();
        return 1;
    }
    const int sampleRate = zembra::outputSampleRate(params.downSampling + 1);
    if (wav) writeWavHeader(wav, sampleRate, 0);
    if (y4m) {
        static const int kNum[6] = {24000, 24, 25, 30000, 30, 24000};
        static const int kDen[6] = {1001, 1, 1, 1001, 1, 1001};
        const char* c = chroma == 1 ? "420jpeg" : chroma == 2 ? "422" : "444";
        std::fprintf(y4m, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C%s\n", ow, oh, kNum[params.frameRate],
                     kDen[params.frameRate], c);
    }

    int written = 0;
    uint64_t pcmBytes = 0;
    zembra::FrameRecord frame;
    int fw = 0, fh = 0, pcmCount = 0;
    const int16_t* pcm = nullptr;
    while ((frames < 0 || written < frames) &&
           frameSource.getNextFrame(frame, fw, fh, pcm, pcmCount) == 1) {
        if (!frame.empty()) {
            const uint8_t* in[3] = {frame.y, frame.cb, frame.cr};
            geometry.apply(in, outPlanes);
            if (y4m) {
                std::fputs("FRAME\n", y4m);
                std::fwrite(planes.data(), 1, planes.size(), y4m);
            }
            if (dump) {
                std::vector<uint8_t> pixels;
                if (!zembra::convertForExport(dumpFormat, outPlanes[0], outPlanes[1], outPlanes[2],
                                              ow, oh, 1, chroma, host, pixels))
                    break;
                std::fwrite(pixels.data(), 1, pixels.size(), dump);
            }
        }
        if (wav && pcmCount > 0) {
            // The FIFO holds native-endian 16-bit values; WAV wants little-endian.
            for (int i = 0; i < pcmCount; ++i) putLe(wav, uint16_t(pcm[i]), 2);
            pcmBytes += uint64_t(pcmCount) * 2;
        }
        ++written;
    }
    decoder.closeDecoder();
    if (wav) {
        std::fseek(wav, 0, SEEK_SET);
        writeWavHeader(wav, sampleRate, uint32_t(pcmBytes));
    }
    closeAll();
    std::fprintf(stderr, "%d frames, %dx%d, source %.3f fps, %llu sample frames\n", written, ow, oh,
                 rate, static_cast<unsigned long long>(pcmBytes / 4));
    return written > 0 ? 0 : 1;
}

int runDecode(const std::vector<std::string>& argsIn) {
    if (wantsOutputFrames(argsIn)) return runFramesDecode(argsIn);
    std::vector<std::string> args = argsIn;
    std::string source, output;
    int title = -1, audio = 0, frames = -1, idct = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const char* {
            return i + 1 < args.size() ? args[++i].c_str() : nullptr;
        };
        const char* v = nullptr;
        if (a == "--title" && (v = value()))
            title = std::atoi(v);
        else if (a == "--audio" && (v = value()))
            audio = std::atoi(v);
        else if (a == "--frames" && (v = value()))
            frames = std::atoi(v);
        else if (a == "--idct" && (v = value()))
            idct = std::atoi(v);
        else if (a == "-o" && (v = value()))
            output = v;
        else if (!a.empty() && a[0] != '-' && source.empty())
            source = a;
        else
            return usage();
    }
    if (source.empty() || output.empty()) return usage();

    title = titleFor(source, title);
    zembra::ConsoleHost host;
    host.setQuiet(true);
    zembra::TitleCatalogue catalogue;
    zembra::SourceReader reader(host, catalogue);
    // The input outlives the decoder, which closes it when it goes.
    auto readerInput = zembra::makeSourceReaderInput(reader);
    zembra::Mpeg2Decoder decoder(host, catalogue);

    zembra::DecoderOpenParams params;
    params.audioTrack = audio;
    params.idct = idct;
    params.detect24Fps = 0;
    if (title >= 1) {
        auto sets = zembra::findTitleSets(source);
        if (sets.empty()) {
            std::fprintf(stderr, "no title set found in %s\n", source.c_str());
            return 1;
        }
        if (!zembra::parseIfo(catalogue, sets.front().ifo, host)) return 1;
        if (title > catalogue.count()) {
            std::fprintf(stderr, "title %d not found (%d titles)\n", title, catalogue.count());
            return 1;
        }
        params.files = sets.front().vobs;
        params.title = title - 1;
        params.saveBufferSize = 4;
        decoder.setInput(readerInput.get());
    } else {
        params.files = {source};
    }

    std::FILE* out = output == "-" ? stdout : std::fopen(output.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", output.c_str());
        return 1;
    }
    int written = 0;
    bool headerDone = false;
    decoder.hooks.emitFrame = [&](const zembra::DecodedPicture& p) {
        if (frames >= 0 && written >= frames) return;
        const int w = std::min(decoder.horizontalSize, p.width);
        const int h = std::min(decoder.verticalSize, p.height);
        const int cw = p.chromaFormat == 3 ? w : (w + 1) / 2;
        const int ch = p.chromaFormat == 1 ? (h + 1) / 2 : h;
        if (!headerDone) {
            int num, den;
            rateFraction(decoder.frameRate, num, den);
            const char* c = p.chromaFormat == 1 ? "420jpeg" : p.chromaFormat == 2 ? "422" : "444";
            std::fprintf(out, "YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C%s\n", w, h, num, den, c);
            headerDone = true;
        }
        std::fputs("FRAME\n", out);
        for (int y = 0; y < h; ++y)
            std::fwrite(p.planes[0] + size_t(y) * p.width, 1, size_t(w), out);
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < ch; ++y)
                std::fwrite(p.planes[k] + size_t(y) * p.chromaWidth, 1, size_t(cw), out);
        ++written;
    };
    decoder.setRunMode(zembra::kRunVideoOnly);
    double rate;
    int chroma, width, height;
    if (!decoder.openDecoder(params, rate, chroma, width, height)) {
        // Nothing was decoded: leave no empty file behind.
        if (out != stdout) {
            std::fclose(out);
            std::remove(output.c_str());
        }
        return 1;
    }
    while ((frames < 0 || written < frames) && decoder.decodeStep()) {
    }
    if (frames < 0 || written < frames) decoder.flushLastReference();
    decoder.closeDecoder();
    if (out != stdout) std::fclose(out);
    std::fprintf(stderr, "%d frames, %dx%d, %.3f fps\n", written, width, height, rate);
    return written > 0 ? 0 : 1;
}

}  // namespace

ZEMBRA_COMMAND("decode",
               "decode SOURCE [--title N] [--frames K] [frame options, see --paced] -o FILE.y4m",
               "decode the video to YUV4MPEG2 in display order, or with any frame option the "
               "paced output frames through the output geometry (and their PCM)",
               runDecode);
