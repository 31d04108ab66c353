#pragma once
// A stop request that one thread (the window's, the console's interrupt
// handler) makes and the engines poll between pictures, blocks and files.
// The engines only ask; whoever owns the token requests and clears it.

#include <atomic>

namespace zembra {

class CancelToken {
public:
    CancelToken() = default;
    explicit CancelToken(bool requested) : requested_(requested) {}
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void request() { requested_.store(true); }
    void clear() { requested_.store(false); }
    bool requested() const { return requested_.load(); }

private:
    // Lock-free, so an interrupt handler may set it.
    std::atomic<bool> requested_{false};
};

}  // namespace zembra
