#include "common/FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

namespace tamsin {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int FileDescriptor::release()
{
    int fd = fd_;
    fd_ = -1;
    return fd;
}

int writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        at += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace tamsin
