#pragma once
// The narrow interface the sector reader reads through: a block device, an
// image file, or a test device that fails chosen sectors.
//
// Threads: readAt and prefetch are called from several threads at once (a
// recovery copies on one thread while another reads and makes the files
// ahead of it), so every device must allow that, serialising inside where
// what it reads through does not (a container library handle, a cache).
// Opening and closing happen on one thread while no read runs.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tamsin {

struct DeviceRead {
    bool ok = false;        // false: the read failed as a whole (errno-style code in error)
    std::size_t bytes = 0;  // bytes delivered; fewer than asked only at the end of the device
    int error = 0;
};

class Device {
public:
    virtual ~Device() = default;

    // Reads up to buffer.size() bytes at byteOffset. Never writes to the device.
    virtual DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) = 0;

    // A hint that bytes at byteOffset will be read soon, so that the system
    // may start reading them now; changes nothing that is read.
    virtual void prefetch(std::uint64_t /*byteOffset*/, std::uint64_t /*bytes*/) {}

    // True when a failed read fails the same way every time (damage inside
    // a container image, not a disk's media): retrying it is pointless.
    virtual bool failuresRepeat() const { return false; }

    // Size in bytes as the device or file reports it.
    virtual std::uint64_t sizeBytes() const = 0;

    // Path the device was opened with, for messages.
    virtual const std::string& path() const = 0;
};

} // namespace tamsin
