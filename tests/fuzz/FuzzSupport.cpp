#include "FuzzSupport.h"

#include "imagebuilder/VolumeContents.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tamsin::fuzz {

namespace ib = imagebuilder;

DeviceRead MemoryDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    DeviceRead r;
    r.ok = true;
    if (byteOffset >= bytes_.size())
        return r;
    r.bytes = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - byteOffset));
    std::memcpy(buffer.data(), bytes_.data() + byteOffset, r.bytes);
    return r;
}

DeviceRead OverlayDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    DeviceRead r;
    r.ok = true;
    const std::uint64_t size = sizeBytes();
    if (byteOffset >= size)
        return r;
    r.bytes = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - byteOffset));
    for (std::size_t done = 0; done < r.bytes;) {
        const std::uint64_t at = byteOffset + done;
        const std::uint64_t sector = at / 512;
        const std::size_t within = static_cast<std::size_t>(at % 512);
        const std::size_t n = std::min<std::size_t>(512 - within, r.bytes - done);
        if (const auto it = sectors_.find(sector); it != sectors_.end())
            std::memcpy(buffer.data() + done, it->second.data() + within, n);
        else
            std::memset(buffer.data() + done, 0, n);
        done += n;
    }
    // Lay the overlay over what was read.
    const std::uint64_t lo = std::max(byteOffset, overlayOffset_);
    const std::uint64_t hi = std::min(byteOffset + r.bytes, overlayOffset_ + overlay_.size());
    if (lo < hi)
        std::memcpy(buffer.data() + (lo - byteOffset), overlay_.data() + (lo - overlayOffset_), hi - lo);
    return r;
}

std::vector<std::uint8_t> renderedBytes(const ib::RenderedImage& image, std::uint64_t first, std::uint64_t count)
{
    std::vector<std::uint8_t> bytes(count * 512, 0);
    for (auto it = image.sectors.lower_bound(first); it != image.sectors.end() && it->first < first + count; ++it)
        std::memcpy(bytes.data() + (it->first - first) * 512, it->second.data(), 512);
    return bytes;
}

static void die(const std::string& what)
{
    std::fprintf(stderr, "fuzz support: image builder failed: %s\n", what.c_str());
    std::abort();
}

std::vector<std::uint8_t> smallDiskBytes()
{
    auto segment = [](const char* name, std::uint32_t sizeSectors, std::uint32_t sectorsPerBlock) {
        ib::SegmentSpec s;
        s.name = name;
        s.sizeSectors = sizeSectors;
        s.sectorsPerBlock = sectorsPerBlock;
        return s;
    };
    ib::DiskSpec disk;
    ib::PartitionSpec partition;
    partition.startSector = 32;
    partition.sizeSectors = 1300;
    ib::NetWareLayout netware;
    netware.hotfixLength = 128;
    netware.segments = {segment("SYS", 256, 8), segment("VOL1", 512, 16)};
    partition.netware = netware;
    disk.partitions.push_back(partition);
    ib::VolumeTableSpec loose;
    loose.sector = 1400;
    loose.segments = {segment("DATA", 128, 8)};
    disk.volumeTables.push_back(loose);
    // The DET marker the loose entry points at: table sector + 128 + firstDetBlock (3) * 8.
    disk.detMarkers = {1400 + 128 + 3 * 8};
    disk.totalSectors = 1600;
    const auto image = ib::renderImage(disk);
    if (!image.ok())
        die(image.error());
    auto bytes = renderedBytes(*image, 0, std::min<std::uint64_t>(image->layout.totalSectors, kMaxDiskBytes / 512));
    return bytes;
}

static ib::VolumeContents mountContents()
{
    ib::VolumeContents c;
    ib::Node longNamed = ib::fileNode("LONGFI~1.DOC", 9000);
    longNamed.longName = "Long file name.doc";
    ib::Node docs = ib::folderNode("DOCS", {ib::fileNode("README.TXT", 700), longNamed});
    ib::Node old = ib::folderNode("OLD", {ib::fileNode("GONE.TXT", 100)});
    old.deletedMarker = 1;
    old.children[0].deletedMarker = 7;
    ib::Node packed = ib::fileNode("PACKED.BIN", 5000);
    packed.compressed = ib::Compression{};
    ib::Node tail = ib::fileNode("TAIL.TXT", 4096 + 700);
    tail.storage = ib::Storage::SuballocationTail;
    c.nodes = {docs, old, packed, tail, ib::fileNode("ROOT.TXT", 1)};
    return c;
}

const ib::RenderedImage& mountBaseImage()
{
    static const ib::RenderedImage image = [] {
        auto rendered = ib::renderImage(ib::singleVolumeDisk("SYS", 8, mountContents()));
        if (!rendered.ok())
            die(rendered.error());
        return std::move(*rendered);
    }();
    return image;
}

std::uint64_t mountOverlayOffset()
{
    const auto& segment = mountBaseImage().layout.partitions[0].segments[0];
    return (segment.startSector + std::uint64_t{segment.firstFatBlock} * segment.sectorsPerBlock) * 512;
}

} // namespace tamsin::fuzz
