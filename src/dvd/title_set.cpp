#include "dvd/title_set.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "dvd/disc_device.h"

namespace zembra {

namespace fs = std::filesystem;

namespace {

std::string upper(std::string s) {
    for (auto& c : s) c = char(std::toupper(uint8_t(c)));
    return s;
}

// "VTS_01_0.IFO" -> 1; -1 when the name is not a title set IFO.
int titleSetNumber(const std::string& name) {
    std::string u = upper(name);
    if (u.size() != 12 || u.compare(0, 4, "VTS_") != 0 || u.compare(6, 6, "_0.IFO") != 0) return -1;
    if (!std::isdigit(uint8_t(u[4])) || !std::isdigit(uint8_t(u[5]))) return -1;
    return (u[4] - '0') * 10 + (u[5] - '0');
}

// Name in dir that equals wanted without regard to case ("" when none).
std::string findInFolder(const fs::path& dir, const std::string& wanted) {
    std::error_code ec;
    if (fs::exists(dir / wanted, ec)) return (dir / wanted).string();
    std::string w = upper(wanted);
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (upper(e.path().filename().string()) == w) return e.path().string();
    return "";
}

std::vector<TitleSetFiles> fromFolder(const fs::path& folder) {
    std::vector<TitleSetFiles> sets;
    std::error_code ec;
    fs::path dir = folder;
    std::string videoTs = findInFolder(folder, "VIDEO_TS");
    if (!videoTs.empty() && fs::is_directory(videoTs, ec)) dir = videoTs;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        int n = titleSetNumber(e.path().filename().string());
        if (n < 0) continue;
        TitleSetFiles set;
        set.number = n;
        set.ifo = e.path().string();
        set.vobs = vobFilesForIfo(set.ifo);
        sets.push_back(std::move(set));
    }
    return sets;
}

std::vector<TitleSetFiles> fromDisc(const std::string& device) {
    std::vector<TitleSetFiles> sets;
    DiscDevice disc;
    if (!disc.open(device)) return sets;
    auto entries = udfListDirectory(disc, "/VIDEO_TS");
    for (const auto& e : entries) {
        int n = titleSetNumber(e.name);
        if (n < 0 || e.directory) continue;
        TitleSetFiles set;
        set.number = n;
        set.ifo = device + ":/VIDEO_TS/" + e.name;
        for (int k = 1; k <= 9; ++k) {
            std::string want = e.name.substr(0, 7) + char('0' + k) + ".VOB";
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const UdfEntry& x) { return upper(x.name) == upper(want); });
            if (it == entries.end()) break;
            set.vobs.push_back(device + ":/VIDEO_TS/" + it->name);
        }
        sets.push_back(std::move(set));
    }
    return sets;
}

}  // namespace

std::vector<std::string> vobFilesForIfo(const std::string& ifo) {
    std::vector<std::string> vobs;
    // A drive path: list the disc's folder.
    if (auto split = splitDrivePath(ifo)) {
        std::error_code ec;
        if (!fs::is_directory(split->device, ec)) {
            for (const auto& set : fromDisc(split->device))
                if (upper(set.ifo) == upper(ifo)) return set.vobs;
            return vobs;
        }
    }
    fs::path p(ifo);
    std::string name = p.filename().string();
    std::string u = upper(name);
    size_t zero = u.rfind("0.IFO");
    if (zero == std::string::npos || zero + 5 != u.size()) return vobs;
    std::string stem = name.substr(0, zero);
    fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    for (int k = 1; k <= 9; ++k) {
        std::string found = findInFolder(dir, stem + char('0' + k) + ".VOB");
        if (found.empty()) break;
        if (p.parent_path().empty()) found = fs::path(found).filename().string();
        vobs.push_back(found);
    }
    return vobs;
}

std::vector<TitleSetFiles> findTitleSets(const std::string& source) {
    std::vector<TitleSetFiles> sets;
    std::error_code ec;
    if (fs::is_directory(source, ec)) {
        sets = fromFolder(source);
    } else if (fs::is_regular_file(source, ec) &&
               upper(fs::path(source).extension().string()) == ".IFO") {
        TitleSetFiles set;
        int n = titleSetNumber(fs::path(source).filename().string());
        set.number = n < 0 ? 0 : n;
        set.ifo = source;
        set.vobs = vobFilesForIfo(source);
        sets.push_back(std::move(set));
    } else if (auto split = splitDrivePath(source)) {
        TitleSetFiles set;
        int n = titleSetNumber(fs::path(split->path).filename().string());
        set.number = n < 0 ? 0 : n;
        set.ifo = source;
        set.vobs = vobFilesForIfo(source);
        sets.push_back(std::move(set));
    } else {
        struct stat st {};
        if (stat(source.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
            sets = fromDisc(source);
    }
    std::sort(sets.begin(), sets.end(),
              [](const TitleSetFiles& a, const TitleSetFiles& b) { return a.number < b.number; });
    return sets;
}

}  // namespace zembra
