#pragma once
// A codec library opened by name at run time (dlopen), so the program needs
// no development package and a machine without it simply lacks the codec.
// The name is the one set last, else the environment variable, else the
// library's usual name. `fill` resolves the function table from an open
// handle and says whether the library is usable.

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace zembra::avi {

template <typename Api>
class RunTimeLibrary {
public:
    using Fill = bool (*)(void* handle, Api& api);

    RunTimeLibrary(const char* environmentVariable, const char* usualName, Fill fill)
        : environmentVariable_(environmentVariable), usualName_(usualName), fill_(fill) {}

    // The function table, loaded at the first call after a name change;
    // nullptr when the library cannot be opened or lacks a function.
    const Api* api() {
        if (!tried_) load();
        return api_;
    }
    // Forgets the loaded table; the next api() tries this name (empty: the
    // environment variable or the usual name).
    void setName(const std::string& soname) {
        name_ = soname;
        tried_ = false;
    }

private:
    std::string libraryName() const {
        if (!name_.empty()) return name_;
        if (const char* env = std::getenv(environmentVariable_); env != nullptr && *env != '\0')
            return env;
        return usualName_;
    }

    void load() {
        tried_ = true;
        api_ = nullptr;
        // Never closed: encoders made from an earlier name may still be alive.
        void* handle = dlopen(libraryName().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        Api a;
        if (!fill_(handle, a)) return;
        tables_.push_back(std::make_unique<const Api>(a));
        api_ = tables_.back().get();
    }

    const char* environmentVariable_;
    const char* usualName_;
    Fill fill_;
    bool tried_ = false;
    std::string name_;
    // One table per library ever loaded, kept like its handle: encoders made
    // earlier hold on to theirs.
    std::vector<std::unique_ptr<const Api>> tables_;
    const Api* api_ = nullptr;
};

// Looks up each symbol given to it in an open library; ok turns false at
// the first one missing.
class SymbolResolver {
public:
    explicit SymbolResolver(void* handle) : handle_(handle) {}
    template <typename F>
    void operator()(const char* symbol, F& out) {
        out = reinterpret_cast<F>(dlsym(handle_, symbol));
        if (out == nullptr) ok = false;
    }
    bool ok = true;

private:
    void* handle_;
};

}  // namespace zembra::avi
