#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/priority.h"
#include "platform/shutdown.h"
#include "support/no_shutdown.h"
#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        if (old) old_ = old;
        had_ = old != nullptr;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(Wildcards, MatchWithoutCase) {
    EXPECT_TRUE(matchNoCase("*.IFO", "vts_01_0.ifo"));
    EXPECT_TRUE(matchNoCase("*.ini", "Deutsch.INI"));
    EXPECT_TRUE(matchNoCase("VTS_??_1.VOB", "vts_01_1.vob"));
    EXPECT_FALSE(matchNoCase("VTS_??_1.VOB", "vts_1_1.vob"));
    EXPECT_FALSE(matchNoCase("*.ifo", "vts_01_0.ifo.bak"));
    EXPECT_TRUE(matchNoCase("*", ""));
    EXPECT_FALSE(matchNoCase("", "a"));
    // Pathological patterns finish at once.
    EXPECT_FALSE(matchNoCase("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

TEST(FolderSearch, FindsFilesWithoutCaseAndSkipsFolders) {
    TempDir tmp;
    tmp.write("VIDEO_TS.IFO", "");
    tmp.write("vts_01_0.ifo", "");
    tmp.write("VTS_01_1.VOB", "");
    std::filesystem::create_directories(tmp / "folder.ifo");
    auto found = findFilesNoCase(tmp.path(), "*.IFO");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].filename(), "VIDEO_TS.IFO");
    EXPECT_EQ(found[1].filename(), "vts_01_0.ifo");
    EXPECT_TRUE(findFilesNoCase(tmp / "missing", "*").empty());

    EXPECT_EQ(findFileNoCase(tmp.path(), "vts_01_1.vob").value().filename(), "VTS_01_1.VOB");
    EXPECT_FALSE(findFileNoCase(tmp.path(), "vts_01_2.vob"));
    EXPECT_FALSE(findFileNoCase(tmp.path(), "../x"));
    EXPECT_EQ(resolveNoCase(tmp / "Vts_01_0.IFO").filename(), "vts_01_0.ifo");
    EXPECT_EQ(resolveNoCase(tmp / "none.ifo").filename(), "none.ifo");
}

TEST(Folders, ProgramDocumentsAndSettingsFolders) {
    EXPECT_EQ(withTrailingSlash("/a/b"), "/a/b/");
    EXPECT_EQ(withTrailingSlash("/a/b/"), "/a/b/");
    EXPECT_EQ(withTrailingSlash(""), "");
    {
        ScopedEnv over("ZEMBRA_PROGRAM_DIR", "/opt/zembra");
        EXPECT_EQ(programFolder(), "/opt/zembra/");
    }
    {
        ScopedEnv over("ZEMBRA_PROGRAM_DIR", nullptr);
        std::string dir = programFolder();
        EXPECT_EQ(dir.back(), '/');
        EXPECT_TRUE(std::filesystem::is_directory(dir));
    }
    {
        ScopedEnv docs("XDG_DOCUMENTS_DIR", "/data/docs");
        EXPECT_EQ(documentsFolder(), "/data/docs/");
    }
    {
        ScopedEnv docs("XDG_DOCUMENTS_DIR", nullptr);
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(documentsFolder(), "/home/someone/Documents/");
    }
    TempDir tmp;
    EXPECT_EQ(settingsFolder(tmp.dir()), tmp.dir());
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(settingsFolder("/no/such/program/dir/"), "/cfg/zembra/");
}

// An installed program (bin/ beside share/zembra/langs/) finds its language
// files there and keeps its settings with the user's, even when it could
// write into bin/; a build folder or an unpacked copy keeps both beside it.
TEST(Paths, InstalledProgramKeepsSettingsWithTheUser) {
    TempDir prefix;
    const std::string bin = prefix.dir() + "bin/";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(prefix.dir() + "share/zembra/langs");
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_TRUE(isInstalledProgram(bin));
    EXPECT_EQ(shippedLanguageFolder(bin), prefix.dir() + "share/zembra/langs/");
    EXPECT_EQ(settingsFolder(bin), "/cfg/zembra/");

    std::filesystem::create_directories(bin + "langs");
    EXPECT_FALSE(isInstalledProgram(bin));
    EXPECT_EQ(shippedLanguageFolder(bin), bin + "langs/");
    EXPECT_EQ(settingsFolder(bin), bin);
}

TEST(Priority, ChoicesAndNiceValues) {
    EXPECT_EQ(priorityFromChoice(7), PriorityClass::Normal);
    EXPECT_EQ(priorityFromChoice(-1), PriorityClass::Normal);
    EXPECT_EQ(priorityFromChoice(1), PriorityClass::Idle);
    EXPECT_EQ(niceValueOf(PriorityClass::Normal), 0);
    EXPECT_EQ(niceValueOf(PriorityClass::Idle), 19);
    EXPECT_EQ(niceValueOf(PriorityClass::High), -10);
    EXPECT_EQ(niceValueOf(PriorityClass::RealTime), -20);

    // Lowering the priority is always allowed; do it in a child so this
    // process keeps its own.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = setProcessPriority(PriorityClass::Idle) && currentNiceValue() == 19;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Shutdown, RunsTheConfiguredCommandOnly) {
    TempDir tmp;
    std::string marker = (tmp / "powered-off").string();
    {
        ScopedEnv cmd("ZEMBRA_SHUTDOWN_COMMAND", ("touch '" + marker + "'").c_str());
        EXPECT_TRUE(shutdownComputer());
        EXPECT_TRUE(std::filesystem::exists(marker));
    }
    {
        ScopedEnv cmd("ZEMBRA_SHUTDOWN_COMMAND", "false");
        EXPECT_FALSE(shutdownComputer());
    }
    ScopedEnv cmd("ZEMBRA_SHUTDOWN_COMMAND", nullptr);
    EXPECT_EQ(shutdownCommand(), "systemctl poweroff");
}

}  // namespace
}  // namespace zembra
