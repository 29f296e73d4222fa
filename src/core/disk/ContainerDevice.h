#pragma once
// Read-only devices over disk container libraries (VMDK, VHD/VHDX, QCOW2,
// EWF). The libraries' handles are not thread-safe, so every read holds the
// device's mutex.

#include "disk/Device.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tamsin {

// How a container device's chunk cache asks its library: in pieces of at
// most piece bytes (0: a chunk at once); a piece that fails is split in
// halves down to smallest bytes to find where the damage lies.
struct ContainerGranularity {
    std::size_t piece = 0;
    std::size_t smallest = 512;
};

class ContainerDevice : public Device {
public:
    // Reads within the media size; bytes past its end are not delivered. A
    // read touching a damaged range fails as a whole (EIO). Reads go through
    // a small cache of aligned 1 MiB chunks: some libraries decode a whole
    // grain or block (up to 2 MiB) for every call, however little is asked
    // of it. A chunk the library does not read whole is read again in
    // pieces, once, to find its damaged ranges, which are remembered for
    // the device's life: never asked of the library again.
    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) final;
    std::uint64_t sizeBytes() const final { return sizeBytes_; }
    const std::string& path() const final { return path_; }
    bool failuresRepeat() const final { return true; }

    using Granularity = ContainerGranularity;

protected:
    ContainerDevice(std::string path, std::uint64_t mediaSize, Granularity granularity = {}) :
        path_(std::move(path)), sizeBytes_(mediaSize), granularity_(granularity)
    {
    }

    // One library read of up to buffer.size() bytes at offset: the bytes
    // read, 0 when none are left, or -1 on an error. Called under the mutex.
    virtual std::int64_t readLocked(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

    // Byte ranges [first, end) within [offset, offset + length) that a
    // successful read delivered but that are not the disk's (a library that
    // records damage instead of failing). Called under the mutex.
    virtual void findDamage(std::uint64_t /*offset*/, std::uint64_t /*length*/,
                            std::vector<std::pair<std::uint64_t, std::uint64_t>>& /*damaged*/)
    {
    }

private:
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
    static constexpr std::size_t kCachedChunks = 8;
    // A failed chunk is first split into pieces of this size.
    static constexpr std::size_t kUnitBytes = std::size_t{64} << 10;

    struct Chunk {
        std::uint64_t index = ~std::uint64_t{0};
        std::uint64_t lastUse = 0;
        std::vector<std::uint8_t> data;
    };

    // Fills buffer from offset (within the media size) with library reads;
    // records the damage the library reports.
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> buffer);
    // Reads [from, to) of the chunk at start into data: piece by piece,
    // splitting failed pieces to find and record the damage.
    void readPieces(std::uint64_t start, std::vector<std::uint8_t>& data, std::uint64_t from, std::uint64_t to);
    void locate(std::uint64_t start, std::vector<std::uint8_t>& data, std::uint64_t from, std::uint64_t to);
    // The cached chunk with this index, read now if it is not cached.
    const Chunk& chunk(std::uint64_t index);
    void markDamaged(std::uint64_t from, std::uint64_t to);
    // Whether [from, to) meets a damaged range.
    bool damaged(std::uint64_t from, std::uint64_t to) const;

    std::mutex mutex_;
    std::array<Chunk, kCachedChunks> cache_;
    std::uint64_t useClock_ = 0;
    std::string path_;
    std::uint64_t sizeBytes_ = 0;
    Granularity granularity_;
    std::map<std::uint64_t, std::uint64_t> damaged_;  // start -> end, disjoint, not touching
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
std::unique_ptr<Device> openVhdiDevice(const std::string& path, Refusal& refusal);  // fixed VHD
// A VHDX read through its own block allocation table (and its parent's).
std::unique_ptr<Device> openVhdxDevice(const std::string& path, Refusal& refusal);
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
