#pragma once
// A block device or raw image file opened read-only and read with pread.

#include "common/FileDescriptor.h"
#include "disk/Device.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tamsin {

struct OpenError {
    int error = 0;        // errno of the failed call
    std::string message;  // one line naming the path and the reason
};

class FileDevice final : public Device {
public:
    // Opens path with O_RDONLY. On failure returns null and fills error (if given).
    static std::unique_ptr<FileDevice> open(const std::string& path, OpenError* error = nullptr);

    DeviceRead readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer) override;
    void prefetch(std::uint64_t byteOffset, std::uint64_t bytes) override;
    std::uint64_t sizeBytes() const override { return sizeBytes_; }
    const std::string& path() const override { return path_; }
    bool isBlockDevice() const { return blockDevice_; }

private:
    FileDevice(FileDescriptor fd, std::string path, std::uint64_t size, bool block);

    FileDescriptor fd_;
    std::string path_;
    std::uint64_t sizeBytes_ = 0;
    bool blockDevice_ = false;
};

// The message for a failed open: names the path, the reason and, for a
// device refused for lack of permission, what grants read access.
std::string describeOpenFailure(const std::string& path, int error, bool blockDevice);

} // namespace tamsin
