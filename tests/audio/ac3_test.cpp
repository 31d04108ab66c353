#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/ac3_decoder.h"
#include "oracle.h"

namespace zembra {
namespace {

using testing::ffmpegFixture;
using testing::readBytes;
using testing::readSamples;
using testing::snrDb;
using testing::toDouble;

struct Decoded {
    std::vector<int16_t> pcm;
    std::vector<double> channels;  // channel tap: per block, nch x 256
    int frames = 0;
    int dropped = 0;
    int acmod = -1;
};

// Feeds the stream in packet-sized pieces, as the demultiplexer does.
Decoded decodeAc3(const std::vector<uint8_t>& stream, double gain = 1.0, bool dolby = true,
                  size_t piece = 2025, bool tap = false) {
    Decoded d;
    Ac3Decoder dec;
    dec.start();
    dec.setGain(gain);
    dec.setDolby(dolby);
    if (tap) dec.channelTap = &d.channels;
    int16_t out[Ac3Decoder::kFrameSamples * 2];
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
        const uint8_t* p = stream.data() + pos;
        size_t len = std::min(piece, stream.size() - pos);
        while (len > 0)
            if (dec.decodeNext(p, len, out)) d.pcm.insert(d.pcm.end(), out, out + 3072);
    }
    d.frames = dec.framesDecoded();
    d.dropped = dec.framesDropped();
    d.acmod = dec.acmod();
    return d;
}

// ffmpeg's decoder dithers zero-allocation mantissas with its own generator;
// clearing the streams' dither flags (and mending the CRC) makes both
// decoders reproduce exactly the coded values.
std::vector<uint8_t> withoutDither(std::vector<uint8_t> s) {
    Ac3Decoder dec;
    std::vector<int> bits;
    dec.ditherFlagBits = &bits;
    int16_t out[3072];
    size_t pos = 0;
    while (pos + 5 <= s.size()) {
        int len = Ac3Decoder::frameBytes(s[pos + 4] >> 6, s[pos + 4] & 63);
        if (!len || pos + size_t(len) > s.size()) break;
        bits.clear();
        const uint8_t* p = &s[pos];
        size_t l = size_t(len);
        if (dec.decodeNext(p, l, out)) {
            for (int b : bits) s[pos + size_t(b / 8)] &= uint8_t(~(0x80 >> (b % 8)));
            uint16_t crc = Ac3Decoder::crc16(&s[pos + 2], size_t(len) - 4);
            s[pos + size_t(len) - 2] = uint8_t(crc >> 8);
            s[pos + size_t(len) - 1] = uint8_t(crc);
        }
        pos += size_t(len);
    }
    return s;
}

// Six distinct channels (three noises, three tones).
const char* kSixSources =
    "-f lavfi -i anoisesrc=d=3:a=0.2:c=pink:s=1 -f lavfi -i sine=f=300:d=3 "
    "-f lavfi -i anoisesrc=d=3:a=0.2:c=white:s=2 -f lavfi -i sine=f=60:d=3 "
    "-f lavfi -i anoisesrc=d=3:a=0.2:c=brown:s=3 -f lavfi -i sine=f=1000:d=3 ";

std::string makeMultichannel(const std::string& name, const std::string& layout) {
    std::string src = testing::ffmpegFixture(
        name + ".ac3",
        std::string(kSixSources) +
            "-filter_complex \"[0][1][2][3][4][5]amerge=inputs=6,aformat=channel_layouts=" +
            layout + "\" -ar 48000 -c:a ac3 -b:a 448k -center_mixlev 0.707 -surround_mixlev 0.5");
    if (src.empty()) return "";
    std::string clean = testing::fixturePath(name + "_nodither.ac3");
    testing::writeBytes(clean, withoutDither(readBytes(src)));
    return clean;
}

std::vector<float> ffmpegFloat(const std::string& in, const std::string& name) {
    std::string out = ffmpegFixture(name, "-drc_scale 0 -i '" + in + "' -f f32le -c:a pcm_f32le");
    return out.empty() ? std::vector<float>{} : readSamples<float>(out);
}

// A tone on the left, pink noise on the right.
std::string stereoFixture() {
    return ffmpegFixture("stereo448.ac3",
                         "-f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t):d=3:s=48000' -f lavfi -i "
                         "anoisesrc=d=3:a=0.3:c=pink:r=48000 -filter_complex "
                         "\"[0][1]amerge=inputs=2\" -ar 48000 -c:a ac3 -b:a 448k");
}

TEST(Ac3Stream, FrameSizesAndCrc) {
    EXPECT_EQ(Ac3Decoder::frameBytes(0, 0), 128);    // 32 kbit/s at 48 kHz
    EXPECT_EQ(Ac3Decoder::frameBytes(0, 30), 1792);  // 448 kbit/s
    EXPECT_EQ(Ac3Decoder::frameBytes(1, 1), 140);    // 44.1 kHz odd code pads a word
    EXPECT_EQ(Ac3Decoder::frameBytes(2, 37), 3840);  // 640 kbit/s at 32 kHz
    EXPECT_EQ(Ac3Decoder::frameBytes(3, 0), 0);
    EXPECT_EQ(Ac3Decoder::frameBytes(0, 38), 0);
    // A message followed by its CRC leaves remainder 0.
    uint8_t msg[6] = {0x12, 0x34, 0x56, 0x78, 0, 0};
    uint16_t crc = Ac3Decoder::crc16(msg, 4);
    msg[4] = uint8_t(crc >> 8), msg[5] = uint8_t(crc);
    EXPECT_EQ(Ac3Decoder::crc16(msg, 6), 0);
    EXPECT_NE(crc, 0);
}

TEST(Ac3Oracle, StereoMatchesFfmpegAtUnityGain) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string src = stereoFixture();
    ASSERT_FALSE(src.empty());
    std::string clean = testing::fixturePath("stereo448_nodither.ac3");
    testing::writeBytes(clean, withoutDither(readBytes(src)));
    auto ref = ffmpegFloat(clean, "stereo448_ref.f32");
    ASSERT_FALSE(ref.empty());

    Decoded ours = decodeAc3(readBytes(clean), 1.0);
    EXPECT_EQ(ours.dropped, 0);
    EXPECT_EQ(ours.acmod, 2);
    ASSERT_EQ(ours.pcm.size(), ref.size());
    double snr = snrDb(toDouble(ours.pcm), toDouble(ref, 32767.0));
    ::testing::Test::RecordProperty("snr_db", std::to_string(snr));
    std::printf("AC-3 2/0 SNR against ffmpeg: %.2f dB\n", snr);
    EXPECT_GE(snr, 50.0);

    // With the dither flags as ffmpeg wrote them the two generators differ
    // only in the zero-allocation bins.
    Decoded dithered = decodeAc3(readBytes(src), 1.0);
    EXPECT_EQ(dithered.frames, ours.frames);
}

TEST(Ac3Oracle, CoupledAndRematrixedStereoMatchesFfmpeg) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    // Nearly equal channels at a low rate: the encoder couples the high band
    // and rematrixes the low ones.
    std::string src =
        ffmpegFixture("stereo_cpl.ac3",
                      "-f lavfi -i anoisesrc=d=3:a=0.3:c=pink:r=48000:s=9 -f lavfi -i "
                      "anoisesrc=d=3:a=0.05:c=white:r=48000:s=10 -filter_complex "
                      "\"[0][1]amerge=inputs=2,pan=stereo|c0=c0+c1|c1=c0-c1\" -c:a ac3 -b:a 160k "
                      "-channel_coupling 1");
    ASSERT_FALSE(src.empty());
    std::string clean = testing::fixturePath("stereo_cpl_nodither.ac3");
    testing::writeBytes(clean, withoutDither(readBytes(src)));
    auto ref = ffmpegFloat(clean, "stereo_cpl_ref.f32");
    Decoded ours = decodeAc3(readBytes(clean), 1.0);
    EXPECT_EQ(ours.dropped, 0);
    ASSERT_EQ(ours.pcm.size(), ref.size());
    double snr = snrDb(toDouble(ours.pcm), toDouble(ref, 32767.0));
    std::printf("AC-3 coupled 2/0 SNR against ffmpeg: %.2f dB\n", snr);
    EXPECT_GE(snr, 50.0);
}

// Left and right from the six decoded channels (A/52 order, LFE last) as the
// program's downmix table says, G = 1.
struct Downmix {
    int acmod;
    bool lfe;
    bool dolby;
    double clev = 0.2928, slev = 0.2071;
    double s[4] = {};
    double lowpass(double x) {
        double y = 0.12531781 * (x + 2 * s[0] + s[1]) + 0.77997062 * s[2] - 0.28124186 * s[3];
        s[1] = s[0], s[0] = x, s[3] = s[2], s[2] = y;
        return y;
    }
    void mix(const double* c, double& l, double& r) {
        switch (acmod) {
            case 1:  // C to both
                l = r = 0.7071 * c[0];
                break;
            case 3:  // L C R
                l = 0.4143 * c[0] + clev * c[1];
                r = 0.4143 * c[2] + clev * c[1];
                break;
            case 4:  // L R S
                if (dolby) {
                    double sp = lowpass(c[2]);
                    l = 0.5857 * c[0] - 0.4143 * sp;
                    r = 0.5857 * c[1] + 0.4143 * sp;
                } else {
                    l = 0.4143 * c[0] + slev * c[2];
                    r = 0.4143 * c[1] + slev * c[2];
                }
                break;
            case 5:  // L C R S
                if (dolby) {
                    double sp = lowpass(c[3]);
                    l = 0.4143 * c[0] + 0.2928 * (c[1] - sp);
                    r = 0.4143 * c[2] + 0.2928 * (c[1] + sp);
                } else {
                    l = 0.4143 * c[0] + clev * c[1] + slev * c[3];
                    r = 0.4143 * c[2] + clev * c[1] + slev * c[3];
                }
                break;
            case 6:  // L R Ls Rs
                if (dolby) {
                    double sp = lowpass(c[2] + c[3]);
                    l = 0.4143 * c[0] - 0.2928 * sp;
                    r = 0.4143 * c[1] + 0.2928 * sp;
                } else {
                    l = 0.4143 * c[0] + slev * c[2];
                    r = 0.4143 * c[1] + slev * c[3];
                }
                break;
            default: {  // 3/2: L C R Ls Rs [LFE]
                double cc = c[1] + (lfe ? c[5] : 0.0);
                if (dolby) {
                    double sp = lowpass(c[3] + c[4]);
                    l = 0.3204 * c[0] + 0.2265 * (cc - sp);
                    r = 0.3204 * c[2] + 0.2265 * (cc + sp);
                } else {
                    l = 0.4143 * c[0] + clev * cc + slev * c[3];
                    r = 0.4143 * c[2] + clev * cc + slev * c[4];
                }
            }
        }
    }
};

void checkDownmix(const std::string& name, const std::string& layout, int acmod,
                  const std::vector<int>& ffmpegIndexOfA52) {
    std::string clean = makeMultichannel(name, layout);
    ASSERT_FALSE(clean.empty());
    auto ref = ffmpegFloat(clean, name + "_ref.f32");
    ASSERT_FALSE(ref.empty());
    const size_t nch = ffmpegIndexOfA52.size();
    for (bool dolby : {false, true}) {
        Decoded ours = decodeAc3(readBytes(clean), 1.0, dolby);
        EXPECT_EQ(ours.dropped, 0);
        EXPECT_EQ(ours.acmod, acmod);
        Downmix dm{acmod, acmod == 7 && nch == 6, dolby};
        std::vector<double> expect;
        size_t frames = std::min(ours.pcm.size() / 2, ref.size() / nch);
        for (size_t t = 0; t < frames; ++t) {
            double c[6] = {};
            for (size_t k = 0; k < nch; ++k) c[k] = ref[t * nch + size_t(ffmpegIndexOfA52[k])];
            double l, r;
            dm.mix(c, l, r);
            expect.push_back(l * 32767.0);
            expect.push_back(r * 32767.0);
        }
        ASSERT_GT(frames, 48000u);
        double snr = snrDb(toDouble(ours.pcm), expect);
        ::testing::Test::RecordProperty(std::string("snr_db_dolby_") + (dolby ? "on" : "off"),
                                        std::to_string(snr));
        std::printf("%s downmix Dolby %d: %.2f dB\n", name.c_str(), int(dolby), snr);
        EXPECT_GE(snr, 45.0) << "Dolby " << dolby;
    }
}

TEST(Ac3Oracle, FivePointOneDownmixFollowsTheTable) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    // ffmpeg's 5.1(side) order: FL FR FC LFE SL SR.
    checkDownmix("s51", "5.1", 7, {0, 2, 1, 4, 5, 3});
}

TEST(Ac3Oracle, ThreeOneDownmixUsesOneCentreForBoth) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    // 4.0 is FL FR FC BC: coded as 3/1.
    checkDownmix("s31", "4.0", 5, {0, 2, 1, 3});
}

TEST(Ac3Oracle, OtherLayoutsFollowTheTable) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    checkDownmix("s10", "mono", 1, {0});
    checkDownmix("s30", "3.0", 3, {0, 2, 1});              // FL FR FC
    checkDownmix("s21", "3.0(back)", 4, {0, 1, 2});        // FL FR BC
    checkDownmix("s22", "quad", 6, {0, 1, 2, 3});          // FL FR BL BR
    checkDownmix("s50", "5.0(side)", 7, {0, 2, 1, 3, 4});  // no LFE: C' = C
}

TEST(Ac3Oracle, ChannelsMatchFfmpegBeforeTheDownmix) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string clean = makeMultichannel("s51", "5.1");
    ASSERT_FALSE(clean.empty());
    auto ref = ffmpegFloat(clean, "s51_ref.f32");
    Decoded ours = decodeAc3(readBytes(clean), 1.0, true, 2025, true);
    const int map[6] = {0, 2, 1, 4, 5, 3};
    size_t blocks = ours.channels.size() / (6 * 256);
    ASSERT_GT(blocks, 100u);
    for (int c = 0; c < 6; ++c) {
        std::vector<double> a, b;
        for (size_t blk = 0; blk < blocks; ++blk)
            for (size_t i = 0; i < 256; ++i) {
                size_t t = blk * 256 + i;
                if (t * 6 + 5 >= ref.size()) break;
                a.push_back(ours.channels[blk * 6 * 256 + size_t(c) * 256 + i]);
                b.push_back(ref[t * 6 + size_t(map[c])]);
            }
        EXPECT_GE(snrDb(a, b, 1), 80.0) << "channel " << c;
    }
}

TEST(Ac3Decode, GainScalesAndClamps) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string src = ffmpegFixture("loud.ac3",
                                    "-f lavfi -i 'aevalsrc=0.8*sin(2*PI*1000*t):d=1:s=48000' -ac 2 "
                                    "-c:a ac3 -b:a 192k");
    ASSERT_FALSE(src.empty());
    auto bytes = readBytes(src);
    Decoded one = decodeAc3(bytes, 1.0), three = decodeAc3(bytes, 3.0);
    ASSERT_EQ(one.pcm.size(), three.pcm.size());
    int clamped = 0;
    for (size_t i = 0; i < one.pcm.size(); ++i) {
        double want = 3.0 * one.pcm[i];
        if (want > 32767) {
            EXPECT_EQ(three.pcm[i], 32767);
            ++clamped;
        } else if (want < -32768) {
            EXPECT_EQ(three.pcm[i], -32768);
            ++clamped;
        } else {
            EXPECT_NEAR(three.pcm[i], want, 3.0);
        }
    }
    EXPECT_GT(clamped, 1000);
}

TEST(Ac3Decode, RestartGivesTheSameDither) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string src = stereoFixture();
    ASSERT_FALSE(src.empty());
    auto bytes = readBytes(src);
    Decoded a = decodeAc3(bytes, 1.0, true, 2048), b = decodeAc3(bytes, 1.0, true, 777);
    EXPECT_EQ(a.pcm, b.pcm);  // also independent of how the bytes are cut
}

TEST(Ac3Damage, BadFramesAreDroppedSilently) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string src = stereoFixture();
    ASSERT_FALSE(src.empty());
    auto good = readBytes(src);
    Decoded clean = decodeAc3(good, 1.0);
    ASSERT_GT(clean.frames, 50);
    const size_t frame = size_t(Ac3Decoder::frameBytes(good[4] >> 6, good[4] & 63));

    // A flipped bit inside frame 3 fails its CRC; the others decode.
    auto flipped = good;
    flipped[3 * frame + 100] ^= 0x10;
    Decoded f = decodeAc3(flipped, 1.0);
    EXPECT_EQ(f.frames, clean.frames - 1);
    EXPECT_EQ(f.dropped, 1);

    // Garbage between frames is skipped. A false sync word takes a frame's
    // length of bytes with it (the search resumes after the failed frame),
    // so at most the frame it overlaps is lost.
    std::vector<uint8_t> junk = {0x01, 0x0b, 0x02, 0x77, 0xff, 0x00, 0x0b};
    auto padded = good;
    padded.insert(padded.begin() + long(5 * frame), junk.begin(), junk.end());
    padded.insert(padded.begin(), junk.begin(), junk.end());
    EXPECT_EQ(decodeAc3(padded, 1.0).frames, clean.frames);
    std::vector<uint8_t> falseSync = {0x0b, 0x77, 0x00, 0x00, 0x1e, 0xff, 0x0b, 0x77, 0x12};
    padded = good;
    padded.insert(padded.begin() + long(5 * frame), falseSync.begin(), falseSync.end());
    Decoded g = decodeAc3(padded, 1.0);
    EXPECT_GE(g.frames, clean.frames - 2);
    EXPECT_EQ(g.dropped, 1);

    // A truncated frame followed by a whole one.
    auto cut = good;
    cut.erase(cut.begin() + long(7 * frame + frame / 2), cut.begin() + long(8 * frame));
    Decoded c = decodeAc3(cut, 1.0);
    EXPECT_GE(c.frames, clean.frames - 2);
    EXPECT_LT(c.frames, clean.frames);

    // Random damage everywhere: no crash, some frames survive.
    auto noisy = good;
    uint32_t seed = 1;
    for (size_t i = 0; i < noisy.size(); i += 1 + (seed >> 24)) {
        seed = seed * 1664525u + 1013904223u;
        if ((seed & 0xff) < 3) noisy[i] = uint8_t(seed >> 8);
    }
    Decoded n = decodeAc3(noisy, 3.0);
    EXPECT_LE(n.frames, clean.frames);
}

TEST(Ac3Damage, CorruptPayloadWithValidCrcNeverCrashes) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string src = makeMultichannel("s51", "5.1");
    ASSERT_FALSE(src.empty());
    auto good = readBytes(src);
    const size_t frame = size_t(Ac3Decoder::frameBytes(good[4] >> 6, good[4] & 63));
    uint32_t seed = 7;
    // Scramble bytes after the header and fix the CRC so that the parser
    // itself meets the damage.
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> f(good.begin() + long(2 * frame), good.begin() + long(3 * frame));
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            f[6 + (seed >> 8) % (frame - 8)] = uint8_t(seed >> 24);
        }
        uint16_t crc = Ac3Decoder::crc16(&f[2], frame - 4);
        f[frame - 2] = uint8_t(crc >> 8), f[frame - 1] = uint8_t(crc);
        std::vector<uint8_t> s(good.begin(), good.begin() + long(2 * frame));
        s.insert(s.end(), f.begin(), f.end());
        s.insert(s.end(), good.begin() + long(3 * frame), good.begin() + long(5 * frame));
        Decoded d = decodeAc3(s, 3.0);
        EXPECT_GE(d.frames, 4);
    }
}

}  // namespace
}  // namespace zembra
