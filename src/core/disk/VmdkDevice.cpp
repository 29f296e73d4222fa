// VMware disks: monolithic or split, sparse or flat. The descriptor (a text
// file, or embedded in a monolithic sparse file) lists the extents, which
// are files beside it: flat extents (at an offset), hosted sparse extents
// without compressed grains, and zero extents are read here directly; other
// kinds (compressed, stream-optimized, ESX sparse) through libvmdk. A disk
// naming a parent reads the grains it does not hold from the parent.

#include "disk/ContainerBytes.h"
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

using namespace container;

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

constexpr std::uint32_t kSparseMagic = 0x564D444B;  // "KDMV"
constexpr std::uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr std::uint64_t kMaxGrainSectors = 1u << 16;    // 32 MiB
constexpr std::uint64_t kMaxDiskSectors = std::uint64_t{1} << 47;  // 64 PiB
constexpr std::uint64_t kMaxDirectoryEntries = 1u << 24;

// One extent of the disk as its descriptor lists it.
struct Extent {
    enum class Kind {
        Flat,     // a run of sectors of a file, from offset on
        Sparse,   // a hosted sparse file without compressed grains
        Zero,     // no file: zeros
        Library,  // read through libvmdk
    } kind = Kind::Zero;
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

// An extent name names a file beside the descriptor: no folder, no way out of it.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string unquoted(std::string value)
{
    const auto first = value.find_first_not_of(" \t\r");
    const auto last = value.find_last_not_of(" \t\r");
    value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

// Reads a hosted sparse extent's header: Sparse when its grains are read
// here, Library when compressed or stream-optimized; false with reason when
// it is not a sparse extent this disk can use.
bool readSparseHeader(Extent& extent, const std::string& name, std::string& reason)
{
    std::uint8_t header[80];
    if (!readExactly(*extent.file, 0, header) || le32(header) != kSparseMagic) {
        reason = "the sparse extent " + name + " has no sparse header";
        return false;
    }
    const std::uint32_t flags = le32(header + 8);
    extent.grainSize = le64(header + 20);
    extent.tableEntries = le32(header + 44);
    const std::uint64_t directoryAt = le64(header + 56);
    extent.zeroGrains = (flags & (1u << 2)) != 0;
    // Compressed grains and stream markers, a directory at the end: the library's.
    if ((flags & ((1u << 16) | (1u << 17))) != 0 || directoryAt == ~std::uint64_t{0}) {
        extent.kind = Extent::Kind::Library;
        return true;
    }
    extent.kind = Extent::Kind::Sparse;
    if (extent.grainSize == 0 || extent.grainSize > kMaxGrainSectors || extent.tableEntries == 0
        || extent.tableEntries > 65536) {
        reason = "the sparse extent " + name + " has grains of " + std::to_string(extent.grainSize) + " sectors in tables of "
            + std::to_string(extent.tableEntries);
        return false;
    }
    const std::uint64_t grains = (extent.sectors + extent.grainSize - 1) / extent.grainSize;
    const std::uint64_t tables = (grains + extent.tableEntries - 1) / extent.tableEntries;
    const std::uint64_t fileSize = extent.file->sizeBytes();
    if (tables > kMaxDirectoryEntries || directoryAt > fileSize / 512 || tables * 4 > fileSize - directoryAt * 512) {
        reason = "the grain directory of " + name + " lies past the end of the file";
        return false;
    }
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(tables * 4));
    if (!readExactly(*extent.file, directoryAt * 512, raw)) {
        reason = "the grain directory of " + name + " cannot be read";
        return false;
    }
    extent.directory.resize(static_cast<std::size_t>(tables));
    for (std::size_t i = 0; i < extent.directory.size(); ++i)
        extent.directory[i] = le32(&raw[i * 4]);
    return true;
}

struct Descriptor {
    std::vector<Extent> extents;
    std::string parent;  // parentFileNameHint; empty: none
};

// Reads the descriptor of the disk at path and opens its extents; false
// with reason when the disk cannot be read.
bool readDescriptor(const std::string& path, Descriptor& out, std::string& reason)
{
    OpenError openError;
    auto file = FileDevice::open(path, &openError);
    if (!file) {
        reason = openError.message;
        return false;
    }
    std::uint8_t header[512] = {};
    const DeviceRead headRead = file->readAt(0, header);
    if (!headRead.ok) {
        reason = "the first sector cannot be read";
        return false;
    }
    std::string descriptor;
    bool embedded = false;
    const std::string own = std::filesystem::path(path).filename().string();
    if (headRead.bytes >= 80 && le32(header) == kSparseMagic) {
        const std::uint64_t at = le64(header + 28);
        const std::uint64_t sectors = le64(header + 36);
        if (at == 0 || sectors == 0) {
            // A sparse extent on its own: the disk is this one extent.
            descriptor = "RW " + std::to_string(le64(header + 12)) + " SPARSE \"" + own + "\"\n";
        } else {
            if (sectors > kMaxDescriptorBytes / 512 || at > file->sizeBytes() / 512) {
                reason = "the embedded descriptor lies outside the file";
                return false;
            }
            embedded = true;
            descriptor.resize(static_cast<std::size_t>(std::min(sectors * 512, file->sizeBytes() - at * 512)));
            if (!readExactly(*file, at * 512, std::span(reinterpret_cast<std::uint8_t*>(descriptor.data()), descriptor.size()))) {
                reason = "the embedded descriptor cannot be read";
                return false;
            }
        }
    } else {
        if (file->sizeBytes() > kMaxDescriptorBytes) {
            reason = "a descriptor file larger than 1 MiB";
            return false;
        }
        descriptor.resize(static_cast<std::size_t>(file->sizeBytes()));
        if (!readExactly(*file, 0, std::span(reinterpret_cast<std::uint8_t*>(descriptor.data()), descriptor.size()))) {
            reason = "the descriptor cannot be read";
            return false;
        }
    }
    descriptor.resize(std::min(descriptor.size(), descriptor.find('\0')));

    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::uint64_t total = 0;
    std::istringstream lines(descriptor);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos && unquoted(line.substr(0, equals)) == "parentFileNameHint") {
            out.parent = unquoted(line.substr(equals + 1));
            continue;
        }
        std::istringstream words(line);
        std::string access, type, name;
        std::uint64_t sectors = 0;
        if (!(words >> access >> sectors >> type) || (access != "RW" && access != "RDONLY" && access != "NOACCESS"))
            continue;
        if (sectors > kMaxDiskSectors - total) {
            reason = "its extents add up to more than 2^47 sectors";
            return false;
        }
        total += sectors;
        Extent extent;
        extent.sectors = sectors;
        if (type == "ZERO") {
            out.extents.push_back(std::move(extent));
            continue;
        }
        words >> std::ws;
        if (words.peek() == '"')
            words >> std::quoted(name, '"', '\0');
        else
            words >> name;
        if (!isPlainName(name)) {
            reason = "the extent file \"" + name + "\" is not a file name beside the descriptor";
            return false;
        }
        // An embedded descriptor describes the file it is in, whatever
        // the file is called now.
        extent.file = FileDevice::open(embedded && type == "SPARSE" ? path : (folder / name).string(), &openError);
        if (!extent.file) {
            reason = "an extent file cannot be read: " + openError.message;
            return false;
        }
        if (type == "FLAT" || type == "VMFS") {
            extent.kind = Extent::Kind::Flat;
            words >> extent.offset;
            if (extent.offset > kMaxDiskSectors) {
                reason = "the flat extent " + name + " starts past 2^47 sectors";
                return false;
            }
        } else if (type == "SPARSE") {
            if (!readSparseHeader(extent, name, reason))
                return false;
        } else {
            extent.kind = Extent::Kind::Library;
        }
        out.extents.push_back(std::move(extent));
    }
    if (out.extents.empty()) {
        reason = "the descriptor lists no extents";
        return false;
    }
    return true;
}

// Opens the disk in libvmdk, for the extents read through it. The extent
// names the library parsed are checked before it opens any of them.
std::unique_ptr<Device> openLibrary(const std::string& path, std::string& reason)
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
    auto refuse = [&](std::string why) {
        reason = std::move(why);
        libvmdk_handle_close(handle.get(), error.out());
        return nullptr;
    };
    int count = 0;
    if (libvmdk_handle_get_number_of_extents(handle.get(), &count, error.out()) != 1)
        return refuse(error.message("the extents cannot be listed"));
    for (int i = 0; i < count; ++i) {
        libvmdk_extent_descriptor_t* extent = nullptr;
        if (libvmdk_handle_get_extent_descriptor(handle.get(), i, &extent, error.out()) != 1)
            return refuse(error.message("the extents cannot be listed"));
        std::size_t size = 0;
        std::string name;
        if (libvmdk_extent_descriptor_get_utf8_filename_size(extent, &size, error.out()) == 1 && size > 1 && size <= 4096) {
            name.resize(size);
            if (libvmdk_extent_descriptor_get_utf8_filename(extent, reinterpret_cast<std::uint8_t*>(name.data()), size,
                                                            error.out())
                != 1)
                name = "?";
            name.resize(std::min(name.size(), name.find('\0')));
        } else if (size > 4096) {
            name = "?";
        }
        libvmdk_extent_descriptor_free(&extent, error.out());
        if (size > 1 && !isPlainName(name))
            return refuse("the extent file \"" + name + "\" is not a file name beside the descriptor");
    }
    size64_t size = 0;
    if (libvmdk_handle_open_extent_data_files(handle.get(), error.out()) != 1
        || libvmdk_handle_get_media_size(handle.get(), &size, error.out()) != 1)
        return refuse(error.message("its extent files cannot be read"));
    return std::make_unique<LibraryDevice<Vmdk>>(path, size, handle.release());
}

// Reads the extents: flat ones with one positioned read, sparse ones with a
// read per stored grain run, zero extents as zeros, the others through the
// library; grains a sparse extent does not hold come from the parent.
class VmdkDevice final : public Device {
public:
    VmdkDevice(std::string path, std::vector<Extent> extents, std::unique_ptr<Device> library,
               std::unique_ptr<Device> parent) :
        path_(std::move(path)), extents_(std::move(extents)), library_(std::move(library)), parent_(std::move(parent))
    {
        for (const Extent& extent : extents_)
            size_ += extent.sectors * 512;
    }

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override
    {
        DeviceRead result;
        result.ok = true;
        if (byteOffset >= size_)
            return result;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - byteOffset));
        std::lock_guard lock(mutex_);
        std::uint64_t extentStart = 0;
        std::size_t done = 0;
        for (Extent& extent : extents_) {
            const std::uint64_t extentBytes = extent.sectors * 512;
            while (done < wanted && byteOffset + done < extentStart + extentBytes) {
                const std::uint64_t at = byteOffset + done - extentStart;
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, extentBytes - at));
                const std::size_t got = readExtent(extent, extentStart, at, buffer.subspan(done, n));
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

    std::uint64_t sizeBytes() const override { return size_; }
    bool failuresRepeat() const override { return true; }
    const std::string& path() const override { return path_; }

private:
    // Reads from byte at of the extent starting at disk byte extentStart, at
    // most to the end of a grain run; returns the bytes delivered, 0 on a failure.
    std::size_t readExtent(Extent& extent, std::uint64_t extentStart, std::uint64_t at, std::span<std::uint8_t> out)
    {
        switch (extent.kind) {
        case Extent::Kind::Zero: std::fill(out.begin(), out.end(), std::uint8_t{0}); return out.size();
        case Extent::Kind::Flat: return readExactly(*extent.file, extent.offset * 512 + at, out) ? out.size() : 0;
        case Extent::Kind::Library: return readExactly(*library_, extentStart + at, out) ? out.size() : 0;
        case Extent::Kind::Sparse: break;
        }
        const std::uint64_t grainBytes = extent.grainSize * 512;
        const std::uint64_t grain = at / grainBytes;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), grainBytes - at % grainBytes));
        std::uint32_t stored = 0;
        if (!grainSector(extent, grain, stored))
            return 0;
        if (stored == 1 && extent.zeroGrains) {
            std::fill_n(out.begin(), n, std::uint8_t{0});
            return n;
        }
        if (stored == 0)
            return readAbsent(extentStart + at, out.first(n)) ? n : 0;
        return readExactly(*extent.file, std::uint64_t{stored} * 512 + at % grainBytes, out.first(n)) ? n : 0;
    }

    // Grains this disk does not hold: the parent's where it has them, else zeros.
    bool readAbsent(std::uint64_t at, std::span<std::uint8_t> piece)
    {
        return readFromParent(parent_.get(), at, piece);
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
            if (!readExactly(*extent.file, std::uint64_t{extent.directory[index]} * 512, raw))
                return false;
            std::vector<std::uint32_t> table(extent.tableEntries);
            for (std::size_t i = 0; i < table.size(); ++i)
                table[i] = le32(&raw[i * 4]);
            found = extent.tables.emplace(static_cast<std::uint32_t>(index), std::move(table)).first;
        }
        sector = found->second[grain % extent.tableEntries];
        return true;
    }

    std::string path_;
    std::vector<Extent> extents_;
    std::unique_ptr<Device> library_;  // null when no extent is read through it
    std::unique_ptr<Device> parent_;
    std::uint64_t size_ = 0;
    std::mutex mutex_;
};

} // namespace

std::unique_ptr<Device> openVmdkDevice(const std::string& path, Refusal& refusal)
{
    Descriptor descriptor;
    if (!readDescriptor(path, descriptor, refusal.reason))
        return nullptr;
    const bool needsLibrary = std::any_of(descriptor.extents.begin(), descriptor.extents.end(),
                                          [](const Extent& e) { return e.kind == Extent::Kind::Library; });
    if (needsLibrary && !descriptor.parent.empty()) {
        refusal.reason = "compressed or ESX sparse extents over a parent disk are not supported";
        return nullptr;
    }
    std::unique_ptr<Device> library;
    if (needsLibrary) {
        library = openLibrary(path, refusal.reason);
        if (!library)
            return nullptr;
    }
    std::unique_ptr<Device> parent;
    if (!descriptor.parent.empty()) {
        parent = openParentDisk(path, descriptor.parent, false, refusal.reason);
        if (!parent)
            return nullptr;
    }
    return std::make_unique<VmdkDevice>(path, std::move(descriptor.extents), std::move(library), std::move(parent));
}

} // namespace tamsin
