// Title reader throughput: reads one title of a DVD source the decoder's
// way (4096-byte reads, prefill on) and prints the rate.
// usage: bench_dvd SOURCE TITLE [REPEATS] [BUFFER_MB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_dvd SOURCE TITLE [REPEATS] [BUFFER_MB]\n");
        return 2;
    }
    int title = std::atoi(argv[2]);
    int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    int bufferMb = argc > 4 ? std::atoi(argv[4]) : 10;
    zembra::ConsoleHost host;
    host.setQuiet(true);
    auto sets = zembra::findTitleSets(argv[1]);
    if (sets.empty()) return 1;
    zembra::TitleCatalogue catalogue;
    if (!zembra::parseIfo(catalogue, sets[0].ifo, host)) return 1;
    std::vector<uint8_t> buf(4096);
    double best = 1e9;
    long long bytes = 0;
    for (int r = 0; r < repeats; ++r) {
        zembra::SourceReader reader(host, catalogue);
        auto start = std::chrono::steady_clock::now();
        if (!reader.openSource(sets[0].vobs, true, 0, title, bufferMb, false)) return 1;
        reader.setPrefill(1);
        bytes = 0;
        while (reader.readSource(buf.data(), 4096) == 4096) bytes += 4096;
        reader.closeSource();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s < best) best = s;
    }
    std::printf("title reader: %lld bytes in %.4f s (%.1f MB/s)\n", bytes, best,
                bytes / best / 1048576.0);
    return 0;
}
