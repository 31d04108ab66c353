#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

TEST(ProfileRead, MatchesSectionsAndKeysWithoutCaseAndTrimsValues) {
    TempDir tmp;
    auto file = tmp.write("a.ini",
                          "; comment\r\n"
                          "orphan=before any section\r\n"
                          "[Zembra_Output]\r\n"
                          "  Width =  720  \r\n"
                          "Name=\"  quoted  \"\r\n"
                          "Single='x'\r\n"
                          "Half=\"x\r\n"
                          "Width=999\r\n"
                          "[zembra_output]\r\n"
                          "Height=1\r\n"
                          "[Other]\r\n"
                          "Height=576\r\n");
    EXPECT_EQ(profile::getString("ZEMBRA_OUTPUT", "width", "x", file), "720");
    // One pair of quotes goes, the blanks inside stay.
    EXPECT_EQ(profile::getString("Zembra_Output", "Name", "", file), "  quoted  ");
    EXPECT_EQ(profile::getString("Zembra_Output", "Single", "", file), "x");
    EXPECT_EQ(profile::getString("Zembra_Output", "Half", "", file), "\"x");
    // The first of duplicate sections and keys wins.
    EXPECT_EQ(profile::getInt("Zembra_Output", "Height", 7, file), 7);
    EXPECT_EQ(profile::getInt("other", "HEIGHT", 7, file), 576);
    EXPECT_EQ(profile::getString("Zembra_Output", "orphan", "dflt", file), "dflt");
    EXPECT_EQ(profile::getString("", "orphan", "dflt", file), "dflt");
    // A missing file is an empty profile.
    EXPECT_EQ(profile::getInt("a", "b", 42, tmp / "missing.ini"), 42);
}

TEST(ProfileRead, BufferReadReportsWhatWasCopied) {
    TempDir tmp;
    auto file = tmp.write("a.ini", "[S]\nLong=0123456789\n");
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(profile::getString("S", "Long", "", buffer, 8, file), 7);
    EXPECT_STREQ(buffer, "0123456");
    char big[64];
    EXPECT_EQ(profile::getString("S", "Long", "", big, 64, file), 10);
    EXPECT_STREQ(big, "0123456789");
    // The default loses its trailing blanks.
    EXPECT_EQ(profile::getString("S", "Missing", "abc   ", big, 64, file), 3);
    EXPECT_STREQ(big, "abc");
    EXPECT_EQ(profile::getString("S", "Long", "", big, 0, file), 0);
}

TEST(ProfileRead, BufferReadFromAProfileInMemory) {
    ProfileFile file = ProfileFile::fromText("[S]\r\nValue=  \"abcdefghij\"  \r\n");
    char buffer[6];
    EXPECT_EQ(profile::getString(file, "s", "VALUE", "", buffer, 6), 5);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(profile::getString(file, "S", "Missing", "dflt \t ", buffer, 6), 4);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(profile::getString(file, "S", "Missing", "", buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
}

// What a writer quotes must read back exactly as it was given.
TEST(ProfileWrite, QuotedValuesReadBackTheSame) {
    TempDir tmp;
    auto file = tmp / "q.ini";
    const std::string values[] = {"plain",    " lead",       "trail ",    "\tboth\t", "\"quoted\"",
                                  "'single'", "\"half",      "it's",      " ",        "",
                                  "\"\"",     "a \"mid\" b", "x=y; z [w]"};
    for (const auto& v : values) {
        ASSERT_TRUE(profile::writeString("S", "K", profile::quoteIfNeeded(v), file));
        EXPECT_EQ(profile::getString("S", "K", "dflt", file), v) << "[" << v << "]";
    }
    EXPECT_EQ(profile::quoteIfNeeded("plain"), "plain");
    EXPECT_EQ(profile::quoteIfNeeded("trail "), "\"trail \"");
}

TEST(ProfileRead, IntegersAsTheWindowsFunctionsReadThem) {
    EXPECT_EQ(profile::parseInt("-1", 5), -1);
    EXPECT_EQ(profile::parseInt(" +19500 ", 5), 19500);
    EXPECT_EQ(profile::parseInt("0x1F", 5), 31);
    EXPECT_EQ(profile::parseInt("12abc", 5), 12);
    EXPECT_EQ(profile::parseInt("abc", 5), 0);
    EXPECT_EQ(profile::parseInt("", 5), 5);
    EXPECT_EQ(profile::parseInt("4294967295", 5), -1);  // wraps like 32 bits
    EXPECT_EQ(profile::parseInt("99999999999999999999999999", 5),
              profile::parseInt("99999999999999999999999999", 5));  // no overflow trap
}

TEST(ProfileWrite, KeepsEveryOtherLineAndTheKeySpelling) {
    TempDir tmp;
    auto file = tmp.write("a.ini",
                          "; keep me\n"
                          "[One]\n"
                          "Alpha=1\n"
                          "BETA=2\n"
                          "\n"
                          "[Two]\n"
                          "Gamma=3\n");
    ASSERT_TRUE(profile::writeString("one", "beta", "20", file));
    ASSERT_TRUE(profile::writeString("One", "Delta", "4", file));
    ASSERT_TRUE(profile::writeString("Three", "Eps", "5", file));
    ASSERT_TRUE(profile::writeString("Two", "Gamma", std::nullopt, file));
    EXPECT_EQ(TempDir::read(file),
              "; keep me\n"
              "[One]\n"
              "Alpha=1\n"
              "BETA=20\n"
              "Delta=4\n"
              "\n"
              "[Two]\n"
              "\n"
              "[Three]\n"
              "Eps=5\n");
}

TEST(ProfileWrite, CreatesTheFileAndKeepsCrlf) {
    TempDir tmp;
    auto fresh = tmp / "new.ini";
    ASSERT_TRUE(profile::writeString("S", "K", "v", fresh));
    EXPECT_EQ(TempDir::read(fresh), "[S]\nK=v\n");

    auto dos = tmp.write("dos.ini", "[S]\r\nK=v\r\n");
    ASSERT_TRUE(profile::writeString("S", "L", "w", dos));
    EXPECT_EQ(TempDir::read(dos), "[S]\r\nK=v\r\nL=w\r\n");
    EXPECT_EQ(profile::getString("S", "L", "", dos), "w");
}

// Many edits of one profile in memory: every lookup after them must see what
// a fresh read of the written text sees.
TEST(ProfileWrite, EditsInMemoryReadLikeTheWrittenText) {
    ProfileFile p = ProfileFile::fromText("[S]\nA=1\n\n[T]\nX=9\n[s]\nB=shadowed\n[U]\nY=8\n");
    p.set("S", "B", "2");
    p.set("s", "c", "3");
    p.set("T", "Z", "10");
    p.set("T", "X", std::nullopt);
    p.set("New", "K", "v");
    p.set("U", "Y", "80");
    p.set("S", "A", std::nullopt);
    p.set("S", "A", "11");
    p.set("T", "k=v", "odd");
    ProfileFile fresh = ProfileFile::fromText(p.text());
    for (const char* section : {"S", "T", "U", "New"}) {
        for (const char* key : {"A", "B", "C", "X", "Y", "Z", "K", "k"}) {
            EXPECT_EQ(p.get(section, key), fresh.get(section, key)) << section << "." << key;
        }
    }
    EXPECT_EQ(p.get("S", "B").value_or(""), "2");
    EXPECT_EQ(p.get("T", "X"), std::nullopt);
    EXPECT_EQ(p.get("T", "k").value_or(""), "v=odd");
    EXPECT_EQ(p.get("U", "Y").value_or(""), "80");
    EXPECT_EQ(p.keys("S"), (std::vector<std::string>{"B", "c", "A"}));
}

TEST(ProfileWrite, ALineBreakInAValueCannotForgeAnotherKey) {
    TempDir tmp;
    auto file = tmp / "a.ini";
    ASSERT_TRUE(profile::writeString("S", "Name", "a\nWidth=8\r\n[Other]", file));
    EXPECT_EQ(profile::getString("S", "Width", "none", file), "none");
    EXPECT_EQ(profile::getString("S", "Name", "", file), "aWidth=8[Other]");
}

TEST(ProfileWrite, FailsWhereItCannotWrite) {
    TempDir tmp;
    std::filesystem::create_directories(tmp / "folder.ini");
    EXPECT_FALSE(profile::writeString("S", "K", "v", tmp / "folder.ini"));
    EXPECT_FALSE(profile::writeString("S", "K", "v", tmp / "no" / "such" / "dir.ini"));
}

TEST(ProfileStruct, RoundTripsWithItsChecksum) {
    TempDir tmp;
    auto file = tmp / "a.ini";
    const uint8_t bytes[5] = {0x00, 0x01, 0xFE, 0xFF, 0x80};
    ASSERT_TRUE(profile::writeStruct("S", "Blob", bytes, 5, file));
    // Byte sum 0x27E: checksum 0x7E.
    EXPECT_EQ(profile::getString("S", "Blob", "", file), "0001FEFF807E");
    uint8_t back[5] = {};
    ASSERT_TRUE(profile::getStruct("S", "Blob", back, 5, file));
    EXPECT_EQ(std::memcmp(bytes, back, 5), 0);
    EXPECT_EQ(profile::encodeStruct(nullptr, 0), "00");
}

TEST(ProfileStruct, WrongLengthChecksumOrDigitsReadAsFailure) {
    uint8_t data[5] = {9, 9, 9, 9, 9};
    const uint8_t untouched[5] = {9, 9, 9, 9, 9};
    EXPECT_FALSE(profile::decodeStruct("0001FEFF807F", data, 5));  // checksum
    EXPECT_FALSE(profile::decodeStruct("0001FEFF80", data, 5));    // truncated
    EXPECT_FALSE(profile::decodeStruct("0001FEFF807E00", data, 5));
    EXPECT_FALSE(profile::decodeStruct("0001FEFG807E", data, 5));  // not hex
    EXPECT_FALSE(profile::decodeStruct("0001FEFF807", data, 5));
    EXPECT_EQ(std::memcmp(data, untouched, 5), 0);
    EXPECT_TRUE(profile::decodeStruct("0001feff807e", data, 5));
    EXPECT_FALSE(profile::decodeStruct("", data, static_cast<size_t>(-1)));
}

TEST(ProfileHostile, GarbageNeverCrashesAndFallsBackToDefaults) {
    TempDir tmp;
    std::string content = "Width=8\n";  // no section
    content += "[S]\n";
    content += "Long=" + std::string(100 * 1024, 'x') + "\n";
    content += std::string("Nul=ab\0cd\n", 10);
    content += std::string("\0Hidden=1\n", 10);
    content += "Blob=00FF\n";
    content += "[Unclosed\n=novalue\n[]\n[S\n";
    content += std::string(1000, '[') + "\n";
    auto file = tmp.write("h.ini", content);
    EXPECT_EQ(profile::getInt("", "Width", 352, file), 352);
    EXPECT_EQ(profile::getString("S", "Long", "", file).size(), 100u * 1024);
    EXPECT_EQ(profile::getString("S", "Nul", "", file), "ab");
    EXPECT_EQ(profile::getInt("S", "Hidden", 3, file), 3);
    uint8_t blob[4];
    EXPECT_FALSE(profile::getStruct("S", "Blob", blob, 4, file));
    // A write into such a file keeps what it cannot parse.
    ASSERT_TRUE(profile::writeString("S", "New", "1", file));
    EXPECT_EQ(profile::getString("S", "Long", "", file).size(), 100u * 1024);
    EXPECT_EQ(profile::getInt("S", "New", 0, file), 1);
}

}  // namespace
}  // namespace zembra
