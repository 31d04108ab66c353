#pragma once
// INI files read and written the way the Windows profile functions do it:
// sections and keys match without regard to case, the first of duplicate
// sections or keys wins, values are trimmed and lose one pair of enclosing
// quotes (double or single), a write rewrites the whole file and keeps every other line, and
// struct blobs are hex digits followed by a checksum byte.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zembra {

// One INI file held in memory: read once, queried and changed many times,
// written once. The free functions below wrap it for single calls.
class ProfileFile {
public:
    ProfileFile() = default;
    // Reads a file; a missing or unreadable file is an empty profile.
    explicit ProfileFile(const std::filesystem::path& file);
    // Parses text already in memory.
    static ProfileFile fromText(std::string_view text);

    // The value of a key, or nothing when the section or key is missing.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Sets a key (added at the end of its section, the section added at the
    // end of the file when missing); nullopt removes the key.
    void set(std::string_view section, std::string_view key, std::optional<std::string_view> value);

    // Section names in file order (each once), and the keys of one section.
    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

    // True when the file exists but could not be read (too large, no
    // permission); writing it back would lose what it holds.
    bool unreadable() const { return unreadable_; }

    std::string text() const;
    // Writes the whole file through a temporary beside it, so a failed write
    // never leaves half a file behind.
    [[nodiscard]] bool save(const std::filesystem::path& file) const;

private:
    // A line and what it means, worked out once when the line is made: its
    // text up to the first NUL byte, as a C string would see it, decides.
    struct Line {
        enum class Kind : unsigned char { Other, Blank, Section, Key };
        std::string raw;  // without its line ending, kept for the rewrite
        Kind kind = Kind::Other;
        std::string name;   // section name or key, as the file spells it
        std::string value;  // a key's value: trimmed, one pair of quotes removed
    };
    static Line parseLine(std::string raw);
    // Line of the header of the first section with this name, and line of
    // the first key of that name in it: only these ever count.
    std::optional<size_t> findSection(std::string_view section) const;
    std::optional<size_t> findKey(std::string_view section, std::string_view key) const;

    // Where sections and keys are, by lower-case name, so that reading every
    // key of a file costs one pass, not one pass per key. Built when needed;
    // a new key line moves the lines below it down.
    void buildIndex() const;
    void lineInserted(size_t at, std::string_view section, std::string_view key);
    static std::string indexKey(std::string_view section);
    static std::string indexKey(std::string_view section, std::string_view key);

    std::vector<Line> lines_;
    bool crlf_ = false;
    bool unreadable_ = false;
    mutable bool indexed_ = false;
    mutable std::unordered_map<std::string, size_t> sectionAt_;
    mutable std::unordered_map<std::string, size_t> keyAt_;
};

// Files larger than this are treated as unreadable: an INI file is a few
// kilobytes, anything bigger is not ours.
inline constexpr std::uintmax_t kMaxProfileFileSize = 16u << 20;

namespace profile {

// Copies the value (or, when the key is missing, the default without its
// trailing blanks) into buffer, cut to size - 1 characters and terminated.
// Returns the number of characters copied, so a result of size - 1 means the
// value may have been cut.
int getString(std::string_view section, std::string_view key, std::string_view def, char* buffer,
              int size, const std::filesystem::path& file);
// The same read from a profile already in memory.
int getString(const ProfileFile& file, std::string_view section, std::string_view key,
              std::string_view def, char* buffer, int size);
// The whole value, or the default when the key is missing.
std::string getString(std::string_view section, std::string_view key, std::string_view def,
                      const std::filesystem::path& file);
// Decimal (or 0x hex) with an optional sign; a missing or empty value gives
// the default, a value that is not a number gives 0.
int getInt(std::string_view section, std::string_view key, int def,
           const std::filesystem::path& file);
// Writes one key (nullopt removes it); false when the file cannot be written.
bool writeString(std::string_view section, std::string_view key,
                 std::optional<std::string_view> value, const std::filesystem::path& file);
// Reads size bytes stored as hex; false (and data untouched) when the key is
// missing, the length is not 2 * size + 2 digits, a digit is not hex or the
// checksum (low 8 bits of the byte sum) does not match.
bool getStruct(std::string_view section, std::string_view key, void* data, size_t size,
               const std::filesystem::path& file);
bool writeStruct(std::string_view section, std::string_view key, const void* data, size_t size,
                 const std::filesystem::path& file);

// The conversions behind the functions above, for callers holding a ProfileFile.
int parseInt(std::string_view value, int def);
// A value as it must be written to read back the same: values are trimmed and
// lose one pair of enclosing quotes when read, so a value with blanks at
// either end, or enclosed in quotes itself, is written in double quotes.
std::string quoteIfNeeded(std::string_view value);
std::string encodeStruct(const void* data, size_t size);
bool decodeStruct(std::string_view text, void* data, size_t size);

}  // namespace profile

}  // namespace zembra
