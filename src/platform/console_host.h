#pragma once
// UiHost for the command line: errors and warnings go to stderr, questions
// are answered by a policy, status and progress draw one redrawn line on a
// terminal and a plain line every few seconds in a log or a pipe.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/ui_host.h"

namespace zembra {

enum class QuestionPolicy {
    Ask,  // y/n prompt when stdin is a terminal, else the safe answer No
    AlwaysYes,
    AlwaysNo,
};

// Takes --yes and --no out of a command's arguments: --yes answers every
// question Yes, --no answers No, neither asks (or answers No without a terminal).
QuestionPolicy takeQuestionPolicy(std::vector<std::string>& args);

class ConsoleHost : public UiHost {
public:
    explicit ConsoleHost(const StringTable* strings = nullptr,
                         QuestionPolicy policy = QuestionPolicy::Ask);

    BoxAnswer messageBox(BoxKind kind, const std::string& text) override;
    void pumpMessages() override;
    void setStatus(const std::string& text) override;
    void setProgress(int position, int range) override;

    void setPolicy(QuestionPolicy policy) { policy_ = policy; }
    // Hides the progress line (for scripts that want clean output).
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // Ends the redrawn line so later output starts on a fresh line.
    void finishLine();

    // Called from pumpMessages() when Ctrl-C was pressed since the last
    // pump; the front end sets it to its "Cancel" press.
    void setInterruptHandler(void (*handler)(void*), void* context);
    // Installs a SIGINT handler that only records the press.
    static void catchInterrupt();
    static bool interruptPending();
    // SIGTERM and SIGHUP (a logout, a service stop) are recorded like a
    // press and reach the same handler, which can tell them by stopSignal();
    // SIGPIPE is ignored, so output to a reader that went first cannot end
    // the program before it has closed its files.
    static void catchStopSignals();
    // The SIGTERM or SIGHUP received, 0 when none.
    static int stopSignal();

private:
    void redraw();
    void writePlainLine(const std::string& line);
    QuestionPolicy policy_;
    bool quiet_ = false;
    bool lineOpen_ = false;
    // stderr is no terminal: no carriage returns or escape codes, and a line
    // only every few seconds so a log does not fill with repeats.
    bool plain_ = false;
    std::chrono::steady_clock::time_point lastPlainLine_{};
    std::string lastPlainText_, pendingPlainText_;
    std::string status_;
    int position_ = 0;
    int range_ = 0;
    void (*interruptHandler_)(void*) = nullptr;
    void* interruptContext_ = nullptr;
};

}  // namespace zembra
