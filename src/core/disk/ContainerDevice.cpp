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
    if (!cached_) {
        if (!readRange(byteOffset, buffer.first(wanted))) {
            result.error = EIO;
            return result;
        }
        result.bytes = wanted;
        result.ok = true;
        return result;
    }
    for (std::size_t done = 0; done < wanted;) {
        const std::uint64_t at = byteOffset + done;
        const Chunk& cached = chunk(at / kChunkBytes);
        if (cached.failed) {
            // Only the asked bytes, so a failure stays with the sectors it concerns.
            if (!readRange(byteOffset, buffer.first(wanted))) {
                result.error = EIO;
                return result;
            }
            break;
        }
        const std::size_t from = static_cast<std::size_t>(at % kChunkBytes);
        const std::size_t n = std::min(wanted - done, cached.data.size() - from);
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
    slot->index = index;
    slot->lastUse = useClock_;
    slot->data.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, sizeBytes_ - start)));
    slot->failed = !readRange(start, slot->data);
    return *slot;
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
    return true;
}

} // namespace tamsin
