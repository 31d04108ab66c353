#pragma once
// Helpers shared by the Layer II and multiplexer tests: oracle tools,
// fixtures made by ffmpeg, elementary streams cut into units, and a checker
// that walks a whole program stream sector by sector.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mux/multiplexer.h"
#include "encoder/units.h"
#include "support/tools.h"

namespace zembra::muxtest {

namespace fs = std::filesystem;

using ::zembra::testing::haveTool;

inline fs::path workDir(const std::string& name) {
    fs::path p = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "mux" / name;
    fs::create_directories(p);
    return p;
}

inline int run(const std::string& cmd) { return std::system(cmd.c_str()); }

inline std::string runOutput(const std::string& cmd) {
    std::string out;
    if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

inline std::vector<std::uint8_t> readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const fs::path& p, const std::vector<std::uint8_t>& data) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::vector<std::int16_t> readS16(const fs::path& p) {
    auto bytes = readFile(p);
    std::vector<std::int16_t> v(bytes.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return v;
}

inline void writeWav(const fs::path& p, const std::vector<std::int16_t>& pcm) {
    std::vector<std::uint8_t> h;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&](std::uint16_t v) {
        h.push_back(static_cast<std::uint8_t>(v));
        h.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const std::uint32_t bytes = static_cast<std::uint32_t>(pcm.size() * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    u32(36 + bytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    u32(bytes);
    for (std::int16_t s : pcm) u16(static_cast<std::uint16_t>(s));
    writeFile(p, h);
}

// A music-like stereo test signal: a few notes with harmonics, vibrato and
// a little noise.
inline std::vector<std::int16_t> musicSignal(int seconds) {
    const int n = 44100 * seconds;
    std::vector<std::int16_t> pcm(2 * static_cast<std::size_t>(n));
    std::uint32_t seed = 12345;
    const double notes[] = {220.0, 277.18, 329.63, 440.0, 554.37};
    for (int i = 0; i < n; ++i) {
        const double t = i / 44100.0;
        const int note = static_cast<int>(t * 2) % 5;
        double l = 0, r = 0;
        for (int h = 1; h <= 6; ++h) {
            const double f = notes[note] * h * (1 + 0.003 * std::sin(2 * M_PI * 5 * t));
            l += 0.25 / h * std::sin(2 * M_PI * f * t);
            r += 0.2 / h * std::sin(2 * M_PI * f * 1.5 * t + h);
        }
        seed = seed * 1664525u + 1013904223u;
        const double noise = ((seed >> 8) / 16777216.0 - 0.5) * 0.02;
        pcm[2 * i] =
            static_cast<std::int16_t>(std::lround(std::clamp(l + noise, -1.0, 1.0) * 20000));
        pcm[2 * i + 1] =
            static_cast<std::int16_t>(std::lround(std::clamp(r - noise, -1.0, 1.0) * 20000));
    }
    return pcm;
}

// SNR of `decoded` against `ref` (interleaved stereo) at the best delay
// in 0..maxDelay sample pairs, over the middle of the signal.
inline double snrDb(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& decoded,
                    int maxDelay = 2000, int* delayOut = nullptr) {
    const long pairs = static_cast<long>(std::min(ref.size(), decoded.size()) / 2);
    const long from = 4410, to = pairs - maxDelay - 4410;
    if (to <= from) return -100;
    double best = -1e9;
    for (int d = 0; d <= maxDelay; ++d) {
        double sig = 0, err = 0;
        for (long i = from; i < to; i += 7) {
            for (int c = 0; c < 2; ++c) {
                const double x = ref[2 * i + c], y = decoded[2 * (i + d) + c];
                sig += x * x;
                err += (x - y) * (x - y);
            }
        }
        const double snr = 10 * std::log10(sig / std::max(err, 1e-9));
        if (snr > best) {
            best = snr;
            if (delayOut) *delayOut = d;
        }
    }
    return best;
}

// An elementary video stream cut into pictures the way the video encoder
// hands them over: each unit runs from the end of the previous picture to
// the end of its own, stamps from coding order (DTS) and display order (PTS).
struct VideoEs {
    std::vector<std::uint8_t> bytes;
    std::vector<VideoUnit> units;
};

inline VideoEs cutVideo(const std::vector<std::uint8_t>& es, double fps, MuxLayout layout) {
    VideoEs v;
    v.bytes = es;
    std::vector<std::size_t> starts;  // picture start codes
    std::vector<int> types, trefs, gopBase;
    int pictures = 0, base = 0;
    std::vector<std::size_t> ends;  // where each picture's data ends
    bool inPicture = false;
    for (std::size_t i = 0; i + 5 < es.size(); ++i) {
        if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
        const std::uint8_t code = es[i + 3];
        if (code == 0x00 || code == 0xB3 || code == 0xB8 || code == 0xB7) {
            if (inPicture) {
                ends.push_back(i);
                inPicture = false;
            }
        }
        if (code == 0xB8) base = pictures;
        if (code == 0x00) {
            starts.push_back(i);
            trefs.push_back((es[i + 4] << 2) | (es[i + 5] >> 6));
            types.push_back((es[i + 5] >> 3) & 7);
            gopBase.push_back(base);
            ++pictures;
            inPicture = true;
        }
    }
    if (inPicture) ends.push_back(es.size());
    const double T = 27000000.0 / fps;
    std::size_t prevEnd = 0;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        VideoUnit u;
        u.size = static_cast<int>(ends[k] - prevEnd);
        prevEnd = ends[k];
        u.type = mpeg::PictureType(types[k]);
        const int display = gopBase[k] + trefs[k];
        u.dts = clockFromTicks(static_cast<double>(k) * T, layout);
        u.pts = clockFromTicks((display + 1) * T, layout);
        v.units.push_back(u);
    }
    return v;
}

// What a walk over a whole program stream found.
struct PsReport {
    std::string error;  // empty when every sector is well formed
    int sectors = 0;
    std::map<int, std::vector<std::uint8_t>> payload;  // stream id -> bytes
    std::vector<int> videoSectors, audioSectors, paddingSectors;
    std::vector<int> videoPacketStartsWithI;  // sectors whose payload begins with an I picture
    int pstdVideo = 0, pstdAudio = 0;
    std::vector<int> systemHeaderSectors;
    std::vector<std::size_t> firstDataOffset;  // per sector: offset of the payload in the file
};

inline int u16at(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] << 8 | b[at + 1];
}

// Walks every 2324-byte sector and checks it against the VCD (MPEG-1) or
// SVCD (MPEG-2) layout.
inline PsReport checkProgramStream(const std::vector<std::uint8_t>& f, MuxLayout layout) {
    PsReport r;
    const bool vcd = layout == MuxLayout::Vcd;
    const std::size_t S = 2324;
    auto fail = [&](int sector, const std::string& what) {
        if (r.error.empty()) r.error = "sector " + std::to_string(sector) + ": " + what;
    };
    if (f.size() % S != 0) fail(0, "file size not a multiple of 2324");
    r.sectors = static_cast<int>(f.size() / S);
    for (int n = 0; n < r.sectors && r.error.empty(); ++n) {
        const std::size_t base = static_cast<std::size_t>(n) * S;
        std::size_t p = base;
        const std::size_t end = base + S;
        if (!(f[p] == 0 && f[p + 1] == 0 && f[p + 2] == 1 && f[p + 3] == 0xBA)) {
            fail(n, "no pack start");
            break;
        }
        if (vcd) {
            if ((f[p + 4] >> 4) != 2) fail(n, "not an MPEG-1 pack");
            p += 12;
        } else {
            if ((f[p + 4] >> 6) != 1 || f[p + 13] != 0xF8) fail(n, "bad MPEG-2 pack header");
            p += 14;
        }
        if (u16at(f, p) == 0 && f[p + 2] == 1 && f[p + 3] == 0xBB) {
            r.systemHeaderSectors.push_back(n);
            p += 6 + static_cast<std::size_t>(u16at(f, p + 4));
        }
        bool sawMedia = false;
        int packets = 0;
        while (p + 4 <= end) {
            if (!(f[p] == 0 && f[p + 1] == 0 && f[p + 2] == 1)) break;
            const int id = f[p + 3];
            if (id == 0xB9) {
                if (p + 4 != end || n != r.sectors - 1) fail(n, "end code not at the file's end");
                p += 4;
                break;
            }
            if (p + 6 > end) break;
            const std::size_t len = static_cast<std::size_t>(u16at(f, p + 4));
            const std::size_t body = p + 6;
            if (body + len > end) {
                fail(n, "packet runs past the sector");
                break;
            }
            ++packets;
            if (id == 0xBE) {
                if (!sawMedia) r.paddingSectors.push_back(n);
            } else if (id == 0xE0 || id == 0xC0) {
                sawMedia = true;
                (id == 0xE0 ? r.videoSectors : r.audioSectors).push_back(n);
                std::size_t q = body;
                if (vcd) {
                    while (f[q] == 0xFF) ++q;
                    if ((f[q] >> 6) != 1) fail(n, "no STD buffer field");
                    const int size = (f[q] & 0x1F) << 8 | f[q + 1];
                    if (id == 0xE0 && (((f[q] >> 5) & 1) != 1 || size != 46)) fail(n, "video STD");
                    if (id == 0xC0 && (((f[q] >> 5) & 1) != 0 || size != 32)) fail(n, "audio STD");
                    q += 2;
                    const int prefix = f[q] >> 4;
                    if (prefix == 3)
                        q += 10;
                    else if (prefix == 2)
                        q += 5;
                    else if (f[q] == 0x0F)
                        q += 1;
                    else
                        fail(n, "bad stamp prefix");
                    // The header is 12 (video) or 7 (audio) bytes plus the
                    // stuffing of a short packet, so a packet that fills its
                    // sector always has the same length.
                    if (q - body < (id == 0xE0 ? 12u : 7u)) fail(n, "header too short");
                    if (body + len == (id == 0xE0 ? end : end - 20) &&
                        len != (id == 0xE0 ? 2306u : 2286u))
                        fail(n, "full packet of the wrong length");
                } else {
                    if (f[body] != 0x81) fail(n, "PES flags 1");
                    const int flags = f[body + 1];
                    const std::size_t hl = f[body + 2];
                    std::size_t q2 = body + 3;
                    if ((flags >> 6) == 3)
                        q2 += 10;
                    else if ((flags >> 6) == 2)
                        q2 += 5;
                    if (flags & 1) {
                        if (f[q2] != 0x1E) fail(n, "PES extension");
                        (id == 0xE0 ? r.pstdVideo : r.pstdAudio)++;
                    }
                    q = body + 3 + hl;
                    if (hl < (id == 0xE0 ? 13u : 8u)) fail(n, "PES header shorter than the layout");
                }
                if (id == 0xE0 && q + 6 <= body + len && f[q] == 0 && f[q + 1] == 0 &&
                    f[q + 2] == 1 && (f[q + 3] == 0xB3 || f[q + 3] == 0x00 || f[q + 3] == 0xB8)) {
                    // find the picture header of this packet's first unit
                    for (std::size_t k = q; k + 6 < body + len; ++k)
                        if (f[k] == 0 && f[k + 1] == 0 && f[k + 2] == 1 && f[k + 3] == 0) {
                            if (((f[k + 5] >> 3) & 7) == 1) r.videoPacketStartsWithI.push_back(n);
                            break;
                        }
                }
                auto& out = r.payload[id];
                out.insert(out.end(), f.begin() + static_cast<long>(q),
                           f.begin() + static_cast<long>(body + len));
            } else {
                fail(n, "unexpected stream id");
            }
            p = body + len;
        }
        // What may follow the packets: the 20 zero bytes of VCD audio and
        // of the second sector.
        if (p != end) {
            bool zeros = vcd && end - p == 20;
            for (std::size_t k = p; zeros && k < end; ++k) zeros = f[k] == 0;
            if (!zeros) fail(n, "sector not filled exactly (" + std::to_string(end - p) + " left)");
        }
    }
    if (r.error.empty() && r.sectors > 0) {
        const std::size_t e = f.size();
        if (!(f[e - 4] == 0 && f[e - 3] == 0 && f[e - 2] == 1 && f[e - 1] == 0xB9))
            r.error = "file does not end with 00 00 01 B9";
    }
    return r;
}

}  // namespace zembra::muxtest
