#include "app/application.h"

#include <system_error>

#include "platform/paths.h"
#include "platform/profile.h"

namespace zembra {

namespace {

constexpr const char* kConfigSection = "Zembra";
constexpr const char* kDefaultLanguage = "English.ini";

// "LanguageFile" names a file of the language folder. Only its last part is
// used: a value with folders in it must not make the exit write every text
// into some other file.
std::string languageFileName(std::string value) {
    size_t slash = value.find_last_of("/\\");
    if (slash != std::string::npos) value = value.substr(slash + 1);
    if (value.empty() || value == "." || value == "..") return kDefaultLanguage;
    return value;
}

// The help file: the language file name without its last four characters
// (".ini") + "_help.chm".
std::string helpFileName(const std::string& languageFile) {
    std::string stem =
        languageFile.size() >= 4 ? languageFile.substr(0, languageFile.size() - 4) : std::string();
    return stem + "_help.chm";
}

// With the settings away from the program folder, the shipped language files
// are copied there once so that the exit write-back has a file to keep.
void seedLanguageFolder(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::create_directories(to, ec);
    for (const auto& file : findFilesNoCase(from, "*.ini")) {
        auto target = std::filesystem::path(to) / file.filename();
        if (!std::filesystem::exists(target, ec)) std::filesystem::copy_file(file, target, ec);
    }
}

}  // namespace

CZembraApp::CZembraApp(std::string programDir)
    : programDir_(withTrailingSlash(programDir.empty() ? programFolder() : std::move(programDir))) {
}

CZembraApp::~CZembraApp() { ExitInstance(); }

bool CZembraApp::InitInstance() {
    settingsDir_ = settingsFolder(programDir_);
    if (settingsDir_ != programDir_) {
        std::error_code ec;
        std::filesystem::create_directories(settingsDir_, ec);
        seedLanguageFolder(shippedLanguageFolder(programDir_), settingsDir_ + "langs/");
    }
    configFile_ = settingsDir_ + "config.ini";
    optionsFile_ = settingsDir_ + "options.ini";
    languageFolder_ = settingsDir_ + "langs/";
    std::string value =
        profile::getString(kConfigSection, "LanguageFile", kDefaultLanguage, configFile_);
    setLanguage(languageFileName(value));
    strings_.load(languagePath_);
    settings_.setOptionsFile(optionsFile_);
    started_ = true;
    return true;
}

void CZembraApp::setLanguage(const std::string& fileName) {
    // Language files copied from elsewhere may differ in case.
    languagePath_ = resolveNoCase(std::filesystem::path(languageFolder_) / fileName).string();
    std::string name = std::filesystem::path(languagePath_).filename().string();
    helpPath_ = languageFolder_ + helpFileName(name);
}

void CZembraApp::ExitInstance() {
    if (!started_) return;
    started_ = false;
    std::string fileName = std::filesystem::path(languagePath_).filename().string();
    (void)profile::writeString(kConfigSection, "LanguageFile", fileName, configFile_);
    // Not reported when it fails: the texts are only a copy of the file's.
    (void)strings_.save(languagePath_);
    strings_.release();
}

void CZembraApp::loadSettings() {
    settings_.setOptionsFile(optionsFile_);
    settings_.setDocumentsFolder(documentsFolder());
    settings_.LoadSettings();
}

bool CZembraApp::saveSettings() { return settings_.SaveSettings(); }

std::vector<LanguageMenuItem> CZembraApp::buildLanguageMenu() {
    languages_ = MorMultiLanguages(languageFolder_);
    std::vector<LanguageMenuItem> items;
    int limit = kLastLanguageCommand - kFirstLanguageCommand + 1;
    for (int i = 0; i < languages_.count() && i < limit; ++i)
        items.push_back({kFirstLanguageCommand + i, languages_.name(i), false});
    int current = languages_.indexOfPath(languagePath_);
    if (current >= limit) current = -1;
    languages_.setCurrentIndex(current);
    if (current >= 0) items[static_cast<size_t>(current)].checked = true;
    return items;
}

bool CZembraApp::onLanguageCommand(int commandId) {
    if (commandId < kFirstLanguageCommand || commandId > kLastLanguageCommand) return false;
    int index = commandId - kFirstLanguageCommand;
    if (index >= languages_.count() || index == languages_.currentIndex()) return false;
    std::error_code ec;
    const std::string& path = languages_.path(index);
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    languages_.setCurrentIndex(index);
    languagePath_ = path;
    helpPath_ = languageFolder_ + helpFileName(std::filesystem::path(path).filename().string());
    strings_.load(languagePath_);
    return true;
}

}  // namespace zembra
