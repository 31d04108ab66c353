#include "platform/console_host.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace zembra {

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<int> g_stopSignal{0};
extern "C" void onSigint(int) { g_interrupted.store(true); }
extern "C" void onStopSignal(int signal) {
    g_stopSignal.store(signal);
    g_interrupted.store(true);
}

void handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Texts break their lines with CR LF; a terminal or a log wants LF alone.
std::string consoleText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}
}  // namespace

QuestionPolicy takeQuestionPolicy(std::vector<std::string>& args) {
    QuestionPolicy policy = QuestionPolicy::Ask;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--yes") {
            policy = QuestionPolicy::AlwaysYes;
        } else if (*it == "--no") {
            policy = QuestionPolicy::AlwaysNo;
        } else {
            ++it;
            continue;
        }
        it = args.erase(it);
    }
    return policy;
}

namespace {
// How often a plain progress log gets a line.
constexpr std::chrono::seconds kPlainLineInterval{5};
}  // namespace

ConsoleHost::ConsoleHost(const StringTable* strings, QuestionPolicy policy)
    : UiHost(strings), policy_(policy), plain_(!isatty(STDERR_FILENO)) {}

void ConsoleHost::catchInterrupt() { handle(SIGINT, onSigint); }

bool ConsoleHost::interruptPending() { return g_interrupted.load(); }

void ConsoleHost::catchStopSignals() {
    handle(SIGTERM, onStopSignal);
    handle(SIGHUP, onStopSignal);
    handle(SIGPIPE, SIG_IGN);
}

int ConsoleHost::stopSignal() { return g_stopSignal.load(); }

void ConsoleHost::setInterruptHandler(void (*handler)(void*), void* context) {
    interruptHandler_ = handler;
    interruptContext_ = context;
}

void ConsoleHost::finishLine() {
    // The last state of a plain progress log, when it was not printed yet.
    if (plain_ && !pendingPlainText_.empty()) writePlainLine(pendingPlainText_);
    if (lineOpen_) {
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
}

BoxAnswer ConsoleHost::messageBox(BoxKind kind, const std::string& message) {
    finishLine();
    const std::string text = consoleText(message);
    switch (kind) {
        case BoxKind::Error:
            std::fprintf(stderr, "%s: %s\n", this->text("STR_MAIN_DLG_ErrorTitle").c_str(),
                         text.c_str());
            return BoxAnswer::Ok;
        case BoxKind::Warning:
            std::fprintf(stderr, "%s: %s\n", this->text("STR_MAIN_DLG_WarningTitle").c_str(),
                         text.c_str());
            return BoxAnswer::Ok;
        case BoxKind::Question:
            break;
    }
    if (policy_ == QuestionPolicy::AlwaysYes) {
        std::fprintf(stderr, "%s [yes]\n", text.c_str());
        return BoxAnswer::Yes;
    }
    if (policy_ == QuestionPolicy::AlwaysNo || !isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s [no]\n", text.c_str());
        return BoxAnswer::No;
    }
    for (;;) {
        std::fprintf(stderr, "%s: %s [y/n] ", this->text("STR_MAIN_DLG_InformationTitle").c_str(),
                     text.c_str());
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::cin.clear();
            return BoxAnswer::No;
        }
        if (answer == "y" || answer == "Y" || answer == "yes") return BoxAnswer::Yes;
        if (answer == "n" || answer == "N" || answer == "no") return BoxAnswer::No;
    }
}

void ConsoleHost::pumpMessages() {
    if (g_interrupted.exchange(false) && interruptHandler_) interruptHandler_(interruptContext_);
}

void ConsoleHost::setStatus(const std::string& text) {
    status_ = text;
    redraw();
}

void ConsoleHost::setProgress(int position, int range) {
    position_ = position;
    range_ = range;
    redraw();
}

void ConsoleHost::redraw() {
    if (quiet_) return;
    std::string bar;
    if (range_ > 0) {
        int filled = static_cast<int>(20LL * std::clamp(position_, 0, range_) / range_);
        bar.reserve(24);
        bar += '[';
        bar.append(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(20 - filled), '.');
        bar += "] ";
    }
    if (plain_) {
        // Texts from the string table may hold line breaks; a log line may not.
        std::string line = bar + status_;
        for (char& c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        if (line == lastPlainText_) return;
        pendingPlainText_ = line;
        const auto now = std::chrono::steady_clock::now();
        if (!lastPlainText_.empty() && now - lastPlainLine_ < kPlainLineInterval) return;
        writePlainLine(line);
        return;
    }
    std::fprintf(stderr, "\r%s%s\033[K", bar.c_str(), status_.c_str());
    std::fflush(stderr);
    lineOpen_ = true;
}

void ConsoleHost::writePlainLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    lastPlainText_ = line;
    pendingPlainText_.clear();
    lastPlainLine_ = std::chrono::steady_clock::now();
}

}  // namespace zembra
