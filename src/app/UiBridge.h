#pragma once
// How worker threads report to the window. Ordered reports (status,
// stages, questions, the end of the work) run on the UI thread while the
// worker waits. Frequent reports (progress, counters) only store their
// latest value; the UI thread applies it at most once per interval, so a
// worker is never held up by them, and every ordered report first applies
// whatever is still pending so nothing shows out of order.

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tamsin::app {

// Runs f on context's thread and waits for it. Only for worker threads.
inline void callOnUiThread(QObject* context, const std::function<void()>& f)
{
    QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
}

template <typename T>
class Coalesced {
public:
    using Clock = std::chrono::steady_clock;

    Coalesced(QObject* context, std::function<void(const T&)> apply,
              std::chrono::milliseconds interval = std::chrono::milliseconds(50)) :
        context_(context), shared_(std::make_shared<Shared>())
    {
        shared_->apply = std::move(apply);
        shared_->interval = interval;
    }

    // Worker thread: keeps value as the latest; asks the UI thread to apply
    // it unless a request is already on its way.
    void post(T value)
    {
        bool request = false;
        {
            std::lock_guard lock(shared_->mutex);
            shared_->pending = std::move(value);
            request = !shared_->requested;
            shared_->requested = true;
        }
        if (request) {
            auto shared = shared_;
            QObject* context = context_;
            QMetaObject::invokeMethod(context_, [shared, context] { schedule(shared, context); }, Qt::QueuedConnection);
        }
    }

    // UI thread: applies a pending value now.
    void flush() { applyPending(shared_); }

private:
    struct Shared {
        std::mutex mutex;
        std::optional<T> pending;
        bool requested = false;
        std::function<void(const T&)> apply;
        std::chrono::milliseconds interval{50};
        Clock::time_point lastApplied{};
    };

    static void schedule(const std::shared_ptr<Shared>& shared, QObject* context)
    {
        const auto since = Clock::now() - shared->lastApplied;
        if (since >= shared->interval) {
            applyPending(shared);
            return;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(shared->interval - since);
        QTimer::singleShot(wait, context, [shared] { applyPending(shared); });
    }

    static void applyPending(const std::shared_ptr<Shared>& shared)
    {
        std::optional<T> value;
        {
            std::lock_guard lock(shared->mutex);
            value.swap(shared->pending);
            shared->requested = false;
        }
        if (value) {
            shared->lastApplied = Clock::now();
            shared->apply(*value);
        }
    }

    QObject* context_;
    std::shared_ptr<Shared> shared_;
};

} // namespace tamsin::app
