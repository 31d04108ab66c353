#include "platform/profile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

namespace zembra {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// What a line means is decided by its text up to the first NUL byte, as a
// C string would see it; the raw bytes are kept for the rewrite.
std::string_view meaningful(const std::string& raw) {
    std::string_view v(raw);
    size_t nul = v.find('\0');
    if (nul != std::string_view::npos) v = v.substr(0, nul);
    return trim(v);
}

std::optional<std::string_view> sectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    size_t close = line.find(']');
    if (close != std::string_view::npos) line = line.substr(0, close);
    return trim(line);
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> keyValue(std::string_view line) {
    if (line.empty() || line.front() == ';' || line.front() == '[') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    KeyValue kv{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
    if (kv.key.empty()) return std::nullopt;
    if (kv.value.size() >= 2 && (kv.value.front() == '"' || kv.value.front() == '\'') &&
        kv.value.back() == kv.value.front())
        kv.value = kv.value.substr(1, kv.value.size() - 2);
    return kv;
}

// A line break inside a key or value would split it into lines of their own
// (and could forge other keys), so such characters are dropped on write.
std::string singleLine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
    return out;
}

}  // namespace

ProfileFile::ProfileFile(const std::filesystem::path& file) {
    std::error_code ec;
    auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) return;
    if (!std::filesystem::is_regular_file(status)) {
        unreadable_ = true;
        return;
    }
    auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxProfileFileSize) {
        unreadable_ = true;
        return;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        unreadable_ = true;
        return;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *this = fromText(buffer.str());
}

ProfileFile::Line ProfileFile::parseLine(std::string raw) {
    Line l;
    l.raw = std::move(raw);
    std::string_view text = meaningful(l.raw);
    if (text.empty()) {
        l.kind = Line::Kind::Blank;
    } else if (auto section = sectionName(text)) {
        l.kind = Line::Kind::Section;
        l.name = *section;
    } else if (auto kv = keyValue(text)) {
        l.kind = Line::Kind::Key;
        l.name = kv->key;
        l.value = kv->value;
    }
    return l;
}

ProfileFile ProfileFile::fromText(std::string_view text) {
    ProfileFile p;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    size_t firstLf = text.find('\n');
    p.crlf_ = firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r';
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        p.lines_.push_back(parseLine(std::string(line)));
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return p;
}

std::string ProfileFile::indexKey(std::string_view section) {
    std::string out;
    out.reserve(section.size());
    for (char c : section) out.push_back(lower(c));
    return out;
}

std::string ProfileFile::indexKey(std::string_view section, std::string_view key) {
    // Names never hold a NUL (a line counts up to its first one), so it
    // separates them safely.
    std::string out = indexKey(section);
    out.push_back('\0');
    for (char c : key) out.push_back(lower(c));
    return out;
}

void ProfileFile::buildIndex() const {
    sectionAt_.clear();
    keyAt_.clear();
    std::string current;  // index name of the section the lines belong to
    bool counts = false;  // the lines are under the first header of that name
    for (size_t i = 0; i < lines_.size(); ++i) {
        const Line& l = lines_[i];
        if (l.kind == Line::Kind::Section) {
            current = indexKey(l.name);
            counts = sectionAt_.emplace(current, i).second;
        } else if (l.kind == Line::Kind::Key && counts) {
            keyAt_.emplace(indexKey(current, l.name), i);
        }
    }
    indexed_ = true;
}

void ProfileFile::lineInserted(size_t at, std::string_view section, std::string_view key) {
    if (!indexed_) return;
    for (auto& entry : sectionAt_)
        if (entry.second >= at) ++entry.second;
    for (auto& entry : keyAt_)
        if (entry.second >= at) ++entry.second;
    keyAt_.emplace(indexKey(section, key), at);
}

std::optional<size_t> ProfileFile::findSection(std::string_view section) const {
    if (!indexed_) buildIndex();
    auto it = sectionAt_.find(indexKey(trim(section)));
    if (it == sectionAt_.end()) return std::nullopt;
    return it->second;
}

std::optional<size_t> ProfileFile::findKey(std::string_view section, std::string_view key) const {
    if (!indexed_) buildIndex();
    auto it = keyAt_.find(indexKey(trim(section), trim(key)));
    if (it == keyAt_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> ProfileFile::get(std::string_view section, std::string_view key) const {
    auto k = findKey(section, key);
    if (!k) return std::nullopt;
    return lines_[*k].value;
}

void ProfileFile::set(std::string_view section, std::string_view key,
                      std::optional<std::string_view> value) {
    std::string cleanKey = singleLine(trim(key));
    if (cleanKey.empty()) return;
    auto keyLine = [&](const std::string& spelling) {
        std::string raw = spelling;
        raw += '=';
        raw += singleLine(*value);
        return parseLine(std::move(raw));
    };
    auto s = findSection(section);
    if (s) {
        if (auto k = findKey(section, cleanKey)) {
            if (!value) {
                lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*k));
                indexed_ = false;
                return;
            }
            // Keep the key as the file spells it.
            lines_[*k] = keyLine(lines_[*k].name);
            if (lines_[*k].kind != Line::Kind::Key) indexed_ = false;
            return;
        }
        if (!value) return;
        // After the last non-blank line of the section.
        size_t insertAt = *s + 1;
        for (size_t i = *s + 1; i < lines_.size(); ++i) {
            if (lines_[i].kind == Line::Kind::Section) break;
            if (lines_[i].kind != Line::Kind::Blank) insertAt = i + 1;
        }
        Line line = keyLine(cleanKey);
        bool isKey = line.kind == Line::Kind::Key && equalNoCase(line.name, cleanKey);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
        if (isKey)
            lineInserted(insertAt, lines_[*s].name, cleanKey);
        else
            indexed_ = false;
        return;
    }
    if (!value) return;
    if (!lines_.empty() && lines_.back().kind != Line::Kind::Blank) lines_.push_back(parseLine({}));
    // Built piece by piece: GCC 12 at -O3 sees a false overlap (-Wrestrict)
    // in "[" + std::string&&.
    std::string header(1, '[');
    header += singleLine(trim(section));
    header += ']';
    lines_.push_back(parseLine(std::move(header)));
    lines_.push_back(keyLine(cleanKey));
    indexed_ = false;
}

std::vector<std::string> ProfileFile::sections() const {
    std::vector<std::string> out;
    for (const auto& l : lines_) {
        if (l.kind != Line::Kind::Section) continue;
        bool seen = std::any_of(out.begin(), out.end(),
                                [&](const std::string& s) { return equalNoCase(s, l.name); });
        if (!seen) out.push_back(l.name);
    }
    return out;
}

std::vector<std::string> ProfileFile::keys(std::string_view section) const {
    std::vector<std::string> out;
    auto s = findSection(section);
    if (!s) return out;
    for (size_t i = *s + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Kind::Section) break;
        if (lines_[i].kind == Line::Kind::Key) out.push_back(lines_[i].name);
    }
    return out;
}

std::string ProfileFile::text() const {
    std::string out;
    const char* eol = crlf_ ? "\r\n" : "\n";
    for (const auto& l : lines_) {
        out += l.raw;
        out += eol;
    }
    return out;
}

bool ProfileFile::save(const std::filesystem::path& file) const {
    std::error_code ec;
    std::filesystem::path target = file;
    // Through a symbolic link the file it points to is replaced, not the link.
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec))) {
        target = std::filesystem::weakly_canonical(file, ec);
        if (ec) return false;
    }
    std::filesystem::path temp = target;
    temp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        std::string data = text();
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    // Keep the mode of the file being replaced.
    auto perms = std::filesystem::status(target, ec).permissions();
    if (!ec) std::filesystem::permissions(temp, perms, ec);
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

namespace profile {

int getString(const ProfileFile& file, std::string_view section, std::string_view key,
              std::string_view def, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    std::string value;
    if (auto v = file.get(section, key)) {
        value = std::move(*v);
    } else {
        while (!def.empty() && isBlank(def.back())) def.remove_suffix(1);
        value = def;
    }
    size_t n = std::min(value.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int getString(std::string_view section, std::string_view key, std::string_view def, char* buffer,
              int size, const std::filesystem::path& file) {
    return getString(ProfileFile(file), section, key, def, buffer, size);
}

std::string quoteIfNeeded(std::string_view value) {
    bool needsQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                           (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                            value.back() == value.front()));
    if (!needsQuotes) return std::string(value);
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    out += value;
    out += '"';
    return out;
}

std::string getString(std::string_view section, std::string_view key, std::string_view def,
                      const std::filesystem::path& file) {
    ProfileFile p(file);
    if (auto v = p.get(section, key)) {
        // A NUL ends the value, as it would in a C string.
        size_t nul = v->find('\0');
        if (nul != std::string::npos) v->resize(nul);
        return *v;
    }
    while (!def.empty() && isBlank(def.back())) def.remove_suffix(1);
    return std::string(def);
}

int parseInt(std::string_view value, int def) {
    value = trim(value);
    if (value.empty()) return def;
    bool negative = false;
    if (value.front() == '-' || value.front() == '+') {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    int base = 10;
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        value.remove_prefix(2);
    }
    // Wraps like a 32-bit unsigned accumulator, as the original did, without
    // ever overflowing a signed type here.
    uint32_t acc = 0;
    for (char c : value) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        acc = acc * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    if (negative) acc = 0u - acc;
    return static_cast<int32_t>(acc);
}

int getInt(std::string_view section, std::string_view key, int def,
           const std::filesystem::path& file) {
    ProfileFile p(file);
    auto v = p.get(section, key);
    if (!v) return def;
    size_t nul = v->find('\0');
    if (nul != std::string::npos) v->resize(nul);
    return parseInt(*v, def);
}

bool writeString(std::string_view section, std::string_view key,
                 std::optional<std::string_view> value, const std::filesystem::path& file) {
    ProfileFile p(file);
    if (p.unreadable()) return false;
    p.set(section, key, value);
    return p.save(file);
}

std::string encodeStruct(const void* data, size_t size) {
    static const char hex[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::string out;
    out.reserve(size * 2 + 2);
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(hex[bytes[i] >> 4]);
        out.push_back(hex[bytes[i] & 15]);
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    out.push_back(hex[sum >> 4]);
    out.push_back(hex[sum & 15]);
    return out;
}

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeStruct(std::string_view text, void* data, size_t size) {
    if (size > (std::numeric_limits<size_t>::max() - 2) / 2) return false;
    if (text.size() != size * 2 + 2) return false;
    std::vector<uint8_t> bytes(size + 1);
    for (size_t i = 0; i <= size; ++i) {
        int hi = hexDigit(text[2 * i]);
        int lo = hexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    if (sum != bytes[size]) return false;
    if (size) std::memcpy(data, bytes.data(), size);
    return true;
}

bool getStruct(std::string_view section, std::string_view key, void* data, size_t size,
               const std::filesystem::path& file) {
    ProfileFile p(file);
    auto v = p.get(section, key);
    if (!v) return false;
    return decodeStruct(*v, data, size);
}

bool writeStruct(std::string_view section, std::string_view key, const void* data, size_t size,
                 const std::filesystem::path& file) {
    return writeString(section, key, encodeStruct(data, size), file);
}

}  // namespace profile

}  // namespace zembra
