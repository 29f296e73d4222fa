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
    while (result.bytes < wanted) {
        const std::int64_t n = readLocked(byteOffset + result.bytes, buffer.subspan(result.bytes, wanted - result.bytes));
        // Nothing delivered inside the media size is as much an error as a
        // failed read: the sector reader then retries sector by sector.
        if (n <= 0) {
            result.bytes = 0;
            result.error = EIO;
            return result;
        }
        result.bytes += static_cast<std::size_t>(n);
    }
    result.ok = true;
    return result;
}

} // namespace tamsin
