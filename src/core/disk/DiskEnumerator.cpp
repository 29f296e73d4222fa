#include "disk/DiskEnumerator.h"

#include "disk/DiskDevice.h"
#include "disk/Sector.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <fstream>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

std::string readSysText(const fs::path& file)
{
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool allDigits(const std::string& s, std::size_t from)
{
    return from < s.size()
        && std::all_of(s.begin() + static_cast<long>(from), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Heads and sectors per track from HDIO_GETGEO when the device answers;
// cylinders always come from the true size, since the ioctl's 16-bit count
// overflows on any modern disk.
void probeGeometry(const fs::path& node, DiskInfo& disk)
{
    setSyntheticGeometry(disk);
    FileDescriptor fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return;
    hd_geometry geo{};
    if (::ioctl(fd.get(), HDIO_GETGEO, &geo) != 0 || geo.heads == 0 || geo.sectors == 0)
        return;
    disk.heads = geo.heads;
    disk.sectorsPerTrack = geo.sectors;
    disk.cylinders = static_cast<std::uint32_t>(disk.sizeBytes / kSectorSize / (std::uint64_t{geo.heads} * geo.sectors));
}

bool onUsbBus(const fs::path& sysEntry)
{
    std::error_code ec;
    fs::path real = fs::canonical(sysEntry, ec);
    if (ec)
        return false;
    for (const auto& part : real)
        if (startsWith(part.string(), "usb"))
            return true;
    return false;
}

std::string deviceModel(const fs::path& sysEntry)
{
    if (onUsbBus(sysEntry))
        return kModelUsb;
    std::string model = readSysText(sysEntry / "device" / "model");
    if (model.empty())
        model = readSysText(sysEntry / "device" / "name");  // mmc cards
    return model.empty() ? kModelUnknown : model;
}

// Stable order: shorter names first, so sdz comes before sdaa and nvme9n1
// before nvme10n1.
bool deviceOrder(const std::string& a, const std::string& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

} // namespace

bool isListedDiskName(const std::string& name)
{
    if (startsWith(name, "nvme")) {
        auto n = name.find('n', 4);
        return allDigits(name.substr(0, n), 4) && n != std::string::npos && allDigits(name, n + 1);
    }
    if (startsWith(name, "mmcblk"))
        return allDigits(name, 6);  // leaves out mmcblkNbootM and mmcblkNrpmb
    if (startsWith(name, "loop"))
        return allDigits(name, 4);
    for (const char* prefix : {"sd", "vd", "hd", "xvd"}) {
        if (startsWith(name, prefix)) {
            std::string rest = name.substr(std::string(prefix).size());
            return !rest.empty()
                && std::all_of(rest.begin(), rest.end(), [](unsigned char c) { return std::islower(c); });
        }
    }
    return false;
}

bool probeDiskPath(const std::string& path, DiskInfo& disk, std::string& error)
{
    OpenError openError;
    DiskFormat format = DiskFormat::Raw;
    auto device = openDiskDevice(path, &openError, &format);
    if (!device) {
        error = openError.message;
        return false;
    }
    disk = DiskInfo{};
    disk.path = path;
    const auto* file = dynamic_cast<const FileDevice*>(device.get());
    disk.isImage = !file || !file->isBlockDevice();
    disk.format = format;
    setSize(disk, device->sizeBytes());  // a container's media size
    if (disk.isImage) {
        setSyntheticGeometry(disk);
        // A container names its format before the file name: "VMware disk image (disk.vmdk)".
        const std::string name = fs::path(path).filename().string();
        disk.model = format == DiskFormat::Raw ? name : std::string(diskFormatDescription(format)) + " (" + name + ")";
    } else {
        probeGeometry(path, disk);
        struct stat st {};
        disk.model = ::stat(path.c_str(), &st) == 0
            ? deviceModel(fs::path("/sys/dev/block") / (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))))
            : kModelUnknown;
    }
    disk.mediaPresent = disk.sizeBytes >= kSectorSize;
    return true;
}

EnumerationResult enumerateDisks(const std::vector<std::string>& imagePaths, const DiskSources& sources)
{
    EnumerationResult result;

    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it;
    if (!sources.sysBlock.empty())
        it = fs::directory_iterator(sources.sysBlock, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!isListedDiskName(name))
            continue;
        // A loop device counts only while a file is bound to it.
        if (startsWith(name, "loop") && readSysText(it->path() / "loop" / "backing_file").empty())
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), deviceOrder);

    std::vector<DiskInfo> withMedia;
    std::vector<DiskInfo> withoutMedia;
    for (const auto& name : names) {
        const fs::path sysEntry = sources.sysBlock / name;
        DiskInfo disk;
        disk.path = (sources.devDir / name).string();
        std::uint64_t sectors = 0;
        try {
            sectors = std::stoull(readSysText(sysEntry / "size"));
        } catch (const std::exception&) {
            sectors = 0;
        }
        if (sectors == 0) {
            // A removable device with no medium: recorded, not counted.
            disk.model = kModelNoMedia;
            disk.mediaPresent = false;
            withoutMedia.push_back(std::move(disk));
            continue;
        }
        setSize(disk, sectors * kSectorSize);  // sysfs counts 512-byte units whatever the logical block size
        probeGeometry(disk.path, disk);
        disk.model = deviceModel(sysEntry);
        withMedia.push_back(std::move(disk));
    }

    for (const auto& path : imagePaths) {
        DiskInfo disk;
        std::string error;
        if (!probeDiskPath(path, disk, error)) {
            result.errors.push_back(error);
            continue;
        }
        if (disk.mediaPresent)
            withMedia.push_back(std::move(disk));
        else
            result.errors.push_back(path + ": empty file, no sectors to read");
    }

    result.table.entries = std::move(withMedia);
    result.table.diskCount = static_cast<std::uint16_t>(result.table.entries.size());
    for (auto& disk : withoutMedia)
        result.table.entries.push_back(std::move(disk));
    return result;
}

} // namespace tamsin
