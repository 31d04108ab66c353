// Video decoding speed: every picture of a stream (or of a DVD title) decoded
// with one inverse-transform setting, best CPU time of a few runs.
// Usage: bench_decoder SOURCE [--title N] [--idct S] [--repeats R]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "decoder/mpeg2_decoder.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "support/quiet_host.h"

int main(int argc, char** argv) {
    std::string source;
    int title = 0, idct = 0, repeats = 3;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--title") && i + 1 < argc)
            title = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--idct") && i + 1 < argc)
            idct = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else
            source = argv[i];
    }
    if (source.empty()) {
        std::fprintf(stderr, "usage: bench_decoder SOURCE [--title N] [--idct S] [--repeats R]\n");
        return 2;
    }
    zembra::testing::QuietHost host(zembra::BoxAnswer::No, true);
    zembra::TitleCatalogue catalogue;
    zembra::DecoderOpenParams params;
    params.idct = idct;
    params.detect24Fps = false;
    params.files = {source};
    if (title > 0) {
        const auto sets = zembra::findTitleSets(source);
        if (sets.empty() || !zembra::parseIfo(catalogue, sets.front().ifo, host)) {
            std::fprintf(stderr, "no title set in %s\n", source.c_str());
            return 1;
        }
        params.files = sets.front().vobs;
        params.title = title - 1;
        params.saveBufferSize = 4;
    }
    double best = 1e9;
    uint32_t frames = 0;
    int width = 0, height = 0;
    for (int r = 0; r < repeats; ++r) {
        zembra::SourceReader reader(host, catalogue);
        auto input = zembra::makeSourceReaderInput(reader);
        zembra::Mpeg2Decoder decoder(host, catalogue);
        if (title > 0) decoder.setInput(input.get());
        decoder.setRunMode(zembra::kRunVideoOnly);
        const std::clock_t t0 = std::clock();  // CPU time, as for ffmpeg in the script
        double rate;
        int chroma;
        if (!decoder.openDecoder(params, rate, chroma, width, height)) return 1;
        while (decoder.decodeStep()) {
        }
        decoder.flushLastReference();
        frames = decoder.timing().emittedFrames;
        decoder.closeDecoder();
        best = std::min(best, double(std::clock() - t0) / CLOCKS_PER_SEC);
    }
    std::printf("zembra iDCT setting %d: %u frames %dx%d in %.3f s CPU = %.1f frames/s\n", idct,
                frames, width, height, best, frames / best);
    return 0;
}
