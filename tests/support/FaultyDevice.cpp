#include "FaultyDevice.h"

#include "disk/Sector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tamsin::test {

std::unique_ptr<MemoryDevice> MemoryDevice::patterned(std::uint64_t sectorCount)
{
    std::vector<std::uint8_t> bytes(sectorCount * kSectorSize);
    for (std::uint64_t s = 0; s < sectorCount; ++s)
        std::fill_n(bytes.begin() + static_cast<long>(s * kSectorSize), kSectorSize, static_cast<std::uint8_t>(s));
    return std::make_unique<MemoryDevice>(std::move(bytes));
}

DeviceRead MemoryDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    DeviceRead result{true, 0, 0};
    if (byteOffset >= bytes_.size())
        return result;
    result.bytes = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - byteOffset));
    std::memcpy(buffer.data(), bytes_.data() + byteOffset, result.bytes);
    return result;
}

unsigned FaultyDevice::attempts(std::uint64_t sector) const
{
    std::lock_guard lock(mutex_);
    auto it = attempts_.find(sector);
    return it == attempts_.end() ? 0 : it->second;
}

unsigned FaultyDevice::totalReads() const
{
    std::lock_guard lock(mutex_);
    return totalReads_;
}

DeviceRead FaultyDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    const std::uint64_t first = byteOffset / kSectorSize;
    const std::uint64_t last = (byteOffset + std::max<std::size_t>(buffer.size(), 1) - 1) / kSectorSize;
    if (onRead_) {
        std::lock_guard hook(hookMutex_);
        onRead_(first, last - first + 1);
    }
    bool fail = false;
    std::unique_lock lock(mutex_);
    ++totalReads_;
    for (std::uint64_t s = first; s <= last; ++s) {
        ++attempts_[s];
        auto it = bad_.find(s);
        if (it != bad_.end() && it->second > 0) {
            --it->second;
            fail = true;
        }
    }
    lock.unlock();
    if (fail) {
        // A failing request may still have scribbled over the caller's buffer.
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        return {false, 0, EIO};
    }
    return inner_->readAt(byteOffset, buffer);
}

void FaultyDevice::prefetch(std::uint64_t byteOffset, std::uint64_t bytes)
{
    if (onPrefetch_) {
        std::lock_guard hook(hookMutex_);
        onPrefetch_(byteOffset / kSectorSize, (byteOffset + bytes + kSectorSize - 1) / kSectorSize - byteOffset / kSectorSize);
    }
    inner_->prefetch(byteOffset, bytes);
}

} // namespace tamsin::test
