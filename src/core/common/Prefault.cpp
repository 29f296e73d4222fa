#include "common/Prefault.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it and nothing is mapped ahead
#endif

namespace tamsin {
namespace {

constexpr std::size_t kPieceBytes = std::size_t{64} << 10;
constexpr std::size_t kSmallestRange = std::size_t{256} << 10;

} // namespace

BackgroundPrefault::BackgroundPrefault(void* data, std::size_t bytes)
{
    if (bytes < kSmallestRange)
        return;
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto address = reinterpret_cast<std::uintptr_t>(data);
    // Whole pages only: the partial pages at either end may hold other
    // allocations, which populating would not harm but need not touch.
    const std::uintptr_t begin = (address + page - 1) / page * page;
    const std::uintptr_t end = (address + bytes) / page * page;
    try {
        thread_ = std::jthread([begin, end](std::stop_token stop) {
            for (std::uintptr_t at = begin; at < end && !stop.stop_requested(); at += kPieceBytes) {
                const std::size_t length = std::min<std::uintptr_t>(kPieceBytes, end - at);
                // Pages the caller has written already are left as they are.
                if (::madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0)
                    return;
            }
        });
    } catch (const std::system_error&) {
        // No thread to spare: the pages are mapped in as they are first written.
    }
}

} // namespace tamsin
