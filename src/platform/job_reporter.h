#pragma once
// The one way an engine reaches the user while a job runs. Everything that
// can wait until the engine's call returns is a returned Status; this covers
// only what must happen in the middle of the work:
//   setStatus / setProgress  the job's status line and progress bar,
//   pumpMessages             lets the user interface breathe (a Cancel press
//                            may re-enter the caller),
//   notice                   a finding the job goes on after (or one that
//                            precedes the failure the call then returns),
//   confirm                  a question the job cannot go on without
//                            (overwrite a file, "Audio codec lost data.
//                            Continue ?"): true means go on.
// The application's UiHost (window, console, test double) implements it.

#include <string>
#include <string_view>

#include "platform/status.h"

namespace zembra {

class StringTable;

class JobReporter {
public:
    explicit JobReporter(const StringTable* strings = nullptr) : strings_(strings) {}
    virtual ~JobReporter() = default;
    JobReporter(const JobReporter&) = delete;
    JobReporter& operator=(const JobReporter&) = delete;

    virtual void setStatus(const std::string& text) = 0;
    // Progress of the current job, 0..range.
    virtual void setProgress(int position, int range) = 0;
    virtual void pumpMessages() = 0;
    virtual void notice(const Status& status) = 0;
    virtual bool confirm(const Status& question) = 0;

    // Current text of a string-table entry (its built-in default when no
    // table is attached or the key is unknown to it).
    std::string text(std::string_view key) const;
    // The whole text of a status: lead, the key's text, detail.
    std::string message(const Status& status) const {
        const std::string keyText = status.key().empty() ? std::string() : text(status.key());
        return status.lead() + keyText + status.detail();
    }

    void setStrings(const StringTable* strings) { strings_ = strings; }
    const StringTable* strings() const { return strings_; }

private:
    const StringTable* strings_;
};

}  // namespace zembra
