#include "disk/ContainerDevice.h"

#include <algorithm>
#include <cerrno>

namespace tamsin {

DeviceRead ContainerDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    DeviceRead result;
    if (byteOffset >= sizeBytes_) {
        result.ok = true;
        return result;
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), sizeBytes_ - byteOffset));
    std::lock_guard lock(mutex_);
    for (std::size_t done = 0; done < wanted;) {
        const std::uint64_t at = byteOffset + done;
        const Chunk& cached = chunk(at / kChunkBytes);
        const std::size_t from = static_cast<std::size_t>(at % kChunkBytes);
        const std::size_t n = std::min(wanted - done, cached.data.size() - from);
        if (damaged(at, at + n)) {
            result.error = EIO;
            return result;
        }
        std::copy_n(cached.data.begin() + static_cast<long>(from), n, buffer.begin() + static_cast<long>(done));
        done += n;
    }
    result.bytes = wanted;
    result.ok = true;
    return result;
}

const ContainerDevice::Chunk& ContainerDevice::chunk(std::uint64_t index)
{
    ++useClock_;
    Chunk* slot = &cache_[0];
    for (Chunk& c : cache_) {
        if (c.index == index) {
            c.lastUse = useClock_;
            return c;
        }
        if (c.lastUse < slot->lastUse)
            slot = &c;
    }
    const std::uint64_t start = index * kChunkBytes;
    const std::uint64_t end = start + std::min<std::uint64_t>(kChunkBytes, sizeBytes_ - start);
    slot->index = index;
    slot->lastUse = useClock_;
    slot->data.assign(static_cast<std::size_t>(end - start), 0);
    // The parts between the damaged ranges already known.
    std::uint64_t at = start;
    auto next = damaged_.upper_bound(start);
    if (next != damaged_.begin() && std::prev(next)->second > start)
        at = std::prev(next)->second;
    while (at < end) {
        const std::uint64_t gapEnd = next == damaged_.end() ? end : std::min(end, next->first);
        if (at < gapEnd)
            readPieces(start, slot->data, at, gapEnd);
        if (next == damaged_.end())
            break;
        at = next->second;
        ++next;
    }
    return *slot;
}

void ContainerDevice::readPieces(std::uint64_t start, std::vector<std::uint8_t>& data, std::uint64_t from,
                                 std::uint64_t to)
{
    for (std::uint64_t at = from; at < to;) {
        // Pieces end on multiples of the piece size, as the library's own units do.
        const std::uint64_t piece = granularity_.piece;
        const std::uint64_t end = piece ? std::min(to, (at / piece + 1) * piece) : to;
        auto bytes = std::span(data).subspan(static_cast<std::size_t>(at - start), static_cast<std::size_t>(end - at));
        if (!readRange(at, bytes)) {
            if (end - at <= std::max<std::uint64_t>(granularity_.smallest, 512))
                markDamaged(at, end);
            else
                locate(start, data, at, end);
        }
        at = end;
    }
}

// [from, to) failed to read. Finds its first damaged sector (the longest
// head that reads) and where the damage ends (the shortest tail that
// reads) by halving, and takes what lies between as damaged; in a long run,
// units that read on their own are kept. Each halving step is one library
// call, so a chunk costs a few dozen calls however much of it is damaged.
void ContainerDevice::locate(std::uint64_t start, std::vector<std::uint8_t>& data, std::uint64_t from, std::uint64_t to)
{
    auto reads = [&](std::uint64_t a, std::uint64_t b) {
        return a >= b
            || readRange(a, std::span(data).subspan(static_cast<std::size_t>(a - start), static_cast<std::size_t>(b - a)));
    };
    auto middle = [](std::uint64_t a, std::uint64_t b) { return a + (b - a) / 2 / 512 * 512; };
    std::uint64_t lo = from;
    std::uint64_t hi = to;  // [from, lo) reads; [lo, hi) holds damage
    while (hi - lo > 512) {
        const std::uint64_t mid = middle(lo, hi);
        if (reads(lo, mid))
            lo = mid;
        else
            hi = mid;
    }
    const std::uint64_t first = lo;
    lo = first + 512;
    hi = to;  // [hi, to) reads; the damage ends in [lo, hi]
    while (lo < hi) {
        const std::uint64_t mid = middle(lo, hi);
        if (reads(mid, hi))
            hi = mid;
        else
            lo = mid + 512;
    }
    const std::uint64_t end = std::min(hi, to);
    const std::uint64_t unitsFrom = (first + 512 + kUnitBytes - 1) / kUnitBytes * kUnitBytes;
    const std::uint64_t unitsTo = (end - 512) / kUnitBytes * kUnitBytes;
    if (unitsTo <= unitsFrom || unitsTo - unitsFrom < 2 * kUnitBytes) {
        markDamaged(first, end);
        return;
    }
    markDamaged(first, unitsFrom);
    markDamaged(unitsTo, end);
    for (std::uint64_t u = unitsFrom; u < unitsTo; u += kUnitBytes) {
        if (reads(u, u + kUnitBytes))
            continue;
        // Damaged at both ends: taken as damaged throughout.
        if (!reads(u, u + 512) && !reads(u + kUnitBytes - 512, u + kUnitBytes))
            markDamaged(u, u + kUnitBytes);
        else
            locate(start, data, u, u + kUnitBytes);
    }
}

bool ContainerDevice::readRange(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    for (std::size_t done = 0; done < buffer.size();) {
        // Nothing delivered inside the media size is as much an error as a
        // failed read.
        const std::int64_t n = readLocked(offset + done, buffer.subspan(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> found;
    findDamage(offset, buffer.size(), found);
    for (const auto& [from, to] : found)
        markDamaged(std::max(from, offset), std::min<std::uint64_t>(to, offset + buffer.size()));
    return true;
}

void ContainerDevice::markDamaged(std::uint64_t from, std::uint64_t to)
{
    if (from >= to)
        return;
    // Merge with the ranges it meets or touches.
    auto it = damaged_.upper_bound(from);
    if (it != damaged_.begin() && std::prev(it)->second >= from)
        --it;
    while (it != damaged_.end() && it->first <= to) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        it = damaged_.erase(it);
    }
    damaged_.emplace(from, to);
}

bool ContainerDevice::damaged(std::uint64_t from, std::uint64_t to) const
{
    auto it = damaged_.upper_bound(from);
    if (it != damaged_.begin() && std::prev(it)->second > from)
        return true;
    return it != damaged_.end() && it->first < to;
}

} // namespace tamsin
