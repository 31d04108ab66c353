#pragma once
// The application object every front end runs: finds the program folder and
// its INI files, loads the language, owns the string table and the settings
// store, and writes the language choice and texts back when it ends.

#include <string>
#include <vector>

#include "app/languages.h"
#include "app/settings_store.h"
#include "platform/string_table.h"

namespace zembra {

struct LanguageMenuItem {
    int commandId;  // kFirstLanguageCommand + index
    std::string name;
    bool checked;
};

class CZembraApp {
public:
    static constexpr int kFirstLanguageCommand = 2024;
    static constexpr int kLastLanguageCommand = 2124;  // 101 languages

    // programDir: the folder of the program (by default that of the executable).
    explicit CZembraApp(std::string programDir = {});
    ~CZembraApp();  // ends the application if ExitInstance was not called
    CZembraApp(const CZembraApp&) = delete;
    CZembraApp& operator=(const CZembraApp&) = delete;

    // Start-up: paths of config.ini, options.ini and langs/, the language
    // file named by config.ini (default "English.ini"), its texts loaded.
    bool InitInstance();
    // End: "LanguageFile" written to config.ini, every text written to the
    // current language file, the table released. Runs once.
    void ExitInstance();

    // The settings steps of the main window: LoadSettings at its start,
    // SaveSettings when it is closed.
    void loadSettings();
    [[nodiscard]] bool saveSettings();

    // Language menu: one item per language file, the current one checked.
    std::vector<LanguageMenuItem> buildLanguageMenu();
    // A language command (kFirstLanguageCommand + index): loads the chosen
    // language and returns true, after which every text must be set again.
    // The current language, an unknown index or a vanished file change nothing.
    bool onLanguageCommand(int commandId);
    const MorMultiLanguages& languages() const { return languages_; }

    StringTable& strings() { return strings_; }
    const StringTable& strings() const { return strings_; }
    SettingsStore& settings() { return settings_; }
    const SettingsStore& settings() const { return settings_; }

    const std::string& programDir() const { return programDir_; }
    // Where the INI files live: the program folder, or the user's
    // configuration folder when the program folder cannot be written.
    const std::string& settingsDir() const { return settingsDir_; }
    const std::string& configFile() const { return configFile_; }
    const std::string& optionsFile() const { return optionsFile_; }
    const std::string& languageFolder() const { return languageFolder_; }
    const std::string& languagePath() const { return languagePath_; }
    const std::string& helpPath() const { return helpPath_; }

private:
    void setLanguage(const std::string& fileName);

    std::string programDir_;
    std::string settingsDir_;
    std::string configFile_;
    std::string optionsFile_;
    std::string languageFolder_;
    std::string languagePath_;
    std::string helpPath_;
    StringTable strings_;
    SettingsStore settings_;
    MorMultiLanguages languages_;
    bool started_ = false;
};

}  // namespace zembra
