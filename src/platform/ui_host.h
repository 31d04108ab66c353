#pragma once
// The engines reach the user only through UiHost: message boxes, the message
// pump that keeps the window alive during long loops, status text and progress.
// Implementations: the Qt window, the console (CLI) and a recording test double.

#include <string>
#include <string_view>

namespace zembra {

class StringTable;

enum class BoxKind { Error, Warning, Question };
enum class BoxAnswer { Ok, Yes, No };

class UiHost {
public:
    explicit UiHost(const StringTable* strings = nullptr) : strings_(strings) {}
    virtual ~UiHost() = default;
    UiHost(const UiHost&) = delete;
    UiHost& operator=(const UiHost&) = delete;

    // Shows a modal box with the title of its kind. Questions answer Yes or No,
    // the other kinds Ok.
    virtual BoxAnswer messageBox(BoxKind kind, const std::string& text) = 0;
    // Drains pending user input (a Cancel press may re-enter the caller).
    virtual void pumpMessages() = 0;
    virtual void setStatus(const std::string& text) = 0;
    // Progress of the current job, 0..range.
    virtual void setProgress(int position, int range) = 0;

    // Current text of a string-table entry (its built-in default when no
    // table is attached or the key is unknown to it).
    std::string text(std::string_view key) const;

    // Shorthands: the box kind with the text of a string-table key.
    void error(std::string_view key) { messageBox(BoxKind::Error, text(key)); }
    void warning(std::string_view key) { messageBox(BoxKind::Warning, text(key)); }
    bool ask(std::string_view key) {
        return messageBox(BoxKind::Question, text(key)) == BoxAnswer::Yes;
    }

    void setStrings(const StringTable* strings) { strings_ = strings; }
    const StringTable* strings() const { return strings_; }

private:
    const StringTable* strings_;
};

}  // namespace zembra
