// QEMU copy-on-write disks (QCOW version 1 to 3) through libqcow; unallocated clusters read as zeros.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include "disk/FileDevice.h"

#include <libqcow.h>

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <vector>

namespace tamsin {
namespace {

struct Qcow {
    using Handle = libqcow_file_t;
    using Error = LibraryError<libqcow_error_t, libqcow_error_backtrace_sprint, libqcow_error_free>;
    static int close(Handle* h, libqcow_error_t** e) { return libqcow_file_close(h, e); }
    static int free(Handle** h, libqcow_error_t** e) { return libqcow_file_free(h, e); }
    static ssize_t read(Handle* h, void* buffer, std::size_t size, off64_t offset, libqcow_error_t** e)
    {
        return libqcow_file_read_buffer_at_offset(h, buffer, size, offset, e);
    }
};

std::uint64_t be64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Keeps the library away from clusters that lie past the end of a cut-short
// file: given such a cluster it reads past its own buffer. The cluster
// tables (version 2 and 3, big-endian) are checked lazily, one level-2 table
// at a time, and the clusters they place beyond the file's end are refused,
// so their sectors count as unreadable.
class ClusterGuard {
public:
    static std::shared_ptr<ClusterGuard> open(const std::string& path)
    {
        auto file = FileDevice::open(path);
        std::uint8_t header[48];
        if (!file || file->readAt(0, header).bytes != sizeof header)
            return nullptr;
        const std::uint32_t version = static_cast<std::uint32_t>(be64(header + 4) >> 32);
        const std::uint32_t clusterBits = static_cast<std::uint32_t>(be64(header + 20) >> 32);
        if ((version != 2 && version != 3) || clusterBits < 9 || clusterBits > 21)
            return nullptr;
        auto guard = std::shared_ptr<ClusterGuard>(new ClusterGuard);
        guard->clusterBits_ = clusterBits;
        guard->fileSize_ = file->sizeBytes();
        const std::uint32_t l1Entries = static_cast<std::uint32_t>(be64(header + 36) >> 32);
        const std::uint64_t l1At = be64(header + 40);
        std::vector<std::uint8_t> l1(std::size_t{l1Entries} * 8);
        const DeviceRead read = l1At < guard->fileSize_ ? file->readAt(l1At, l1) : DeviceRead{};
        guard->l1_.assign(l1Entries, kCutOff);
        for (std::uint32_t i = 0; i < l1Entries && read.ok && std::size_t{i} * 8 + 8 <= read.bytes; ++i)
            guard->l1_[i] = be64(&l1[std::size_t{i} * 8]) & kOffsetMask;
        guard->file_ = std::move(file);
        return guard;
    }

    // Whether every cluster the guest range touches lies within the file.
    bool readable(std::uint64_t offset, std::size_t size)
    {
        if (size == 0)
            return true;
        const std::uint64_t cluster = std::uint64_t{1} << clusterBits_;
        const std::uint64_t perTable = cluster / 8;
        for (std::uint64_t c = offset >> clusterBits_; c <= (offset + size - 1) >> clusterBits_; ++c) {
            const std::uint64_t table = c / perTable;
            if (table >= l1_.size())
                continue;  // past the tables: the library reads zeros or refuses
            if (l1_[table] == kCutOff)
                return false;
            if (l1_[table] != 0 && !checkedTables_.contains(table))
                checkTable(table);
            if (std::binary_search(badClusters_.begin(), badClusters_.end(), c))
                return false;
        }
        return true;
    }

private:
    static constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;
    static constexpr std::uint64_t kCutOff = ~std::uint64_t{0};
    static constexpr std::uint64_t kCompressed = std::uint64_t{1} << 62;

    ClusterGuard() = default;

    void checkTable(std::uint64_t table)
    {
        checkedTables_.insert(table);
        const std::uint64_t cluster = std::uint64_t{1} << clusterBits_;
        const std::uint64_t perTable = cluster / 8;
        std::vector<std::uint8_t> l2(static_cast<std::size_t>(cluster));
        const bool whole = l1_[table] + cluster <= fileSize_ && file_->readAt(l1_[table], l2).bytes == l2.size();
        for (std::uint64_t j = 0; j < perTable; ++j) {
            bool bad = !whole;
            if (whole) {
                const std::uint64_t entry = be64(&l2[static_cast<std::size_t>(j * 8)]);
                if (entry & kCompressed) {
                    // Offset in the low bits, then the count of further 512-byte sectors.
                    const std::uint32_t offsetBits = 62 - (clusterBits_ - 8);
                    const std::uint64_t host = entry & ((std::uint64_t{1} << offsetBits) - 1);
                    const std::uint64_t sectors = ((entry & ~kCompressed & ~(std::uint64_t{1} << 63)) >> offsetBits) + 1;
                    bad = (host & ~std::uint64_t{511}) + sectors * 512 > (fileSize_ + 511) / 512 * 512;
                } else {
                    const std::uint64_t host = entry & kOffsetMask;
                    bad = host != 0 && host + cluster > fileSize_;
                }
            }
            if (bad)
                badClusters_.insert(std::upper_bound(badClusters_.begin(), badClusters_.end(), table * perTable + j),
                                    table * perTable + j);
        }
    }

    std::unique_ptr<FileDevice> file_;
    std::uint32_t clusterBits_ = 16;
    std::uint64_t fileSize_ = 0;
    std::vector<std::uint64_t> l1_;  // level-2 table offsets; kCutOff: the entry lies past the file's end
    std::unordered_set<std::uint64_t> checkedTables_;
    std::vector<std::uint64_t> badClusters_;  // sorted
};

} // namespace

std::unique_ptr<Device> openQcowDevice(const std::string& path, std::string& reason)
{
    Qcow::Error error;
    libqcow_file_t* raw = nullptr;
    if (libqcow_file_initialize(&raw, error.out()) != 1) {
        reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libqcow_file_t, HandleDeleter<Qcow>> handle(raw);
    if (libqcow_file_open(handle.get(), path.c_str(), LIBQCOW_OPEN_READ, error.out()) != 1) {
        reason = error.message("not a readable image");
        return nullptr;
    }
    size64_t size = 0;
    if (libqcow_file_get_media_size(handle.get(), &size, error.out()) != 1) {
        reason = error.message("no media size");
        libqcow_file_close(handle.get(), error.out());
        return nullptr;
    }
    LibraryDevice<Qcow>::ReadGuard guard;
    if (auto clusters = ClusterGuard::open(path))
        guard = [clusters](std::uint64_t offset, std::size_t bytes) { return clusters->readable(offset, bytes); };
    return std::make_unique<LibraryDevice<Qcow>>(path, size, handle.release(), std::move(guard));
}

} // namespace tamsin
