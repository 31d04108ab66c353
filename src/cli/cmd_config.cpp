// zembra config: starts like the program, prints every setting of options.ini
// and stores the ones given with --set.

#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/command.h"
#include "cli/options.h"

namespace {

int runConfig(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> sets;
    zembra::cli::OptionParser p("config", "");
    p.custom("--set", "Section.Key=Value", "change a setting and store it (repeatable)",
             [&sets](const std::string& assignment) {
                 const size_t eq = assignment.find('=');
                 if (eq == std::string::npos)
                     return "expected Section.Key=Value, got '" + assignment + "'";
                 sets.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
                 return std::string();
             });
    p.footer(
        "Prints every setting of options.ini as Section.Key=Value, the stored values or the\n"
        "defaults. Exit status: 0 done, 1 options.ini could not be written, 2 a usage error.\n");
    if (auto status = p.parseOrExit(args)) return *status;

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
