#include "app/source_kind.h"

#include <sys/stat.h>

#include "platform/paths.h"

namespace zembra {

namespace {

bool endsWithNoCase(std::string_view path, std::string_view ending) {
    return path.size() >= ending.size() &&
           equalsNoCase(path.substr(path.size() - ending.size()), ending);
}

}  // namespace

const std::vector<std::string_view>& discImageExtensions() {
    static const std::vector<std::string_view> extensions = {".iso", ".img", ".udf",
                                                             ".bin", ".nrg", ".mdf"};
    return extensions;
}

bool isDiscImageName(std::string_view path) {
    for (std::string_view ext : discImageExtensions())
        if (endsWithNoCase(path, ext)) return true;
    return false;
}

SourceKind sourceKindOf(const std::string& path) {
    // stat follows links, so /dev/cdrom -> sr0 and a link to a folder count
    // as what they point to.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode)))
        return SourceKind::Dvd;
    if (isDiscImageName(path)) return SourceKind::Dvd;
    if (endsWithNoCase(path, ".ifo")) return SourceKind::Ifo;
    return SourceKind::Vob;
}

}  // namespace zembra
