#include "disk/DiskDevice.h"

#include "disk/ContainerDevice.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>

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

// Parents being opened on this thread, one inside another: a chain deeper
// than kMaxChain is refused (a file naming itself, a loop).
thread_local int chainDepth = 0;
constexpr int kMaxChain = 16;

std::atomic<ContainerNoticeHandler> noticeHandler{nullptr};

} // namespace

void setContainerNoticeHandler(ContainerNoticeHandler handler)
{
    noticeHandler.store(handler);
}

void containerNotice(const std::string& message)
{
    if (const ContainerNoticeHandler handler = noticeHandler.load())
        handler(message);
}

std::unique_ptr<Device> openParentDisk(const std::string& childPath, const std::string& name, bool raw,
                                       std::string& reason)
{
    const std::filesystem::path given(name);
    const std::string path = given.is_absolute() ? name : (std::filesystem::path(childPath).parent_path() / given).string();
    if (chainDepth >= kMaxChain) {
        reason = "its parent " + path + " is more than " + std::to_string(kMaxChain) + " disks down the chain (a loop?)";
        return nullptr;
    }
    ++chainDepth;
    OpenError error;
    std::unique_ptr<Device> parent = raw ? std::unique_ptr<Device>(FileDevice::open(path, &error))
                                         : openDiskDevice(path, &error);
    --chainDepth;
    if (!parent)
        reason = "its parent disk cannot be read: " + error.message;
    return parent;
}

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

    Refusal refusal;
    std::unique_ptr<Device> device;
    switch (found) {
    case DiskFormat::Vmdk: device = openVmdkDevice(path, refusal); break;
    case DiskFormat::Vhd:
        device = openDynamicVhdDevice(path, refusal);
        if (!device && refusal.reason.empty() && refusal.unsupported.empty())
            device = openVhdiDevice(path, refusal);
        break;
    case DiskFormat::Vhdx: device = openVhdxDevice(path, refusal); break;
    case DiskFormat::Qcow2: device = openQcowDevice(path, refusal); break;
    case DiskFormat::Ewf: device = openEwfDevice(path, refusal); break;
    case DiskFormat::Raw: break;
    }
    if (!device && error) {
        error->error = EINVAL;
        error->message = refusal.unsupported.empty()
            ? path + ": cannot open the " + diskFormatDescription(found) + ": " + refusal.reason
            : path + ": " + refusal.unsupported + " " + diskFormatDescription(found) + ": not supported";
    }
    return device;
}

} // namespace tamsin
