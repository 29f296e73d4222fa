#include "snapshot/SnapshotFileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tamsin {

bool FileReadBuffer::open(const std::string& path, std::uint64_t readAheadFrom)
{
    stopReader();
    fd_ = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd_.valid() || ::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    unread_ = static_cast<std::uint64_t>(st.st_size);
    begin_ = end_ = 0;
    failed_ = false;
    current_ = -1;
    if (unread_ >= readAheadFrom && capacity_ > 0) {
        size_ = capacity_;
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
        data_ = buffer_.get();  // holds nothing yet; take(0) still gets a piece
        for (Half& half : halves_) {
            half.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity_);
            half.state.store(Half::Empty);
        }
        stopping_ = false;
        try {
            reader_ = std::thread([this, size = unread_] { readAhead(size); });
            return true;
        } catch (const std::system_error&) {
            // No thread to spare: the caller's thread reads as it takes.
        }
    }
    // A small file gets a buffer of its own size.
    size_ = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, unread_));
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(size_);
    data_ = buffer_.get();
    return true;
}

const std::uint8_t* FileReadBuffer::takeAcross(std::size_t n)
{
    if (failed_ || n > remaining() || n > size_)
        return nullptr;
    return reader_.joinable() ? nextHalf(n) : refill(n);
}

const std::uint8_t* FileReadBuffer::refill(std::size_t n)
{
    // The unread tail moves to the front and the rest of the buffer is filled.
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - end_, unread_));
    if (!readFull(buffer_.get() + end_, want)) {
        failed_ = true;
        return nullptr;
    }
    end_ += want;
    unread_ -= want;
    if (end_ < n)
        return nullptr;
    begin_ = n;
    return buffer_.get();
}

const std::uint8_t* FileReadBuffer::nextHalf(std::size_t n)
{
    // The tail of the half taken from moves to the front of buffer_ before
    // that half goes back to the reader; the piece is completed there.
    const std::size_t have = end_ - begin_;
    if (have > 0)
        std::memcpy(buffer_.get(), data_ + begin_, have);
    if (current_ >= 0) {
        halves_[current_].state.store(Half::Empty, std::memory_order_release);
        halves_[current_].state.notify_one();
    }
    current_ = current_ < 0 ? 0 : current_ ^ 1;
    Half& half = halves_[current_];
    half.state.wait(Half::Empty, std::memory_order_acquire);
    // The file is n bytes or more longer (checked), so a whole half always
    // completes the piece unless its read failed or ended early.
    if (half.state.load(std::memory_order_acquire) == Half::Failed || n - have > half.size) {
        failed_ = true;
        data_ = buffer_.get();  // the tail stays counted as not taken
        begin_ = 0;
        end_ = have;
        return nullptr;
    }
    unread_ -= half.size;
    data_ = half.bytes.get();
    end_ = half.size;
    if (have == 0) {
        begin_ = n;
        return data_;
    }
    std::memcpy(buffer_.get() + have, data_, n - have);
    begin_ = n - have;
    return buffer_.get();
}

bool FileReadBuffer::readFull(std::uint8_t* to, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = ::read(fd_.get(), to + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void FileReadBuffer::readAhead(std::uint64_t left)
{
    for (int h = 0; left > 0; h ^= 1) {
        Half& half = halves_[h];
        half.state.wait(Half::Full, std::memory_order_acquire);  // until the caller hands it back
        if (stopping_.load())
            return;
        half.size = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, left));
        left -= half.size;
        const bool ok = readFull(half.bytes.get(), half.size);
        half.state.store(ok ? Half::Full : Half::Failed, std::memory_order_release);
        half.state.notify_one();
        if (!ok)
            return;
    }
}

void FileReadBuffer::stopReader()
{
    if (!reader_.joinable())
        return;
    stopping_.store(true);
    for (Half& half : halves_) {
        half.state.store(Half::Empty);
        half.state.notify_one();
    }
    reader_.join();
}

bool FileReadBuffer::takeInto(std::string& text, std::uint64_t n)
{
    if (!has(n))
        return false;
    while (n > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, std::max<std::size_t>(size_, 1)));
        const std::uint8_t* bytes = take(piece);
        if (!bytes)
            return false;
        text.append(reinterpret_cast<const char*>(bytes), piece);
        n -= piece;
    }
    return true;
}

void FileWriteBuffer::append(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t piece = std::min(bytes.size(), buffer_.size());
        std::memcpy(next(piece).data(), bytes.data(), piece);
        bytes.remove_prefix(piece);
    }
}

int FileWriteBuffer::flush()
{
    if (error_ == 0)
        error_ = writeAll(fd_, std::span(buffer_).first(used_));
    // The disk starts on these bytes while the next are made, so a closing
    // fsync has little left to wait for. Only a hint: errors come from fsync.
    if (error_ == 0 && startWriteback_ && used_ > 0)
        ::sync_file_range(fd_, static_cast<off64_t>(written_), static_cast<off64_t>(used_), SYNC_FILE_RANGE_WRITE);
    written_ += used_;
    used_ = 0;
    return error_;
}

} // namespace tamsin
