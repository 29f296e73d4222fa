#pragma once
// How worker threads report to the window. Ordered reports (status,
// stages, questions, the end of the work) run on the UI thread while the
// worker waits. Frequent reports (progress, counters, found rows) are only
// stored; the UI thread applies them at most once per interval, so a
// worker is never held up by them, and every ordered report first applies
// whatever is still pending so nothing shows out of order. Coalesced keeps
// only the latest value; Batched keeps every value, in order.

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tamsin::app {

// A context for worker reports whose waits the UI thread can call off.
// After close(), a worker waiting for a call is released without it and
// later calls return at once, so the UI thread can stop a worker and join
// it although the worker may be waiting for an answer of the UI thread.
// A call already running is waited for: it may use the worker's data.
class UiCalls : public QObject {
public:
    using QObject::QObject;
    ~UiCalls() override { close(); }

    // Worker thread: runs f on this object's thread and waits for it; false,
    // with f not run, once closed.
    bool call(const std::function<void()>& f)
    {
        struct Call {
            bool running = false;
            bool done = false;
        };
        auto call = std::make_shared<Call>();
        auto shared = shared_;
        {
            std::lock_guard lock(shared->mutex);
            if (shared->closed)
                return false;
        }
        QMetaObject::invokeMethod(
            this,
            [shared, call, &f] {
                {
                    std::lock_guard lock(shared->mutex);
                    if (shared->closed)
                        return;  // the worker has gone on without it
                    call->running = true;
                }
                f();
                {
                    std::lock_guard lock(shared->mutex);
                    call->done = true;
                }
                shared->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock, [&] { return call->done || (shared->closed && !call->running); });
        return call->done;
    }

    // UI thread: releases the waiting worker and refuses every later call.
    void close()
    {
        {
            std::lock_guard lock(shared_->mutex);
            shared_->closed = true;
        }
        shared_->changed.notify_all();
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// Runs f on context's thread and waits for it. Only for worker threads. With
// a UiCalls context the wait ends, f not run, when the context is closed.
inline void callOnUiThread(QObject* context, const std::function<void()>& f)
{
    if (auto* calls = dynamic_cast<UiCalls*>(context))
        calls->call(f);
    else
        QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
}

namespace detail {

inline bool hasContent(const auto& pending)
{
    if constexpr (requires { pending.has_value(); })
        return pending.has_value();
    else
        return !pending.empty();
}

// What a worker left pending, applied on context's thread at most once per
// interval. Pending is a std::optional (latest value) or a std::vector (all).
template <typename Pending>
class Throttled {
public:
    using Clock = std::chrono::steady_clock;

    Throttled(QObject* context, std::function<void(Pending&)> apply, std::chrono::milliseconds interval) :
        context_(context), shared_(std::make_shared<Shared>())
    {
        shared_->apply = std::move(apply);
        shared_->interval = interval;
    }

    // Worker thread: changes the pending value; asks the UI thread to apply
    // it unless a request is already on its way.
    template <typename Change>
    void update(Change&& change)
    {
        bool request = false;
        {
            std::lock_guard lock(shared_->mutex);
            change(shared_->pending);
            request = !shared_->requested;
            shared_->requested = true;
        }
        if (request) {
            auto shared = shared_;
            QObject* context = context_;
            QMetaObject::invokeMethod(context_, [shared, context] { schedule(shared, context); }, Qt::QueuedConnection);
        }
    }

    // UI thread: applies what is pending now.
    void flush() { applyPending(shared_); }

private:
    struct Shared {
        std::mutex mutex;
        Pending pending;
        bool requested = false;
        std::function<void(Pending&)> apply;
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
        Pending value{};
        {
            std::lock_guard lock(shared->mutex);
            std::swap(value, shared->pending);
            shared->requested = false;
        }
        if (hasContent(value)) {
            shared->lastApplied = Clock::now();
            shared->apply(value);
        }
    }

    QObject* context_;
    std::shared_ptr<Shared> shared_;
};

} // namespace detail

// The latest of a stream of values (a percentage, counters).
template <typename T>
class Coalesced {
public:
    Coalesced(QObject* context, std::function<void(const T&)> apply,
              std::chrono::milliseconds interval = std::chrono::milliseconds(50)) :
        throttled_(context, [apply = std::move(apply)](std::optional<T>& value) { apply(*value); }, interval)
    {
    }

    // Worker thread: keeps value as the latest.
    void post(T value)
    {
        throttled_.update([&](std::optional<T>& pending) { pending = std::move(value); });
    }

    // UI thread: applies a pending value now.
    void flush() { throttled_.flush(); }

private:
    detail::Throttled<std::optional<T>> throttled_;
};

// Every value of a stream (found rows), applied in batches in posting order.
template <typename T>
class Batched {
public:
    Batched(QObject* context, std::function<void(std::vector<T>&)> apply,
            std::chrono::milliseconds interval = std::chrono::milliseconds(50)) :
        throttled_(context, std::move(apply), interval)
    {
    }

    // Worker thread: adds value after the ones still pending.
    void post(T value)
    {
        throttled_.update([&](std::vector<T>& pending) { pending.push_back(std::move(value)); });
    }

    // UI thread: applies every pending value now.
    void flush() { throttled_.flush(); }

private:
    detail::Throttled<std::vector<T>> throttled_;
};

} // namespace tamsin::app
