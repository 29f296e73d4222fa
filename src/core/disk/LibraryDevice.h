#pragma once
// A container device over one handle of a container library. Lib supplies
// the handle and error types and the library's close, free and read-at-
// offset calls. Internal to the container devices.

#include "disk/ContainerDevice.h"
#include "disk/LibraryError.h"

#include <sys/types.h>

namespace tamsin {

template <typename Lib>
class LibraryDevice final : public ContainerDevice {
public:
    using Handle = typename Lib::Handle;
    using Error = typename Lib::Error;

    // Takes an opened handle.
    // cached: through the device's chunk cache (see ContainerDevice).
    // parent: a device whose handle this one's reads go through, closed after it.
    LibraryDevice(std::string path, std::uint64_t mediaSize, Handle* handle, bool cached = true,
                  std::unique_ptr<LibraryDevice> parent = nullptr)
        : ContainerDevice(std::move(path), mediaSize, cached), handle_(handle), parent_(std::move(parent))
    {
    }
    ~LibraryDevice() override
    {
        Error error;
        Lib::close(handle_, error.out());
        Lib::free(&handle_, error.out());
    }

    Handle* handle() const { return handle_; }
    LibraryDevice(const LibraryDevice&) = delete;
    LibraryDevice& operator=(const LibraryDevice&) = delete;

protected:
    std::int64_t readLocked(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        Error error;
        return Lib::read(handle_, buffer.data(), buffer.size(), static_cast<off64_t>(offset), error.out());
    }

private:
    Handle* handle_;
    std::unique_ptr<LibraryDevice> parent_;
};

// Frees a handle that is not (or no longer) owned by a device.
template <typename Lib>
struct HandleDeleter {
    void operator()(typename Lib::Handle* handle) const
    {
        typename Lib::Error error;
        Lib::free(&handle, error.out());
    }
};

} // namespace tamsin
