#include "platform/shutdown.h"

#include <sys/wait.h>

#include <cstdlib>

namespace zembra {

std::string shutdownCommand() {
    const char* command = std::getenv("ZEMBRA_SHUTDOWN_COMMAND");
    if (command && *command) return command;
    return kDefaultShutdownCommand;
}

bool shutdownComputer() {
    std::string command = shutdownCommand();
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zembra
