// VMware disks through libvmdk: monolithic or split, sparse or flat. The
// descriptor (a text file, or embedded in a monolithic sparse file) names the
// extent files, which are found beside it.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include <libvmdk.h>

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
    return std::make_unique<LibraryDevice<Vmdk>>(path, size, handle.release());
}

} // namespace tamsin
