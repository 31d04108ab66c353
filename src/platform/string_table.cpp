#include "platform/string_table.h"

// Placeholder until the key list lands: no keys, every lookup gives the key.
namespace zembra {

StringTable::StringTable() = default;
bool StringTable::load(const std::filesystem::path&) { return false; }
bool StringTable::save(const std::filesystem::path&) const { return false; }
void StringTable::release() {}

const std::string& StringTable::text(std::string_view key) const {
    unknown_ = std::string(key);
    return unknown_;
}

std::string_view StringTable::defaultText(std::string_view) { return {}; }

const std::vector<std::string_view>& StringTable::keys() {
    static const std::vector<std::string_view> none;
    return none;
}

}  // namespace zembra
