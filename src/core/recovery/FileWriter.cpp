#include "recovery/FileWriter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tamsin {
namespace {

// Buffers kept for reuse: about as many as the pending bytes hold.
constexpr std::size_t kMaxSpareBuffers = 32;

// Asks the kernel to start writing the file's dirty pages out now, without
// waiting for them: after each piece of a large file, so that the
// destination disk works while the rest of the volume is read and dirty
// pages do not pile up in memory. Small files are left to the kernel's own
// writeback, which writes many of them in one go; starting it for each one
// cost as much as it saved. Only a hint: a file system that cannot (tmpfs)
// ignores it, and write errors still surface where they did.
void startWriteback(int fd)
{
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

// Pages of a large file lying more than kDropLag behind the end written are
// waited for and dropped from the page cache, kDropStep at a time. A
// recovery of gigabytes then cycles through a few megabytes of cache instead
// of filling memory with files nobody reads back, and the next pieces land
// in pages just freed: on a virtual machine, pages the host has not backed
// yet cost two to three times as much to write. The wait holds the writer
// back only when the destination disk falls that far behind.
// Called after a piece of bytes ending at the file's position, it drops the
// steps that piece carried past the lag, so nothing is remembered per file.
// Only a hint, like startWriteback.
void dropWrittenBehind(int fd, std::size_t bytes)
{
    constexpr off_t kDropLag = FileWriter::kDropLag;
    constexpr off_t kDropStep = FileWriter::kDropStep;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < kDropLag + kDropStep)
        return;
    const off_t before = std::max<off_t>(end - static_cast<off_t>(bytes) - kDropLag, 0);
    const off_t from = before / kDropStep * kDropStep;
    const off_t to = (end - kDropLag) / kDropStep * kDropStep;
    if (to <= from)
        return;
    ::sync_file_range(fd, from, to - from,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd, from, to - from, POSIX_FADV_DONTNEED);
}

} // namespace

FileWriter::FileWriter(std::size_t maxPendingBytes) : maxPendingBytes_(maxPendingBytes), thread_([this] { work(); })
{
}

FileWriter::~FileWriter()
{
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    queued_.notify_one();  // the writer does every job left before it ends
    thread_.join();
}

std::uint64_t FileWriter::write(int fd, std::vector<std::uint8_t> data)
{
    std::unique_lock lock(mutex_);
    unannounced_ = 0;  // woken below
    // One piece always fits, however large, so that nothing waits forever.
    handled_.wait(lock, [&] { return pendingBytes_ == 0 || pendingBytes_ + data.size() <= maxPendingBytes_; });
    pendingBytes_ += data.size();
    Job job;
    job.fd = fd;
    job.data = std::move(data);
    job.isPiece = true;
    jobs_.push_back(std::move(job));
    ++jobsQueued_;
    const std::uint64_t piece = ++piecesQueued_;
    lock.unlock();
    queued_.notify_one();
    return piece;
}

FileWriter::Status FileWriter::status(std::uint64_t waitFor)
{
    wakeWriter();
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return status_.done >= waitFor; });
    return status_;
}

void FileWriter::clearFailure()
{
    wakeWriter();
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return status_.done == piecesQueued_; });
    status_.failedPiece = 0;
    status_.error = 0;
}

void FileWriter::finish(FileDescriptor fd, std::optional<timespec> when, std::string path)
{
    std::unique_lock lock(mutex_);
    if (pendingFiles_ >= kMaxPendingFiles) {
        unannounced_ = 0;
        queued_.notify_one();
        handled_.wait(lock, [&] { return pendingFiles_ < kMaxPendingFiles; });
    }
    ++pendingFiles_;
    Job job;
    job.owned = std::move(fd);
    job.when = when;
    job.path = std::move(path);
    jobs_.push_back(std::move(job));
    ++jobsQueued_;
    if (++unannounced_ < kFinishBatch)
        return;
    unannounced_ = 0;
    lock.unlock();
    queued_.notify_one();
}

void FileWriter::closedElsewhere(std::string path, int error)
{
    std::unique_lock lock(mutex_);
    Job job;
    job.path = std::move(path);
    job.closeError = error;
    ++pendingFiles_;
    jobs_.push_back(std::move(job));
    ++jobsQueued_;
    unannounced_ = 0;
    lock.unlock();
    queued_.notify_one();
}

void FileWriter::wakeWriter()
{
    {
        std::lock_guard lock(mutex_);
        if (unannounced_ == 0)
            return;
        unannounced_ = 0;
    }
    queued_.notify_one();
}

void FileWriter::drain()
{
    wakeWriter();
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return jobsDone_ == jobsQueued_; });
}

std::vector<FileWriter::CloseFailure> FileWriter::takeCloseFailures()
{
    std::lock_guard lock(mutex_);
    return std::exchange(closeFailures_, {});
}

std::vector<std::uint8_t> FileWriter::takeBuffer()
{
    std::lock_guard lock(mutex_);
    if (spare_.empty())
        return {};
    std::vector<std::uint8_t> buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
}

void FileWriter::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [&] { return ending_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;  // ending, with nothing left to do
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        const bool dropped = job.isPiece && status_.failedPiece != 0;
        lock.unlock();

        int error = 0;
        if (job.isPiece) {
            if (!dropped)
                error = writeAll(job.fd, job.data);
            if (!dropped && error == 0) {
                startWriteback(job.fd);
                dropWrittenBehind(job.fd, job.data.size());
            }
        } else if (!job.owned.valid()) {
            error = job.closeError;
        } else {
            if (job.when) {
                const timespec times[2] = {*job.when, *job.when};
                ::futimens(job.owned.get(), times);
            }
            // EINTR leaves the descriptor closed on Linux, its bytes handed over.
            if (::close(job.owned.release()) != 0 && errno != EINTR)
                error = errno;
        }

        lock.lock();
        if (job.isPiece) {
            ++status_.done;
            if (error != 0 && status_.failedPiece == 0) {
                status_.failedPiece = status_.done;
                status_.error = error;
            }
            pendingBytes_ -= job.data.size();
            if (spare_.size() < kMaxSpareBuffers)
                spare_.push_back(std::move(job.data));
        } else {
            --pendingFiles_;
            if (error != 0)
                closeFailures_.push_back({std::move(job.path), error});
        }
        ++jobsDone_;
        handled_.notify_all();
    }
}

} // namespace tamsin
