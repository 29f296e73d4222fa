#pragma once
// An owned POSIX file descriptor, and writing a whole buffer to one.

#include <cstdint>
#include <span>

namespace tamsin {

// Owns one file descriptor; closes it on destruction.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();

private:
    int fd_ = -1;
};

// Writes every byte to fd, retrying interrupted and short writes. Returns 0,
// or the errno of the write that failed (EIO for one that wrote nothing).
int writeAll(int fd, std::span<const std::uint8_t> bytes);

} // namespace tamsin
