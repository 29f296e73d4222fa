#pragma once
// Ctrl-C as a Stop button: while a guard lives, the first SIGINT sets the
// guarded flag instead of ending the program; a second one ends it.

#include <atomic>

namespace tamsin::cli {

class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<bool>& flag);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*previous_)(int);
};

} // namespace tamsin::cli
