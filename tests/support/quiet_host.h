#pragma once
// A UiHost for code run where nobody can see a box: the fuzz targets, the
// benchmarks and tests that only need some host. Questions get the answer it
// was made with; boxes are dropped unless `echo` writes them to stderr.

#include <cstdio>
#include <string>

#include "platform/ui_host.h"

namespace zembra::testing {

class QuietHost : public UiHost {
public:
    explicit QuietHost(BoxAnswer answer = BoxAnswer::No, bool echo = false)
        : answer_(answer), echo_(echo) {}

    BoxAnswer messageBox(BoxKind kind, const std::string& text) override {
        if (echo_) std::fprintf(stderr, "%s\n", text.c_str());
        return kind == BoxKind::Question ? answer_ : BoxAnswer::Ok;
    }
    void pumpMessages() override {}
    void setStatus(const std::string&) override {}
    void setProgress(int, int) override {}

private:
    BoxAnswer answer_;
    bool echo_;
};

}  // namespace zembra::testing
