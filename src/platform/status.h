#pragma once
// What a step of a job came to. An engine returns a Status instead of
// showing anything: done, or not done with the string-table key of the text
// the user should read, the detail that follows that text (a number, a file
// name) and the kind of box the application shows it in. The application
// decides whether it becomes a box, a status line or nothing.

#include <string>
#include <string_view>
#include <utility>

namespace zembra {

// " " + text, the usual start of a detail. Built piece by piece: GCC 12 at
// -O3 sees a false overlap (-Wrestrict) in " " + std::string&&.
inline std::string spaced(std::string_view text) {
    std::string out(1, ' ');
    out += text;
    return out;
}

enum class BoxKind { Error, Warning, Question };

class [[nodiscard]] Status {
public:
    // Done.
    Status() = default;
    // Not done, with nothing (more) to tell the user: whoever stopped has
    // told already, or the caller knows what to say.
    static Status failed() {
        Status s;
        s.failed_ = true;
        return s;
    }

    static Status error(std::string_view key, std::string detail = {}) {
        return Status(BoxKind::Error, key, std::move(detail));
    }
    static Status warning(std::string_view key, std::string detail = {}) {
        return Status(BoxKind::Warning, key, std::move(detail));
    }
    static Status question(std::string_view key, std::string detail = {}) {
        return Status(BoxKind::Question, key, std::move(detail));
    }
    // A message with no entry in the string table (a library's own words).
    static Status plain(BoxKind kind, std::string text) {
        return Status(kind, {}, std::move(text));
    }
    // Text shown before the key's text (a file name that opens the message).
    Status&& leadBy(std::string lead) && {
        lead_ = std::move(lead);
        return std::move(*this);
    }

    bool ok() const { return !failed_; }
    // Something for the user to read (a failed() status has nothing).
    bool hasMessage() const { return !key_.empty() || !lead_.empty() || !detail_.empty(); }
    explicit operator bool() const { return ok(); }
    BoxKind kind() const { return kind_; }
    const std::string& key() const { return key_; }
    const std::string& lead() const { return lead_; }
    const std::string& detail() const { return detail_; }

private:
    Status(BoxKind kind, std::string_view key, std::string detail)
        : failed_(true), kind_(kind), key_(key), detail_(std::move(detail)) {}

    bool failed_ = false;
    BoxKind kind_ = BoxKind::Error;
    std::string key_;
    std::string lead_;
    std::string detail_;
};

}  // namespace zembra
