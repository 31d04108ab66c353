// INI files: any bytes as a profile file, then every read the program makes
// of one (values, integers, struct blobs), a write, the settings store's load
// and save of options.ini and the string table's load and save of a language
// file. After one save, a second load and save must change nothing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "platform/profile.h"
#include "platform/string_table.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void checkLoadRules(const zembra::SettingsStore& s) {
    check(s.output.width >= 16 && s.output.height >= 16);
    check(s.app.priority >= 0 && s.app.priority <= 3);
    check(s.app.threads >= 0 && s.app.threads <= zembra::kMaxThreads);
    check(s.input.frameRate >= 0 && s.input.frameRate < zembra::FrameRateTable::kCount);
    check(!s.app.outputPath.empty() && s.app.outputPath.back() == '/');
    check(s.output.pass1State.size() == static_cast<size_t>(s.output.pass1StateSize));
    check(s.output.pass2State.size() == static_cast<size_t>(s.output.pass2StateSize));
}

zembra::ProfileFile reparsed(const zembra::ProfileFile& file) {
    return zembra::ProfileFile::fromText(file.text());
}

void settingsRoundTrip(const zembra::ProfileFile& input) {
    zembra::SettingsStore first({}, "/tmp/zembra-fuzz-documents");
    first.loadFrom(input);
    checkLoadRules(first);
    zembra::ProfileFile saved = input;
    first.saveTo(saved);
    saved = reparsed(saved);

    zembra::SettingsStore second({}, "/tmp/zembra-fuzz-documents");
    second.loadFrom(saved);
    checkLoadRules(second);
    zembra::ProfileFile savedAgain = saved;
    second.saveTo(savedAgain);
    zembra::SettingsStore third({}, "/tmp/zembra-fuzz-documents");
    third.loadFrom(reparsed(savedAgain));
    check(second.list() == third.list());
}

void languageRoundTrip(const zembra::ProfileFile& input) {
    zembra::StringTable first;
    first.load(input);
    zembra::ProfileFile saved = input;
    first.saveTo(saved);
    saved = reparsed(saved);

    zembra::StringTable second;
    second.load(saved);
    zembra::ProfileFile savedAgain = saved;
    second.saveTo(savedAgain);
    zembra::StringTable third;
    third.load(reparsed(savedAgain));
    for (auto key : zembra::StringTable::keys()) check(second.text(key) == third.text(key));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so a read past the end is caught.
    std::vector<char> bytes(data, data + size);
    std::string_view text(bytes.data(), bytes.size());
    zembra::ProfileFile file = zembra::ProfileFile::fromText(text);
    for (const auto& section : file.sections()) {
        for (const auto& key : file.keys(section)) {
            auto value = file.get(section, key);
            check(value.has_value());  // a listed key must be found
            (void)zembra::profile::parseInt(*value, 7);
            uint8_t blob[16];
            for (size_t n : {size_t{0}, size_t{1}, size_t{5}, size_t{16}})
                (void)zembra::profile::decodeStruct(*value, blob, n);
            // The buffer read copies what fits and says how much.
            char small[8];
            int copied = zembra::profile::getString(file, section, key, "", small, sizeof small);
            check(copied >= 0 && copied < 8 && std::strlen(small) == static_cast<size_t>(copied));
        }
    }
    // Writes read back, and a profile edited in memory answers every lookup
    // as a fresh read of its text does.
    zembra::ProfileFile written = file;
    if (!file.sections().empty()) {
        const std::string first = file.sections().front();
        if (!file.keys(first).empty()) written.set(first, file.keys(first).front(), std::nullopt);
        written.set(first, "Added", "1");
    }
    written.set("Zembra_OutputSettings", "Width", "16");
    zembra::ProfileFile fresh = reparsed(written);
    auto width = fresh.get("Zembra_OutputSettings", "Width");
    check(width && *width == "16");
    for (const auto& section : fresh.sections())
        for (const auto& key : fresh.keys(section))
            check(written.get(section, key) == fresh.get(section, key));

    settingsRoundTrip(file);
    languageRoundTrip(file);
    return 0;
}
