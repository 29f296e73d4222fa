// QEMU copy-on-write disks (QCOW version 1 to 3): opened and checked by
// libqcow; unallocated clusters read as zeros.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include "disk/FileDevice.h"

#include <libqcow.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
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

// The cluster tables of a version 2 or 3 image (big-endian), read lazily:
// level-1 entries point at level-2 tables, whose entries place each cluster
// of the disk in the file. Tells where a cluster's bytes are, or that they
// are zeros, compressed, or past the end of a cut-short file.
class ClusterTable {
public:
    enum class Kind { Zero, Stored, Compressed, CutOff };
    struct Cluster {
        Kind kind = Kind::Zero;
        std::uint64_t host = 0;  // Stored: file offset of the cluster
    };

    // Null for images this table cannot serve alone: version 1, encrypted,
    // with a backing file or an external data file, or extended entries.
    static std::unique_ptr<ClusterTable> open(FileDevice& file)
    {
        std::uint8_t header[104] = {};
        const DeviceRead read = file.readAt(0, header);
        if (!read.ok || read.bytes < 72)
            return nullptr;
        const auto be32 = [&](std::size_t at) { return static_cast<std::uint32_t>(be64(header + at) >> 32); };
        const std::uint32_t version = be32(4);
        const std::uint32_t clusterBits = be32(20);
        if ((version != 2 && version != 3) || clusterBits < 9 || clusterBits > 21 || be64(header + 8) != 0
            || be32(32) != 0)
            return nullptr;
        // Version 3: external data file (bit 2) and extended entries (bit 4) change the layout.
        if (version == 3 && (read.bytes < 104 || (be64(header + 72) & 0x14) != 0))
            return nullptr;
        auto table = std::unique_ptr<ClusterTable>(new ClusterTable);
        table->clusterBits_ = clusterBits;
        table->version_ = version;
        table->fileSize_ = file.sizeBytes();
        const std::uint32_t l1Entries = be32(36);
        const std::uint64_t l1At = be64(header + 40);
        std::vector<std::uint8_t> l1(std::size_t{l1Entries} * 8);
        const DeviceRead l1Read = l1At < table->fileSize_ ? file.readAt(l1At, l1) : DeviceRead{};
        table->l1_.assign(l1Entries, kCutOff);
        for (std::uint32_t i = 0; i < l1Entries && l1Read.ok && std::size_t{i} * 8 + 8 <= l1Read.bytes; ++i)
            table->l1_[i] = be64(&l1[std::size_t{i} * 8]) & kOffsetMask;
        return table;
    }

    std::uint32_t clusterBits() const { return clusterBits_; }

    Cluster lookup(FileDevice& file, std::uint64_t cluster)
    {
        const std::uint64_t size = std::uint64_t{1} << clusterBits_;
        const std::uint64_t perTable = size / 8;
        const std::uint64_t index = cluster / perTable;
        if (index >= l1_.size() || l1_[index] == 0)
            return {};
        if (l1_[index] == kCutOff)
            return {Kind::CutOff};
        auto found = tables_.find(index);
        if (found == tables_.end())
            found = tables_.emplace(index, readTable(file, l1_[index])).first;
        if (found->second.empty())
            return {Kind::CutOff};
        const std::uint64_t entry = found->second[cluster % perTable];
        if (entry & kCompressed) {
            // Offset in the low bits, then the count of further 512-byte sectors.
            const std::uint32_t offsetBits = 62 - (clusterBits_ - 8);
            const std::uint64_t host = entry & ((std::uint64_t{1} << offsetBits) - 1);
            const std::uint64_t sectors = ((entry & ~(std::uint64_t{3} << 62)) >> offsetBits) + 1;
            const bool cut = (host & ~std::uint64_t{511}) + sectors * 512 > (fileSize_ + 511) / 512 * 512;
            return {cut ? Kind::CutOff : Kind::Compressed};
        }
        if (version_ == 3 && (entry & 1))
            return {};
        const std::uint64_t host = entry & kOffsetMask;
        if (host == 0)
            return {};
        if (host + size > fileSize_)
            return {Kind::CutOff};
        return {Kind::Stored, host};
    }

private:
    static constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;
    static constexpr std::uint64_t kCutOff = ~std::uint64_t{0};
    static constexpr std::uint64_t kCompressed = std::uint64_t{1} << 62;

    ClusterTable() = default;

    // A level-2 table's entries; empty when the file does not hold it whole.
    std::vector<std::uint64_t> readTable(FileDevice& file, std::uint64_t at) const
    {
        const std::uint64_t size = std::uint64_t{1} << clusterBits_;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(size));
        if (at + size > fileSize_ || file.readAt(at, raw).bytes != raw.size())
            return {};
        std::vector<std::uint64_t> entries(raw.size() / 8);
        for (std::size_t j = 0; j < entries.size(); ++j)
            entries[j] = be64(&raw[j * 8]);
        return entries;
    }

    std::uint32_t clusterBits_ = 16;
    std::uint32_t version_ = 2;
    std::uint64_t fileSize_ = 0;
    std::vector<std::uint64_t> l1_;  // level-2 table offsets; kCutOff: the entry lies past the file's end
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> tables_;
};

// Stored clusters are read from the file directly, runs of clusters that lie
// one after another in one request; compressed clusters go to the library.
// Clusters a cut-short file no longer holds fail the read: the library, given
// one, reads past its own buffer.
class QcowDevice final : public Device {
public:
    QcowDevice(std::unique_ptr<FileDevice> file, std::unique_ptr<ClusterTable> table, std::unique_ptr<Device> library) :
        file_(std::move(file)), table_(std::move(table)), library_(std::move(library))
    {
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        const std::uint64_t size = library_->sizeBytes();
        if (byteOffset >= size)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - byteOffset));
        const std::uint32_t bits = table_->clusterBits();
        const std::uint64_t clusterSize = std::uint64_t{1} << bits;
        std::lock_guard lock(mutex_);
        for (std::size_t done = 0; done < wanted;) {
            const std::uint64_t at = byteOffset + done;
            const ClusterTable::Cluster first = table_->lookup(*file_, at >> bits);
            // The piece: this cluster's part of the read, extended over the
            // following clusters of the same kind (and, when stored, next in the file).
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(clusterSize - at % clusterSize, wanted - done));
            while (done + n < wanted && first.kind != ClusterTable::Kind::Compressed) {
                const std::uint64_t next = (at + n) >> bits;
                const ClusterTable::Cluster c = table_->lookup(*file_, next);
                if (c.kind != first.kind
                    || (c.kind == ClusterTable::Kind::Stored && c.host != first.host + (next - (at >> bits)) * clusterSize))
                    break;
                n += static_cast<std::size_t>(std::min<std::uint64_t>(clusterSize, wanted - done - n));
            }
            auto piece = buffer.subspan(done, n);
            bool ok = true;
            switch (first.kind) {
            case ClusterTable::Kind::Zero:
                std::fill(piece.begin(), piece.end(), std::uint8_t{0});
                break;
            case ClusterTable::Kind::Stored: {
                const DeviceRead read = file_->readAt(first.host + at % clusterSize, piece);
                ok = read.ok && read.bytes == piece.size();
                break;
            }
            case ClusterTable::Kind::Compressed: {
                const DeviceRead read = library_->readAt(at, piece);
                ok = read.ok && read.bytes == piece.size();
                break;
            }
            case ClusterTable::Kind::CutOff:
                ok = false;
                break;
            }
            if (!ok) {
                result.ok = false;
                result.error = EIO;
                return result;
            }
            done += n;
        }
        result.bytes = wanted;
        return result;
    }

    std::uint64_t sizeBytes() const override { return library_->sizeBytes(); }
    const std::string& path() const override { return library_->path(); }

private:
    std::unique_ptr<FileDevice> file_;
    std::unique_ptr<ClusterTable> table_;
    std::unique_ptr<Device> library_;
    std::mutex mutex_;
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
    auto file = FileDevice::open(path);
    auto table = file ? ClusterTable::open(*file) : nullptr;
    if (!table)
        return std::make_unique<LibraryDevice<Qcow>>(path, size, handle.release());
    // The library is asked for compressed clusters only, each exactly: a
    // cached chunk around one would take in clusters a cut-short file no
    // longer holds.
    auto library = std::make_unique<LibraryDevice<Qcow>>(path, size, handle.release(), false);
    return std::make_unique<QcowDevice>(std::move(file), std::move(table), std::move(library));
}

} // namespace tamsin
