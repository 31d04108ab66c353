// AC-3 decoding speed (seconds of audio decoded per second) and the cost of
// each resampler quality. Usage: bench_ac3 FILE.ac3 [repeats]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/ac3_decoder.h"
#include "audio/resampler.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_ac3 FILE.ac3 [repeats]\n");
        return 2;
    }
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    std::ifstream f(argv[1], std::ios::binary);
    std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm;
    double best = 1e9;
    for (int r = 0; r < repeats; ++r) {
        pcm.clear();
        zembra::Ac3Decoder dec;
        dec.start();
        int16_t out[3072];
        std::clock_t t0 = std::clock();  // CPU time, as for ffmpeg in the script
        for (size_t pos = 0; pos < in.size(); pos += 2016) {
            const uint8_t* p = in.data() + pos;
            size_t len = std::min<size_t>(2016, in.size() - pos);
            while (len)
                if (dec.decodeNext(p, len, out)) pcm.insert(pcm.end(), out, out + 3072);
        }
        best = std::min(best, double(std::clock() - t0) / CLOCKS_PER_SEC);
    }
    double seconds = double(pcm.size() / 2) / 48000.0;
    std::printf("ac3 decode: %.1f s of audio in %.3f s = %.1f x real time\n", seconds, best,
                seconds / best);
    for (int mode : {1, 2, 4}) {
        zembra::Resampler rs;
        rs.start(zembra::Resampler::halfLengthFor(mode), zembra::Resampler::cutoffFor(mode));
        std::vector<int16_t> out;
        auto t0 = Clock::now();
        rs.feed(pcm.data(), int(pcm.size() / 2), out);
        rs.flush(out);
        double t = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("resampler AudioMode %d (N=%d): %.3f s = %.1f x real time\n", mode,
                    zembra::Resampler::halfLengthFor(mode), t, seconds / t);
    }
    return 0;
}
