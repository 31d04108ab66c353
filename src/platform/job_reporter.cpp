#include "platform/job_reporter.h"

#include "platform/string_table.h"

namespace zembra {

std::string JobReporter::text(std::string_view key) const {
    if (strings_) return strings_->text(key);
    std::string_view fallback = StringTable::defaultText(key);
    return std::string(fallback.empty() ? key : fallback);
}

}  // namespace zembra
