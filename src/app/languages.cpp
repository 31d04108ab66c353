#include "app/languages.h"

#include "platform/paths.h"
#include "platform/profile.h"

namespace zembra {

MorMultiLanguages::MorMultiLanguages(const std::string& folder, std::string_view section,
                                     std::string_view key) {
    std::string dir = withTrailingSlash(folder);
    for (const auto& file : findFilesNoCase(dir, "*.ini")) {
        std::string fileName = file.filename().string();
        Entry e;
        e.path = dir + fileName;
        ProfileFile ini(file);
        e.name = ini.get(section, key).value_or("");
        if (e.name.size() > 259) e.name.resize(259);
        if (e.name.empty()) {
            size_t dot = fileName.rfind('.');
            e.name = dot == std::string::npos ? fileName : fileName.substr(0, dot);
        }
        entries_.push_back(std::move(e));
    }
}

const std::string& MorMultiLanguages::path(int i) const {
    static const std::string none;
    return (i >= 0 && i < count()) ? entries_[static_cast<size_t>(i)].path : none;
}

const std::string& MorMultiLanguages::name(int i) const {
    static const std::string none;
    return (i >= 0 && i < count()) ? entries_[static_cast<size_t>(i)].name : none;
}

int MorMultiLanguages::indexOfPath(std::string_view path) const {
    for (int i = 0; i < count(); ++i)
        if (equalsNoCase(entries_[static_cast<size_t>(i)].path, path)) return i;
    return -1;
}

}  // namespace zembra
