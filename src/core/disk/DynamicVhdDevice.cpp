// Dynamic Virtual PC (VHD) disks read through their block table. The table
// maps each block (usually 2 MiB) of the virtual disk to a sector of the
// file, where a sector bitmap precedes the block's data; a block without an
// entry, and a sector whose bitmap bit is clear, read as zeros. Fields are
// big-endian. Reading the table ourselves keeps a read one positioned read
// of the file; the general library looks up every sector's range anew.

#include "disk/ContainerDevice.h"
#include "disk/FileDevice.h"
#include "disk/Sector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace tamsin {
namespace {

constexpr std::uint32_t kUnallocated = 0xFFFFFFFFu;
constexpr std::uint32_t kDynamicDisk = 3;
constexpr std::size_t kFooterSize = 512;
constexpr std::size_t kHeaderSize = 1024;

std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint64_t be64(const std::uint8_t* p)
{
    return (std::uint64_t{be32(p)} << 32) | be32(p + 4);
}

// Reads exactly buffer.size() bytes at offset.
bool readExactly(Device& file, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    const DeviceRead read = file.readAt(offset, buffer);
    return read.ok && read.bytes == buffer.size();
}

class DynamicVhdDevice final : public Device {
public:
    DynamicVhdDevice(std::unique_ptr<FileDevice> file, std::uint64_t size, std::uint32_t blockSize,
                     std::vector<std::uint32_t> table) :
        file_(std::move(file)),
        size_(size),
        blockSize_(blockSize),
        bitmapBytes_(((blockSize / kSectorSize / 8 + kSectorSize - 1) / kSectorSize) * kSectorSize),
        table_(std::move(table))
    {
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        if (byteOffset >= size_)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - byteOffset));
        for (std::size_t done = 0; done < wanted;) {
            const std::uint64_t at = byteOffset + done;
            const std::uint64_t block = at / blockSize_;
            const auto inBlock = static_cast<std::uint32_t>(at % blockSize_);
            const std::size_t n = std::min<std::size_t>(wanted - done, blockSize_ - inBlock);
            auto piece = buffer.subspan(done, n);
            const std::uint32_t entry = block < table_.size() ? table_[block] : kUnallocated;
            if (entry == kUnallocated) {
                std::fill(piece.begin(), piece.end(), std::uint8_t{0});
            } else {
                const std::uint8_t* bitmap = bitmapOf(entry);
                const std::uint64_t data = std::uint64_t{entry} * kSectorSize + bitmapBytes_ + inBlock;
                if (!bitmap || !readExactly(*file_, data, piece)) {
                    result.ok = false;
                    result.error = EIO;
                    return result;
                }
                // Sectors the bitmap does not mark hold no data of this disk.
                const std::uint32_t firstSector = inBlock / kSectorSize;
                const std::uint32_t lastSector = static_cast<std::uint32_t>((inBlock + n - 1) / kSectorSize);
                for (std::uint32_t s = firstSector; s <= lastSector; ++s) {
                    if (bitmap[s / 8] & (0x80u >> (s % 8)))
                        continue;
                    const std::uint64_t from = std::max<std::uint64_t>(std::uint64_t{s} * kSectorSize, inBlock);
                    const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t{s + 1} * kSectorSize, inBlock + n);
                    std::fill_n(piece.begin() + static_cast<long>(from - inBlock), to - from, std::uint8_t{0});
                }
            }
            done += n;
        }
        result.bytes = wanted;
        return result;
    }

    std::uint64_t sizeBytes() const override { return size_; }
    const std::string& path() const override { return file_->path(); }

private:
    // The sector bitmap of the block stored at file sector entry, read once;
    // null when it cannot be read.
    const std::uint8_t* bitmapOf(std::uint32_t entry)
    {
        std::lock_guard lock(mutex_);
        auto found = bitmaps_.find(entry);
        if (found != bitmaps_.end())
            return found->second.data();
        std::vector<std::uint8_t> bitmap(bitmapBytes_);
        if (!readExactly(*file_, std::uint64_t{entry} * kSectorSize, bitmap))
            return nullptr;
        return bitmaps_.emplace(entry, std::move(bitmap)).first->second.data();
    }

    std::unique_ptr<FileDevice> file_;
    std::uint64_t size_;
    std::uint32_t blockSize_;
    std::uint32_t bitmapBytes_;
    std::vector<std::uint32_t> table_;
    std::mutex mutex_;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> bitmaps_;  // nodes stay put on rehash: handed-out pointers stay valid
};

} // namespace

std::unique_ptr<Device> openDynamicVhdDevice(const std::string& path, std::string& reason)
{
    OpenError openError;
    auto file = FileDevice::open(path, &openError);
    if (!file) {
        reason = openError.message;
        return nullptr;
    }
    const std::uint64_t fileSize = file->sizeBytes();
    std::uint8_t footer[kFooterSize];
    if (fileSize < kFooterSize + kHeaderSize || !readExactly(*file, fileSize - kFooterSize, footer)
        || std::memcmp(footer, "conectix", 8) != 0) {
        // A dynamic disk keeps a copy of its footer at the start.
        if (!readExactly(*file, 0, footer) || std::memcmp(footer, "conectix", 8) != 0) {
            reason = "no footer";
            return nullptr;
        }
    }
    if (be32(footer + 60) != kDynamicDisk)
        return nullptr;  // fixed or differencing: not ours
    const std::uint64_t headerAt = be64(footer + 16);
    const std::uint64_t size = be64(footer + 48);
    std::uint8_t header[kHeaderSize];
    if (headerAt > fileSize - kHeaderSize || !readExactly(*file, headerAt, header)
        || std::memcmp(header, "cxsparse", 8) != 0) {
        reason = "the dynamic disk header cannot be read";
        return nullptr;
    }
    const std::uint64_t tableAt = be64(header + 16);
    const std::uint32_t entries = be32(header + 28);
    const std::uint32_t blockSize = be32(header + 32);
    if (blockSize < kSectorSize || (blockSize & (blockSize - 1)) != 0 || blockSize > (1u << 30)) {
        reason = "block size " + std::to_string(blockSize) + " is not a power of two";
        return nullptr;
    }
    if (std::uint64_t{entries} * blockSize < size || tableAt > fileSize
        || std::uint64_t{entries} * 4 > fileSize - tableAt) {
        reason = "the block table does not fit the file";
        return nullptr;
    }
    std::vector<std::uint8_t> raw(std::size_t{entries} * 4);
    if (!readExactly(*file, tableAt, raw)) {
        reason = "the block table cannot be read";
        return nullptr;
    }
    std::vector<std::uint32_t> table(entries);
    for (std::uint32_t i = 0; i < entries; ++i)
        table[i] = be32(raw.data() + std::size_t{i} * 4);
    return std::make_unique<DynamicVhdDevice>(std::move(file), size, blockSize, std::move(table));
}

} // namespace tamsin
