#pragma once
// Buffered whole-file reading and writing for snapshot files: one buffer
// each way, so a million-entry snapshot costs few system calls and no copy
// of the whole file in memory.

#include "common/FileDescriptor.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tamsin {

inline constexpr std::size_t kSnapshotBufferBytes = std::size_t{256} << 10;
// Reading wants less: each refill copies from the page cache into a buffer
// that stays in the core's cache, and a small file maps in fewer new pages.
inline constexpr std::size_t kSnapshotReadBytes = std::size_t{64} << 10;
// Files of at least this size are read a buffer ahead on a thread of their
// own; below it, starting the thread costs more than the copying it takes over.
inline constexpr std::uint64_t kSnapshotReadAheadBytes = std::uint64_t{2} << 20;

// Reads a regular file front to back, handing out contiguous pieces of its
// buffer that stay valid until the next take. Read ahead, a thread fills
// one buffer while the caller takes from the other.
class FileReadBuffer {
public:
    explicit FileReadBuffer(std::size_t capacity = kSnapshotReadBytes) : capacity_(capacity) {}
    FileReadBuffer(const FileReadBuffer&) = delete;
    FileReadBuffer& operator=(const FileReadBuffer&) = delete;
    ~FileReadBuffer() { stopReader(); }

    // False when path cannot be opened or is not a regular file. A file of
    // at least readAheadFrom bytes is read ahead (when a thread can start).
    bool open(const std::string& path, std::uint64_t readAheadFrom = UINT64_MAX);
    // Bytes of the file not taken yet, counted from its size when opened.
    std::uint64_t remaining() const { return (end_ - begin_) + unread_; }
    bool has(std::uint64_t n) const { return n <= remaining(); }
    // The next n bytes (n no more than the capacity), or null when the file
    // holds fewer or a read fails (failed() tells which).
    const std::uint8_t* take(std::size_t n)
    {
        if (n > end_ - begin_)
            return takeAcross(n);
        const std::uint8_t* piece = data_ + begin_;
        begin_ += n;
        return piece;
    }
    // Appends the next n bytes to text, in pieces of at most the capacity.
    bool takeInto(std::string& text, std::uint64_t n);
    // A read returned an error or ended before the size the file had when opened.
    bool failed() const { return failed_; }

private:
    // A buffer the reader thread fills and the caller takes from, in turn.
    struct Half {
        enum State : int { Empty, Full, Failed };
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
        std::atomic<int> state = Empty;
    };

    // take() for n bytes beyond what the buffer holds.
    const std::uint8_t* takeAcross(std::size_t n);
    const std::uint8_t* refill(std::size_t n);
    const std::uint8_t* nextHalf(std::size_t n);
    // Reads size bytes into to; false on an error or an end before them.
    bool readFull(std::uint8_t* to, std::size_t size);
    // The reader thread: fills the halves in turn, each once the caller has
    // handed it back, until size bytes are read or a read fails.
    void readAhead(std::uint64_t size);
    void stopReader();

    std::size_t capacity_;
    FileDescriptor fd_;
    // Not zero-filled: every byte handed out was read from the file first.
    std::unique_ptr<std::uint8_t[]> buffer_;
    const std::uint8_t* data_ = nullptr;  // the buffer or half taken from
    std::size_t size_ = 0;                // the largest piece handed out at once
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    // Bytes of the file not in the buffer yet: not read, or (read ahead) not
    // in the half taken from.
    std::uint64_t unread_ = 0;
    bool failed_ = false;

    // Read ahead: the caller takes from halves_[current_] and hands it back
    // when it moves on; the tail of a piece spanning both is joined in buffer_.
    Half halves_[2];
    int current_ = -1;  // none taken from yet
    std::atomic<bool> stopping_ = false;
    std::thread reader_;
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
