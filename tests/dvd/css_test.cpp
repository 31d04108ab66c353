// CSS-scrambled discs: scrambled packs are recognised by their PES
// scrambling bits; a scrambled disc image is refused before anything is
// written when libdvdcss is missing, and read through it when it is there
// (here a stand-in built by the tests over a reversible transform, as real
// CSS cannot be made here): the rip then equals the clear disc's rip.
#include "dvd/css.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::run;
using testing::zembraBinary;

// A DVD pack (no stuffing) whose first packet has the given stream id and
// PES flags byte.
std::vector<uint8_t> pack(uint8_t streamId, uint8_t flags) {
    std::vector<uint8_t> s(2048, 0xFF);
    const uint8_t head[] = {0,    0,    1, 0xBA, 0x44, 0,        4,    0,    4,     1,    1,   0x89,
                            0xC3, 0xF8, 0, 0,    1,    streamId, 0x07, 0xEC, flags, 0x81, 0x05};
    std::copy(std::begin(head), std::end(head), s.begin());
    return s;
}

TEST(Css, ScrambledPacksAreKnownByTheirPesBits) {
    for (uint8_t id : {uint8_t(0xE0), uint8_t(0xBD), uint8_t(0xC0)}) {
        EXPECT_FALSE(css::sectorScrambled(pack(id, 0x81).data(), 2048)) << int(id);
        EXPECT_TRUE(css::sectorScrambled(pack(id, 0x91).data(), 2048)) << int(id);
        EXPECT_TRUE(css::sectorScrambled(pack(id, 0xB1).data(), 2048)) << int(id);
    }
    // Navigation and padding packets are never scrambled; a sector that is no
    // pack says nothing; a short sector neither.
    EXPECT_FALSE(css::sectorScrambled(pack(0xBF, 0x91).data(), 2048));
    EXPECT_FALSE(css::sectorScrambled(pack(0xBE, 0x91).data(), 2048));
    std::vector<uint8_t> ifo(2048, 0x30);
    EXPECT_FALSE(css::sectorScrambled(ifo.data(), ifo.size()));
    EXPECT_FALSE(css::sectorScrambled(pack(0xE0, 0x91).data(), 100));
}

// The tests' scrambler: every video, audio and private-stream pack gets its
// scrambling bits and the stand-in's transform of its bytes after the 128th.
void scrambleVob(const std::string& path) {
    std::vector<uint8_t> data = testing::readAll(path);
    for (size_t at = 0; at + 2048 <= data.size(); at += 2048) {
        uint8_t* s = &data[at];
        uint8_t id = s[17];
        bool media = s[14] == 0 && s[15] == 0 && s[16] == 1 &&
                     (id == 0xBD || (id >= 0xC0 && id <= 0xEF)) && (s[0x14] & 0xC0) == 0x80;
        if (!media) continue;
        s[0x14] |= 0x10;
        for (int i = 128; i < 2048; ++i) s[i] ^= uint8_t(0x5A + 7 * i);
    }
    testing::writeAll(path, data);
}

struct ScrambledDisc {
    std::string clearIso, scrambledIso, scrambledFolder;
};

ScrambledDisc makeScrambledDisc() {
    ScrambledDisc d;
    std::string clear = testing::makeDisc("css-clear", "--seconds 2 --mp2 --iso");
    if (clear.empty() || testing::toolsMissing({"genisoimage"})) return d;
    const std::string dir = testing::scratchDir("css");
    fs::create_directories(dir + "/disc/AUDIO_TS");
    fs::copy(clear + "/VIDEO_TS", dir + "/disc/VIDEO_TS");
    for (const auto& e : fs::directory_iterator(dir + "/disc/VIDEO_TS"))
        if (e.path().extension() == ".VOB") scrambleVob(e.path().string());
    const std::string iso = dir + "/scrambled.iso";
    const std::string cmd = "genisoimage -quiet -dvd-video -udf -V SCRAMBLED -o '" + iso + "' '" +
                            dir + "/disc' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return d;
    d.clearIso = clear + "/disc.iso";
    d.scrambledIso = iso;
    d.scrambledFolder = dir + "/disc/VIDEO_TS";
    return d;
}

// zembra rip SOURCE into DIR as NAME.avi + NAME.wav, with libdvdcss as LIBRARY.
std::pair<int, std::string> rip(const std::string& source, const std::string& dir,
                                const std::string& name, const std::string& library) {
    fs::create_directories(dir + "/prog");
    fs::create_directories(dir + "/out");
    if (!fs::exists(dir + "/prog/langs"))
        fs::copy(std::string(ZEMBRA_SOURCE_DIR) + "/langs", dir + "/prog/langs");
    return run("ZEMBRA_DVDCSS_LIBRARY='" + library + "' ZEMBRA_PROGRAM_DIR='" + dir + "/prog' " +
               zembraBinary() + " rip '" + source + "' --output-dir '" + dir + "/out' --name " +
               name + " --format 2 --video-codec 'DIB ' --avi-audio wav --width 352 --height 288" +
               " --yes --quiet --overwrite </dev/null");
}

TEST(Css, ScrambledDiscIsRefusedWithoutTheLibraryAndRipsThroughIt) {
    ZEMBRA_REQUIRE_BINARY();
    ScrambledDisc d = makeScrambledDisc();
    ZEMBRA_REQUIRE_DISC(d.scrambledIso);
    const std::string dir = testing::scratchDir("css-rip");
    const std::string missing = dir + "/no-such/libdvdcss.so.2";

    // scan says which title sets are scrambled.
    auto scan = run("ZEMBRA_DVDCSS_LIBRARY='" + missing + "' " + zembraBinary() + " scan '" +
                    d.scrambledIso + "'");
    EXPECT_EQ(scan.first, 0) << scan.second;
    EXPECT_NE(scan.second.find("CSS-scrambled"), std::string::npos) << scan.second;
    auto clearScan = run(zembraBinary() + " scan '" + d.clearIso + "'");
    EXPECT_EQ(clearScan.second.find("CSS-scrambled"), std::string::npos) << clearScan.second;

    // Without the library: refused, said, nothing written.
    auto [status, out] = rip(d.scrambledIso, dir, "refused", missing);
    EXPECT_NE(status, 0) << out;
    EXPECT_NE(out.find("CSS-scrambled"), std::string::npos) << out;
    EXPECT_NE(out.find("libdvdcss2"), std::string::npos) << out;
    EXPECT_NE(out.find("[00] Length"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir + "/out/refused.avi"));
    EXPECT_FALSE(fs::exists(dir + "/out/refused.wav"));

    // Copied files carry no keys: refused even with the library.
    auto copied = rip(d.scrambledFolder, dir, "copied", DVDCSS_STANDIN);
    EXPECT_NE(copied.first, 0) << copied.second;
    EXPECT_FALSE(fs::exists(dir + "/out/copied.avi"));

    // Through the library the scrambled image rips as the clear one does.
    auto clearRip = rip(d.clearIso, dir, "clear", missing);
    ASSERT_EQ(clearRip.first, 0) << clearRip.second;
    auto through = rip(d.scrambledIso, dir, "through", DVDCSS_STANDIN);
    ASSERT_EQ(through.first, 0) << through.second;
    for (const char* ext : {".avi", ".wav"}) {
        const auto a = testing::readAll(dir + "/out/clear" + ext);
        const auto b = testing::readAll(dir + "/out/through" + ext);
        EXPECT_GT(a.size(), 100000u) << ext;
        EXPECT_TRUE(a == b) << ext << ": the rip through libdvdcss differs from the clear one";
    }
}

}  // namespace
}  // namespace zembra
