#include "audio/audio_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/lpcm_frames.h"
#include "audio/stream_extract.h"
#include "oracle.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;

AudioSettings mode(int audioMode, bool avSynch = false) {
    AudioSettings s;
    s.audioMode = audioMode;
    s.avSynch = avSynch;
    return s;
}

std::vector<int16_t> ramp(int frames, int start = 1) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i)
        v.push_back(int16_t(start + i)), v.push_back(int16_t(-start - i));
    return v;
}

TEST(PcmFifo, AppendTakeAndForce) {
    PcmFifo f;
    auto r = ramp(10);
    ASSERT_TRUE(f.append(r.data(), 20));
    int16_t out[8];
    EXPECT_EQ(f.take(out, 8), 8);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(f.fill, 12);
    EXPECT_EQ(f.data[0], 5);  // shifted down
    EXPECT_EQ(f.force(16), 4);
    EXPECT_EQ(f.data[15], 0);
    EXPECT_EQ(f.force(4), -12);
    EXPECT_EQ(f.take(nullptr, 100), 4);
    std::vector<int16_t> big(PcmFifo::kCapacity + 2, 1);
    EXPECT_TRUE(f.append(big.data(), PcmFifo::kCapacity));
    EXPECT_FALSE(f.append(big.data(), 2));
    EXPECT_EQ(f.fill, PcmFifo::kCapacity);
}

TEST(PcmAppend, OverflowShowsTheMessageOnceACallAndEndsDecoding) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    std::vector<int16_t> block(20000, 7);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(dec.pcmAppend(block.data(), 20000), DecodeStatus::Ok);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(dec.pcmAppend(block.data(), 2), DecodeStatus::EndOfInput);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, host.text("STR_ERROR_70"));
    EXPECT_EQ(dec.fifo.fill, PcmFifo::kCapacity);

    // A long run of silence stops at the first block that does not fit: the
    // rest of the call appends nothing and says so once.
    dec.fifo.clear();
    for (int i = 0; i < 9; ++i) EXPECT_EQ(dec.pcmAppend(block.data(), 20000), DecodeStatus::Ok);
    dec.setPendingDelayBytes(4 * 20000);
    EXPECT_EQ(dec.appendWithDelay(block.data(), 400), DecodeStatus::EndOfInput);
    EXPECT_EQ(host.boxes.size(), 2u);
    EXPECT_LE(dec.fifo.fill, PcmFifo::kCapacity);

    // Nothing is appended, and nothing overflows, before decoding starts.
    dec.setAudioWanted(false);
    EXPECT_EQ(dec.pcmAppend(block.data(), 2), DecodeStatus::Ok);
    EXPECT_EQ(host.boxes.size(), 2u);
}

TEST(AppendWithDelay, SilenceFirstThenDropAcrossBlocks) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    auto block = ramp(100);
    dec.setPendingDelayBytes(40);  // ten silent frames
    EXPECT_EQ(dec.appendWithDelay(block.data(), 400), DecodeStatus::Ok);
    ASSERT_EQ(dec.fifo.fill, 220);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(dec.fifo.data[size_t(i)], 0);
    EXPECT_EQ(dec.fifo.data[20], 1);
    EXPECT_EQ(dec.appendedCount, 110);

    dec.fifo.clear();
    dec.setPendingDelayBytes(-600);  // drop 150 frames: the whole next block and half of one
    EXPECT_EQ(dec.appendWithDelay(block.data(), 400), DecodeStatus::Ok);
    EXPECT_EQ(dec.fifo.fill, 0);
    EXPECT_EQ(dec.pendingDelayBytes(), -200);
    EXPECT_EQ(dec.appendWithDelay(block.data(), 400), DecodeStatus::Ok);
    ASSERT_EQ(dec.fifo.fill, 100);
    EXPECT_EQ(dec.fifo.data[0], 51);
    EXPECT_EQ(dec.pendingDelayBytes(), 0);
    EXPECT_EQ(dec.appendedCount, 160);
}

TEST(AvSync, StartAnchorSetsTheInitialDelay) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    dec.setAnchor(0, 900);
    dec.sync.lastAudioPtsMs = 1000;
    dec.avSyncUpdate(48000, 0);
    EXPECT_EQ(dec.pendingDelayBytes(), 100 * 192);  // 100 ms of silence
    EXPECT_FALSE(dec.sync.anchorPending);
    dec.setAnchor(0, 1000);
    dec.sync.lastAudioPtsMs = 950;
    dec.avSyncUpdate(44100, 0);
    EXPECT_EQ(dec.pendingDelayBytes(), ((-50 * 176) >> 2) * 4);  // audio early: drop
}

TEST(AvSync, DriftIsCorrectedOncePerFourAnchorsWhenLarge) {
    for (bool avSynch : {false, true}) {
        RecordingHost host;
        AudioDecoder dec(host);
        dec.open(mode(5, avSynch));
        dec.sync.sourceFrameRate = 25.0;
        // 100 frames at 25 fps are 192000 samples; 2000 fewer were appended.
        dec.appendedCount = 190000;
        const int64_t estimates[4] = {2100, 2000, 2500, -2600};
        for (int k = 0; k < 4; ++k) {
            dec.setAnchor(100, 4000);
            dec.sync.lastAudioPtsMs = 4000;
            dec.appendedCount = 192000 - estimates[k];
            dec.avSyncUpdate(48000, 0);
            if (k < 3) {
                EXPECT_EQ(dec.pendingDelayBytes(), 0);
            }
        }
        EXPECT_EQ(dec.pendingDelayBytes(), avSynch ? 2000 * 4 : 0);
        // Small drift is left alone.
        for (int k = 0; k < 4; ++k) {
            dec.setAnchor(100, 4000);
            dec.appendedCount = 192000 - 1400;
            dec.avSyncUpdate(48000, 0);
        }
        EXPECT_EQ(dec.pendingDelayBytes(), 0);
    }
}

TEST(AvSync, MpegOneStreamsAreNotCorrected) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5, true));
    dec.sync.mpeg2 = false;
    for (int k = 0; k < 4; ++k) {
        dec.setAnchor(100, 4000);
        dec.sync.lastAudioPtsMs = 4000;
        dec.appendedCount = 100000;
        dec.avSyncUpdate(48000, 0);
    }
    EXPECT_EQ(dec.pendingDelayBytes(), 0);
}

TEST(Lpcm, SwapsBytesSkipsHeaderAndDelaysTheFirstPacket) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    dec.sync.videoStartPtsMs = 1000;
    dec.sync.lastAudioPtsMs = 1001;  // 1 ms late: 48 silent frames
    std::vector<uint8_t> packet = {9, 9, 9, 9, 9, 9, 0x12, 0x34, 0xAB, 0xCD, 0x00};
    EXPECT_EQ(dec.lpcmPayload(packet.data(), packet.size()), DecodeStatus::Ok);
    ASSERT_EQ(dec.fifo.fill, 96 + 2);
    EXPECT_EQ(dec.fifo.data[95], 0);
    EXPECT_EQ(uint16_t(dec.fifo.data[96]), 0x1234);
    EXPECT_EQ(uint16_t(dec.fifo.data[97]), 0xABCD);
    // The odd byte waits for the rest of its frame in the next packet.
    std::vector<uint8_t> next = {9, 9, 9, 9, 9, 9, 0x01, 0x02, 0x03};
    EXPECT_EQ(dec.lpcmPayload(next.data(), next.size()), DecodeStatus::Ok);
    ASSERT_EQ(dec.fifo.fill, 100);
    EXPECT_EQ(uint16_t(dec.fifo.data[98]), 0x0001);
    EXPECT_EQ(uint16_t(dec.fifo.data[99]), 0x0203);
    EXPECT_EQ(dec.sampleRate(), 48000);
}

TEST(Lpcm, ReseekAppliesTheFirstPacketDelayAgain) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    dec.sync.videoStartPtsMs = 1000;
    dec.sync.lastAudioPtsMs = 1001;
    std::vector<uint8_t> packet = {9, 9, 9, 9, 9, 9, 0x12, 0x34, 0xAB, 0xCD};
    EXPECT_EQ(dec.lpcmPayload(packet.data(), packet.size()), DecodeStatus::Ok);
    EXPECT_EQ(dec.lpcmPayload(packet.data(), packet.size()), DecodeStatus::Ok);
    EXPECT_EQ(dec.fifo.fill, 96 + 4);  // the delay once only
    dec.fifo.clear();
    dec.reseek();
    EXPECT_EQ(dec.lpcmPayload(packet.data(), packet.size()), DecodeStatus::Ok);
    EXPECT_EQ(dec.fifo.fill, 96 + 2);
}

TEST(Lpcm, EarlyAudioDropsItsFirstBytes) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    dec.sync.videoStartPtsMs = 1001;
    dec.sync.lastAudioPtsMs = 1000;  // 1 ms early: 192 bytes go
    std::vector<uint8_t> packet(6 + 400);
    packet[4] = 0x01;  // 16-bit, 48 kHz, stereo
    for (size_t i = 6; i < packet.size(); ++i) packet[i] = uint8_t(i - 6);
    EXPECT_EQ(dec.lpcmPayload(packet.data(), packet.size()), DecodeStatus::Ok);
    ASSERT_EQ(dec.fifo.fill, (400 - 192) / 2);
    EXPECT_EQ(uint16_t(dec.fifo.data[0]), 192 << 8 | 193);
}

// DVD LPCM laid out as a title carries it: each group's upper 16-bit words
// (one sample frame at 16 bits, two at 20 and 24), then the low bits of the
// same samples, a nibble each at 20 bits and a byte at 24.
std::vector<uint8_t> lpcmStream(const std::vector<std::vector<int32_t>>& frames, int bits) {
    std::vector<uint8_t> out;
    const size_t perGroup = bits == 16 ? 1 : 2;
    for (size_t f = 0; f < frames.size(); f += perGroup) {
        std::vector<int32_t> samples;  // 24-bit values, group order
        for (size_t g = f; g < f + perGroup; ++g)
            samples.insert(samples.end(), frames[g].begin(), frames[g].end());
        for (int32_t v : samples) out.push_back(uint8_t(v >> 16)), out.push_back(uint8_t(v >> 8));
        if (bits == 24)
            for (int32_t v : samples) out.push_back(uint8_t(v));
        if (bits == 20)
            for (size_t i = 0; i < samples.size(); i += 2)
                out.push_back(uint8_t((samples[i] & 0xF0) | (samples[i + 1] >> 4 & 0x0F)));
    }
    return out;
}

// The stream cut into packets of uneven sizes, each behind its header.
std::vector<int16_t> decodeInPackets(LpcmFrames& lpcm, const std::vector<uint8_t>& stream,
                                     uint8_t formatByte) {
    std::vector<int16_t> out;
    size_t at = 0;
    for (size_t n = 0; at < stream.size(); ++n) {
        const size_t size = std::min(stream.size() - at, size_t(1 + (n * 7) % 23));
        std::vector<uint8_t> packet = {1, 0, 1, 0, formatByte, 0x80};
        packet.insert(packet.end(), stream.begin() + long(at), stream.begin() + long(at + size));
        lpcm.decode(packet.data(), packet.size(), out);
        at += size;
    }
    return out;
}

// 16, 20 and 24-bit words, mono, stereo and 5.1, groups cut anywhere by the
// packets: the upper 16 bits of the front pair (a mono track on both sides).
TEST(LpcmFrames, WordLengthsAndChannelsGiveTheFrontPairsUpperBits) {
    for (int bits : {16, 20, 24}) {
        for (int channels : {1, 2, 6}) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, " << channels << " channels");
            std::vector<std::vector<int32_t>> frames(40);
            std::vector<int16_t> want;
            for (size_t f = 0; f < frames.size(); ++f) {
                for (int c = 0; c < channels; ++c) {
                    const int32_t v = int32_t((f * 7919 + size_t(c) * 104729) * 2654435761u) >> 8;
                    frames[f].push_back(v);  // a 24-bit value, any sign
                }
                want.push_back(int16_t(frames[f][0] >> 8));
                want.push_back(int16_t(frames[f][channels > 1 ? 1 : 0] >> 8));
            }
            const int word = bits == 16 ? 0 : bits == 20 ? 1 : 2;
            LpcmFrames lpcm;
            const auto got = decodeInPackets(lpcm, lpcmStream(frames, bits),
                                             uint8_t(word << 6 | (channels - 1)));
            EXPECT_EQ(got, want);
        }
    }
}

// 96 kHz comes out at 48 kHz through a low-pass: a 1 kHz tone keeps its
// level, a 30 kHz one (above the new band) is gone rather than folded down.
TEST(LpcmFrames, NinetySixKilohertzIsHalvedThroughALowPass) {
    std::vector<std::vector<int32_t>> frames;
    for (int i = 0; i < 9600; ++i) {
        const double t = i / 96000.0;
        frames.push_back({int32_t(std::lround(10000 * std::sin(2 * M_PI * 1000 * t))) << 8,
                          int32_t(std::lround(10000 * std::sin(2 * M_PI * 30000 * t))) << 8});
    }
    LpcmFrames lpcm;
    const auto got = decodeInPackets(lpcm, lpcmStream(frames, 24), uint8_t(2 << 6 | 1 << 4 | 1));
    ASSERT_EQ(got.size(), 4800u * 2);
    double low = 0, high = 0;
    for (size_t i = 200; i < 4800; ++i) {
        low += double(got[2 * i]) * got[2 * i];
        high += double(got[2 * i + 1]) * got[2 * i + 1];
    }
    const double lowRms = std::sqrt(low / 4600), highRms = std::sqrt(high / 4600);
    EXPECT_NEAR(lowRms, 10000 / std::sqrt(2.0), 70);
    EXPECT_LT(highRms, 5) << "30 kHz folded into the band";
}

// The first audio track of a program stream file, at 48 kHz.
std::vector<int16_t> firstTrackAt48k(const std::string& file) {
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(5));
    std::vector<int16_t> got;
    decodeProgramStreamAudio(testing::readBytes(file), 0, dec, got);
    return got;
}

// ffmpeg's 24-bit stereo and 5.1 LPCM: the upper 16 bits of the front pair,
// as ffmpeg itself reads the front left and right channels.
TEST(LpcmOracle, TwentyFourBitStereoAndSurroundGiveTheFrontPair) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    for (int channels : {2, 6}) {
        SCOPED_TRACE(channels);
        const std::string n = std::to_string(channels);
        const std::string vob = testing::ffmpegFixture(
            "lpcm24_" + n + ".vob", "-f lavfi -i anoisesrc=d=1:a=0.5:c=white:r=48000 -ac " + n +
                                        " -c:a pcm_dvd -sample_fmt s32 -f dvd");
        const std::string front = testing::ffmpegFixture(
            "lpcm24_" + n + ".s32",
            "-i '" + vob + "' -af 'pan=stereo|c0=FL|c1=FR' -f s32le -c:a pcm_s32le");
        ASSERT_FALSE(vob.empty() || front.empty());
        std::vector<int16_t> want;
        for (int32_t v : testing::readSamples<int32_t>(front)) want.push_back(int16_t(v >> 16));
        const std::vector<int16_t> got = firstTrackAt48k(vob);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
}

TEST(LpcmOracle, ProgramStreamIsBitExact) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string raw = testing::ffmpegFixture(
        "lpcm_src.s16", "-f lavfi -i anoisesrc=d=2:a=0.5:c=white:r=48000 -ac 2 -f s16le");
    std::string vob = testing::ffmpegFixture(
        "lpcm.vob", "-f s16le -ar 48000 -ac 2 -i '" + raw +
                        "' -c:a pcm_dvd -f dvd -muxrate 10080000 -packetsize 2048");
    ASSERT_FALSE(vob.empty());
    auto want = testing::readSamples<int16_t>(raw);
    const std::vector<int16_t> got = firstTrackAt48k(vob);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

TEST(AudioDecoderOracle, Ac3ThroughTheResamplerKeepsTheLength) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string vob = testing::ffmpegFixture(
        "ac3_video.vob",
        "-f lavfi -i testsrc=d=4:s=352x288:r=25 -f lavfi -i anoisesrc=d=4:a=0.3:c=pink:r=48000 "
        "-ac 2 -c:v mpeg2video -c:a ac3 -b:a 192k -f dvd -muxrate 10080000 -packetsize 2048");
    ASSERT_FALSE(vob.empty());
    auto bytes = testing::readBytes(vob);
    std::vector<int16_t> at48, at44;
    {
        RecordingHost host;
        AudioDecoder dec(host);
        dec.open(mode(5));
        decodeProgramStreamAudio(bytes, 0, dec, at48);
    }
    {
        RecordingHost host;
        AudioDecoder dec(host);
        dec.open(mode(1));
        decodeProgramStreamAudio(bytes, 0, dec, at44);
        EXPECT_TRUE(dec.resamplerActive());
    }
    double seconds48 = at48.size() / 2 / 48000.0, seconds44 = at44.size() / 2 / 44100.0;
    EXPECT_NEAR(seconds48, 4.0, 0.1);
    EXPECT_GE(seconds44, seconds48 - 0.001);
    EXPECT_LE(seconds44, seconds48 + 16384 / 48000.0);
}

TEST(AudioDecoderOracle, MpegAudioReportsItsRateAndSkipsTheResampler) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string mp2 =
        testing::ffmpegFixture("mpa44.mp2", "-f lavfi -i sine=f=440:d=1 -ar 44100 -ac 2 -c:a mp2");
    ASSERT_FALSE(mp2.empty());
    RecordingHost host;
    AudioDecoder dec(host);
    dec.open(mode(1));
    std::vector<int16_t> out;
    decodeElementaryStream(testing::readBytes(mp2), ExtractKind::Mpa, dec, out);
    EXPECT_EQ(dec.sampleRate(), 44100);
    EXPECT_FALSE(dec.resamplerActive());
    EXPECT_NEAR(double(out.size() / 2), 44100.0, 1152.0);
}

// A/52 allows 44.1 kHz (not on DVD, but in loose .ac3 and program-stream
// files): the rate is the stream's, and such sound is not resampled as if it
// were 48 kHz (a 1 kHz tone then played at 1088 Hz). Every mode gives
// ffmpeg's decoding.
TEST(AudioDecoderOracle, Ac3At44100KeepsItsRateInEveryMode) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    const std::string args = "-f lavfi -i sine=f=1000:d=2:r=44100 -ac 2 -c:a ac3 -b:a 192k";
    std::string ac3 = testing::ffmpegFixture("ac3_44k.ac3", args);
    ASSERT_FALSE(ac3.empty());
    std::string ref = testing::ffmpegFixture("ac3_44k.s16", "-i '" + ac3 + "' -f s16le");
    ASSERT_FALSE(ref.empty());
    const auto reference = testing::toDouble(testing::readSamples<int16_t>(ref));
    for (int audioMode : {1, 2, 4, 5}) {
        RecordingHost host;
        AudioDecoder dec(host);
        AudioSettings settings = mode(audioMode);
        settings.gain = 1.0;  // ffmpeg's scale
        dec.open(settings);
        std::vector<int16_t> out;
        decodeElementaryStream(testing::readBytes(ac3), ExtractKind::Ac3, dec, out);
        EXPECT_EQ(dec.sampleRate(), 44100) << audioMode;
        EXPECT_FALSE(dec.resamplerActive()) << audioMode;
        EXPECT_EQ(out.size(), reference.size()) << audioMode;
        EXPECT_GT(testing::snrDb(testing::toDouble(out), reference), 40.0) << audioMode;
    }
}

}  // namespace
}  // namespace zembra
