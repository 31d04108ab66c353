#include "platform/paths.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace zembra {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool writableFolder(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string withTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path.push_back('/');
    return path;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool matchNoCase(std::string_view pattern, std::string_view name) {
    // Iterative wildcard match with one backtrack point: linear in practice,
    // never exponential on patterns like "*a*a*a*b".
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string programFolder() {
    std::string over = env("ZEMBRA_PROGRAM_DIR");
    if (!over.empty()) return withTrailingSlash(over);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return withTrailingSlash(std::filesystem::current_path(ec).string());
    return withTrailingSlash(exe.parent_path().string());
}

bool isInstalledProgram(const std::string& programDir) {
    if (programDir.empty()) return false;
    std::error_code ec;
    const std::filesystem::path folder(withTrailingSlash(programDir));
    return !std::filesystem::is_directory(folder / "langs", ec) &&
           std::filesystem::is_directory(folder / "../share/zembra/langs", ec);
}

std::string shippedLanguageFolder(const std::string& programDir) {
    const std::string folder = withTrailingSlash(programDir);
    if (isInstalledProgram(folder))
        return std::filesystem::path(folder + "../share/zembra/langs/").lexically_normal().string();
    return folder + "langs/";
}

std::string settingsFolder(const std::string& programDir) {
    if (writableFolder(programDir) && !isInstalledProgram(programDir))
        return withTrailingSlash(programDir);
    std::string base = env("XDG_CONFIG_HOME");
    if (base.empty()) {
        std::string home = env("HOME");
        if (home.empty()) return withTrailingSlash(programDir);
        base = withTrailingSlash(home) + ".config";
    }
    return withTrailingSlash(base) + "zembra/";
}

std::string documentsFolder() {
    std::string docs = env("XDG_DOCUMENTS_DIR");
    if (!docs.empty()) return withTrailingSlash(docs);
    std::string home = env("HOME");
    if (home.empty()) home = "/tmp";
    return withTrailingSlash(home) + "Documents/";
}

std::vector<std::filesystem::path> findFilesNoCase(const std::filesystem::path& folder,
                                                   std::string_view pattern) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc)) continue;
        if (!it->is_regular_file(typeEc)) continue;
        std::string name = it->path().filename().string();
        if (matchNoCase(pattern, name)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        std::string x = a.filename().string(), y = b.filename().string();
        auto cmp = [](char c1, char c2) { return lower(c1) < lower(c2); };
        if (std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), cmp)) return true;
        if (std::lexicographical_compare(y.begin(), y.end(), x.begin(), x.end(), cmp)) return false;
        return x < y;
    });
    return found;
}

std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& folder,
                                                    std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    std::error_code ec;
    auto exact = folder / std::string(name);
    if (std::filesystem::is_regular_file(exact, ec)) return exact;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc)) continue;
        if (equalsNoCase(it->path().filename().string(), name)) return it->path();
    }
    return std::nullopt;
}

std::filesystem::path resolveNoCase(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
    auto folder = path.parent_path();
    if (folder.empty()) folder = ".";
    if (auto found = findFileNoCase(folder, path.filename().string())) {
        return path.parent_path().empty() ? found->filename() : *found;
    }
    return path;
}

}  // namespace zembra
