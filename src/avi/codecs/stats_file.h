#pragma once
// The statistics file of one two-pass rip: made private to that rip (a new
// file of mode 0600 under a name nobody else holds, in the user's runtime
// folder when there is one) and removed when the rip ends, however it ends.
// A fixed name in /tmp would be shared by every rip and every user: two rips
// at once would mix their statistics, and a link planted under that name
// would make a rip overwrite the link's target.

#include <string>

namespace zembra::avi {

class PrivateStatsFile {
public:
    PrivateStatsFile() = default;
    ~PrivateStatsFile() { remove(); }
    PrivateStatsFile(const PrivateStatsFile&) = delete;
    PrivateStatsFile& operator=(const PrivateStatsFile&) = delete;

    // Makes a new empty file (an earlier one is removed first); false when
    // no folder would take one.
    [[nodiscard]] bool create();
    // Removes the file; nothing when there is none.
    void remove();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace zembra::avi
