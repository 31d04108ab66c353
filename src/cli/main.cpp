#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/command.h"

namespace zembra::cli {

static std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}

bool registerCommand(const Command& command) {
    registry().push_back(command);
    return true;
}

const std::vector<Command>& commands() { return registry(); }

}  // namespace zembra::cli

static void printHelp() {
    std::printf("Zembra %s - DVD conversion to AVI and MPEG\n\nusage: zembra COMMAND [options]\n\n",
                ZEMBRA_VERSION);
    auto list = zembra::cli::commands();
    std::sort(list.begin(), list.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& c : list) std::printf("  zembra %s\n      %s\n", c.usage, c.summary);
    std::printf(
        "\n  zembra --help | --version\n\n"
        "zembra COMMAND --help lists all the options of a command; man zembra explains them.\n"
        "Exit status: 0 done, 1 some of it failed, 2 a usage error, 130 stopped by Ctrl-C\n"
        "(128 + the signal's number for SIGTERM and SIGHUP).\n");
}

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printHelp();
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("zembra %s\n", ZEMBRA_VERSION);
        return 0;
    }
    for (const auto& c : zembra::cli::commands()) {
        if (std::strcmp(c.name, argv[1]) == 0) {
            std::vector<std::string> args(argv + 2, argv + argc);
            // The engines end a row on an allocation failure themselves;
            // one that still gets here ends the program with a word rather
            // than an abort.
            try {
                return c.run(args);
            } catch (const std::bad_alloc&) {
                std::fprintf(stderr, "zembra %s: not enough memory\n", c.name);
                return 1;
            }
        }
    }
    std::fprintf(stderr, "zembra: unknown command '%s' (see zembra --help)\n", argv[1]);
    return 2;
}
