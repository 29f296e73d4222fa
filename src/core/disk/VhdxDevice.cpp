// Hyper-V (VHDX) disks read through their own block allocation table. The
// current header (of two, by sequence number, checksum-checked) leads to
// the region table, which places the table and the metadata: block size,
// sector size, disk size, and for a differencing disk its parent. Each table
// entry gives a block's state and where its data lies (in MiB units); after
// every chunk of blocks comes the entry of that chunk's sector bitmap, which
// tells, sector by sector, whether a partly present block of a differencing
// disk holds the sector or its parent does. Fields are little-endian. The
// log is not replayed.

#include "disk/ContainerBytes.h"
#include "disk/ContainerDevice.h"
#include "disk/FileDevice.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tamsin {
namespace {

using namespace container;

// CRC-32C over bytes, with the four at skip counted as zeros (the checksum field).
std::uint32_t crc32c(std::span<const std::uint8_t> bytes, std::size_t skip)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0x82F63B78u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = ~0u;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = i >= skip && i < skip + 4 ? 0 : bytes[i];
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

// GUIDs as stored (the first three fields little-endian).
using Guid = std::array<std::uint8_t, 16>;
constexpr Guid kBatRegion = {0x66, 0x77, 0xC2, 0x2D, 0x23, 0xF6, 0x00, 0x42, 0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08};
constexpr Guid kMetadataRegion = {0x06, 0xA2, 0x7C, 0x8B, 0x90, 0x47, 0x9A, 0x4B, 0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
constexpr Guid kFileParameters = {0x37, 0x67, 0xA1, 0xCA, 0x36, 0xFA, 0x43, 0x4D, 0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B};
constexpr Guid kDiskSize = {0x24, 0x42, 0xA5, 0x2F, 0x1B, 0xCD, 0x76, 0x48, 0xB2, 0x11, 0x5D, 0xBE, 0xD8, 0x3B, 0xF4, 0xB8};
constexpr Guid kLogicalSectorSize = {0x1D, 0xBF, 0x41, 0x81, 0x6F, 0xA9, 0x09, 0x47, 0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F};
constexpr Guid kParentLocator = {0x2D, 0x5F, 0xD3, 0xA8, 0x0B, 0xB3, 0x4D, 0x45, 0xAB, 0xF7, 0xD3, 0xD8, 0x48, 0x34, 0xAB, 0x0C};

bool isGuid(const std::uint8_t* p, const Guid& guid)
{
    return std::memcmp(p, guid.data(), guid.size()) == 0;
}

constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kRegionTableBytes = 64u << 10;

enum State : std::uint8_t { NotPresent = 0, Undefined = 1, Zero = 2, Unmapped = 3, FullyPresent = 6, PartlyPresent = 7 };

// UTF-16LE as UTF-8 (the names the parent locator holds).
std::string utf8(const std::uint8_t* p, std::size_t bytes)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint32_t c = p[i] | (p[i + 1] << 8);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The parent file a locator names (Windows paths, relative or absolute):
// relative to the disk's folder when it is there, else the file of that
// name beside the disk. The first candidate when none exists.
std::string parentPath(const std::string& path, const std::vector<std::string>& given)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<std::filesystem::path> candidates;
    for (std::string name : given) {
        std::replace(name.begin(), name.end(), '\\', '/');
        while (name.rfind("./", 0) == 0)
            name.erase(0, 2);
        if (name.empty())
            continue;
        if (!(name.size() >= 2 && name[1] == ':'))
            candidates.push_back(std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : folder / name);
        candidates.push_back(folder / std::filesystem::path(name).filename());
    }
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error))
            return candidate.string();
    }
    return candidates.empty() ? std::string() : candidates.front().string();
}

struct Layout {
    std::uint64_t size = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t sectorSize = 0;
    std::uint64_t chunkRatio = 0;  // blocks per sector bitmap block
    bool hasParent = false;
    std::vector<std::string> parentNames;  // relative first
    std::vector<std::uint64_t> bat;
};

bool fail(std::string& reason, const char* why)
{
    reason = why;
    return false;
}

bool readLayout(FileDevice& file, Layout& layout, std::string& reason)
{
    // The current header: the valid one with the greater sequence number.
    std::vector<std::uint8_t> header(4096);
    std::uint64_t best = 0;
    bool found = false;
    for (const std::uint64_t at : {std::uint64_t{64} << 10, std::uint64_t{128} << 10}) {
        std::vector<std::uint8_t> h(4096);
        if (!readExactly(file, at, h) || std::memcmp(h.data(), "head", 4) != 0 || crc32c(h, 4) != le32(&h[4]))
            continue;
        const std::uint64_t sequence = le64(&h[8]);
        if (!found || sequence > best) {
            header = h;
            best = sequence;
            found = true;
        }
    }
    if (!found)
        return fail(reason, "no valid header");
    // The region table (its copy when the first is damaged).
    std::vector<std::uint8_t> regions(kRegionTableBytes);
    bool regionsFound = false;
    for (const std::uint64_t at : {std::uint64_t{192} << 10, std::uint64_t{256} << 10})
        if (!regionsFound && readExactly(file, at, regions) && std::memcmp(regions.data(), "regi", 4) == 0
            && crc32c(regions, 4) == le32(&regions[4]))
            regionsFound = true;
    if (!regionsFound)
        return fail(reason, "no valid region table");
    const std::uint32_t regionCount = std::min<std::uint32_t>(le32(&regions[8]), 2047);
    std::uint64_t batAt = 0, batBytes = 0, metaAt = 0, metaBytes = 0;
    for (std::uint32_t i = 0; i < regionCount; ++i) {
        const std::uint8_t* e = &regions[16 + 32 * std::size_t{i}];
        if (isGuid(e, kBatRegion)) {
            batAt = le64(e + 16);
            batBytes = le32(e + 24);
        } else if (isGuid(e, kMetadataRegion)) {
            metaAt = le64(e + 16);
            metaBytes = le32(e + 24);
        } else if (le32(e + 28) & 1) {
            return fail(reason, "a required region this reader does not know");
        }
    }
    const std::uint64_t fileSize = file.sizeBytes();
    if (metaBytes < 64 * 1024 || metaBytes > 64 * kMiB || metaAt > fileSize || metaBytes > fileSize - metaAt)
        return fail(reason, "the metadata region lies outside the file");
    std::vector<std::uint8_t> meta(static_cast<std::size_t>(metaBytes));
    if (!readExactly(file, metaAt, meta) || std::memcmp(meta.data(), "metadata", 8) != 0)
        return fail(reason, "the metadata table cannot be read");
    const std::uint32_t items = std::min<std::uint32_t>(meta[10] | (meta[11] << 8), 2047);
    // An item's bytes (and their count), when the table has it whole.
    auto item = [&](const Guid& id, std::uint32_t least, std::uint32_t* bytes = nullptr) -> const std::uint8_t* {
        for (std::uint32_t i = 0; i < items; ++i) {
            const std::uint8_t* e = &meta[32 + 32 * std::size_t{i}];
            const std::uint32_t offset = le32(e + 16);
            const std::uint32_t length = le32(e + 20);
            if (isGuid(e, id) && length >= least && offset <= meta.size() && length <= meta.size() - offset) {
                if (bytes)
                    *bytes = length;
                return &meta[offset];
            }
        }
        return nullptr;
    };
    const std::uint8_t* parameters = item(kFileParameters, 8);
    const std::uint8_t* size = item(kDiskSize, 8);
    const std::uint8_t* sector = item(kLogicalSectorSize, 4);
    if (!parameters || !size || !sector)
        return fail(reason, "the metadata lacks the block size, the disk size or the sector size");
    layout.blockSize = le32(parameters);
    layout.hasParent = (le32(parameters + 4) & 2) != 0;
    layout.size = le64(size);
    layout.sectorSize = le32(sector);
    if (layout.blockSize < kMiB || layout.blockSize > 256 * kMiB || (layout.blockSize & (layout.blockSize - 1)) != 0)
        return fail(reason, "a block size other than 1 to 256 MiB");
    if (layout.sectorSize != 512 && layout.sectorSize != 4096)
        return fail(reason, "a sector size other than 512 or 4096 bytes");
    if (layout.size > (std::uint64_t{64} << 40))
        return fail(reason, "a disk size over 64 TiB");
    layout.chunkRatio = (std::uint64_t{1} << 23) * layout.sectorSize / layout.blockSize;
    const std::uint64_t blocks = (layout.size + layout.blockSize - 1) / layout.blockSize;
    const std::uint64_t entries = blocks == 0 ? 0
        : layout.hasParent ? ((blocks + layout.chunkRatio - 1) / layout.chunkRatio) * (layout.chunkRatio + 1)
                           : blocks + (blocks - 1) / layout.chunkRatio;
    if (entries * 8 > batBytes || batAt > fileSize || entries * 8 > fileSize - batAt)
        return fail(reason, "the block allocation table lies outside the file");
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(entries * 8));
    if (!readExactly(file, batAt, raw))
        return fail(reason, "the block allocation table cannot be read");
    layout.bat.resize(static_cast<std::size_t>(entries));
    for (std::size_t i = 0; i < layout.bat.size(); ++i)
        layout.bat[i] = le64(&raw[i * 8]);

    if (layout.hasParent) {
        std::uint32_t length = 0;
        const std::uint8_t* locator = item(kParentLocator, 20, &length);
        if (locator) {
            const std::uint32_t pairs = locator[18] | (locator[19] << 8);
            std::string relative, volume, absolute;
            for (std::uint32_t i = 0; i < pairs && 20 + 12 * (std::size_t{i} + 1) <= length; ++i) {
                const std::uint8_t* p = locator + 20 + 12 * std::size_t{i};
                const std::uint32_t keyAt = le32(p), valueAt = le32(p + 4);
                const std::uint32_t keyLength = p[8] | (p[9] << 8), valueLength = p[10] | (p[11] << 8);
                if (keyAt > length || keyLength > length - keyAt || valueAt > length || valueLength > length - valueAt)
                    continue;
                const std::string key = utf8(locator + keyAt, keyLength);
                const std::string value = utf8(locator + valueAt, valueLength);
                if (key == "relative_path")
                    relative = value;
                else if (key == "volume_path")
                    volume = value;
                else if (key == "absolute_win32_path")
                    absolute = value;
            }
            for (const std::string* name : {&relative, &absolute, &volume})
                if (!name->empty())
                    layout.parentNames.push_back(*name);
        }
        if (layout.parentNames.empty())
            return fail(reason, "a differencing disk that names no parent disk");
    }
    return true;
}

class VhdxDevice final : public Device {
public:
    VhdxDevice(std::unique_ptr<FileDevice> file, Layout layout, std::unique_ptr<Device> parent) :
        file_(std::move(file)), layout_(std::move(layout)), parent_(std::move(parent))
    {
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        if (byteOffset >= layout_.size)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), layout_.size - byteOffset));
        std::lock_guard lock(mutex_);
        for (std::size_t done = 0; done < wanted;) {
            const std::uint64_t at = byteOffset + done;
            const std::uint64_t block = at / layout_.blockSize;
            const std::uint64_t inBlock = at % layout_.blockSize;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, layout_.blockSize - inBlock));
            if (!readBlock(block, inBlock, buffer.subspan(done, n))) {
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
    std::uint64_t entry(std::uint64_t index) const { return index < layout_.bat.size() ? layout_.bat[index] : 0; }

    bool readBlock(std::uint64_t block, std::uint64_t inBlock, std::span<std::uint8_t> out)
    {
        const std::uint64_t e = entry(block + block / layout_.chunkRatio);
        const std::uint64_t data = (e >> 20) * kMiB;
        switch (e & 7) {
        case FullyPresent: return readExactly(*file_, data + inBlock, out);
        case NotPresent:
            if (layout_.hasParent)
                return readParent(block * layout_.blockSize + inBlock, out);
            [[fallthrough]];
        case Undefined:
        case Zero:
        case Unmapped: std::fill(out.begin(), out.end(), std::uint8_t{0}); return true;
        case PartlyPresent: break;
        default: return false;
        }
        if (!layout_.hasParent)
            return false;
        // A partly present block: its sectors by the chunk's sector bitmap.
        const std::uint8_t* bitmap = sectorBitmap(block / layout_.chunkRatio);
        if (!bitmap)
            return false;
        const std::uint64_t sector = layout_.sectorSize;
        const std::uint64_t first = (block % layout_.chunkRatio) * (layout_.blockSize / sector);
        auto inThisDisk = [&](std::uint64_t offset) {
            const std::uint64_t s = first + offset / sector;
            return ((bitmap[s / 8] >> (s % 8)) & 1) != 0;
        };
        const std::uint64_t last = inBlock + out.size();
        for (std::uint64_t at = inBlock; at < last;) {
            const bool here = inThisDisk(at);
            std::uint64_t end = std::min((at / sector + 1) * sector, last);
            while (end < last && inThisDisk(end) == here)
                end = std::min(end + sector, last);
            auto piece = out.subspan(static_cast<std::size_t>(at - inBlock), static_cast<std::size_t>(end - at));
            if (!(here ? readExactly(*file_, data + at, piece) : readParent(block * layout_.blockSize + at, piece)))
                return false;
            at = end;
        }
        return true;
    }

    // The sector bitmap (1 MiB) of a chunk of blocks, read once; null when absent or unreadable.
    const std::uint8_t* sectorBitmap(std::uint64_t chunk)
    {
        auto found = bitmaps_.find(chunk);
        if (found == bitmaps_.end()) {
            const std::uint64_t e = entry(chunk * (layout_.chunkRatio + 1) + layout_.chunkRatio);
            std::vector<std::uint8_t> bitmap;
            if ((e & 7) == FullyPresent) {
                bitmap.resize(kMiB);
                if (!readExactly(*file_, (e >> 20) * kMiB, bitmap))
                    bitmap.clear();
            }
            if (bitmaps_.size() >= 16)
                bitmaps_.clear();
            found = bitmaps_.emplace(chunk, std::move(bitmap)).first;
        }
        return found->second.empty() ? nullptr : found->second.data();
    }

    bool readParent(std::uint64_t at, std::span<std::uint8_t> piece)
    {
        return readFromParent(parent_.get(), at, piece);
    }

    std::unique_ptr<FileDevice> file_;
    Layout layout_;
    std::unique_ptr<Device> parent_;
    std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> bitmaps_;  // empty: absent
};

} // namespace

std::unique_ptr<Device> openVhdxDevice(const std::string& path, Refusal& refusal)
{
    OpenError openError;
    auto file = FileDevice::open(path, &openError);
    if (!file) {
        refusal.reason = openError.message;
        return nullptr;
    }
    Layout layout;
    if (!readLayout(*file, layout, refusal.reason))
        return nullptr;
    std::unique_ptr<Device> parent;
    if (layout.hasParent) {
        // The candidate is a path from here: absolute, so that it is not taken from the disk's folder again.
        const std::string found = parentPath(path, layout.parentNames);
        parent = openParentDisk(path, std::filesystem::absolute(found).string(), false, refusal.reason);
        if (!parent)
            return nullptr;
    }
    return std::make_unique<VhdxDevice>(std::move(file), std::move(layout), std::move(parent));
}

} // namespace tamsin
