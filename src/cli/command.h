#pragma once
// Subcommands of `zembra`: each cmd_*.cpp registers one with ZEMBRA_COMMAND.

#include <string>
#include <vector>

namespace zembra::cli {

using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
    const char* name;
    const char* usage;  // one line: "scan SOURCE"
    const char* summary;
    CommandFn run;
};

// Registers a command at static-initialisation time; returns true.
bool registerCommand(const Command& command);
const std::vector<Command>& commands();

}  // namespace zembra::cli

#define ZEMBRA_CLI_CONCAT2(a, b) a##b
#define ZEMBRA_CLI_CONCAT(a, b) ZEMBRA_CLI_CONCAT2(a, b)
#define ZEMBRA_COMMAND(name, usage, summary, fn)                              \
    static const bool ZEMBRA_CLI_CONCAT(registered_, __LINE__) =              \
        ::zembra::cli::registerCommand({name, usage, summary, fn})
