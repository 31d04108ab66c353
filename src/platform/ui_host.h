#pragma once
// The application's side of the user: message boxes on top of the job
// reporter's status text, progress, pump and mid-job questions.
// Implementations: the Qt window, the console (CLI) and a recording test double.

#include <string>
#include <string_view>

#include "platform/job_reporter.h"

namespace zembra {

enum class BoxAnswer { Ok, Yes, No };

class UiHost : public JobReporter {
public:
    explicit UiHost(const StringTable* strings = nullptr) : JobReporter(strings) {}

    // Shows a modal box with the title of its kind. Questions answer Yes or No,
    // the other kinds Ok.
    virtual BoxAnswer messageBox(BoxKind kind, const std::string& text) = 0;

    // A status with a message becomes its box; one without shows nothing.
    // Returns the box's answer (Ok when nothing was shown).
    BoxAnswer show(const Status& status) {
        return status.hasMessage() ? messageBox(status.kind(), message(status)) : BoxAnswer::Ok;
    }
    void notice(const Status& status) override { show(status); }
    bool confirm(const Status& question) override { return show(question) == BoxAnswer::Yes; }

    // Shorthands: the box kind with the text of a string-table key.
    void error(std::string_view key) { messageBox(BoxKind::Error, text(key)); }
    void warning(std::string_view key) { messageBox(BoxKind::Warning, text(key)); }
    bool ask(std::string_view key) {
        return messageBox(BoxKind::Question, text(key)) == BoxAnswer::Yes;
    }
};

}  // namespace zembra
