#include "disk/DiskDevice.h"

#include "disk/ContainerDevice.h"

#include <array>
#include <cerrno>

namespace tamsin {
namespace {

DiskFormat detect(FileDevice& file)
{
    std::array<std::uint8_t, 1024> head{};
    std::array<std::uint8_t, 512> tail{};
    const DeviceRead first = file.readAt(0, head);
    const std::uint64_t size = file.sizeBytes();
    const std::uint64_t tailStart = size > tail.size() ? size - tail.size() : 0;
    const DeviceRead last = file.readAt(tailStart, tail);
    if (!first.ok)
        return DiskFormat::Raw;
    return detectDiskFormat(std::span(head).first(first.bytes),
                            std::span(tail).first(last.ok ? last.bytes : 0));
}

} // namespace

std::unique_ptr<Device> openDiskDevice(const std::string& path, OpenError* error, DiskFormat* format)
{
    if (format)
        *format = DiskFormat::Raw;
    auto file = FileDevice::open(path, error);
    if (!file || file->isBlockDevice())
        return file;
    const DiskFormat found = detect(*file);
    if (format)
        *format = found;
    if (found == DiskFormat::Raw)
        return file;
    file.reset();

    std::string reason;
    std::unique_ptr<Device> device;
    switch (found) {
    case DiskFormat::Vmdk: device = openVmdkDevice(path, reason); break;
    case DiskFormat::Vhd:
        device = openDynamicVhdDevice(path, reason);
        if (!device && reason.empty())
            device = openVhdiDevice(path, reason);
        break;
    case DiskFormat::Vhdx: device = openVhdiDevice(path, reason); break;
    case DiskFormat::Qcow2: device = openQcowDevice(path, reason); break;
    case DiskFormat::Ewf: device = openEwfDevice(path, reason); break;
    case DiskFormat::Raw: break;
    }
    if (!device && error) {
        error->error = EINVAL;
        error->message = path + ": cannot open the " + diskFormatDescription(found) + ": " + reason;
    }
    return device;
}

} // namespace tamsin
