#pragma once
// Test double of UiHost: records every box, answers questions from a script
// (No once the script is used up), counts pumps and keeps the last status.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui_host.h"
#include "support/no_shutdown.h"

namespace zembra::testing {

struct RecordedBox {
    BoxKind kind;
    std::string text;
};

class RecordingHost : public UiHost {
public:
    explicit RecordingHost(const StringTable* strings = nullptr) : UiHost(strings) {}

    BoxAnswer messageBox(BoxKind kind, const std::string& text) override {
        boxes.push_back({kind, text});
        if (kind != BoxKind::Question) return BoxAnswer::Ok;
        if (answers.empty()) return BoxAnswer::No;
        BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    void pumpMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    void setStatus(const std::string& text) override { statuses.push_back(text); }
    void setProgress(int position, int range) override {
        progressPosition = position;
        progressRange = range;
    }

    bool sawText(const std::string& text) const {
        for (const auto& b : boxes)
            if (b.text == text) return true;
        return false;
    }

    std::vector<RecordedBox> boxes;
    std::deque<BoxAnswer> answers;
    std::vector<std::string> statuses;
    int pumps = 0;
    int progressPosition = 0;
    int progressRange = 0;
    std::function<void()> onPump;  // e.g. press Cancel in the middle of a job
};

}  // namespace zembra::testing
