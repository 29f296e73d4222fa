#pragma once
// Buffered whole-file reading and writing for snapshot files: one buffer
// each way, so a million-entry snapshot costs few system calls and no copy
// of the whole file in memory.

#include "disk/FileDevice.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin {

inline constexpr std::size_t kSnapshotBufferBytes = std::size_t{256} << 10;
// Reading wants less: each refill copies from the page cache into a buffer
// that stays in the core's cache, and a small file maps in fewer new pages.
inline constexpr std::size_t kSnapshotReadBytes = std::size_t{64} << 10;

// Reads a regular file front to back, handing out contiguous pieces of its
// buffer that stay valid until the next take.
class FileReadBuffer {
public:
    explicit FileReadBuffer(std::size_t capacity = kSnapshotReadBytes) : capacity_(capacity) {}

    // False when path cannot be opened or is not a regular file.
    bool open(const std::string& path);
    // Bytes of the file not taken yet, counted from its size when opened.
    std::uint64_t remaining() const { return (end_ - begin_) + unread_; }
    bool has(std::uint64_t n) const { return n <= remaining(); }
    // The next n bytes (n no more than the capacity), or null when the file
    // holds fewer or a read fails (failed() tells which).
    const std::uint8_t* take(std::size_t n)
    {
        if (n > end_ - begin_ && !refill(n))
            return nullptr;
        const std::uint8_t* piece = buffer_.get() + begin_;
        begin_ += n;
        return piece;
    }
    // Appends the next n bytes to text, in pieces of at most the capacity.
    bool takeInto(std::string& text, std::uint64_t n);
    // A read returned an error or ended before the size the file had when opened.
    bool failed() const { return failed_; }

private:
    bool refill(std::size_t n);

    std::size_t capacity_;
    FileDescriptor fd_;
    // Not zero-filled: every byte handed out was read from the file first.
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t size_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t unread_ = 0;  // bytes of the file not read into the buffer yet
    bool failed_ = false;
};

// Collects bytes for a file descriptor and writes them a full buffer at a
// time. After a failed write the rest is discarded and error() keeps its errno.
class FileWriteBuffer {
public:
    // startWriteback: each full buffer is handed to the disk as soon as it
    // is written, for a file that will be fsynced.
    explicit FileWriteBuffer(int fd, std::size_t capacity = kSnapshotBufferBytes, bool startWriteback = false) :
        fd_(fd), buffer_(capacity), startWriteback_(startWriteback)
    {
    }

    // Room for the next n bytes (n no more than the capacity); what the
    // buffer holds is written first when it has no room left.
    std::span<std::uint8_t> next(std::size_t n)
    {
        if (n > buffer_.size() - used_)
            flush();
        const std::span<std::uint8_t> room(buffer_.data() + used_, n);
        used_ += n;
        return room;
    }
    // Adds bytes of any length, in pieces of at most the capacity.
    void append(std::string_view bytes);
    // Writes what the buffer holds; returns error().
    int flush();
    // errno of the first failed write, or 0.
    int error() const { return error_; }

private:
    int fd_;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    bool startWriteback_ = false;
    int error_ = 0;
};

} // namespace tamsin
