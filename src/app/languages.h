#pragma once
// The list of language files in the language folder, with their display
// names, and the current one.

#include <string>
#include <string_view>
#include <vector>

namespace zembra {

class MorMultiLanguages {
public:
    MorMultiLanguages() = default;
    // Lists every "*.ini" of folder (not folders named so); the display name
    // is the file's `key` in `section`, or the file name without its extension
    // when that is empty. A missing folder gives an empty list.
    MorMultiLanguages(const std::string& folder, std::string_view section = "Zembra",
                      std::string_view key = "LanguageName");

    int count() const { return static_cast<int>(entries_.size()); }
    int currentIndex() const { return current_; }
    void setCurrentIndex(int index) { current_ = index; }
    // Full path and display name of entry i ("" outside the list).
    const std::string& path(int i) const;
    const std::string& name(int i) const;
    // Index of the entry whose path equals `path` without regard to case, or -1.
    int indexOfPath(std::string_view path) const;

private:
    struct Entry {
        std::string path;
        std::string name;
    };
    std::vector<Entry> entries_;
    int current_ = -1;
};

}  // namespace zembra
