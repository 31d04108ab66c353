#pragma once
// The process-wide table of user-visible texts: every entry has a fixed key
// (STR_..., STR_ERROR_nn), a built-in English default and a current text read
// from the current language file. In memory a line break is CR LF; in a
// language file it is the two characters backslash and n.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zembra {

class ProfileFile;

class StringTable {
public:
    StringTable();  // every entry at its built-in default

    // Reads the current texts of every key (section "Zembra") from a language
    // file; a key the file lacks keeps the text in force before the load. An
    // empty or blank path reads nothing. Always returns true.
    bool load(const std::filesystem::path& languageFile);
    bool load(const ProfileFile& languageFile);
    // Writes every key with its current text (line breaks as backslash-n),
    // keeping the file's other keys. False when the file cannot be written.
    bool save(const std::filesystem::path& languageFile) const;
    void saveTo(ProfileFile& languageFile) const;
    // Back to the built-in defaults.
    void release();

    // Current text of a key; the built-in default of an unknown key is the key itself.
    const std::string& text(std::string_view key) const;
    // Replaces the current text of a known key; false for an unknown key.
    bool setText(std::string_view key, std::string_view text);
    // Built-in English default of a key (empty when the key is unknown).
    static std::string_view defaultText(std::string_view key);
    // Every key in table order.
    static const std::vector<std::string_view>& keys();
    // Position of a key in table order, or -1.
    static int indexOf(std::string_view key);

    // The two spellings of a line break: backslash-n in a file, CR LF in memory.
    static std::string fromFileText(std::string_view fileText);
    static std::string toFileText(std::string_view text);

private:
    std::vector<std::string> current_;  // parallel to keys()
    mutable std::string unknown_;
};

}  // namespace zembra
