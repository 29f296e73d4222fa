// Dynamic and differencing Virtual PC (VHD) disks read through their block
// table. The table maps each block (usually 2 MiB) of the virtual disk to a
// sector of the file, where a sector bitmap precedes the block's data; a
// block without an entry, and a sector whose bitmap bit is clear, read as
// zeros on a dynamic disk and from the parent disk on a differencing one.
// Fields are big-endian. Reading the table ourselves keeps a read one positioned read
// of the file; the general library looks up every sector's range anew.

#include "disk/ContainerBytes.h"
#include "disk/ContainerDevice.h"
#include "disk/FileDevice.h"
#include "disk/Sector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

namespace tamsin {
namespace {

using namespace container;

constexpr std::uint32_t kUnallocated = 0xFFFFFFFFu;
constexpr std::uint32_t kDynamicDisk = 3;
constexpr std::uint32_t kDifferencingDisk = 4;
constexpr std::size_t kFooterSize = 512;
constexpr std::size_t kHeaderSize = 1024;

// Reads exactly buffer.size() bytes at offset.

class DynamicVhdDevice final : public Device {
public:
    // parent: the disk a differencing disk reads its absent sectors from; null for a dynamic disk.
    DynamicVhdDevice(std::unique_ptr<FileDevice> file, std::uint64_t size, std::uint32_t blockSize,
                     std::vector<std::uint32_t> table, std::unique_ptr<Device> parent) :
        file_(std::move(file)),
        size_(size),
        blockSize_(blockSize),
        bitmapBytes_(bitmapBytes(blockSize)),
        table_(std::move(table)),
        parent_(std::move(parent))
    {
    }

    // A bit per sector of the block, in whole sectors: at least one.
    static std::uint32_t bitmapBytes(std::uint32_t blockSize)
    {
        const std::uint32_t bytes = (blockSize / kSectorSize + 7) / 8;
        return (bytes + kSectorSize - 1) / kSectorSize * kSectorSize;
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
            bool ok = true;
            if (entry == kUnallocated) {
                ok = readAbsent(at, piece);
            } else {
                const std::uint8_t* bitmap = bitmapOf(entry);
                const std::uint64_t data = std::uint64_t{entry} * kSectorSize + bitmapBytes_ + inBlock;
                ok = bitmap && readExactly(*file_, data, piece);
                // Sectors the bitmap does not mark hold no data of this disk:
                // runs of them are read as absent.
                const std::uint32_t firstSector = inBlock / kSectorSize;
                const std::uint32_t lastSector = static_cast<std::uint32_t>((inBlock + n - 1) / kSectorSize);
                for (std::uint32_t s = firstSector; ok && s <= lastSector;) {
                    if (bitmap[s / 8] & (0x80u >> (s % 8))) {
                        ++s;
                        continue;
                    }
                    std::uint32_t end = s + 1;
                    while (end <= lastSector && !(bitmap[end / 8] & (0x80u >> (end % 8))))
                        ++end;
                    const std::uint64_t from = std::max<std::uint64_t>(std::uint64_t{s} * kSectorSize, inBlock);
                    const std::uint64_t to = std::min<std::uint64_t>(std::uint64_t{end} * kSectorSize, inBlock + n);
                    ok = readAbsent(block * blockSize_ + from,
                                    piece.subspan(static_cast<std::size_t>(from - inBlock), static_cast<std::size_t>(to - from)));
                    s = end;
                }
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

    std::uint64_t sizeBytes() const override { return size_; }
    bool failuresRepeat() const override { return true; }
    const std::string& path() const override { return file_->path(); }

private:
    // Sectors this disk does not hold: the parent's where it has them, else zeros.
    bool readAbsent(std::uint64_t at, std::span<std::uint8_t> piece)
    {
        return readFromParent(parent_.get(), at, piece);
    }

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
    std::unique_ptr<Device> parent_;
    std::mutex mutex_;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> bitmaps_;  // nodes stay put on rehash: handed-out pointers stay valid
};

// UTF-16 text (big- or little-endian) as UTF-8, up to its first NUL.
std::string utf8(const std::uint8_t* p, std::size_t bytes, bool bigEndian)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::uint32_t c = bigEndian ? (p[i] << 8) | p[i + 1] : p[i] | (p[i + 1] << 8);
        if (c == 0)
            break;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes) {
            const std::uint32_t low = bigEndian ? (p[i + 2] << 8) | p[i + 3] : p[i + 2] | (p[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The parent of a differencing disk, as its header names it: the relative
// locator (a Windows path such as .\base.vhd), else the parent's own name found
// beside the disk, else the absolute locator, or its file name beside the
// disk. The first that exists, or the first given when none does.
std::string parentName(Device& file, const std::string& path, const std::uint8_t* header)
{
    std::vector<std::string> names;
    std::string absolute;
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t* locator = header + 576 + 24 * i;
        const std::uint32_t code = be32(locator);
        const std::uint32_t length = be32(locator + 8);
        const std::uint64_t at = be64(locator + 16);
        if ((code != 0x57327275 && code != 0x57326B75) || length == 0 || length > 4096)  // W2ru, W2ku
            continue;
        std::vector<std::uint8_t> raw(length);
        if (!readExactly(file, at, raw))
            continue;
        std::string name = utf8(raw.data(), raw.size(), false);
        std::replace(name.begin(), name.end(), '\\', '/');
        if (code == 0x57327275) {
            while (name.rfind("./", 0) == 0)
                name.erase(0, 2);
            names.insert(names.begin(), name);
        } else {
            absolute = name;
        }
    }
    const std::string own = utf8(header + 64, 512, true);
    if (!own.empty() && own.find('/') == std::string::npos && own.find('\\') == std::string::npos)
        names.push_back(own);
    if (!absolute.empty()) {
        names.push_back(absolute);
        names.push_back(std::filesystem::path(absolute).filename().string());  // C:/VMs/base.vhd: base.vhd beside it
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (const std::string& name : names) {
        std::error_code error;
        if (!name.empty() && std::filesystem::exists(std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : folder / name, error))
            return name;
    }
    return names.empty() ? std::string() : names.front();
}

} // namespace

std::unique_ptr<Device> openDynamicVhdDevice(const std::string& path, Refusal& refusal)
{
    OpenError openError;
    auto file = FileDevice::open(path, &openError);
    if (!file) {
        refusal.reason = openError.message;
        return nullptr;
    }
    const std::uint64_t fileSize = file->sizeBytes();
    std::uint8_t footer[kFooterSize];
    if (fileSize < kFooterSize + kHeaderSize || !readExactly(*file, fileSize - kFooterSize, footer)
        || std::memcmp(footer, "conectix", 8) != 0) {
        // A dynamic disk keeps a copy of its footer at the start.
        if (!readExactly(*file, 0, footer) || std::memcmp(footer, "conectix", 8) != 0) {
            refusal.reason = "no footer";
            return nullptr;
        }
    }
    const std::uint32_t diskType = be32(footer + 60);
    if (diskType != kDynamicDisk && diskType != kDifferencingDisk)
        return nullptr;  // fixed: not ours
    const std::uint64_t headerAt = be64(footer + 16);
    const std::uint64_t size = be64(footer + 48);
    std::uint8_t header[kHeaderSize];
    if (headerAt > fileSize - kHeaderSize || !readExactly(*file, headerAt, header)
        || std::memcmp(header, "cxsparse", 8) != 0) {
        refusal.reason = "the dynamic disk header cannot be read";
        return nullptr;
    }
    const std::uint64_t tableAt = be64(header + 16);
    const std::uint32_t entries = be32(header + 28);
    const std::uint32_t blockSize = be32(header + 32);
    if (blockSize < kSectorSize || (blockSize & (blockSize - 1)) != 0 || blockSize > (1u << 30)) {
        refusal.reason = "block size " + std::to_string(blockSize) + " is not a power of two";
        return nullptr;
    }
    if (std::uint64_t{entries} * blockSize < size || tableAt > fileSize
        || std::uint64_t{entries} * 4 > fileSize - tableAt) {
        refusal.reason = "the block table does not fit the file";
        return nullptr;
    }
    std::vector<std::uint8_t> raw(std::size_t{entries} * 4);
    if (!readExactly(*file, tableAt, raw)) {
        refusal.reason = "the block table cannot be read";
        return nullptr;
    }
    std::vector<std::uint32_t> table(entries);
    for (std::uint32_t i = 0; i < entries; ++i)
        table[i] = be32(raw.data() + std::size_t{i} * 4);
    std::unique_ptr<Device> parent;
    if (diskType == kDifferencingDisk) {
        const std::string name = parentName(*file, path, header);
        if (name.empty()) {
            refusal.reason = "a differencing disk that names no parent disk";
            return nullptr;
        }
        parent = openParentDisk(path, name, false, refusal.reason);
        if (!parent)
            return nullptr;
    }
    return std::make_unique<DynamicVhdDevice>(std::move(file), size, blockSize, std::move(table), std::move(parent));
}

} // namespace tamsin
