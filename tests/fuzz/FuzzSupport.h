#pragma once
// Shared pieces of the fuzz targets and their seed writer: in-memory
// devices, a mount observer that always takes the first copy, and the
// builder-made disks the targets start from.

#include "disk/Device.h"
#include "imagebuilder/ImageBuilder.h"
#include "mount/MountObserver.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace tamsin::fuzz {

// Largest disk the targets read from fuzz input; longer input is cut.
inline constexpr std::size_t kMaxDiskBytes = 1u << 20;

// A disk whose bytes are the given buffer (a last partial sector reads as
// cut short, like the end of an image file).
class MemoryDevice : public Device {
public:
    explicit MemoryDevice(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    std::uint64_t sizeBytes() const override { return bytes_.size(); }
    const std::string& path() const override { return path_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::string path_ = "fuzz-input";
};

// A builder-rendered disk (sectors not in the map are zero) with bytes laid
// over it from overlayOffset on.
class OverlayDevice : public Device {
public:
    OverlayDevice(const std::map<std::uint64_t, imagebuilder::SectorBytes>& sectors, std::uint64_t totalSectors)
        : sectors_(sectors), totalSectors_(totalSectors) {}
    void setOverlay(std::uint64_t byteOffset, std::span<const std::uint8_t> bytes)
    {
        overlayOffset_ = byteOffset;
        overlay_ = bytes;
    }
    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    std::uint64_t sizeBytes() const override { return totalSectors_ * 512; }
    const std::string& path() const override { return path_; }

private:
    const std::map<std::uint64_t, imagebuilder::SectorBytes>& sectors_;
    std::uint64_t totalSectors_;
    std::uint64_t overlayOffset_ = 0;
    std::span<const std::uint8_t> overlay_;
    std::string path_ = "fuzz-overlay";
};

class FirstCopyObserver : public MountObserver {
public:
    CopyChoice chooseCopy(TableKind) override { return CopyChoice::First; }
};

// A small disk: a NetWare partition near the start holding two volume table
// entries, a volume table copy outside it and a few DET markers, for the
// partition-table and volume-search targets. Its bytes, at most kMaxDiskBytes.
std::vector<std::uint8_t> smallDiskBytes();

// The volume the mount and snapshot targets start from: one partition at
// sector 2048 holding "SYS" with folders, long names, deleted entries,
// a compressed file and a suballocated tail.
const imagebuilder::RenderedImage& mountBaseImage();

// Where the mount target lays its input: the first FAT block of the volume,
// so the FAT and DET copies that follow are overwritten.
std::uint64_t mountOverlayOffset();

// Flat bytes of rendered sectors [first, first + count).
std::vector<std::uint8_t> renderedBytes(const imagebuilder::RenderedImage& image, std::uint64_t first,
                                        std::uint64_t count);

} // namespace tamsin::fuzz
