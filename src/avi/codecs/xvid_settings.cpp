#include "avi/codecs/xvid_settings.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sstream>

namespace zembra::avi {

namespace {

constexpr const char* kHeader = "[xvid]";

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

bool parseInt(const std::string& text, int lo, int hi, int& out) {
    int v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
    out = v;
    return true;
}

// One "key=value" onto s; unknown keys are refused only when strict.
bool applyLine(XvidSettings& s, const std::string& line, bool strict) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string key = trim(line.substr(0, eq));
    std::string value = trim(line.substr(eq + 1));
    if (key == "bitrate") return parseInt(value, 16, 20000, s.bitrate);
    if (key == "quantizer") return parseInt(value, 0, 31, s.quantizer);
    if (key == "quality") return parseInt(value, 0, 6, s.quality);
    if (key == "keyint") return parseInt(value, 0, 600, s.keyint);
    if (key == "pass") return parseInt(value, 0, 2, s.pass);
    if (key == "stats") {
        s.stats = value;
        return true;
    }
    return !strict;
}

bool applyText(XvidSettings& s, const std::string& text, bool strict) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line == kHeader) continue;
        if (!applyLine(s, line, strict)) return false;
    }
    return true;
}

}  // namespace

std::string XvidSettings::text() const {
    std::ostringstream out;
    out << kHeader << "\nbitrate=" << bitrate << "\nquantizer=" << quantizer
        << "\nquality=" << quality << "\nkeyint=" << keyint << "\npass=" << pass
        << "\nstats=" << stats << "\n";
    return out.str();
}

std::vector<uint8_t> XvidSettings::state() const {
    std::string t = text();
    std::vector<uint8_t> blob(kStateSize, 0);
    std::copy_n(t.begin(), std::min(t.size(), kStateSize - 1), blob.begin());
    return blob;
}

bool XvidSettings::loadState(const std::vector<uint8_t>& blob) {
    if (blob.size() != kStateSize) return false;
    std::string t(blob.begin(), blob.end());
    t = t.substr(0, t.find('\0'));
    if (t.rfind(kHeader, 0) != 0) return false;
    XvidSettings loaded;
    if (!applyText(loaded, t, false)) return false;
    *this = loaded;
    return true;
}

bool XvidSettings::edit(const std::string& keyValues) {
    XvidSettings edited = *this;
    if (!applyText(edited, keyValues, true)) return false;
    if (edited.text().size() >= kStateSize) return false;  // path too long for the blob
    *this = edited;
    return true;
}

std::string XvidSettings::statsPath() const {
    if (!stats.empty()) return stats;
    std::error_code ec;
    auto tmp = std::filesystem::temp_directory_path(ec);
    if (ec) tmp = "/tmp";
    return (tmp / "zembra-xvid.stats").string();
}

}  // namespace zembra::avi
