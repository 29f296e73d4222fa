#include "disk/FileDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {

std::string describeOpenFailure(const std::string& path, int error, bool blockDevice)
{
    if (error == ENODEV)
        return "cannot open " + path + ": not a disk: only block devices and regular image files can be read";
    std::string message = "cannot open " + path + ": " + std::strerror(error);
    // Permission bits are what root or the disk group overcome; EPERM is the
    // kernel refusing whoever asks, and its own words say why.
    if (blockDevice && error == EACCES)
        message += " (reading a disk device needs root or membership of the disk group)";
    return message;
}

std::unique_ptr<FileDevice> FileDevice::open(const std::string& path, OpenError* error)
{
    auto fail = [&](int code, bool block) -> std::unique_ptr<FileDevice> {
        if (error) {
            error->error = code;
            error->message = describeOpenFailure(path, code, block);
        }
        return nullptr;
    };

    struct stat st {};
    bool statOk = ::stat(path.c_str(), &st) == 0;
    bool block = statOk && S_ISBLK(st.st_mode);
    if (statOk && S_ISDIR(st.st_mode))
        return fail(EISDIR, false);
    // A FIFO or character device would block the open or the reads (or
    // never end): only block devices and regular files are disks.
    if (statOk && !block && !S_ISREG(st.st_mode))
        return fail(ENODEV, false);

    // Non-blocking, should the path have turned into a FIFO since the stat;
    // the type is checked again on the descriptor.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return fail(errno, block || path.rfind("/dev/", 0) == 0);

    if (::fstat(fd.get(), &st) != 0)
        return fail(errno, block);
    block = S_ISBLK(st.st_mode);

    std::uint64_t size = 0;
    if (block) {
        if (::ioctl(fd.get(), BLKGETSIZE64, &size) != 0)
            return fail(errno, true);
    } else if (S_ISREG(st.st_mode)) {
        size = static_cast<std::uint64_t>(st.st_size);
    } else {
        return fail(ENODEV, false);
    }
    return std::unique_ptr<FileDevice>(new FileDevice(std::move(fd), path, size, block));
}

FileDevice::FileDevice(FileDescriptor fd, std::string path, std::uint64_t size, bool block)
    : fd_(std::move(fd)), path_(std::move(path)), sizeBytes_(size), blockDevice_(block)
{
}

DeviceRead FileDevice::readAt(std::uint64_t byteOffset, std::span<std::uint8_t> buffer)
{
    // One request as far as the kernel allows; short reads and EINTR are
    // continued here so callers only see "all", "up to the end" or "failed".
    DeviceRead result;
    while (result.bytes < buffer.size()) {
        ssize_t n = ::pread(fd_.get(), buffer.data() + result.bytes, buffer.size() - result.bytes,
                            static_cast<off_t>(byteOffset + result.bytes));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            return result;
        }
        if (n == 0)
            break;
        result.bytes += static_cast<std::size_t>(n);
    }
    result.ok = true;
    return result;
}

void FileDevice::prefetch(std::uint64_t byteOffset, std::uint64_t bytes)
{
    // The kernel queues the reads and returns; an error only loses the hint.
    ::posix_fadvise(fd_.get(), static_cast<off_t>(byteOffset), static_cast<off_t>(bytes), POSIX_FADV_WILLNEED);
}

} // namespace tamsin
