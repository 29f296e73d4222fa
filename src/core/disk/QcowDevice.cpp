// QEMU copy-on-write disks (QCOW version 1 to 3), read through their own
// cluster tables: level-1 entries point at level-2 tables, whose entries
// place each cluster of the disk in the file, mark it compressed (deflate)
// or zeros, or leave it out (read from the backing file when there is one,
// else zeros). Fields are big-endian. Nothing is handed to a library: every
// offset is checked against the file before it is read. Encrypted images,
// external data files, subclusters and zstd compression are refused.

#include "disk/ContainerBytes.h"
#include "disk/ContainerDevice.h"
#include "disk/FileDevice.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tamsin {
namespace {

using namespace container;

// QEMU's own limit: a level-1 table of at most 32 MiB.
constexpr std::uint64_t kMaxL1Entries = (std::uint64_t{32} << 20) / 8;
// Level-2 tables kept in memory at once.
constexpr std::uint64_t kMaxCachedTableBytes = std::uint64_t{64} << 20;

constexpr std::uint32_t kBackingFormatExtension = 0xE2792ACA;
constexpr std::uint64_t kKnownIncompatible = 0x1F;
constexpr std::uint64_t kExternalData = 1u << 2;
constexpr std::uint64_t kExtendedL2 = 1u << 4;

struct Layout {
    std::uint32_t version = 0;
    std::uint32_t clusterBits = 0;
    std::uint32_t l2Bits = 0;  // a level-2 table has 1 << l2Bits entries
    std::uint64_t size = 0;
    std::uint64_t l1At = 0;
    std::uint64_t l1Entries = 0;  // read from the file; clusters past them are not stored
    std::string backing;          // empty: none
    bool backingRaw = false;      // the image says its backing file is a raw image
};

// Reads and checks the header; false with refusal filled when the image is
// not read.
bool readLayout(FileDevice& file, Layout& layout, Refusal& refusal)
{
    const std::uint64_t fileSize = file.sizeBytes();
    std::uint8_t header[112] = {};
    const DeviceRead read = file.readAt(0, header);
    if (!read.ok || read.bytes < 48) {
        refusal.reason = "the header is cut short";
        return false;
    }
    layout.version = be32(header + 4);
    if (layout.version < 1 || layout.version > 3) {
        refusal.reason = "version " + std::to_string(layout.version) + " is not a QCOW version (1 to 3)";
        return false;
    }
    const bool v1 = layout.version == 1;
    if (be32(header + (v1 ? 36 : 32)) != 0) {
        refusal.unsupported = "encrypted";
        return false;
    }
    const std::uint64_t backingAt = be64(header + 8);
    const std::uint32_t backingLength = be32(header + 16);
    layout.size = be64(header + 24);
    std::uint64_t headerLength = 48;
    std::uint64_t l1Given = 0;
    if (v1) {
        layout.clusterBits = header[32];
        layout.l2Bits = header[33];
        layout.l1At = be64(header + 40);
        if (layout.clusterBits < 9 || layout.clusterBits > 16 || layout.l2Bits < 6 || layout.l2Bits > 16) {
            refusal.reason = "cluster size 2^" + std::to_string(layout.clusterBits) + " with 2^"
                + std::to_string(layout.l2Bits) + " table entries is not a QCOW version 1 layout";
            return false;
        }
    } else {
        if (read.bytes < 72) {
            refusal.reason = "the header is cut short";
            return false;
        }
        layout.clusterBits = be32(header + 20);
        layout.l2Bits = layout.clusterBits - 3;
        l1Given = be32(header + 36);
        layout.l1At = be64(header + 40);
        if (layout.clusterBits < 9 || layout.clusterBits > 21) {
            refusal.reason = "cluster size 2^" + std::to_string(layout.clusterBits)
                + " bytes: QEMU disks have clusters of 512 bytes to 2 MiB";
            return false;
        }
        headerLength = 72;
        if (layout.version == 3) {
            headerLength = be32(header + 100);
            if (read.bytes < 104 || headerLength < 104 || headerLength > (std::uint64_t{1} << layout.clusterBits)) {
                refusal.reason = "the version 3 header is cut short";
                return false;
            }
            const std::uint64_t incompatible = be64(header + 72);
            if (incompatible & kExternalData) {
                refusal.reason = "its clusters are kept in an external data file, which is not read";
                return false;
            }
            if (incompatible & kExtendedL2) {
                refusal.reason = "subclusters (extended level-2 entries) are not supported";
                return false;
            }
            if (incompatible & ~kKnownIncompatible) {
                char bits[32];
                std::snprintf(bits, sizeof bits, "0x%llx", static_cast<unsigned long long>(incompatible));
                refusal.reason = std::string("it uses features this reader does not know (incompatible feature bits ")
                    + bits + ")";
                return false;
            }
            if (headerLength > 104 && read.bytes > 104 && header[104] != 0) {
                refusal.reason = "clusters compressed with zstd are not supported";
                return false;
            }
        }
    }
    const std::uint64_t clusterSize = std::uint64_t{1} << layout.clusterBits;
    const std::uint64_t tableSpan = clusterSize << layout.l2Bits;
    const std::uint64_t needed = layout.size / tableSpan + (layout.size % tableSpan != 0);
    if (needed > kMaxL1Entries) {
        refusal.reason = "its size of " + std::to_string(layout.size) + " bytes needs a level-1 table over 32 MiB";
        return false;
    }
    layout.l1Entries = v1 ? needed : std::min(needed, l1Given);
    if (layout.l1Entries > 0 && (layout.l1At >= fileSize || (!v1 && layout.l1At % clusterSize != 0))) {
        refusal.reason = layout.l1At >= fileSize ? "the level-1 table lies past the end of the file"
                                                 : "the level-1 table is not aligned to a cluster";
        return false;
    }

    if (backingLength > 0 && backingAt != 0) {
        if (backingLength > 1023 || backingAt > fileSize || backingLength > fileSize - backingAt) {
            refusal.reason = "the backing file name lies outside the file";
            return false;
        }
        layout.backing.resize(backingLength);
        if (!readExactly(file, backingAt, std::span(reinterpret_cast<std::uint8_t*>(layout.backing.data()), backingLength))
            || layout.backing.find('\0') != std::string::npos) {
            refusal.reason = "the backing file name cannot be read";
            return false;
        }
        // Header extensions (versions 2 and 3) up to the end of the first
        // cluster: the backing file's format.
        if (!v1) {
            std::vector<std::uint8_t> first(static_cast<std::size_t>(std::min(clusterSize, fileSize)));
            const DeviceRead got = file.readAt(0, first);
            const std::size_t end = got.ok ? got.bytes : 0;
            for (std::size_t at = static_cast<std::size_t>(headerLength); at + 8 <= end;) {
                const std::uint32_t type = be32(&first[at]);
                const std::uint32_t length = be32(&first[at + 4]);
                if (type == 0 || length > end - at - 8)
                    break;
                if (type == kBackingFormatExtension)
                    layout.backingRaw = std::string(reinterpret_cast<const char*>(&first[at + 8]), length) == "raw";
                at += 8 + (std::size_t{length} + 7) / 8 * 8;
            }
        }
    }
    return true;
}

// Where a cluster's bytes are.
struct Cluster {
    enum class Kind {
        Absent,      // not stored: the backing file's bytes, or zeros
        Zero,
        Stored,      // host: file offset of the cluster
        Compressed,  // host, bytes: the deflated cluster
        CutOff,      // past the end of a cut-short file
        Corrupt,     // a table entry no writer makes
    } kind = Kind::Absent;
    std::uint64_t host = 0;
    std::uint64_t bytes = 0;
};

class QcowDevice final : public Device {
public:
    QcowDevice(std::unique_ptr<FileDevice> file, const Layout& layout, std::vector<std::uint64_t> l1,
               std::unique_ptr<Device> backing) :
        file_(std::move(file)), layout_(layout), l1_(std::move(l1)), backing_(std::move(backing))
    {
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        if (byteOffset >= layout_.size)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), layout_.size - byteOffset));
        const std::uint32_t bits = layout_.clusterBits;
        const std::uint64_t clusterSize = std::uint64_t{1} << bits;
        std::lock_guard lock(mutex_);
        for (std::size_t done = 0; done < wanted;) {
            const std::uint64_t at = byteOffset + done;
            const Cluster first = lookup(at >> bits);
            // The piece: this cluster's part of the read, extended over the
            // following clusters of the same kind (and, when stored, next in the file).
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(clusterSize - at % clusterSize, wanted - done));
            while (done + n < wanted && first.kind != Cluster::Kind::Compressed) {
                const std::uint64_t next = (at + n) >> bits;
                const Cluster c = lookup(next);
                if (c.kind != first.kind
                    || (c.kind == Cluster::Kind::Stored && c.host != first.host + (next - (at >> bits)) * clusterSize))
                    break;
                n += static_cast<std::size_t>(std::min<std::uint64_t>(clusterSize, wanted - done - n));
            }
            auto piece = buffer.subspan(done, n);
            bool ok = true;
            switch (first.kind) {
            case Cluster::Kind::Zero: std::fill(piece.begin(), piece.end(), std::uint8_t{0}); break;
            case Cluster::Kind::Absent: ok = readBacking(at, piece); break;
            case Cluster::Kind::Stored: ok = readExactly(*file_, first.host + at % clusterSize, piece); break;
            case Cluster::Kind::Compressed: {
                const std::uint8_t* bytes = inflated(first);
                ok = bytes != nullptr;
                if (ok)
                    std::copy_n(bytes + at % clusterSize, n, piece.begin());
                break;
            }
            case Cluster::Kind::CutOff: ok = false; break;
            case Cluster::Kind::Corrupt:
                noteCorrupt();
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

    std::uint64_t sizeBytes() const override { return layout_.size; }
    bool failuresRepeat() const override { return true; }
    const std::string& path() const override { return file_->path(); }

private:
    static constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;
    static constexpr std::uint64_t kCompressed = std::uint64_t{1} << 62;
    static constexpr std::uint64_t kCompressedV1 = std::uint64_t{1} << 63;
    // Bits of a level-1 entry, and of a stored level-2 entry, that no writer sets.
    static constexpr std::uint64_t kL1Reserved = 0x7F000000000001FFull;
    static constexpr std::uint64_t kL2Reserved = 0x3F000000000001FEull;

    Cluster lookup(std::uint64_t cluster)
    {
        const std::uint64_t index = cluster >> layout_.l2Bits;
        if (index >= layout_.l1Entries)
            return {};
        if (index >= l1_.size())
            return {Cluster::Kind::CutOff};
        const std::uint64_t entry = l1_[index];
        if (entry == 0)
            return {};
        const bool v1 = layout_.version == 1;
        const std::uint64_t clusterSize = std::uint64_t{1} << layout_.clusterBits;
        if (!v1 && ((entry & kL1Reserved) != 0 || (entry & kOffsetMask) % clusterSize != 0))
            return {Cluster::Kind::Corrupt};
        if (v1 && entry % clusterSize != 0)
            return {Cluster::Kind::Corrupt};
        const std::vector<std::uint64_t>* table = levelTwo(v1 ? entry : entry & kOffsetMask);
        if (!table)
            return {Cluster::Kind::CutOff};
        return v1 ? decodeV1((*table)[cluster & ((std::uint64_t{1} << layout_.l2Bits) - 1)])
                  : decode((*table)[cluster & ((std::uint64_t{1} << layout_.l2Bits) - 1)]);
    }

    Cluster decode(std::uint64_t entry) const
    {
        const std::uint32_t bits = layout_.clusterBits;
        const std::uint64_t clusterSize = std::uint64_t{1} << bits;
        const std::uint64_t fileSize = file_->sizeBytes();
        if (entry & kCompressed) {
            // Offset in the low bits, then the count of further 512-byte sectors.
            const std::uint32_t offsetBits = 62 - (bits - 8);
            const std::uint64_t host = entry & ((std::uint64_t{1} << offsetBits) - 1);
            const std::uint64_t sectors = ((entry >> offsetBits) & ((std::uint64_t{1} << (bits - 8)) - 1)) + 1;
            return compressed(host, sectors * 512 - host % 512);
        }
        if ((entry & kL2Reserved) != 0 || (layout_.version == 2 && (entry & 1)))
            return {Cluster::Kind::Corrupt};
        if (entry & 1)
            return {Cluster::Kind::Zero};
        const std::uint64_t host = entry & kOffsetMask;
        if (host == 0)
            return {};
        if (host % clusterSize != 0)
            return {Cluster::Kind::Corrupt};
        if (host > fileSize || clusterSize > fileSize - host)
            return {Cluster::Kind::CutOff};
        return {Cluster::Kind::Stored, host};
    }

    Cluster decodeV1(std::uint64_t entry) const
    {
        const std::uint32_t bits = layout_.clusterBits;
        const std::uint64_t clusterSize = std::uint64_t{1} << bits;
        const std::uint64_t fileSize = file_->sizeBytes();
        if (entry & kCompressedV1) {
            // Offset in the low 63 - bits bits, the compressed length in bytes above it.
            const std::uint64_t host = entry & ((std::uint64_t{1} << (63 - bits)) - 1);
            return compressed(host, (entry >> (63 - bits)) & (clusterSize - 1));
        }
        if (entry == 0)
            return {};
        // Version 1 writers place tables and clusters on cluster boundaries too.
        if (entry % clusterSize != 0)
            return {Cluster::Kind::Corrupt};
        if (entry > fileSize || clusterSize > fileSize - entry)
            return {Cluster::Kind::CutOff};
        return {Cluster::Kind::Stored, entry};
    }

    // A compressed cluster of bytes at host. Its last sector may run past
    // the end of the file, which ends within it.
    Cluster compressed(std::uint64_t host, std::uint64_t bytes) const
    {
        const std::uint64_t fileSize = file_->sizeBytes();
        if (bytes == 0)
            return {Cluster::Kind::Corrupt};
        if (host >= fileSize || (host & ~std::uint64_t{511}) + (bytes + host % 512 + 511) / 512 * 512 > (fileSize + 511) / 512 * 512)
            return {Cluster::Kind::CutOff};
        return {Cluster::Kind::Compressed, host, std::min(bytes, fileSize - host)};
    }

    // The level-2 table at file offset at, read once (while the cache
    // holds it); null when the file does not hold it whole.
    const std::vector<std::uint64_t>* levelTwo(std::uint64_t at)
    {
        auto found = tables_.find(at);
        if (found != tables_.end())
            return found->second.empty() ? nullptr : &found->second;
        const std::uint64_t entries = std::uint64_t{1} << layout_.l2Bits;
        if (cachedBytes_ + entries * 8 > kMaxCachedTableBytes) {
            tables_.clear();
            cachedBytes_ = 0;
        }
        std::vector<std::uint64_t> table;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(entries * 8));
        if (at <= file_->sizeBytes() && raw.size() <= file_->sizeBytes() - at && readExactly(*file_, at, raw)) {
            table.resize(static_cast<std::size_t>(entries));
            for (std::size_t j = 0; j < table.size(); ++j)
                table[j] = be64(&raw[j * 8]);
            cachedBytes_ += raw.size();
        }
        found = tables_.emplace(at, std::move(table)).first;
        return found->second.empty() ? nullptr : &found->second;
    }

    // The cluster's bytes, inflated (the last one is kept); null when they
    // cannot be read or do not inflate to a whole cluster.
    const std::uint8_t* inflated(const Cluster& cluster)
    {
        if (inflatedHost_ == cluster.host && !inflated_.empty())
            return inflated_.data();
        inflated_.assign(std::size_t{1} << layout_.clusterBits, 0);
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(cluster.bytes));
        bool ok = readExactly(*file_, cluster.host, packed);
        if (ok) {
            z_stream stream{};
            ok = inflateInit2(&stream, -15) == Z_OK;
            if (ok) {
                stream.next_in = packed.data();
                stream.avail_in = static_cast<uInt>(packed.size());
                stream.next_out = inflated_.data();
                stream.avail_out = static_cast<uInt>(inflated_.size());
                const int status = inflate(&stream, Z_FINISH);
                ok = (status == Z_STREAM_END || status == Z_BUF_ERROR) && stream.avail_out == 0;
                inflateEnd(&stream);
            }
            if (!ok)
                noteCorrupt();
        }
        if (!ok) {
            inflated_.clear();
            return nullptr;
        }
        inflatedHost_ = cluster.host;
        return inflated_.data();
    }

    // Absent clusters: the backing file's bytes where it has them, zeros past its end.
    bool readBacking(std::uint64_t at, std::span<std::uint8_t> piece)
    {
        return readFromParent(backing_.get(), at, piece);
    }

    void noteCorrupt()
    {
        if (noted_)
            return;
        noted_ = true;
        containerNotice(path() + ": damaged cluster table entries or compressed clusters: their sectors are "
                                 "read as unreadable");
    }

    std::unique_ptr<FileDevice> file_;
    Layout layout_;
    std::vector<std::uint64_t> l1_;  // level-1 entries as far as the file holds them
    std::unique_ptr<Device> backing_;
    std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> tables_;  // by file offset; empty: not in the file
    std::uint64_t cachedBytes_ = 0;
    std::vector<std::uint8_t> inflated_;
    std::uint64_t inflatedHost_ = 0;
    bool noted_ = false;
};

} // namespace

std::unique_ptr<Device> openQcowDevice(const std::string& path, Refusal& refusal)
{
    OpenError openError;
    auto file = FileDevice::open(path, &openError);
    if (!file) {
        refusal.reason = openError.message;
        return nullptr;
    }
    Layout layout;
    if (!readLayout(*file, layout, refusal))
        return nullptr;
    // The level-1 table as far as the file holds it; clusters of entries
    // past its end are cut off.
    const std::uint64_t held = std::min(layout.l1Entries, (file->sizeBytes() - std::min(layout.l1At, file->sizeBytes())) / 8);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(held * 8));
    if (!readExactly(*file, layout.l1At, raw)) {
        refusal.reason = "the level-1 table cannot be read";
        return nullptr;
    }
    std::vector<std::uint64_t> l1(static_cast<std::size_t>(held));
    for (std::size_t i = 0; i < l1.size(); ++i)
        l1[i] = be64(&raw[i * 8]);
    std::unique_ptr<Device> backing;
    if (!layout.backing.empty()) {
        backing = openParentDisk(path, layout.backing, layout.backingRaw, refusal.reason);
        if (!backing)
            return nullptr;
    }
    return std::make_unique<QcowDevice>(std::move(file), layout, std::move(l1), std::move(backing));
}

} // namespace tamsin
