#pragma once
// Byte helpers of the container readers: fixed-width fields in either byte
// order, and whole reads of a container file.

#include "disk/Device.h"

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

} // namespace tamsin::container
