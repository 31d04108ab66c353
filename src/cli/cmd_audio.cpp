// `zembra audio-decode`: decodes the audio of an elementary stream (.ac3,
// .mp2/.mpa) or of a program stream (.vob/.mpg) to a WAV file through the
// same AudioDecoder the rip uses. A checking tool; the rip's own audio-only
// path is `zembra decode --audio-only`.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "cli/command.h"
#include "platform/console_host.h"

namespace zembra::cli {

namespace {

bool endsWith(std::string s, const char* suffix) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm, int rate) {
    std::vector<uint8_t> h;
    uint32_t data = uint32_t(pcm.size() * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(h, 36 + data);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(h, 16);
    put32(h, 1 | (2 << 16));  // PCM, 2 channels
    put32(h, uint32_t(rate));
    put32(h, uint32_t(rate * 4));
    put32(h, 4 | (16 << 16));  // block align 4, 16 bits
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(h, data);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
    out.write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(data));
    return bool(out);
}

enum class Kind { Ac3, Mpa, Lpcm };

// Walks the packs of a program stream and hands the chosen track's payloads
// to the decoder, with their PTS.
void demuxProgramStream(const std::vector<uint8_t>& in, int track, AudioDecoder& dec,
                        std::vector<int16_t>& out) {
    bool started[3] = {};
    size_t pos = 0, n = in.size();
    auto drain = [&] {
        out.insert(out.end(), dec.fifo.data.begin(), dec.fifo.data.begin() + dec.fifo.fill);
        dec.fifo.clear();
    };
    bool anchored = false;
    while (pos + 4 <= n) {
        if (!(in[pos] == 0 && in[pos + 1] == 0 && in[pos + 2] == 1)) {
            ++pos;
            continue;
        }
        int code = in[pos + 3];
        if (code == 0xBA) {
            pos += (pos + 4 < n && (in[pos + 4] & 0xC0) == 0x40) ? 14 + (pos + 13 < n ? in[pos + 13] & 7 : 0) : 12;
            continue;
        }
        if (code < 0xBB || pos + 6 > n) {
            pos += 4;
            continue;
        }
        size_t len = size_t(in[pos + 4]) << 8 | in[pos + 5];
        size_t end = std::min(n, pos + 6 + len);
        size_t p = pos + 6;
        int64_t ptsMs = -1;
        bool pes = code == 0xBD || (code >= 0xC0 && code <= 0xEF);
        if (pes && p + 3 <= end && (in[p] & 0xC0) == 0x80) {
            int flags = in[p + 1], hlen = in[p + 2];
            if ((flags & 0x80) && p + 8 <= end) {
                int64_t pts = (int64_t(in[p + 3] >> 1) & 7) << 30 | int64_t(in[p + 4]) << 22 |
                              int64_t(in[p + 5] >> 1) << 15 | int64_t(in[p + 6]) << 7 | (in[p + 7] >> 1);
                ptsMs = pts / 90;
            }
            p += 3 + size_t(hlen);
        } else if (pes) {
            while (p < end && in[p] == 0xFF) ++p;
            if (p < end && (in[p] & 0xC0) == 0x40) p += 2;
            if (p < end && (in[p] & 0xF0) == 0x20) p += 5;
            else if (p < end && (in[p] & 0xF0) == 0x30) p += 10;
            else ++p;
        }
        if (p <= end && code >= 0xE0 && code <= 0xEF && ptsMs >= 0 && !anchored) {
            dec.sync.videoStartPtsMs = ptsMs;
            dec.setAnchor(0, ptsMs);
            anchored = true;
        }
        if (p < end && (code == 0xBD || code == 0xC0 + track)) {
            if (ptsMs >= 0) dec.sync.lastAudioPtsMs = ptsMs;
            if (!anchored) {
                dec.setAnchor(0, ptsMs >= 0 ? ptsMs : 0);
                anchored = true;
            }
            if (code == 0xC0 + track) {
                if (!started[1]) dec.mpaStart(), started[1] = true;
                dec.mpaPayload(&in[p], end - p);
            } else {
                int sub = in[p];
                if (sub == 0x80 + track && p + 4 <= end) {
                    if (!started[0]) dec.ac3Start(), started[0] = true;
                    dec.ac3Payload(&in[p + 4], end - p - 4);
                } else if (sub == 0xA0 + track) {
                    dec.lpcmPayload(&in[p + 1], end - p - 1);
                }
            }
            drain();
        }
        pos = end;
    }
}

int run(const std::vector<std::string>& args) {
    std::string input, output;
    AudioSettings settings;
    settings.audioMode = 5;
    int track = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
        if (a == "-o") output = next();
        else if (a == "--downsampling") settings.audioMode = std::atoi(next().c_str()) + 1;
        else if (a == "--gain") settings.gain = std::atof(next().c_str());
        else if (a == "--dolby") settings.dolby = std::atoi(next().c_str()) != 0;
        else if (a == "--avsynch") settings.avSynch = std::atoi(next().c_str()) != 0;
        else if (a == "--track") track = std::atoi(next().c_str()) & 7;
        else input = a;
    }
    if (input.empty() || output.empty() || settings.audioMode < 1 || settings.audioMode > 5 ||
        settings.audioMode == 3) {
        std::fprintf(stderr, "usage: zembra audio-decode IN -o OUT.wav [--downsampling 0|1|3|4] "
                             "[--gain G] [--dolby 0|1] [--track N]\n");
        return 2;
    }
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
    auto drain = [&] {
        pcm.insert(pcm.end(), dec.fifo.data.begin(), dec.fifo.data.begin() + dec.fifo.fill);
        dec.fifo.clear();
    };
    const size_t kChunk = 2048;
    if (endsWith(input, ".ac3")) {
        for (size_t p = 0; p < in.size(); p += kChunk) {
            dec.ac3Payload(&in[p], std::min(kChunk, in.size() - p));
            drain();
        }
    } else if (endsWith(input, ".mp2") || endsWith(input, ".mpa") || endsWith(input, ".mp1")) {
        for (size_t p = 0; p < in.size(); p += kChunk) {
            dec.mpaPayload(&in[p], std::min(kChunk, in.size() - p));
            drain();
        }
    } else {
        demuxProgramStream(in, track, dec, pcm);
    }
    dec.resamplerFlush();
    drain();
    int rate = dec.resamplerActive() ? 44100 : dec.sampleRate();
    if (!writeWav(output, pcm, rate)) {
        std::fprintf(stderr, "zembra: cannot write %s\n", output.c_str());
        return 1;
    }
    std::printf("%s: %zu sample frames at %d Hz\n", output.c_str(), pcm.size() / 2, rate);
    return 0;
}

}  // namespace

ZEMBRA_COMMAND("audio-decode", "audio-decode IN -o OUT.wav [--downsampling N] [--gain G]",
               "decode an AC-3, MPEG audio or program-stream audio track to WAV", run);

}  // namespace zembra::cli
