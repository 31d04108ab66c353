#pragma once
// The process-wide table of user-visible texts: every entry has a fixed key
// (STR_..., STR_ERROR_nn), a built-in English default and a current text read
// from the current language file.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zembra {

class StringTable {
public:
    StringTable();  // every entry at its built-in default

    // Reads the current texts of every key from a language file; keys the
    // file lacks keep their defaults.
    bool load(const std::filesystem::path& languageFile);
    // Writes every key with its current text (line breaks as backslash-n).
    bool save(const std::filesystem::path& languageFile) const;
    // Back to the built-in defaults.
    void release();

    // Current text of a key; the built-in default of an unknown key is the key itself.
    const std::string& text(std::string_view key) const;
    // Built-in English default of a key (empty when the key is unknown).
    static std::string_view defaultText(std::string_view key);
    // Every key in table order.
    static const std::vector<std::string_view>& keys();

private:
    std::vector<std::string> current_;  // parallel to keys()
    mutable std::string unknown_;
};

}  // namespace zembra
