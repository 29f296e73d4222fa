#pragma once
// Little-endian field readers and writers over byte buffers. Every on-disk
// and snapshot structure is decoded through these, never by casting structs.

#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <span>

namespace tamsin {

inline std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::uint16_t value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);  // one load where the byte order agrees
        return value;
    }
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8)
        | (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline std::uint64_t readU64(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint64_t>(readU32(bytes, offset))
        | (static_cast<std::uint64_t>(readU32(bytes, offset + 4)) << 32);
}

inline void writeU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Byte by byte without a loop, which the compiler turns into one store.
inline void writeU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 2] = static_cast<std::uint8_t>(value >> 16);
    bytes[offset + 3] = static_cast<std::uint8_t>(value >> 24);
}

inline void writeU64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value)
{
    writeU32(bytes, offset, static_cast<std::uint32_t>(value));
    writeU32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

} // namespace tamsin
