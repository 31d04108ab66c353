#include "cli/open_source.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/options.h"
#include "dvd/title_catalogue.h"
#include "platform/file_sink.h"
#include "platform/ui_host.h"

namespace zembra::cli {

std::string outsideList(const char* option, const std::optional<int>& position, int count) {
    if (!position || (*position >= 0 && *position < count)) return {};
    const std::string given = ", not " + std::to_string(*position);
    if (count == 0) return std::string(option) + ": the list is empty" + given;
    return std::string(option) + " takes 0 to " + std::to_string(count - 1) + given;
}

int refuseChoice(const char* command, const std::string& problem, const std::string& source) {
    std::fprintf(stderr, "zembra %s: %s (%s)\n", command, problem.c_str(), source.c_str());
    return kExitUsage;
}

std::optional<int> unreadableFile(const char* command, const std::string& source) {
    if (std::FILE* f = std::fopen(source.c_str(), "rb")) {
        std::fclose(f);
        return std::nullopt;
    }
    const int error = errno;
    std::fprintf(stderr, "zembra %s: cannot open %s: %s\n", command, source.c_str(),
                 std::strerror(error));
    return kExitFailed;
}

std::optional<int> openTitleSet(const std::string& source, std::optional<int> setNumber,
                                TitleCatalogue& catalogue, UiHost& host, TitleSetFiles& set) {
    std::vector<TitleSetFiles> sets = findTitleSets(source);
    for (TitleSetFiles& found : sets)
        if (!setNumber || found.number == *setNumber) {
            set = std::move(found);
            if (!parseIfo(catalogue, set.ifo, host)) return kExitFailed;
            return std::nullopt;
        }
    if (setNumber && !sets.empty()) {
        // A set the disc does not have is a wrong choice, like a title it
        // does not have: named with the sets it has (extract alone asks).
        std::string numbers;
        for (const TitleSetFiles& found : sets)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(found.number);
        return refuseChoice("extract",
                            "--title-set: the source has title set(s) " + numbers + ", not " +
                                std::to_string(*setNumber),
                            source);
    }
    std::fprintf(stderr, "%s: %s\n", host.text("STR_ERROR_25").c_str(), source.c_str());
    return kExitFailed;
}

bool openOutput(FileSink& sink, const std::string& path) {
    if (path == "-") return sink.openStandardOutput();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return sink.openStream(path);
    return sink.open(path);
}

}  // namespace zembra::cli
