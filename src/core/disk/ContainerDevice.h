#pragma once
// Read-only devices over disk container libraries (VMDK, VHD/VHDX, QCOW2,
// EWF). The libraries' handles are not thread-safe, so every read holds the
// device's mutex.

#include "disk/Device.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tamsin {

class ContainerDevice : public Device {
public:
    // Reads within the media size; bytes past its end are not delivered. A
    // library error fails the read as a whole (EIO). Reads go through a small
    // cache of aligned 1 MiB chunks: some libraries decode a whole grain or
    // block (up to 2 MiB) for every call, however little is asked of it.
    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) final;
    std::uint64_t sizeBytes() const final { return sizeBytes_; }
    const std::string& path() const final { return path_; }

protected:
    // cached false: every read goes to the library as asked, nothing around it.
    ContainerDevice(std::string path, std::uint64_t mediaSize, bool cached = true) :
        path_(std::move(path)), sizeBytes_(mediaSize), cached_(cached)
    {
    }

    // One library read of up to buffer.size() bytes at offset: the bytes
    // read, 0 when none are left, or -1 on an error. Called under the mutex.
    virtual std::int64_t readLocked(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

private:
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
    static constexpr std::size_t kCachedChunks = 8;

    struct Chunk {
        std::uint64_t index = ~std::uint64_t{0};
        std::uint64_t lastUse = 0;
        bool failed = false;  // the chunk as a whole cannot be read: its reads bypass the cache
        std::vector<std::uint8_t> data;
    };

    // Fills buffer from offset (within the media size) with library reads.
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> buffer);
    // The cached chunk with this index, read now if it is not cached.
    const Chunk& chunk(std::uint64_t index);

    std::mutex mutex_;
    std::array<Chunk, kCachedChunks> cache_;
    std::uint64_t useClock_ = 0;
    std::string path_;
    std::uint64_t sizeBytes_ = 0;
    bool cached_ = true;
};

// Why an opener refused a file. reason: one line, from the library or the
// reader. unsupported: the file is of a kind of the format that is not read
// at all ("encrypted"); the message is then "PATH: encrypted QEMU disk
// image: not supported".
struct Refusal {
    std::string reason;
    std::string unsupported;
};

// Each opener returns null and fills refusal when it refuses the file.
std::unique_ptr<Device> openVmdkDevice(const std::string& path, Refusal& refusal);
std::unique_ptr<Device> openVhdiDevice(const std::string& path, Refusal& refusal);  // VHD and VHDX
// A dynamic or differencing VHD read through its own block table; null
// with an empty refusal when the file is a VHD of another kind (fixed).
std::unique_ptr<Device> openDynamicVhdDevice(const std::string& path, Refusal& refusal);
std::unique_ptr<Device> openQcowDevice(const std::string& path, Refusal& refusal);
std::unique_ptr<Device> openEwfDevice(const std::string& path, Refusal& refusal);  // finds the segment files

// Opens the disk a container names as its parent (a backing file): name as
// the container gives it, taken relative to the container's folder unless
// absolute, in whatever format its content shows (raw: as a raw image
// whatever its content). Null with reason, naming the parent, when it
// cannot be opened or the chain of parents runs too deep (a loop).
std::unique_ptr<Device> openParentDisk(const std::string& childPath, const std::string& name, bool raw,
                                       std::string& reason);

// Damage a container device finds in the container's own structures while
// reading (corrupt table entries) is told to this handler, once per device,
// as one line naming the file; the sectors concerned read as unreadable.
// Without a handler nothing is told. The command line prints it as a warning.
using ContainerNoticeHandler = void (*)(const std::string& message);
void setContainerNoticeHandler(ContainerNoticeHandler handler);
void containerNotice(const std::string& message);

} // namespace tamsin
