#include "search/SearchControl.h"

namespace tamsin {

// The flags change under the mutex so a waiting checkpoint cannot miss the
// notification; checkpoint() reads them without it while running freely.

void SearchControl::pause()
{
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void SearchControl::resume()
{
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    wake_.notify_all();
}

void SearchControl::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

void SearchControl::reset()
{
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
        stopped_ = false;
    }
    wake_.notify_all();
}

bool SearchControl::checkpoint()
{
    if (!paused_.load())
        return !stopped_.load();
    std::unique_lock lock(mutex_);
    waiting_ = true;
    wake_.wait(lock, [this] { return !paused_.load() || stopped_.load(); });
    waiting_ = false;
    return !stopped_.load();
}

} // namespace tamsin
