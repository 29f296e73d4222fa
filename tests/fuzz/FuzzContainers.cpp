// The container readers as `tamsin volumes FILE` reaches them. The first
// input byte picks the format; the rest, with the format's magic laid over
// its start, is written to a file in a scratch folder that also holds a
// small raw disk (base.raw) and a flat extent (flat.bin) for parents and
// extents to name. The file is opened as the command line opens it and
// every sector is read (the first 4 MiB and the last 1 MiB of a larger disk).
//
// Built with TAMSIN_FUZZ_DIFFERENTIAL, the same file is also opened by the
// format's library where the library reads it alone (QCOW2, VMDK, VHD,
// VHDX), and wherever both read a range whole, their bytes must agree.

#include "FuzzSupport.h"

#include "disk/DiskDevice.h"
#include "disk/SectorReader.h"

#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tamsin;

namespace {

struct Format {
    const char* file;
    std::string magic;  // laid over the input's first bytes
};

const Format kFormats[] = {
    {"disk.qcow2", std::string("QFI\xfb", 4)},
    {"disk.vmdk", "KDMV"},
    {"disk.vmdk", "# Disk DescriptorFile\n"},
    {"disk.vhd", "conectix"},
    {"disk.vhdx", "vhdxfile"},
    {"disk.E01", std::string("EVF\x09\x0d\x0a\xff\x00", 8)},
};

constexpr std::uint64_t kHeadBytes = 4u << 20;
constexpr std::uint64_t kTailBytes = 1u << 20;

const fs::path& scratch()
{
    static const fs::path folder = [] {
        char pattern[] = "/tmp/tamsin-fuzz-containers-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        const fs::path made = pattern;
        std::vector<char> bytes(64 << 10);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i / 512 + 1);
        std::ofstream(made / "base.raw", std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
        std::ofstream(made / "flat.bin", std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
        return made;
    }();
    return folder;
}

// Reads [from, to) of the disk in runs of 60 sectors, as the volume search does.
void readAll(SectorReader& reader, std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint8_t> buffer(60 * 512);
    std::vector<std::uint32_t> unreadable;
    for (std::uint64_t s = from; s < to; s += 60) {
        unreadable.clear();
        reader.readSectorsZeroFilled(s, static_cast<std::uint32_t>(std::min<std::uint64_t>(60, to - s)), buffer, &unreadable);
    }
}

#ifdef TAMSIN_FUZZ_DIFFERENTIAL
// One library's read-at-offset over an opened handle.
template <typename Read>
bool libraryRead(Read read, std::uint64_t offset, std::vector<std::uint8_t>& out)
{
    return read(offset, out.data(), out.size()) == static_cast<ssize_t>(out.size());
}

// Compares our device with the library, 64 KiB at a time, where both read.
template <typename Read>
void compare(Device& ours, std::uint64_t librarySize, Read read)
{
    const std::uint64_t size = std::min<std::uint64_t>({ours.sizeBytes(), librarySize, kHeadBytes});
    std::vector<std::uint8_t> a(64 << 10), b(64 << 10);
    for (std::uint64_t at = 0; at < size; at += a.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(a.size(), size - at));
        a.resize(n);
        b.resize(n);
        const DeviceRead r = ours.readAt(at, a);
        if (!r.ok || r.bytes != n || !libraryRead(read, at, b))
            continue;
        // Sectors ours reads as zeros are left out: libqcow does not know
        // version 3 zero clusters and reads what their entry points at.
        for (std::size_t s = 0; s < n; s += 512) {
            const std::size_t m = std::min<std::size_t>(512, n - s);
            if (std::all_of(a.begin() + s, a.begin() + s + m, [](std::uint8_t x) { return x == 0; })
                || std::equal(a.begin() + s, a.begin() + s + m, b.begin() + s))
                continue;
            std::fprintf(stderr, "differential: our reader and the library disagree at byte %llu\n",
                         static_cast<unsigned long long>(at + s));
            std::abort();
        }
    }
}

// Whether the library reads the disk as ours does: not where it names a
// parent (the libraries read those alone) or a flat extent at an offset
// (which libvmdk does not heed).
bool readAlone(std::size_t kind, const std::string& bytes)
{
    auto be32 = [&](std::size_t at) {
        return at + 4 <= bytes.size() ? (std::uint32_t{static_cast<std::uint8_t>(bytes[at])} << 24)
                | (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 16)
                | (std::uint32_t{static_cast<std::uint8_t>(bytes[at + 2])} << 8) | static_cast<std::uint8_t>(bytes[at + 3])
                                      : 0;
    };
    if (kind == 0)
        return be32(8) == 0 && be32(12) == 0;
    if (kind == 3)
        return be32(60) != 4 && (bytes.size() < 512 || be32(bytes.size() - 512 + 60) != 4);
    if (bytes.find("parentFileNameHint") != std::string::npos)
        return false;
    std::istringstream lines(bytes);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
        if (w.size() >= 5 && (w[2] == "FLAT" || w[2] == "VMFS") && w[4] != "0")
            return false;
    }
    return true;
}

void differential(std::size_t kind, const std::string& path, Device& ours)
{
    if (kind == 0) {
        libqcow_file_t* file = nullptr;
        size64_t size = 0;
        if (libqcow_file_initialize(&file, nullptr) == 1) {
            if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, nullptr) == 1) {
                if (libqcow_file_get_media_size(file, &size, nullptr) == 1)
                    compare(ours, size, [&](std::uint64_t at, void* to, std::size_t n) {
                        return libqcow_file_read_buffer_at_offset(file, to, n, static_cast<off64_t>(at), nullptr);
                    });
                libqcow_file_close(file, nullptr);
            }
            libqcow_file_free(&file, nullptr);
        }
    } else if (kind == 1 || kind == 2) {
        libvmdk_handle_t* handle = nullptr;
        size64_t size = 0;
        if (libvmdk_handle_initialize(&handle, nullptr) == 1) {
            // Our reader opened the disk: its extent names are plain ones.
            if (libvmdk_handle_open(handle, path.c_str(), LIBVMDK_OPEN_READ, nullptr) == 1) {
                if (libvmdk_handle_open_extent_data_files(handle, nullptr) == 1
                    && libvmdk_handle_get_media_size(handle, &size, nullptr) == 1)
                    compare(ours, size, [&](std::uint64_t at, void* to, std::size_t n) {
                        return libvmdk_handle_read_buffer_at_offset(handle, to, n, static_cast<off64_t>(at), nullptr);
                    });
                libvmdk_handle_close(handle, nullptr);
            }
            libvmdk_handle_free(&handle, nullptr);
        }
    } else if (kind == 3 || kind == 4) {
        libvhdi_file_t* file = nullptr;
        size64_t size = 0;
        std::uint32_t type = 0;
        if (libvhdi_file_initialize(&file, nullptr) == 1) {
            if (libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, nullptr) == 1) {
                // The library reads a differencing disk alone.
                if (libvhdi_file_get_media_size(file, &size, nullptr) == 1
                    && libvhdi_file_get_disk_type(file, &type, nullptr) == 1 && type != LIBVHDI_DISK_TYPE_DIFFERENTIAL)
                    compare(ours, size, [&](std::uint64_t at, void* to, std::size_t n) {
                        return libvhdi_file_read_buffer_at_offset(file, to, n, static_cast<off64_t>(at), nullptr);
                    });
                libvhdi_file_close(file, nullptr);
            }
            libvhdi_file_free(&file, nullptr);
        }
    }
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > (512u << 10))
        return 0;
    const std::size_t kind = data[0] % std::size(kFormats);
    const Format& format = kFormats[kind];
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (bytes.size() < format.magic.size())
        bytes.resize(format.magic.size(), '\0');
    bytes.replace(0, format.magic.size(), format.magic);
    const std::string path = (scratch() / format.file).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<long>(bytes.size()));

    std::unique_ptr<Device> device = openDiskDevice(path);
    if (!device)
        return 0;
#ifdef TAMSIN_FUZZ_DIFFERENTIAL
    // Only where our reader reads the disk without a parent and whole: the
    // libraries read past their buffers on damaged files, which is why ours
    // reads them.
    bool clean = true;
    {
        SectorReader probe;
        probe.attach(openDiskDevice(path));
        const std::uint64_t sectors = std::min<std::uint64_t>(probe.device()->sizeBytes(), kHeadBytes) / 512;
        std::vector<std::uint8_t> buffer(60 * 512);
        for (std::uint64_t s = 0; s < sectors && clean; s += 60)
            clean = probe.readSectors(s, static_cast<std::uint32_t>(std::min<std::uint64_t>(60, sectors - s)), buffer) == 0;
    }
    if (clean && readAlone(kind, bytes))
        differential(kind, path, *device);
#endif
    SectorReader reader;
    reader.attach(std::move(device));
    const std::uint64_t sectors = reader.device()->sizeBytes() / 512;
    readAll(reader, 0, std::min(sectors, kHeadBytes / 512));
    if (sectors > kHeadBytes / 512)
        readAll(reader, std::max(kHeadBytes / 512, sectors - kTailBytes / 512), sectors);
    return 0;
}
