#include "common/Prefault.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it and nothing is mapped ahead
#endif

namespace tamsin {
namespace {

constexpr std::size_t kPieceBytes = std::size_t{64} << 10;
constexpr std::size_t kSmallestRange = std::size_t{2} << 20;

} // namespace

BackgroundPrefault::BackgroundPrefault(std::initializer_list<Range> ranges)
{
    struct Pages {
        std::uintptr_t begin, at, end;
    };
    std::vector<Pages> pages;
    std::size_t total = 0;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    for (const Range& range : ranges) {
        const auto address = reinterpret_cast<std::uintptr_t>(range.data);
        // Whole pages only: the partial pages at either end may hold other
        // allocations, which populating would not harm but need not touch.
        const std::uintptr_t begin = (address + page - 1) / page * page;
        const std::uintptr_t end = (address + range.bytes) / page * page;
        if (end > begin) {
            pages.push_back({begin, begin, end});
            total += end - begin;
        }
    }
    if (total < kSmallestRange) {
        // One call maps a small range in at once, cheaper than a trap per page.
        for (const Pages& range : pages)
            ::madvise(reinterpret_cast<void*>(range.begin), range.end - range.begin, MADV_POPULATE_WRITE);
        return;
    }
    try {
        thread_ = std::jthread([pages = std::move(pages)](std::stop_token stop) mutable {
            // The next piece is always taken from the range least far along.
            auto behind = [](const Pages& a, const Pages& b) {
                return double(a.at - a.begin) / double(a.end - a.begin) < double(b.at - b.begin) / double(b.end - b.begin);
            };
            while (!stop.stop_requested()) {
                auto next = std::min_element(pages.begin(), pages.end(), behind);
                if (next == pages.end() || next->at == next->end)
                    return;
                const std::size_t length = std::min<std::uintptr_t>(kPieceBytes, next->end - next->at);
                // Pages the caller has written already are left as they are.
                if (::madvise(reinterpret_cast<void*>(next->at), length, MADV_POPULATE_WRITE) != 0)
                    return;
                next->at += length;
            }
        });
    } catch (const std::system_error&) {
        // No thread to spare: the pages are mapped in as they are first written.
    }
}

} // namespace tamsin
