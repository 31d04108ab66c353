// zembra decode: the decoder's pictures in display order as YUV4MPEG2.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command.h"
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
    } kKnown[] = {{24000.0 / 1001, 24000, 1001}, {24, 24, 1}, {25, 25, 1}, {30000.0 / 1001, 30000, 1001},
                  {30, 30, 1}, {50, 50, 1}, {60000.0 / 1001, 60000, 1001}, {60, 60, 1}};
    for (const auto& k : kKnown)
        if (std::fabs(rate - k.rate) < 0.001) {
            num = k.num;
            den = k.den;
            return;
        }
    num = int(std::lround(rate * 1000));
    den = 1000;
}

int usage() {
    std::fprintf(stderr,
                 "usage: zembra decode SOURCE [--title N] [--audio K] [--frames K] [--idct S] "
                 "-o FILE.y4m\n");
    return 2;
}

int runDecode(const std::vector<std::string>& argsIn) {
    std::vector<std::string> args = argsIn;
    std::string source, output;
    int title = -1, audio = 0, frames = -1, idct = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const char* { return i + 1 < args.size() ? args[++i].c_str() : nullptr; };
        const char* v = nullptr;
        if (a == "--title" && (v = value())) title = std::atoi(v);
        else if (a == "--audio" && (v = value())) audio = std::atoi(v);
        else if (a == "--frames" && (v = value())) frames = std::atoi(v);
        else if (a == "--idct" && (v = value())) idct = std::atoi(v);
        else if (a == "-o" && (v = value())) output = v;
        else if (!a.empty() && a[0] != '-' && source.empty()) source = a;
        else return usage();
    }
    if (source.empty() || output.empty()) return usage();

    zembra::ConsoleHost host;
    host.setQuiet(true);
    zembra::TitleCatalogue catalogue;
    zembra::SourceReader reader(host, catalogue);
    zembra::Mpeg2Decoder decoder(host, catalogue);
    auto readerInput = zembra::makeSourceReaderInput(reader);

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
        for (int y = 0; y < h; ++y) std::fwrite(p.planes[0] + size_t(y) * p.width, 1, size_t(w), out);
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < ch; ++y)
                std::fwrite(p.planes[k] + size_t(y) * p.chromaWidth, 1, size_t(cw), out);
        ++written;
    };
    decoder.setRunMode(zembra::kRunVideoOnly);
    double rate;
    int chroma, width, height;
    if (!decoder.openDecoder(params, rate, chroma, width, height)) {
        if (out != stdout) std::fclose(out);
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

ZEMBRA_COMMAND("decode", "decode SOURCE [--title N] [--frames K] -o FILE.y4m",
               "decode the video to YUV4MPEG2 in display order", runDecode);
