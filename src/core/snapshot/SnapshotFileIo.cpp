#include "snapshot/SnapshotFileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {

bool FileReadBuffer::open(const std::string& path)
{
    fd_ = FileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd_.valid() || ::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    unread_ = static_cast<std::uint64_t>(st.st_size);
    // A small file gets a buffer of its own size.
    size_ = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, unread_));
    buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(size_);
    begin_ = end_ = 0;
    failed_ = false;
    return true;
}

bool FileReadBuffer::refill(std::size_t n)
{
    if (failed_ || n > remaining() || n > size_)
        return false;
    // The unread tail moves to the front and the rest of the buffer is filled.
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < size_ && unread_ > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size_ - end_, unread_));
        const ssize_t got = ::read(fd_.get(), buffer_.get() + end_, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            failed_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(got);
        unread_ -= static_cast<std::uint64_t>(got);
    }
    return end_ >= n;
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
