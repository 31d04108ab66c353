#include "app/languages.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/application.h"
#include "platform/profile.h"
#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

TEST(LanguageList, DisplayNamesAndFiles) {
    TempDir tmp;
    tmp.write("langs/English.ini", "[Zembra]\nLanguageName=English\n");
    tmp.write("langs/deutsch.INI", "[Zembra]\nLanguageName=\nSTR_ERROR_19=Halt ?\n");
    tmp.write("langs/readme.txt", "");
    std::filesystem::create_directories(tmp / "langs" / "folder.ini");
    MorMultiLanguages list(tmp.dir() + "langs");
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.path(0), tmp.dir() + "langs/deutsch.INI");
    EXPECT_EQ(list.name(0), "deutsch");  // empty LanguageName: the file name
    EXPECT_EQ(list.name(1), "English");
    EXPECT_EQ(list.indexOfPath(tmp.dir() + "LANGS/english.ini"), 1);
    EXPECT_EQ(list.indexOfPath("/elsewhere/English.ini"), -1);
    EXPECT_EQ(list.path(5), "");
    EXPECT_EQ(MorMultiLanguages(tmp.dir() + "missing").count(), 0);
}

// A program folder with two language files, one lacking most keys.
struct AppFolder {
    TempDir tmp;
    AppFolder() {
        tmp.write("langs/English.ini", "[Zembra]\nLanguageName=English\n");
        tmp.write("langs/Test.ini",
                  "[Zembra]\nLanguageName=Test\nSTR_ERROR_19=Halt ?\nSTR_ERROR_0=a\\nb\n");
        ::setenv("XDG_DOCUMENTS_DIR", (tmp.dir() + "docs").c_str(), 1);
    }
};

TEST(Application, StartsInEnglishAndWritesEveryKeyBackAtExit) {
    AppFolder f;
    {
        CZembraApp app(f.tmp.dir());
        ASSERT_TRUE(app.InitInstance());
        EXPECT_EQ(app.languagePath(), f.tmp.dir() + "langs/English.ini");
        EXPECT_EQ(app.helpPath(), f.tmp.dir() + "langs/English_help.chm");
        EXPECT_EQ(app.optionsFile(), f.tmp.dir() + "options.ini");
        EXPECT_EQ(app.strings().text("STR_ERROR_19"), "Stop process ?");
        app.loadSettings();
        EXPECT_EQ(app.settings().app.outputPath, f.tmp.dir() + "docs/");
    }  // the destructor ends the application
    EXPECT_EQ(profile::getString("Zembra", "LanguageFile", "", f.tmp / "config.ini"),
              "English.ini");
    ProfileFile english(f.tmp / "langs/English.ini");
    EXPECT_EQ(english.keys("Zembra").size(), StringTable::keys().size() + 1);
    EXPECT_EQ(english.get("Zembra", "LanguageName").value_or(""), "English");
}

TEST(Application, SwitchingKeepsThePreviousTextsOfMissingKeys) {
    AppFolder f;
    CZembraApp app(f.tmp.dir());
    app.InitInstance();
    app.strings().setText("STR_ERROR_28", "english text in force");
    auto menu = app.buildLanguageMenu();
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].name, "English");
    EXPECT_TRUE(menu[0].checked);
    EXPECT_EQ(menu[1].commandId, CZembraApp::kFirstLanguageCommand + 1);
    EXPECT_FALSE(menu[1].checked);

    EXPECT_FALSE(app.onLanguageCommand(menu[0].commandId));  // already in force
    EXPECT_FALSE(app.onLanguageCommand(CZembraApp::kFirstLanguageCommand + 7));
    EXPECT_FALSE(app.onLanguageCommand(CZembraApp::kLastLanguageCommand + 1));
    ASSERT_TRUE(app.onLanguageCommand(menu[1].commandId));
    EXPECT_EQ(app.languages().currentIndex(), 1);
    EXPECT_EQ(app.helpPath(), f.tmp.dir() + "langs/Test_help.chm");
    EXPECT_EQ(app.strings().text("STR_ERROR_19"), "Halt ?");
    EXPECT_EQ(app.strings().text("STR_ERROR_0"), "a\r\nb");
    EXPECT_EQ(app.strings().text("STR_ERROR_28"), "english text in force");

    // A file deleted after the menu was built changes nothing.
    std::filesystem::remove(f.tmp / "langs/English.ini");
    EXPECT_FALSE(app.onLanguageCommand(menu[0].commandId));
    EXPECT_EQ(app.strings().text("STR_ERROR_19"), "Halt ?");

    app.ExitInstance();
    EXPECT_EQ(profile::getString("Zembra", "LanguageFile", "", f.tmp / "config.ini"), "Test.ini");
    ProfileFile test(f.tmp / "langs/Test.ini");
    EXPECT_EQ(test.keys("Zembra").size(), StringTable::keys().size() + 1);
    EXPECT_EQ(test.get("Zembra", "STR_ERROR_0").value_or(""), "a\\nb");
    EXPECT_EQ(test.get("Zembra", "STR_ERROR_28").value_or(""), "english text in force");
}

TEST(Application, LanguageFileStaysInsideTheLanguageFolder) {
    AppFolder f;
    f.tmp.write("config.ini", "[Zembra]\nLanguageFile=../../victim.ini\n");
    {
        CZembraApp app(f.tmp.dir());
        app.InitInstance();
        EXPECT_EQ(app.languagePath(), f.tmp.dir() + "langs/victim.ini");
    }
    EXPECT_FALSE(std::filesystem::exists(f.tmp.path().parent_path() / "victim.ini"));
    // Names differing only in case find the shipped file.
    f.tmp.write("config.ini", "[Zembra]\nLanguageFile=test.INI\n");
    CZembraApp app(f.tmp.dir());
    app.InitInstance();
    EXPECT_EQ(app.strings().text("STR_ERROR_19"), "Halt ?");
}

// A program folder nobody may write to (an installed copy) keeps its settings
// and a copy of its language files under $XDG_CONFIG_HOME/zembra/. Run in a
// child that drops root, since root may write anywhere.
TEST(Application, ReadOnlyProgramFolderMovesTheSettingsToTheConfigFolder) {
    namespace fs = std::filesystem;
    TempDir tmp;
    tmp.write("prog/langs/English.ini", "[Zembra]\nLanguageName=English\nSTR_ERROR_19=Halt ?\n");
    fs::create_directories(tmp / "cfg");
    fs::permissions(tmp / "cfg", fs::perms::all);
    fs::permissions(tmp / "prog", fs::perms(0555));
    fs::permissions(tmp / "prog/langs", fs::perms(0555));
    const std::string prog = tmp.dir() + "prog/", cfg = tmp.dir() + "cfg/";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
        if (access(prog.c_str(), W_OK) == 0) _exit(3);
        ::setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
        ::setenv("XDG_DOCUMENTS_DIR", (cfg + "docs").c_str(), 1);
        int fails = 0;
        {
            CZembraApp app(prog);
            app.InitInstance();
            fails += app.settingsDir() != cfg + "zembra/";
            fails += app.languagePath() != cfg + "zembra/langs/English.ini";
            fails += app.strings().text("STR_ERROR_19") != "Halt ?";
            app.loadSettings();
            fails += !app.saveSettings();
        }
        fails += !fs::exists(cfg + "zembra/options.ini");
        fails += profile::getString("Zembra", "LanguageFile", "", cfg + "zembra/config.ini") !=
                 "English.ini";
        ProfileFile copied(cfg + "zembra/langs/English.ini");
        fails += copied.keys("Zembra").size() != StringTable::keys().size() + 1;
        fails += fs::exists(prog + "config.ini") || fs::exists(prog + "options.ini");
        _exit(fails == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot make a folder read-only here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The shipped language files hold every key; the English one holds the
// built-in texts.
TEST(ShippedLanguages, CompleteAndEnglishMatchesTheDefaults) {
    std::string langs = std::string(ZEMBRA_SOURCE_DIR) + "/langs/";
    MorMultiLanguages list(langs);
    ASSERT_GE(list.count(), 2);
    for (int i = 0; i < list.count(); ++i) {
        ProfileFile file(list.path(i));
        for (auto key : StringTable::keys())
            EXPECT_TRUE(file.get("Zembra", key).has_value()) << list.path(i) << " " << key;
        EXPECT_FALSE(file.get("Zembra", "LanguageName").value_or("").empty()) << list.path(i);
    }
    StringTable english;
    english.load(langs + "English.ini");
    for (auto key : StringTable::keys())
        EXPECT_EQ(english.text(key), StringTable::defaultText(key)) << key;
    StringTable german;
    german.load(langs + "Deutsch.ini");
    EXPECT_NE(german.text("STR_MAIN_BUTTON_Rip"), "Rip Now");
}

}  // namespace
}  // namespace zembra
