#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/profile.h"
#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

TEST(StringTableKeys, UniqueInTableOrderWithEveryMessageCode) {
    const auto& keys = StringTable::keys();
    std::set<std::string_view> unique(keys.begin(), keys.end());
    EXPECT_EQ(unique.size(), keys.size());
    EXPECT_EQ(keys.front(), "STR_MAIN_LABEL_Index");
    // The original 463 texts come first, in their order; the window's own
    // texts are appended after them.
    ASSERT_GE(keys.size(), 463u);
    EXPECT_EQ(keys[462], "STR_ERROR_1003");
    EXPECT_LT(StringTable::indexOf("STR_MAIN_BUTTON_Rip"), StringTable::indexOf("STR_ERROR_0"));
    int messages = 0;
    for (auto k : keys) {
        EXPECT_FALSE(StringTable::defaultText(k).empty()) << k;
        if (k.rfind("STR_ERROR_", 0) == 0 && StringTable::indexOf(k) < 463) ++messages;
    }
    EXPECT_EQ(messages, 173);
    for (auto gap : {"STR_ERROR_27", "STR_ERROR_46", "STR_ERROR_48", "STR_ERROR_104"})
        EXPECT_EQ(StringTable::indexOf(gap), -1) << gap;
}

TEST(StringTableKeys, ShippedLanguagesHoldEveryKey) {
    for (const char* language : {"English.ini", "Deutsch.ini"}) {
        ProfileFile file(std::filesystem::path(ZEMBRA_SOURCE_DIR) / "langs" / language);
        for (auto key : StringTable::keys())
            EXPECT_TRUE(file.get("Zembra", key).has_value()) << language << " lacks " << key;
    }
}

TEST(StringTableKeys, DefaultsAreTheEnglishTexts) {
    StringTable t;
    EXPECT_EQ(t.text("STR_ERROR_52"), "Unable to parse as an IFO-File.");
    EXPECT_EQ(t.text("STR_ERROR_0"),
              "Buffer size must ne greater then 1MB.\r\nReset buffer size to 1Meg.");
    EXPECT_EQ(t.text("STR_ERROR_33"), "  already exists. \r\nOverwrite the file ?");
    EXPECT_EQ(t.text("STR_MAIN_DLG_InformationTitle"), "Infomation");
    EXPECT_EQ(t.text("STR_MAIN_LABEL_MONITOR_UsedSize"), "Used Size: ");
    EXPECT_EQ(t.text("STR_MAIN_COMBO_Format_11"), "DVD PAL Good Quality");
    EXPECT_EQ(t.text("STR_MAIN_COMBO_Split_4"), "80 MIn ISO DataCD");
    EXPECT_EQ(t.text("STR_GLOBAL_COMBO_DOWNSAMPLING_1"), "High quality (slow) 48.0KHz to 44.1KHz");
    EXPECT_EQ(t.text("STR_NO_SUCH_KEY"), "STR_NO_SUCH_KEY");
    EXPECT_EQ(StringTable::defaultText("STR_NO_SUCH_KEY"), "");
}

TEST(StringTableFile, LoadKeepsTextsOfMissingKeysAndTurnsBackslashNIntoBreaks) {
    TempDir tmp;
    std::string longText(300, 'L');
    auto file = tmp.write("Test.ini",
                          "[Zembra]\n"
                          "LanguageName=Test\n"
                          "STR_ERROR_19=Prozess anhalten ?\n"
                          "STR_ERROR_0=eins\\nzwei\n"
                          "STR_MAIN_LABEL_Index=" +
                              longText + "\n");
    StringTable t;
    t.setText("STR_ERROR_28", "previous language");
    EXPECT_TRUE(t.load(file));
    EXPECT_EQ(t.text("STR_ERROR_19"), "Prozess anhalten ?");
    EXPECT_EQ(t.text("STR_ERROR_0"), "eins\r\nzwei");
    EXPECT_EQ(t.text("STR_MAIN_LABEL_Index"), longText);
    EXPECT_EQ(t.text("STR_ERROR_28"), "previous language");  // not in the file
    EXPECT_EQ(t.text("STR_ERROR_52"), "Unable to parse as an IFO-File.");

    // A missing file or a blank path changes nothing.
    EXPECT_TRUE(t.load(tmp / "missing.ini"));
    EXPECT_TRUE(t.load("   "));
    EXPECT_EQ(t.text("STR_ERROR_19"), "Prozess anhalten ?");
    t.release();
    EXPECT_EQ(t.text("STR_ERROR_19"), "Stop process ?");
}

// The read grows its buffer by doubling from 128 bytes (or the length of the
// text in force + 1); values that end exactly at a buffer size must not be cut.
TEST(StringTableFile, ValuesOfEveryLengthAroundTheBufferSizesReadWhole) {
    for (size_t length : {126u, 127u, 128u, 129u, 130u, 131u, 255u, 256u, 261u, 4000u}) {
        std::string value(length, 'v');
        value.back() = 'E';
        ProfileFile file = ProfileFile::fromText("[Zembra]\nSTR_ERROR_4=" + value +
                                                 "\nSTR_ERROR_26=" + value + "\n");
        StringTable t;
        t.load(file);
        EXPECT_EQ(t.text("STR_ERROR_4"), value) << length;
        // STR_ERROR_26 starts from a 130-character default: a 131-byte buffer.
        EXPECT_EQ(t.text("STR_ERROR_26"), value) << length;
    }
}

TEST(StringTableFile, HostileFileNeverCrashesAndKeepsTheTextsInForce) {
    TempDir tmp;
    std::string content = "STR_ERROR_19=no section\n";
    content += "[Zembra]\nSTR_ERROR_4=first\nSTR_ERROR_4=second\n";
    content += "STR_ERROR_5=" + std::string(100 * 1024, 'x') + "\n";
    content += std::string("STR_ERROR_6=ab\0cd\n", 17);
    content += std::string("\0STR_ERROR_7=hidden\n", 20);
    content += "STR_ERROR_8\n=novalue\n[Zembra\n";
    auto file = tmp.write("Hostile.ini", content);
    StringTable t;
    t.load(file);
    EXPECT_EQ(t.text("STR_ERROR_19"), "Stop process ?");
    EXPECT_EQ(t.text("STR_ERROR_4"), "first");
    EXPECT_EQ(t.text("STR_ERROR_5").size(), 100u * 1024);
    EXPECT_EQ(t.text("STR_ERROR_6"), "ab");
    EXPECT_EQ(t.text("STR_ERROR_7"), "Video player initialisation failed.");
    EXPECT_EQ(t.text("STR_ERROR_8"), "Sound player initialisation failed.");
    ASSERT_TRUE(t.save(file));
    StringTable back;
    back.load(file);
    for (auto key : StringTable::keys()) EXPECT_EQ(back.text(key), t.text(key)) << key;
}

TEST(StringTableFile, SaveWritesEveryKeyAndReadsBackTheSame) {
    TempDir tmp;
    auto file = tmp.write("Test.ini", "[Zembra]\nLanguageName=Test\nSTR_ERROR_19=Halt ?\n");
    StringTable t;
    t.load(file);
    t.setText("STR_ERROR_4", "line one\nbare LF\rbare CR");
    ASSERT_TRUE(t.save(file));

    ProfileFile saved(file);
    EXPECT_EQ(saved.get("Zembra", "LanguageName").value_or(""), "Test");
    EXPECT_EQ(saved.keys("Zembra").size(), StringTable::keys().size() + 1);
    std::string raw = TempDir::read(file);
    EXPECT_NE(raw.find("STR_ERROR_0=Buffer size must ne greater then 1MB.\\nReset"),
              std::string::npos);
    EXPECT_NE(raw.find("STR_ERROR_4=line one\\nbare LF\\nbare CR\n"), std::string::npos);

    StringTable back;
    back.load(file);
    for (auto key : StringTable::keys()) {
        if (key == "STR_ERROR_4") continue;
        EXPECT_EQ(back.text(key), t.text(key)) << key;
    }
    // Leading and trailing blanks survive the file.
    EXPECT_EQ(back.text("STR_MAIN_LABEL_MONITOR_UsedSize"), "Used Size: ");
    EXPECT_EQ(back.text("STR_SCROP_LABEL_INFO").substr(0, 6), "    If");
    EXPECT_EQ(back.text("STR_ERROR_4"), "line one\r\nbare LF\r\nbare CR");
}

TEST(StringTableFile, LineBreakSpellings) {
    EXPECT_EQ(StringTable::toFileText("a\r\nb"), "a\\nb");
    EXPECT_EQ(StringTable::fromFileText("a\\nb\\"), "a\r\nb\\");
    EXPECT_EQ(StringTable::toFileText("\"quoted\""), "\"\"quoted\"\"");
    EXPECT_EQ(StringTable::toFileText("'single'"), "\"'single'\"");
    EXPECT_EQ(StringTable::toFileText("it's"), "it's");
    EXPECT_EQ(StringTable::toFileText(""), "");
}

}  // namespace
}  // namespace zembra
