#pragma once
// Byte helpers of the container readers: fixed-width fields in either byte
// order, and whole reads of a container file.

#include "disk/Device.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace tamsin::container {

inline std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

inline std::uint64_t le64(const std::uint8_t* p)
{
    return le32(p) | (std::uint64_t{le32(p + 4)} << 32);
}

inline std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline std::uint64_t be64(const std::uint8_t* p)
{
    return (std::uint64_t{be32(p)} << 32) | be32(p + 4);
}

// Whether the whole buffer was read from offset.
inline bool readExactly(Device& file, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    const DeviceRead read = file.readAt(offset, buffer);
    return read.ok && read.bytes == buffer.size();
}

// What an overlay does not hold: the parent's bytes where it has them, zeros
// past its end (or everywhere without a parent). False when the parent's read fails.
inline bool readFromParent(Device* parent, std::uint64_t at, std::span<std::uint8_t> piece)
{
    const std::uint64_t parentSize = parent ? parent->sizeBytes() : 0;
    const std::size_t there =
        at >= parentSize ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), parentSize - at));
    if (there > 0 && !readExactly(*parent, at, piece.first(there)))
        return false;
    std::fill(piece.begin() + static_cast<long>(there), piece.end(), std::uint8_t{0});
    return true;
}

} // namespace tamsin::container
