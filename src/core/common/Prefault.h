#pragma once
// Maps in the pages of a fresh allocation on a thread of its own while the
// caller fills it front to back. Each first write to a page of new memory
// traps into the kernel; on virtual machines that costs a microsecond or
// more per 4 KiB page, as much as decoding the bytes that fill it. Mapping
// the pages ahead a piece at a time, on the other core, takes that cost off
// the filling thread.

#include <cstddef>
#include <initializer_list>
#include <thread>

namespace tamsin {

class BackgroundPrefault {
public:
    struct Range {
        void* data;
        std::size_t bytes;
    };

    BackgroundPrefault() = default;
    // Starts on the whole pages of the ranges, each advanced in step with the
    // others, as when they are filled side by side at rates in proportion to
    // their sizes. A small total, where starting a thread costs more than it
    // saves, is mapped in at once on the caller's thread instead.
    BackgroundPrefault(std::initializer_list<Range> ranges);
    BackgroundPrefault(void* data, std::size_t bytes) : BackgroundPrefault({Range{data, bytes}}) {}
    BackgroundPrefault(const BackgroundPrefault&) = delete;
    BackgroundPrefault& operator=(const BackgroundPrefault&) = delete;
    // Stops after the piece in progress and waits for the thread; the range
    // must stay allocated until then.
    ~BackgroundPrefault() = default;

private:
    std::jthread thread_;
};

} // namespace tamsin
