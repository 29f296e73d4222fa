#pragma once
// A container device over one handle of a container library. Lib supplies
// the handle and error types and the library's close, free and read-at-
// offset calls, and may supply damage (see findDamage). Internal to the
// container devices.

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
    // granularity: how the chunk cache asks the library (see ContainerDevice).
    LibraryDevice(std::string path, std::uint64_t mediaSize, Handle* handle, Granularity granularity = {})
        : ContainerDevice(std::move(path), mediaSize, granularity), handle_(handle)
    {
    }
    ~LibraryDevice() override
    {
        Error error;
        Lib::close(handle_, error.out());
        Lib::free(&handle_, error.out());
    }
    LibraryDevice(const LibraryDevice&) = delete;
    LibraryDevice& operator=(const LibraryDevice&) = delete;

protected:
    std::int64_t readLocked(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        Error error;
        return Lib::read(handle_, buffer.data(), buffer.size(), static_cast<off64_t>(offset), error.out());
    }

    // A library that records damage instead of failing the read supplies Lib::damage.
    void findDamage(std::uint64_t offset, std::uint64_t length,
                    std::vector<std::pair<std::uint64_t, std::uint64_t>>& damaged) override
    {
        if constexpr (requires { Lib::damage(handle_, offset, length, damaged); })
            Lib::damage(handle_, offset, length, damaged);
    }

private:
    Handle* handle_;
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
