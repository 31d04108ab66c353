#pragma once
// Sets an environment variable for the lifetime of the object, then puts
// back what was there (or removes it).

#include <stdlib.h>

#include <optional>
#include <string>

namespace zembra::testing {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

}  // namespace zembra::testing
