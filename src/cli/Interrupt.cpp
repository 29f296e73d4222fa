#include "Interrupt.h"

#include <csignal>

namespace tamsin::cli {
namespace {

std::atomic<std::atomic<bool>*> g_target{nullptr};

extern "C" void onInterrupt(int)
{
    if (std::atomic<bool>* flag = g_target.load())
        flag->store(true);
    std::signal(SIGINT, SIG_DFL);
}

} // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& flag)
{
    g_target = &flag;
    previous_ = std::signal(SIGINT, onInterrupt);
}

InterruptGuard::~InterruptGuard()
{
    std::signal(SIGINT, previous_);
    g_target = nullptr;
}

} // namespace tamsin::cli
