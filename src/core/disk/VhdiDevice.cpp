// Fixed Virtual PC (VHD) disks through libvhdi.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include <libvhdi.h>

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

} // namespace

std::unique_ptr<Device> openVhdiDevice(const std::string& path, Refusal& refusal)
{
    Vhdi::Error error;
    libvhdi_file_t* raw = nullptr;
    if (libvhdi_file_initialize(&raw, error.out()) != 1) {
        refusal.reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libvhdi_file_t, HandleDeleter<Vhdi>> handle(raw);
    if (libvhdi_file_open(handle.get(), path.c_str(), LIBVHDI_OPEN_READ, error.out()) != 1) {
        refusal.reason = error.message("not a readable image");
        return nullptr;
    }
    size64_t size = 0;
    if (libvhdi_file_get_media_size(handle.get(), &size, error.out()) != 1) {
        refusal.reason = error.message("no media size");
        libvhdi_file_close(handle.get(), error.out());
        return nullptr;
    }
    return std::make_unique<LibraryDevice<Vhdi>>(path, size, handle.release());
}

} // namespace tamsin
