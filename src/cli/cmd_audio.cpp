// `zembra audio-decode`: decodes the audio of an elementary stream (.ac3,
// .mp2/.mpa) or of a program stream (.vob/.mpg) to a WAV file through the
// same AudioDecoder the rip uses. A checking tool; the rip's own audio-only
// path is `zembra decode --audio-only`.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/mpa_decoder.h"
#include "audio/stream_extract.h"
#include "avi/wav_file.h"
#include "cli/command.h"
#include "cli/options.h"
#include "platform/byte_order.h"
#include "platform/console_host.h"

namespace zembra::cli {

namespace {

bool endsWith(std::string s, const char* suffix) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm, int rate) {
    avi::WavFile wav;
    if (!wav.open(path, rate)) return false;
    const bool written = wav.writeSamples(pcm.data(), pcm.size());
    return wav.close() && written;
}

// True when the bytes hold MPEG audio Layer III frames: two frame headers
// one frame apart, the first within the first 64 KB (after any ID3 tag).
bool holdsLayer3(const std::vector<uint8_t>& in) {
    const size_t end = std::min<size_t>(in.size(), 65536);
    for (size_t i = 0; i + 4 <= end; ++i) {
        MpaHeader first, second;
        const uint32_t word = readBe32(&in[i]);
        if (!parseMpaHeader(word, first) || first.layer != 3 || first.frameBytes() <= 0) continue;
        const size_t next = i + size_t(first.frameBytes());
        if (next + 4 > in.size()) continue;
        const uint32_t word2 = readBe32(&in[next]);
        if (parseMpaHeader(word2, second) && second.layer == 3) return true;
    }
    return false;
}

int run(const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    std::optional<std::string> output;
    std::optional<int> downsampling, track;
    std::optional<bool> dolby, avSynch;
    std::optional<double> gain;
    cli::OptionParser p("audio-decode", "IN");
    p.operands(inputs, 1, 1);
    p.text("-o", output, "OUT.wav", "the WAV file to write");
    p.list("--downsampling", downsampling, cli::ListKind::Downsampling,
           "output rate (2, the AC-3 export, is the rip's)");
    p.real("--ac3-gain", gain, 0, 100, "AC-3 output gain (3.0 by default)", "GAIN");
    p.setter("--dolby", dolby, true, "Dolby Surround down-mix of multichannel AC-3 (the default)");
    p.setter("--no-dolby", dolby, false, "plain stereo down-mix");
    p.setter("--avsynch", avSynch, true, "keep the sound in step with the pictures' clock");
    p.integer("--track", track, 0, 7, "stream number of the track in a program stream");
    p.footer(
        "IN: an AC-3 (.ac3) or MPEG audio (.mp1, .mp2, .mpa) stream, or a program stream\n"
        "(.vob, .mpg) whose track --track is decoded. A checking tool: it does not read\n"
        "options.ini. Exit status: 0 written, 1 failed, 2 a usage error.\n");
    if (auto status = p.parseOrExit(args)) return *status;
    if (!output) {
        std::fprintf(stderr, "zembra audio-decode: no output given: -o OUT.wav\n");
        return cli::kExitUsage;
    }
    if (downsampling == 2) {
        std::fprintf(stderr,
                     "zembra audio-decode: the AC-3 export is the rip's; choose another "
                     "--downsampling\n");
        return cli::kExitUsage;
    }
    const std::string& input = inputs.front();
    AudioSettings settings;
    settings.audioMode = downsampling.value_or(4) + 1;
    if (gain) settings.gain = *gain;
    if (dolby) settings.dolby = *dolby;
    if (avSynch) settings.avSynch = true;

    std::ifstream f(input, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "zembra: cannot open %s\n", input.c_str());
        return 1;
    }
    std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());

    ConsoleHost host;
    AudioDecoder dec(host);
    dec.open(settings);
    std::vector<int16_t> pcm;
    if (endsWith(input, ".ac3")) {
        decodeElementaryStream(in, ExtractKind::Ac3, dec, pcm);
    } else if (endsWith(input, ".mp2") || endsWith(input, ".mpa") || endsWith(input, ".mp1")) {
        decodeElementaryStream(in, ExtractKind::Mpa, dec, pcm);
    } else {
        decodeProgramStreamAudio(in, track.value_or(0), dec, pcm);
    }
    // Nothing decoded is not a result: say why instead of writing an empty file.
    if (pcm.empty()) {
        if (holdsLayer3(in))
            std::fprintf(stderr, "zembra: \"%s\" %s\n", input.c_str(),
                         host.text("STR_ERROR_Mp3Audio").c_str());
        else
            std::fprintf(stderr, "zembra: no sound of track %d found in %s\n", track.value_or(0),
                         input.c_str());
        return 1;
    }
    int rate = dec.resamplerActive() ? 44100 : dec.sampleRate();
    if (!writeWav(*output, pcm, rate)) {
        std::fprintf(stderr, "zembra: cannot write %s\n", output->c_str());
        return 1;
    }
    std::printf("%s: %zu sample frames at %d Hz\n", output->c_str(), pcm.size() / 2, rate);
    return 0;
}

}  // namespace

ZEMBRA_COMMAND("audio-decode", "audio-decode IN -o OUT.wav [options]",
               "decode an AC-3, MPEG audio or program-stream audio track to WAV", run);

}  // namespace zembra::cli
