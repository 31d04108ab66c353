// Our decoding of streams made by ffmpeg and mpeg2enc against ffmpeg's own
// decoding of them: same pictures in the same order, luma PSNR per picture.

#include <cstdio>

#include "audio/audio_decoder.h"
#include "decoder/audio_route.h"
#include "decoder/mpeg2_vlc.h"
#include "dvd/source_reader.h"
#include "dvd/title_set.h"
#include "mpeg2_test_support.h"

namespace zembra::testing {
namespace {

struct StreamCase {
    const char* name;
    int chromaFormat;
};

class StreamKernelPsnr : public ::testing::TestWithParam<StreamCase> {};

// iDCT settings: 0 -> variant 1 (AP-922), 1 -> 4 (reference), 2 -> 3 (float),
// 4 -> 2 (AP-922 with the cascaded half-pel average, which drifts by design).
TEST_P(StreamKernelPsnr, MatchesFfmpegForEveryIdctVariant) {
    const StreamCase c = GetParam();
    ZEMBRA_REQUIRE_STREAM(path, c.name);
    const char* pixFmt = c.chromaFormat == 1   ? "yuv420p"
                         : c.chromaFormat == 2 ? "yuv422p"
                                               : "yuv444p";
    const std::vector<uint8_t> ref = ffmpegDecode(path, pixFmt);
    ASSERT_FALSE(ref.empty());
    for (int setting : {0, 1, 2, 4}) {
        const DecodedStream ours = decodeFile(path, setting);
        ASSERT_EQ(ours.openResult, 1);
        ASSERT_FALSE(ours.luma.empty());
        ASSERT_EQ(ours.chromaFormat, c.chromaFormat);
        const size_t lumaSize = size_t(ours.width) * ours.height;
        const size_t chromaSize = c.chromaFormat == 1   ? lumaSize / 4
                                  : c.chromaFormat == 2 ? lumaSize / 2
                                                        : lumaSize;
        const size_t frameSize = lumaSize + 2 * chromaSize;
        const size_t refFrames = ref.size() / frameSize;
        EXPECT_EQ(ours.luma.size(), refFrames) << c.name << " setting " << setting;
        double worst = 99, sum = 0;
        const size_t n = std::min(refFrames, ours.luma.size());
        for (size_t k = 0; k < n; ++k) {
            const double p = psnr(ours.luma[k].data(), ref.data() + k * frameSize, lumaSize);
            worst = std::min(worst, p);
            sum += p;
            if (setting != 4) {
                EXPECT_GE(p, 38.0) << c.name << " setting " << setting << " frame " << k;
            }
        }
        const double mean = n ? sum / double(n) : 0;
        std::printf("[ psnr     ] %-14s iDCT setting %d: %zu frames, worst %.2f dB, mean %.2f dB\n",
                    c.name, setting, n, worst, mean);
        if (setting != 4) {
            EXPECT_GE(mean, 45.0) << c.name << " setting " << setting;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamKernelPsnr,
                         ::testing::Values(StreamCase{"mpeg1.m1v", 1},
                                           StreamCase{"mpeg1_sys.mpg", 1},
                                           StreamCase{"prog.m2v", 1}, StreamCase{"inter.m2v", 1},
                                           StreamCase{"altscan.m2v", 1}, StreamCase{"hibit.m2v", 1},
                                           StreamCase{"yuv422.m2v", 2}, StreamCase{"ps.vob", 1},
                                           StreamCase{"pulldown.m2v", 1},
                                           StreamCase{"dualprime.m2v", 1}),
                         [](const auto& info) {
                             std::string s = info.param.name;
                             for (char& ch : s)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return s;
                         });

// A copy of a 29.97 fps stream with repeat_first_field set in the picture
// coding extension of one picture (the way soft pull-down marks it).
std::string withRepeatedField(const std::string& path, int picture) {
    std::vector<uint8_t> data = readFile(path);
    int seen = 0;
    for (size_t i = 0; i + 8 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB5 &&
            (data[i + 4] >> 4) == 8 && seen++ == picture) {
            data[i + 7] |= 0x02;  // bit 30 of the extension: repeat_first_field
            break;
        }
    }
    const std::string out = path + ".rff" + std::to_string(picture) + ".m2v";
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return out;
}

TEST(FilmDetection, RepeatedFieldInTheFirstTenPicturesMeansFilm) {
    ZEMBRA_REQUIRE_STREAM(ntsc, "ntsc.m2v");
    const double film = 24000.0 / 1001.0, video = 30000.0 / 1001.0;
    const std::string rff = withRepeatedField(ntsc, 3);
    EXPECT_NEAR(decodeFile(rff, 0, 5, false, 1, 0).rate, film, 1e-12);
    EXPECT_NEAR(decodeFile(rff, 0, 5, false, 0, 0).rate, video, 1e-12);
    EXPECT_NEAR(decodeFile(rff, 0, 5, false, 0, 1).rate, video,
                1e-12);  // Force24 needs Detect24Fps
    // Too late to count: the eleventh picture.
    EXPECT_NEAR(decodeFile(withRepeatedField(ntsc, 10), 0, 5, false, 1, 0).rate, video, 1e-12);
    EXPECT_NEAR(decodeFile(ntsc, 0, 5, false, 1, 0).rate, video, 1e-12);
    EXPECT_NEAR(decodeFile(ntsc, 0, 5, false, 1, 1).rate, film, 1e-12);
    // A 25 fps stream is never film.
    ZEMBRA_REQUIRE_STREAM(pal, "prog.m2v");
    EXPECT_NEAR(decodeFile(pal, 0, 5, false, 1, 1).rate, 25.0, 1e-12);
}

TEST(Opening, RefusesIdctSettingThreeAndExportOfOtherTracks) {
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    DecoderOpenParams p;
    p.files = {"/nonexistent"};
    p.idct = 3;
    double rate;
    int cf, w, h;
    // The caller shows the failure: the decoder itself shows nothing.
    Status opened = dec.openDecoder(p, rate, cf, w, h);
    EXPECT_EQ(host.message(opened), "Please run the P4 release for IDCT P4.");
    EXPECT_EQ(opened.kind(), BoxKind::Error);
    p.idct = 0;
    p.downSampling = 2;
    p.audioFormat = 2;
    opened = dec.openDecoder(p, rate, cf, w, h);
    EXPECT_EQ(host.message(opened), "Cannot export non AC3 track.");
    EXPECT_TRUE(host.boxes.empty());
}

TEST(Opening, FileWithoutSequenceHeaderFails) {
    const std::string path = std::string(ZEMBRA_BINARY_DIR) + "/not_video.bin";
    {
        std::ofstream f(path, std::ios::binary);
        std::vector<char> junk(20000, 0x42);
        f.write(junk.data(), std::streamsize(junk.size()));
    }
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    DecoderOpenParams p;
    p.files = {path};
    double rate;
    int cf, w, h;
    const Status opened = dec.openDecoder(p, rate, cf, w, h);
    EXPECT_EQ(host.message(opened), "MPEG2Dec: Error during decoder initialization.");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(dec.isOpen());
    dec.closeDecoder();  // twice is fine
}

TEST(Scan, PlainFilesBecomeOneTitleWithStreamsAndDurations) {
    ZEMBRA_REQUIRE_STREAM(vob, "ps.vob");
    ZEMBRA_REQUIRE_STREAM(mpg, "mpeg1_sys.mpg");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    ASSERT_TRUE(scanInto(dec, catalogue, {vob, mpg}, 1, 0))
        << (host.boxes.empty() ? "" : host.boxes[0].text);
    ASSERT_EQ(catalogue.count(), 1);
    const TitleRecord& t = catalogue.titles[0];
    EXPECT_TRUE(t.noCellFilter);
    ASSERT_EQ(t.cells.size(), 2u);
    EXPECT_EQ(t.cells[0].firstSector, 0u);
    const uint32_t vobSectors = uint32_t((std::filesystem::file_size(vob) + 2047) / 2048);
    EXPECT_EQ(t.cells[0].lastSector, vobSectors - 1);
    EXPECT_EQ(t.cells[1].firstSector, vobSectors);
    EXPECT_EQ(t.cells[1].vobId, 2);
    EXPECT_EQ(t.cells[1].chapter, 1);
    EXPECT_NEAR(t.cells[0].duration, 2.0, 0.05);  // 50 pictures at 25 fps
    EXPECT_NEAR(t.cells[1].duration, 2.0, 0.05);
    EXPECT_EQ(t.label, "[00] Length  00:00:04");
    EXPECT_EQ(t.audioText[0], "[00] AC3 audio");
    EXPECT_EQ(t.audioCoding[0], 0);
    // The second file's MP2 track shares the number 0: it takes the first
    // free slot with its own number.
    EXPECT_EQ(t.audioText[1], "[00] MPA (44100Hz Mono)");
    EXPECT_EQ(t.audioCoding[1], 2);
    EXPECT_EQ(t.audioStream[1], 0);
    EXPECT_EQ(t.audioText[2], "[02] Free channel");
    EXPECT_EQ(t.audioCount, 8);
    EXPECT_EQ(t.subpictureCount, 32);
    EXPECT_EQ(t.subpictureText[0], "[00] Free channel");
    EXPECT_EQ(t.palette[0][0], 0);
    EXPECT_EQ(t.palette[5][0], 255);
    // The MPEG-1 file's MP2 track is found in its first slot.
    RecordingHost host2;
    TitleCatalogue cat2;
    Mpeg2Decoder dec2(host2, cat2);
    ASSERT_TRUE(scanInto(dec2, cat2, {mpg}, 1, 0));
    EXPECT_EQ(cat2.titles[0].audioText[0], "[00] MPA (44100Hz Mono)");
    EXPECT_EQ(cat2.titles[0].audioCoding[0], 2);
    // Progress every 50 pictures: prefix, file number of count, name, pictures.
    ASSERT_FALSE(host.statuses.empty());
    EXPECT_EQ(host.statuses.front(), "Scanning 1/2 " + vob + " [50]");
    EXPECT_EQ(host.statuses.back(), "Scanning 2/2 " + mpg + " [50]");
    EXPECT_GE(host.pumps, 2);
    EXPECT_EQ(host.progressRange, 100);
    EXPECT_GT(host.progressPosition, 50);
    // A cancel request seen at a progress step ends the scan with nothing.
    RecordingHost host3;
    TitleCatalogue cat3;
    Mpeg2Decoder dec3(host3, cat3);
    CancelToken cancel;
    host3.onPump = [&] { cancel.request(); };
    EXPECT_FALSE(scanInto(dec3, cat3, {vob, mpg}, 1, 0, &cancel));
    EXPECT_EQ(cat3.count(), 0);
    EXPECT_TRUE(host3.boxes.empty());
}

TEST(Scan, FileWithoutVideoFailsWithItsMessage) {
    const std::string path = std::string(ZEMBRA_BINARY_DIR) + "/scan_junk.vob";
    {
        std::ofstream f(path, std::ios::binary);
        std::vector<char> junk(8192, 0);
        f.write(junk.data(), std::streamsize(junk.size()));
    }
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    const Status scanned = scanInto(dec, catalogue, {path}, 1, 0);
    EXPECT_EQ(host.message(scanned), "Failed to parse file, no sequence header found.");
    EXPECT_TRUE(host.boxes.empty());
}

TEST(RawStream, DecodesWithoutDemultiplexerAndBringsNoAudio) {
    ZEMBRA_REQUIRE_STREAM(path, "prog.m2v");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    struct CountingAudio : AudioRoute {
        int payloads = 0;
        DecodeStatus ac3Payload(const uint8_t*, size_t) override {
            ++payloads;
            return DecodeStatus::Ok;
        }
        DecodeStatus mpaPayload(const uint8_t*, size_t) override {
            ++payloads;
            return DecodeStatus::Ok;
        }
    } audio;
    dec.setAudio(&audio);
    int frames = 0;
    std::string types;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        ++frames;
        types += "?IPB"[std::clamp(int(p.pictureType), 0, 3)];
        return DecodeStatus::Ok;
    };
    DecoderOpenParams p;
    p.files = {path};
    double rate;
    int cf, w, h;
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    EXPECT_FALSE(dec.isSystemStream());
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_EQ(cf, 1);
    while (dec.decodeStep()) {
    }
    EXPECT_EQ(dec.status(), DecodeStatus::EndOfInput);
    EXPECT_EQ(frames, 49);  // the last reference waits for a successor that never comes
    EXPECT_EQ(audio.payloads, 0);
    // Each picture handed out carries its own coding type, in display order.
    if (haveTool("ffprobe")) {
        std::string probed;
        const std::string cmd =
            "ffprobe -v error -select_streams v -show_entries frame=pict_type "
            "-of csv=p=0 '" +
            path + "'";
        if (std::FILE* f = popen(cmd.c_str(), "r")) {
            for (int c; (c = std::fgetc(f)) != EOF;)
                if (c == 'I' || c == 'P' || c == 'B') probed += char(c);
            pclose(f);
        }
        EXPECT_EQ(types, probed.substr(0, types.size()));
    }
}

TEST(ProgramStream, RoutesTheChosenAc3TrackAndReseeks) {
    ZEMBRA_REQUIRE_STREAM(path, "ps.vob");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    struct CountingAudio : AudioRoute {
        int starts = 0, payloads = 0;
        size_t bytes = 0;
        bool syncAtStart = false;
        void ac3Start() override { ++starts; }
        DecodeStatus ac3Payload(const uint8_t* d, size_t n) override {
            if (payloads++ == 0) syncAtStart = n >= 2 && d[0] == 0x0B && d[1] == 0x77;
            bytes += n;
            return DecodeStatus::Ok;
        }
    } audio;
    dec.setAudio(&audio);
    int frames = 0;
    dec.hooks.emitFrame = [&](const DecodedPicture&) {
        ++frames;
        return DecodeStatus::Ok;
    };
    DecoderOpenParams p;
    p.files = {path};
    double rate;
    int cf, w, h;
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    EXPECT_TRUE(dec.isSystemStream());
    EXPECT_TRUE(dec.sequence().mpeg2);
    while (dec.decodeStep()) {
    }
    EXPECT_EQ(audio.starts, 1);
    EXPECT_GT(audio.bytes, 40000u);  // 2 s at 192 kbit/s
    EXPECT_GE(dec.timing().lastVideoPtsMs, 1500);
    EXPECT_EQ(dec.currentTimeSeconds(), int(dec.timing().lastAudioPtsMs / 1000));
    const int before = frames;
    ASSERT_TRUE(dec.reseek(0));
    EXPECT_GT(frames, before);
    EXPECT_EQ(audio.starts, 2);  // per-track state cleared: restarted at the first packet
    while (dec.decodeStep()) {
    }
    EXPECT_EQ(audio.starts, 2);
    EXPECT_EQ(frames, 2 * before);
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

TEST(ProgramStream, Ac3TrackReachesThePcmFifoThroughTheAudioModule) {
    ZEMBRA_REQUIRE_STREAM(path, "ps.vob");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    AudioDecoder audio(host);
    AudioDecoderRoute route(audio);
    route.attach(dec);
    DecoderOpenParams p;
    p.files = {path};
    p.downSampling = 4;  // keep 48 kHz
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoAudio);
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    const int afterOpen = audio.fifo.fill;
    const int64_t appendedAfterOpen = audio.appendedCount;
    for (int i = 0; i < 20 && dec.decodeStep(); ++i) {
    }
    // 48 kHz stereo arrives as the pictures are read, and keeps coming.
    const int first = audio.fifo.fill;
    EXPECT_GT(first, 10000);
    for (int i = 0; i < 10 && dec.decodeStep(); ++i) {
    }
    EXPECT_GT(audio.fifo.fill, first + 10 * 1920);
    EXPECT_EQ(dec.getAudioSampleRate(), 48000);
    // A re-seek to the start leaves the audio as the opening did: the PCM of
    // the old position is gone and the sample count starts over.
    ASSERT_TRUE(dec.reseek(0));
    EXPECT_EQ(audio.fifo.fill, afterOpen);
    EXPECT_EQ(audio.appendedCount, appendedAfterOpen);
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

// The sample disc's title through the title reader (navigation packets,
// sub-pictures and AC-3 beside the video) against ffmpeg's decoding of its VOB.
TEST(DvdTitle, SampleDiscTitleMatchesFfmpeg) {
    const std::string disc = std::string(ZEMBRA_SOURCE_DIR) + "/samples/VIDEO_TS";
    if (!haveTool("ffmpeg")) {
        if (std::getenv("CI")) FAIL() << "ffmpeg missing";
        GTEST_SKIP() << "ffmpeg missing";
    }
    const std::string ref = std::string(ZEMBRA_BINARY_DIR) + "/sample_disc.yuv";
    if (!std::filesystem::exists(ref)) {
        const std::string cmd =
            "ffmpeg -nostdin -v error -y -i '" + disc +
            "/VTS_01_1.VOB' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt "
            "yuv420p '" +
            ref + ".tmp' && mv '" + ref + ".tmp' '" + ref + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    const std::vector<uint8_t> reference = readFile(ref);
    RecordingHost host;
    TitleCatalogue catalogue;
    const auto sets = findTitleSets(disc);
    ASSERT_FALSE(sets.empty());
    ASSERT_TRUE(parseIfo(catalogue, sets.front().ifo, host));
    SourceReader reader(host, catalogue);
    auto input = makeSourceReaderInput(reader);
    Mpeg2Decoder dec(host, catalogue);  // closed before its input goes
    dec.setInput(input.get());
    std::vector<double> psnrs;
    size_t frame = 0;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        const size_t luma = size_t(p.width) * p.height, size = luma * 3 / 2;
        if ((frame + 1) * size <= reference.size())
            psnrs.push_back(psnr(p.planes[0], reference.data() + frame * size, luma));
        ++frame;
        return DecodeStatus::Ok;
    };
    DecoderOpenParams params;
    params.files = sets.front().vobs;
    params.title = 0;
    params.subtitleStream = 0;
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoAudio);
    ASSERT_TRUE(dec.openDecoder(params, rate, cf, w, h));
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 576);
    EXPECT_DOUBLE_EQ(rate, 25.0);
    while (dec.decodeStep()) {
    }
    dec.flushLastReference();
    EXPECT_EQ(dec.status(), DecodeStatus::EndOfInput);
    EXPECT_EQ(frame, reference.size() / (720 * 576 * 3 / 2));
    double sum = 0, worst = 99;
    for (double v : psnrs) {
        EXPECT_GE(v, 38.0);
        sum += v;
        worst = std::min(worst, v);
    }
    ASSERT_FALSE(psnrs.empty());
    std::printf(
        "[ psnr     ] sample disc    iDCT setting 0: %zu frames, worst %.2f dB, mean %.2f dB\n",
        psnrs.size(), worst, sum / double(psnrs.size()));
    EXPECT_GE(sum / double(psnrs.size()), 45.0);
    EXPECT_GT(dec.vobClock().vobNumber, 0);  // read from the navigation packets
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

// The rip loop closes the decoder at the end of a pass and reopens it for
// the next one: the pictures must come out as the first time.
TEST(Reopen, CloseReopenAndReseekDecodeTheSamePictures) {
    ZEMBRA_REQUIRE_STREAM(path, "ps.vob");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    std::vector<std::vector<uint8_t>> pictures;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        pictures.emplace_back(p.planes[0], p.planes[0] + size_t(p.width) * p.height);
        return DecodeStatus::Ok;
    };
    DecoderOpenParams params;
    params.files = {path};
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoOnly);
    ASSERT_TRUE(dec.openDecoder(params, rate, cf, w, h));
    while (dec.decodeStep()) {
    }
    const auto first = std::move(pictures);
    pictures.clear();
    dec.closeDecoder();
    EXPECT_FALSE(dec.frameStoreReady());
    ASSERT_TRUE(dec.reopenDecoder());
    ASSERT_TRUE(dec.reseek(0));
    while (dec.decodeStep()) {
    }
    ASSERT_EQ(pictures.size(), first.size());
    for (size_t k = 0; k < first.size(); ++k) ASSERT_EQ(pictures[k], first[k]) << "picture " << k;
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

// DownSampling 2 exports the chosen AC-3 track raw: from the first sync word
// on, every payload byte of the track, as ffmpeg's stream copy has them.
TEST(Ac3Export, WritesTheTrackFromItsFirstSyncWord) {
    ZEMBRA_REQUIRE_STREAM(path, "ps.vob");
    const std::string ref = path + ".copy.ac3";
    if (!std::filesystem::exists(ref)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + path +
                                "' -map 0:a -c copy -f ac3 '" + ref + ".tmp' && mv '" + ref +
                                ".tmp' '" + ref + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    const std::vector<uint8_t> copy = readFile(ref);
    const std::string out = std::string(ZEMBRA_BINARY_DIR) + "/export_test.ac3";
    std::filesystem::remove(out);
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    DecoderOpenParams p;
    p.files = {path};
    p.downSampling = 2;
    p.audioFormat = 0;
    p.ac3File = out;
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoAudio);
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    while (dec.decodeStep()) {
    }
    const std::vector<uint8_t> exported = readFile(out);
    ASSERT_GE(exported.size(), 2u);
    EXPECT_EQ(exported[0], 0x0B);
    EXPECT_EQ(exported[1], 0x77);
    // Audio is taken from the first picture decoded on: the export may start
    // a few frames into the track, and is the rest of it byte for byte.
    ASSERT_LE(exported.size(), copy.size());
    EXPECT_GT(exported.size(), copy.size() * 8 / 10);
    EXPECT_TRUE(std::equal(exported.begin(), exported.end(), copy.end() - long(exported.size())));

    // The stored default "none.ac3" means no file was chosen: nothing is written.
    const auto none = std::filesystem::path(ZEMBRA_BINARY_DIR) / "none.ac3";
    std::filesystem::remove(none);
    p.ac3File = none.string();
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    while (dec.decodeStep()) {
    }
    EXPECT_FALSE(std::filesystem::exists(none));
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

// A re-seek into the middle of a stream with open GOPs starts at the next
// I-picture and leaves out the B-pictures that follow it in coded order
// (they predict from a picture before the seek point).
TEST(ReseekMidStream, OutputStartsAtTheIPictureWithoutItsLeadingBPictures) {
    ZEMBRA_REQUIRE_STREAM(path, "ps.vob");
    if (!haveTool("ffprobe")) GTEST_SKIP() << "ffprobe missing";
    std::string probed;
    const std::string cmd =
        "ffprobe -v error -select_streams v -show_entries frame=pict_type "
        "-of csv=p=0 '" +
        path + "'";
    if (std::FILE* f = popen(cmd.c_str(), "r")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            if (c == 'I' || c == 'P' || c == 'B') probed += char(c);
        pclose(f);
    }
    const std::vector<uint8_t> ref = ffmpegDecode(path, "yuv420p");
    const size_t luma = 352 * 288, frameSize = luma * 3 / 2;
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    std::string types;
    std::vector<std::vector<uint8_t>> pictures;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        types += "?IPB"[std::clamp(int(p.pictureType), 0, 3)];
        pictures.emplace_back(p.planes[0], p.planes[0] + luma);
        return DecodeStatus::Ok;
    };
    DecoderOpenParams params;
    params.files = {path};
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoOnly);
    ASSERT_TRUE(dec.openDecoder(params, rate, cf, w, h));
    types.clear();
    pictures.clear();
    ASSERT_TRUE(dec.reseek(int64_t(std::filesystem::file_size(path) / 2048 / 2)));
    while (dec.decodeStep()) {
    }
    dec.flushLastReference();
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types[0], 'I');
    ASSERT_LE(types.size(), probed.size());
    const size_t start = probed.size() - types.size();
    EXPECT_EQ(types, probed.substr(start));
    // The two B-pictures shown before the I-picture were coded after it.
    EXPECT_EQ(probed.substr(start - 2, 2), "BB") << "the stream has no open GOP here";
    for (size_t k = 0; k < pictures.size(); ++k)
        EXPECT_GE(psnr(pictures[k].data(), ref.data() + (start + k) * frameSize, luma), 38.0)
            << "picture " << k;
}

}  // namespace
}  // namespace zembra::testing

namespace zembra::testing {
namespace {

// For a title built by the scan the playing time counts from the first audio
// time stamp: ps.vob's audio runs from 0.53 s to 2.52 s, so 1 s at the end
// (the raw time stamp would say 2).
TEST(ScannedTitle, PlayingTimeCountsFromTheFirstAudioTimeStamp) {
    ZEMBRA_REQUIRE_STREAM(vob, "ps.vob");
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    ASSERT_TRUE(scanInto(dec, catalogue, {vob}, 1, 0));
    DecoderOpenParams p;
    p.files = {vob};
    p.title = 0;
    double rate;
    int cf, w, h;
    dec.setRunMode(kRunVideoAudio);
    ASSERT_TRUE(dec.openDecoder(p, rate, cf, w, h));
    while (dec.decodeStep()) {
    }
    EXPECT_GT(dec.timing().lastAudioPtsMs, 2400);
    EXPECT_EQ(dec.currentTimeSeconds(), 1);
    // A re-seek to the start begins the count again.
    ASSERT_TRUE(dec.reseek(0));
    EXPECT_EQ(dec.currentTimeSeconds(), 0);
}

}  // namespace
}  // namespace zembra::testing
