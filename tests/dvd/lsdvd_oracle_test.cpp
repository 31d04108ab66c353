// An outside oracle for the IFO parser: lsdvd (libdvdread) over every test
// disc the suite makes must agree with zembra scan on the titles, their
// chapters, cells and lengths, and their audio and subtitle streams. lsdvd
// derives a stream's id from its position in the list, not from the program
// chain's stream number as players (and zembra) do, so ids are not compared.
// zembra scan --json gives language codes and codings in lsdvd's own words.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

struct Stream {
    std::string language, format;
    int channels = 0;
};

struct Title {
    double length = 0;
    int chapters = 0;
    std::vector<double> cells;
    std::vector<Stream> audio;
    std::vector<std::string> subtitles;  // languages
};

// Title set number and program chain (from 1) -> title.
using Titles = std::map<std::pair<int, int>, Title>;

std::string tagValue(const std::string& line, const char* tag) {
    const std::string open = std::string("<") + tag + ">";
    const size_t a = line.find(open);
    if (a == std::string::npos) return {};
    const size_t b = line.find("</", a);
    std::string v = line.substr(a + open.size(), b - a - open.size());
    while (!v.empty() && v.back() == ' ') v.pop_back();  // lsdvd pads some ("lpcm ")
    return v;
}

Titles fromLsdvd(const std::string& xml) {
    Titles titles;
    std::istringstream in(xml);
    std::string line, block;
    Title t;
    int vts = 0, ttn = 0;
    Stream audio;
    std::string subLanguage;
    while (std::getline(in, line)) {
        for (const char* b : {"track", "audio", "chapter", "cell", "subp"})
            if (line.find(std::string("<") + b + ">") != std::string::npos) block = b;
        if (line.find("</track>") != std::string::npos) {
            titles[{vts, ttn}] = t;
            t = Title{};
        } else if (line.find("</audio>") != std::string::npos) {
            t.audio.push_back(audio);
            block = "track";
        } else if (line.find("</subp>") != std::string::npos) {
            t.subtitles.push_back(subLanguage);
            block = "track";
        } else if (line.find("</chapter>") != std::string::npos ||
                   line.find("</cell>") != std::string::npos) {
            block = "track";
        }
        const std::string length = tagValue(line, "length");
        if (block == "track") {
            if (!length.empty()) t.length = std::atof(length.c_str());
            if (auto v = tagValue(line, "vts"); !v.empty()) vts = std::atoi(v.c_str());
            if (auto v = tagValue(line, "ttn"); !v.empty()) ttn = std::atoi(v.c_str());
        } else if (block == "chapter") {
            if (!tagValue(line, "ix").empty()) ++t.chapters;
        } else if (block == "cell") {
            if (!length.empty()) t.cells.push_back(std::atof(length.c_str()));
        } else if (block == "audio") {
            if (auto v = tagValue(line, "langcode"); !v.empty()) audio.language = v;
            if (auto v = tagValue(line, "format"); !v.empty()) audio.format = v;
            if (auto v = tagValue(line, "channels"); !v.empty())
                audio.channels = std::atoi(v.c_str());
        } else if (block == "subp") {
            if (auto v = tagValue(line, "langcode"); !v.empty()) subLanguage = v;
        }
    }
    return titles;
}

// The section of `text` from `open` to the bracket that closes it.
std::string section(const std::string& text, const std::string& open) {
    const size_t a = text.find(open);
    if (a == std::string::npos) return {};
    int depth = 0;
    for (size_t i = a + open.size() - 1; i < text.size(); ++i) {
        if (text[i] == '[' || text[i] == '{') ++depth;
        if ((text[i] == ']' || text[i] == '}') && --depth == 0)
            return text.substr(a + open.size(), i - a - open.size());
    }
    return {};
}

Titles fromScanJson(const std::string& json) {
    static const std::regex setStart(R"(\{"number": (\d+), "ifo")");
    static const std::regex titleStart(R"(\{"position": \d+, "label")");
    static const std::regex duration(R"("duration": ([0-9.]+)\})");
    static const std::regex chapter(R"(\{"number": \d+, "firstCell")");
    static const std::regex audio(
        R"re("coding": "(\w+)", "language": "([^"]*)", "channels": (\d+))re");
    static const std::regex language(R"re("language": "([^"]*)")re");
    Titles titles;
    std::vector<std::pair<size_t, int>> sets;
    for (std::sregex_iterator i(json.begin(), json.end(), setStart), e; i != e; ++i)
        sets.push_back({size_t(i->position()), std::stoi((*i)[1])});
    for (size_t k = 0; k < sets.size(); ++k) {
        const size_t end = k + 1 < sets.size() ? sets[k + 1].first : json.size();
        const std::string set = json.substr(sets[k].first, end - sets[k].first);
        std::vector<size_t> starts;
        for (std::sregex_iterator i(set.begin(), set.end(), titleStart), e; i != e; ++i)
            starts.push_back(size_t(i->position()));
        for (size_t t = 0; t < starts.size(); ++t) {
            const size_t to = t + 1 < starts.size() ? starts[t + 1] : set.size();
            const std::string one = set.substr(starts[t], to - starts[t]);
            Title& title = titles[{sets[k].second, int(t) + 1}];
            const std::string cells = section(one, "\"cells\": [");
            for (std::sregex_iterator i(cells.begin(), cells.end(), duration), e; i != e; ++i) {
                title.cells.push_back(std::stod((*i)[1]));
                title.length += title.cells.back();
            }
            const std::string chapters = section(one, "\"chapters\": [");
            title.chapters =
                int(std::distance(std::sregex_iterator(chapters.begin(), chapters.end(), chapter),
                                  std::sregex_iterator()));
            const std::string streams = section(one, "\"audio\": [");
            for (std::sregex_iterator i(streams.begin(), streams.end(), audio), e; i != e; ++i)
                title.audio.push_back({(*i)[2], (*i)[1], std::stoi((*i)[3])});
            const std::string subs = section(one, "\"subtitles\": [");
            for (std::sregex_iterator i(subs.begin(), subs.end(), language), e; i != e; ++i)
                title.subtitles.push_back((*i)[1]);
        }
    }
    return titles;
}

void expectAgreement(const std::string& disc) {
    SCOPED_TRACE(disc);
    // Held as the disc maker holds it: another test may be making it anew.
    const std::string locked = "flock '" + disc + ".lock' ";
    auto [lsStatus, xml] = testing::run(locked + "lsdvd -x -Ox '" + disc + "' 2>/dev/null");
    ASSERT_EQ(lsStatus, 0) << xml;
    auto [status, text] =
        testing::run(locked + testing::zembraBinary() + " scan --json '" + disc + "'");
    ASSERT_EQ(status, 0) << text;
    const Titles theirs = fromLsdvd(xml.substr(xml.find("<?xml")));
    const Titles ours = fromScanJson(text);
    ASSERT_FALSE(theirs.empty()) << xml;
    for (const auto& [key, want] : theirs) {
        SCOPED_TRACE("title set " + std::to_string(key.first) + ", title " +
                     std::to_string(key.second));
        auto it = ours.find(key);
        ASSERT_NE(it, ours.end()) << text;
        const Title& got = it->second;
        EXPECT_EQ(got.chapters, want.chapters);
        ASSERT_EQ(got.cells.size(), want.cells.size());
        for (size_t c = 0; c < want.cells.size(); ++c)
            EXPECT_NEAR(got.cells[c], want.cells[c], 0.041);
        EXPECT_NEAR(got.length, want.length, 0.041);
        ASSERT_EQ(got.audio.size(), want.audio.size()) << text;
        for (size_t a = 0; a < want.audio.size(); ++a) {
            EXPECT_EQ(got.audio[a].language, want.audio[a].language) << a;
            EXPECT_EQ(got.audio[a].format, want.audio[a].format) << a;
            EXPECT_EQ(got.audio[a].channels, want.audio[a].channels) << a;
        }
        EXPECT_EQ(got.subtitles, want.subtitles) << text;
    }
}

TEST(LsdvdOracle, ScanAgreesWithLsdvdOnEveryTestDisc) {
    ZEMBRA_REQUIRE_BINARY();
    if (testing::toolsMissing({"lsdvd"})) {
        if (std::getenv("CI")) FAIL() << "lsdvd is missing (tools/install-deps.sh installs it)";
        GTEST_SKIP() << "lsdvd missing";
    }
    // Discs of every kind the parser meets, made here; then every disc the
    // other tests left in the build tree.
    const std::vector<std::pair<std::string, std::string>> made = {
        {"oracle-rich",
         "--audio ac3-51:en --audio mp2:de --audio lpcm:fr --subs 2 --seconds 3 "
         "--chapters 0,0:01,0:02"},
        {"oracle-ntsc-wide", "--ntsc --wide --lpcm --subs 1 --seconds 2 --two-pgc --seconds2 3"},
        {"oracle-split", "--seconds 3 --split-sectors 300 --chapters 0,0:01.5"},
    };
    for (const auto& [name, options] : made) {
        const std::string disc = testing::makeDisc(name, options);
        ZEMBRA_REQUIRE_DISC(disc);
    }
    int discs = 0;
    for (const auto& e : fs::directory_iterator(std::string(ZEMBRA_BINARY_DIR) + "/test-discs")) {
        if (!fs::exists(e.path() / ".made-by") ||
            !fs::exists(e.path() / "VIDEO_TS" / "VIDEO_TS.IFO"))
            continue;
        expectAgreement(e.path().string());
        ++discs;
    }
    EXPECT_GE(discs, 3);
}

}  // namespace
}  // namespace zembra
