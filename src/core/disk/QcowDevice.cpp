// QEMU copy-on-write disks (QCOW version 1 to 3) through libqcow; unallocated clusters read as zeros.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include <libqcow.h>

namespace tamsin {
namespace {

struct Qcow {
    using Handle = libqcow_file_t;
    using Error = LibraryError<libqcow_error_t, libqcow_error_backtrace_sprint, libqcow_error_free>;
    static int close(Handle* h, libqcow_error_t** e) { return libqcow_file_close(h, e); }
    static int free(Handle** h, libqcow_error_t** e) { return libqcow_file_free(h, e); }
    static ssize_t read(Handle* h, void* buffer, std::size_t size, off64_t offset, libqcow_error_t** e)
    {
        return libqcow_file_read_buffer_at_offset(h, buffer, size, offset, e);
    }
};

} // namespace

std::unique_ptr<Device> openQcowDevice(const std::string& path, std::string& reason)
{
    Qcow::Error error;
    libqcow_file_t* raw = nullptr;
    if (libqcow_file_initialize(&raw, error.out()) != 1) {
        reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libqcow_file_t, HandleDeleter<Qcow>> handle(raw);
    if (libqcow_file_open(handle.get(), path.c_str(), LIBQCOW_OPEN_READ, error.out()) != 1) {
        reason = error.message("not a readable image");
        return nullptr;
    }
    size64_t size = 0;
    if (libqcow_file_get_media_size(handle.get(), &size, error.out()) != 1) {
        reason = error.message("no media size");
        libqcow_file_close(handle.get(), error.out());
        return nullptr;
    }
    return std::make_unique<LibraryDevice<Qcow>>(path, size, handle.release());
}

} // namespace tamsin
