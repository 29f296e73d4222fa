// Virtual PC (VHD, fixed) and Hyper-V (VHDX) disks through libvhdi. A
// differencing VHDX reads through its parent, opened beside it.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include <libvhdi.h>

#include <algorithm>
#include <filesystem>

namespace tamsin {
namespace {

struct Vhdi {
    using Handle = libvhdi_file_t;
    using Error = LibraryError<libvhdi_error_t, libvhdi_error_backtrace_sprint, libvhdi_error_free>;
    static int close(Handle* h, libvhdi_error_t** e) { return libvhdi_file_close(h, e); }
    static int free(Handle** h, libvhdi_error_t** e) { return libvhdi_file_free(h, e); }
    static ssize_t read(Handle* h, void* buffer, std::size_t size, off64_t offset, libvhdi_error_t** e)
    {
        return libvhdi_file_read_buffer_at_offset(h, buffer, size, offset, e);
    }
};

constexpr int kMaxChain = 16;

// The parent file a differencing disk names (a Windows path, relative or
// absolute): the path relative to the disk's folder when it is there,
// else the file of that name beside the disk. The first when neither exists.
std::string parentPath(const std::string& path, std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const bool windowsAbsolute = name.size() >= 2 && name[1] == ':';
    std::vector<std::filesystem::path> candidates;
    if (!windowsAbsolute)
        candidates.push_back(std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : folder / name);
    candidates.push_back(folder / std::filesystem::path(name).filename());
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::exists(candidate, error))
            return candidate.string();
    }
    return candidates.front().string();
}

std::unique_ptr<LibraryDevice<Vhdi>> openChain(const std::string& path, std::string& reason, int depth)
{
    Vhdi::Error error;
    libvhdi_file_t* raw = nullptr;
    if (libvhdi_file_initialize(&raw, error.out()) != 1) {
        reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libvhdi_file_t, HandleDeleter<Vhdi>> handle(raw);
    if (libvhdi_file_open(handle.get(), path.c_str(), LIBVHDI_OPEN_READ, error.out()) != 1) {
        reason = error.message("not a readable image");
        return nullptr;
    }
    auto refuse = [&](std::string why) {
        reason = std::move(why);
        libvhdi_file_close(handle.get(), error.out());
        return nullptr;
    };
    size64_t size = 0;
    if (libvhdi_file_get_media_size(handle.get(), &size, error.out()) != 1)
        return refuse(error.message("no media size"));
    std::uint32_t diskType = 0;
    if (libvhdi_file_get_disk_type(handle.get(), &diskType, error.out()) != 1)
        return refuse(error.message("no disk type"));
    std::unique_ptr<LibraryDevice<Vhdi>> parent;
    if (diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL) {
        std::size_t nameSize = 0;
        std::string name;
        if (libvhdi_file_get_utf8_parent_filename_size(handle.get(), &nameSize, error.out()) == 1 && nameSize > 1
            && nameSize <= 4096) {
            name.resize(nameSize);
            if (libvhdi_file_get_utf8_parent_filename(handle.get(), reinterpret_cast<std::uint8_t*>(name.data()), nameSize,
                                                      error.out())
                != 1)
                name.clear();
            name.resize(std::min(name.size(), name.find('\0')));
        }
        if (name.empty())
            return refuse("a differencing disk that names no parent disk");
        const std::string parentFile = parentPath(path, name);
        if (depth >= kMaxChain)
            return refuse("its parent " + parentFile + " is more than " + std::to_string(kMaxChain)
                          + " disks down the chain (a loop?)");
        std::string why;
        parent = openChain(parentFile, why, depth + 1);
        if (!parent)
            return refuse("its parent disk cannot be read: " + parentFile + ": " + why);
        if (libvhdi_file_set_parent_file(handle.get(), parent->handle(), error.out()) != 1)
            return refuse(error.message("the parent disk does not match"));
    }
    return std::make_unique<LibraryDevice<Vhdi>>(path, size, handle.release(), ContainerGranularity{}, std::move(parent));
}

} // namespace

std::unique_ptr<Device> openVhdiDevice(const std::string& path, Refusal& refusal)
{
    return openChain(path, refusal.reason, 0);
}

} // namespace tamsin
