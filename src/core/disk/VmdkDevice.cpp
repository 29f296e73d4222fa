// VMware disks: monolithic or split, sparse or flat, opened and checked by
// libvmdk. The descriptor (a text file, or embedded in a monolithic sparse
// file) names the extent files, which are found beside it; flat and plain
// sparse extents are then read directly, other kinds through the library.

#include "disk/ContainerDevice.h"
#include "disk/FileDevice.h"
#include "disk/LibraryDevice.h"

#include <libvmdk.h>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace tamsin {
namespace {

struct Vmdk {
    using Handle = libvmdk_handle_t;
    using Error = LibraryError<libvmdk_error_t, libvmdk_error_backtrace_sprint, libvmdk_error_free>;
    static int close(Handle* h, libvmdk_error_t** e) { return libvmdk_handle_close(h, e); }
    static int free(Handle** h, libvmdk_error_t** e) { return libvmdk_handle_free(h, e); }
    static ssize_t read(Handle* h, void* buffer, std::size_t size, off64_t offset, libvmdk_error_t** e)
    {
        return libvmdk_handle_read_buffer_at_offset(h, buffer, size, offset, e);
    }
};

std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

std::uint64_t le64(const std::uint8_t* p)
{
    return le32(p) | (std::uint64_t{le32(p + 4)} << 32);
}

constexpr std::uint32_t kSparseMagic = 0x564D444B;  // "KDMV"

// One extent of the disk as its descriptor lists it: a run of sectors held
// by a flat file (at an offset), a hosted sparse file, or nothing (zeros).
struct Extent {
    enum class Kind { Flat, Sparse, Zero } kind = Kind::Zero;
    std::uint64_t sectors = 0;
    std::uint64_t offset = 0;  // flat: first sector in the file
    std::unique_ptr<FileDevice> file;
    // Sparse: grains of grainSize sectors found through the grain directory
    // and its grain tables (little-endian sector numbers; 0: not stored).
    std::uint64_t grainSize = 0;
    std::uint32_t tableEntries = 0;
    bool zeroGrains = false;  // a table entry of 1 marks a grain of zeros
    std::vector<std::uint32_t> directory;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> tables;
};

// The extents of a disk when all are ones read here: flat, zero, and hosted
// sparse files without compressed grains or markers, and no parent disk.
// Empty otherwise; the library then reads the disk.
std::vector<Extent> readableExtents(const std::string& path)
{
    auto file = FileDevice::open(path);
    if (!file)
        return {};
    std::uint8_t header[512];
    const DeviceRead headRead = file->readAt(0, header);
    if (!headRead.ok || headRead.bytes < 80)
        return {};
    std::string descriptor;
    if (le32(header) == kSparseMagic) {
        const std::uint64_t at = le64(header + 28);
        const std::uint64_t sectors = le64(header + 36);
        if (at == 0 || sectors == 0 || sectors > 2048)
            return {};
        descriptor.resize(static_cast<std::size_t>(sectors * 512));
        const DeviceRead read =
            file->readAt(at * 512, std::span(reinterpret_cast<std::uint8_t*>(descriptor.data()), descriptor.size()));
        if (!read.ok)
            return {};
        descriptor.resize(read.bytes);
    } else {
        if (file->sizeBytes() > (1 << 20))
            return {};
        descriptor.resize(static_cast<std::size_t>(file->sizeBytes()));
        const DeviceRead read =
            file->readAt(0, std::span(reinterpret_cast<std::uint8_t*>(descriptor.data()), descriptor.size()));
        if (!read.ok || read.bytes != descriptor.size())
            return {};
    }
    descriptor.resize(std::min(descriptor.size(), descriptor.find('\0')));

    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<Extent> extents;
    std::istringstream lines(descriptor);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("parentFileNameHint", 0) == 0)
            return {};
        std::istringstream words(line);
        std::string access, type, name;
        std::uint64_t sectors = 0;
        if (!(words >> access >> sectors >> type) || (access != "RW" && access != "RDONLY" && access != "NOACCESS"))
            continue;
        Extent extent;
        extent.sectors = sectors;
        if (type == "ZERO") {
            extents.push_back(std::move(extent));
            continue;
        }
        if (!(words >> std::quoted(name)))
            return {};
        extent.file = FileDevice::open((folder / name).string());
        if (!extent.file)
            return {};
        if (type == "FLAT" || type == "VMFS") {
            extent.kind = Extent::Kind::Flat;
            words >> extent.offset;
        } else if (type == "SPARSE") {
            extent.kind = Extent::Kind::Sparse;
            std::uint8_t sparse[80];
            if (extent.file->readAt(0, sparse).bytes != sizeof sparse || le32(sparse) != kSparseMagic)
                return {};
            const std::uint32_t flags = le32(sparse + 8);
            extent.grainSize = le64(sparse + 20);
            extent.tableEntries = le32(sparse + 44);
            const std::uint64_t directoryAt = le64(sparse + 56);
            extent.zeroGrains = (flags & (1u << 2)) != 0;
            // Compressed grains and stream markers, a directory at the end,
            // odd grain sizes: the library's.
            if ((flags & ((1u << 16) | (1u << 17))) != 0 || directoryAt == ~std::uint64_t{0} || extent.grainSize == 0
                || extent.grainSize > 2048 || extent.tableEntries == 0 || extent.tableEntries > 65536)
                return {};
            const std::uint64_t grains = (sectors + extent.grainSize - 1) / extent.grainSize;
            const std::uint64_t tables = (grains + extent.tableEntries - 1) / extent.tableEntries;
            std::vector<std::uint8_t> raw(static_cast<std::size_t>(tables * 4));
            if (tables > (1u << 24) || extent.file->readAt(directoryAt * 512, raw).bytes != raw.size())
                return {};
            extent.directory.resize(static_cast<std::size_t>(tables));
            for (std::size_t i = 0; i < extent.directory.size(); ++i)
                extent.directory[i] = le32(&raw[i * 4]);
        } else {
            return {};
        }
        extents.push_back(std::move(extent));
    }
    return extents;
}

// Reads flat and hosted sparse extents directly: a flat extent is one
// positioned read, a sparse one a read per stored grain run. The library
// opened and checked the disk and stays the reader of record for its size.
class VmdkDevice final : public Device {
public:
    VmdkDevice(std::vector<Extent> extents, std::unique_ptr<Device> library) :
        extents_(std::move(extents)), library_(std::move(library))
    {
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        const std::uint64_t size = sizeBytes();
        if (byteOffset >= size)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - byteOffset));
        std::lock_guard lock(mutex_);
        std::uint64_t extentStart = 0;
        std::size_t done = 0;
        for (Extent& extent : extents_) {
            const std::uint64_t extentBytes = extent.sectors * 512;
            while (done < wanted && byteOffset + done < extentStart + extentBytes) {
                const std::uint64_t at = byteOffset + done - extentStart;
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, extentBytes - at));
                const std::size_t got = readExtent(extent, at, buffer.subspan(done, n));
                if (got == 0) {
                    result.ok = false;
                    result.error = EIO;
                    return result;
                }
                done += got;
            }
            extentStart += extentBytes;
        }
        result.bytes = wanted;
        return result;
    }

    std::uint64_t sizeBytes() const override { return library_->sizeBytes(); }
    const std::string& path() const override { return library_->path(); }

private:
    // Reads from byte at of the extent, at most to the end of a grain run;
    // returns the bytes delivered, 0 on a failure.
    std::size_t readExtent(Extent& extent, std::uint64_t at, std::span<std::uint8_t> out)
    {
        if (extent.kind == Extent::Kind::Zero) {
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            return out.size();
        }
        if (extent.kind == Extent::Kind::Flat) {
            const DeviceRead read = extent.file->readAt(extent.offset * 512 + at, out);
            return read.ok && read.bytes == out.size() ? out.size() : 0;
        }
        const std::uint64_t grainBytes = extent.grainSize * 512;
        const std::uint64_t grain = at / grainBytes;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), grainBytes - at % grainBytes));
        std::uint32_t stored = 0;
        if (!grainSector(extent, grain, stored))
            return 0;
        if (stored == 0 || (stored == 1 && extent.zeroGrains)) {
            std::fill_n(out.begin(), n, std::uint8_t{0});
            return n;
        }
        const DeviceRead read = extent.file->readAt(std::uint64_t{stored} * 512 + at % grainBytes, out.first(n));
        return read.ok && read.bytes == n ? n : 0;
    }

    // The file sector where the grain is stored (0: not stored).
    bool grainSector(Extent& extent, std::uint64_t grain, std::uint32_t& sector)
    {
        const std::uint64_t index = grain / extent.tableEntries;
        sector = 0;
        if (index >= extent.directory.size() || extent.directory[index] == 0)
            return true;
        auto found = extent.tables.find(static_cast<std::uint32_t>(index));
        if (found == extent.tables.end()) {
            std::vector<std::uint8_t> raw(std::size_t{extent.tableEntries} * 4);
            if (extent.file->readAt(std::uint64_t{extent.directory[index]} * 512, raw).bytes != raw.size())
                return false;
            std::vector<std::uint32_t> table(extent.tableEntries);
            for (std::size_t i = 0; i < table.size(); ++i)
                table[i] = le32(&raw[i * 4]);
            found = extent.tables.emplace(static_cast<std::uint32_t>(index), std::move(table)).first;
        }
        sector = found->second[grain % extent.tableEntries];
        return true;
    }

    std::vector<Extent> extents_;
    std::unique_ptr<Device> library_;
    std::mutex mutex_;
};

} // namespace

std::unique_ptr<Device> openVmdkDevice(const std::string& path, std::string& reason)
{
    Vmdk::Error error;
    libvmdk_handle_t* raw = nullptr;
    if (libvmdk_handle_initialize(&raw, error.out()) != 1) {
        reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libvmdk_handle_t, HandleDeleter<Vmdk>> handle(raw);
    if (libvmdk_handle_open(handle.get(), path.c_str(), LIBVMDK_OPEN_READ, error.out()) != 1) {
        reason = error.message("not a readable descriptor");
        return nullptr;
    }
    size64_t size = 0;
    if (libvmdk_handle_open_extent_data_files(handle.get(), error.out()) != 1
        || libvmdk_handle_get_media_size(handle.get(), &size, error.out()) != 1) {
        reason = error.message("its extent files cannot be read");
        libvmdk_handle_close(handle.get(), error.out());
        return nullptr;
    }
    auto library = std::make_unique<LibraryDevice<Vmdk>>(path, size, handle.release());
    std::vector<Extent> extents = readableExtents(path);
    std::uint64_t sectors = 0;
    for (const Extent& extent : extents)
        sectors += extent.sectors;
    if (extents.empty() || sectors * 512 != size)
        return library;
    return std::make_unique<VmdkDevice>(std::move(extents), std::move(library));
}

} // namespace tamsin
