#include "avi/codecs/stats_file.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zembra::avi {

namespace {

// $XDG_RUNTIME_DIR is the user's own (mode 0700); the temporary folders
// follow for systems without one.
std::vector<std::string> candidateFolders() {
    std::vector<std::string> folders;
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"})
        if (const char* value = std::getenv(name); value && *value) folders.push_back(value);
    folders.push_back("/tmp");
    return folders;
}

}  // namespace

bool PrivateStatsFile::create() {
    remove();
    for (const std::string& folder : candidateFolders()) {
        // mkstemp opens with O_CREAT | O_EXCL and mode 0600: it never follows
        // a link and never takes a file that is already there.
        std::string name = folder + "/zembra-2pass-XXXXXX";
        int fd = mkstemp(name.data());
        if (fd < 0) continue;
        ::close(fd);
        path_ = name;
        return true;
    }
    return false;
}

void PrivateStatsFile::remove() {
    if (path_.empty()) return;
    ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace zembra::avi
