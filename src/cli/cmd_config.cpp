// zembra config: starts like the program, prints every setting of options.ini
// and stores the ones given with --set.

#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/command.h"

namespace {

int runConfig(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> sets;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string assignment;
        if (args[i] == "--set" && i + 1 < args.size()) {
            assignment = args[++i];
        } else if (args[i].rfind("--set=", 0) == 0) {
            assignment = args[i].substr(6);
        } else {
            std::fprintf(stderr, "usage: zembra config [--set Section.Key=Value ...]\n");
            return 2;
        }
        size_t eq = assignment.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "zembra config: expected Section.Key=Value, got '%s'\n",
                         assignment.c_str());
            return 2;
        }
        sets.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
    }

    zembra::CZembraApp app;
    app.InitInstance();
    app.loadSettings();
    auto& settings = app.settings();
    if (settings.optionsUnreadable())
        std::fprintf(stderr, "zembra config: cannot read %s; the default settings are shown\n",
                     app.optionsFile().c_str());
    for (const auto& [key, value] : sets) {
        std::string problem = settings.set(key, value);
        if (!problem.empty()) {
            std::fprintf(stderr, "zembra config: %s: %s\n", key.c_str(), problem.c_str());
            return 2;
        }
    }
    for (const auto& [key, value] : settings.list())
        std::printf("%s=%s\n", key.c_str(), value.c_str());
    if (!sets.empty() && !app.saveSettings()) {
        std::fprintf(stderr, "zembra config: cannot write %s\n", app.optionsFile().c_str());
        return 1;
    }
    app.ExitInstance();
    return 0;
}

}  // namespace

ZEMBRA_COMMAND("config", "config [--set Section.Key=Value ...]",
               "print the settings of options.ini, change some with --set", runConfig);
