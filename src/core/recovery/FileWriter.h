#pragma once
// Writes the destination files of a recovery run on a thread of its own, so
// that the volume is read while the local file system works: the pieces of
// the file being copied, then setting each file's time and closing it. The
// writer starts the writeback of each piece once it is written, so that the
// destination disk writes while the volume is read, and drops the pages of a
// large file from the page cache once they are on the disk.
// Pieces are written in the order queued; a failed piece makes the writer
// drop the pieces queued after it until the caller collects the failure.

#include "common/FileDescriptor.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include <ctime>

namespace tamsin {

class FileWriter {
public:
    // Bytes of queued pieces before write() waits, and files waiting to be
    // closed before finish() waits (each holds a descriptor).
    static constexpr std::size_t kDefaultPendingBytes = std::size_t{16} << 20;
    static constexpr std::size_t kMaxPendingFiles = 256;
    // Files queued for finishing before the writer is woken for them: a
    // wake-up per small file costs the reading thread more than the close.
    static constexpr std::size_t kFinishBatch = 16;
    // A file's pages this far behind the end written are dropped from the
    // page cache once written back, this many bytes at a time.
    static constexpr std::int64_t kDropLag = std::int64_t{8} << 20;
    static constexpr std::int64_t kDropStep = std::int64_t{4} << 20;

    explicit FileWriter(std::size_t maxPendingBytes = kDefaultPendingBytes);
    ~FileWriter();  // does every queued job first
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Queues data for fd, which stays open until a finish() queued after it.
    // Returns the piece's number (1, 2, ... over the writer's life).
    std::uint64_t write(int fd, std::vector<std::uint8_t> data);

    struct Status {
        std::uint64_t done = 0;         // pieces handled, in order
        std::uint64_t failedPiece = 0;  // the first piece that failed, 0 for none
        int error = 0;                  // its errno
    };
    // The pieces handled so far; with waitFor, after waiting until that piece is handled.
    Status status(std::uint64_t waitFor = 0);
    // Forgets a failure, once every piece queued has been handled; the next piece is written again.
    void clearFailure();

    // Queues setting the file's access and modification times (when given)
    // and closing it. path names the file when its close fails.
    void finish(FileDescriptor fd, std::optional<timespec> when, std::string path = {});

    // A file of the run closed on another thread whose close failed: kept
    // among the close failures in the order of finish() and this.
    void closedElsewhere(std::string path, int error);

    // A file whose close failed: a network or quota-bound file system may
    // report there that the written bytes did not all reach it.
    struct CloseFailure {
        std::string path;
        int error = 0;
    };
    // The close failures since the last call, in the order the files were finished.
    std::vector<CloseFailure> takeCloseFailures();

    // Waits until every queued job is done.
    void drain();

    // A buffer for the next piece (any size, any content), reusing one the writer is done with.
    std::vector<std::uint8_t> takeBuffer();

private:
    struct Job {
        int fd = -1;
        std::vector<std::uint8_t> data;  // a piece
        FileDescriptor owned;            // a file to finish
        std::optional<timespec> when;
        std::string path;                // of a file to finish
        int closeError = 0;              // of a file closed elsewhere
        bool isPiece = false;
    };

    void work();
    // Wakes the writer for jobs queued without waking it (the lock not held).
    void wakeWriter();

    const std::size_t maxPendingBytes_;
    std::mutex mutex_;
    std::condition_variable queued_;   // a job came, or the writer ends
    std::condition_variable handled_;  // a job was done
    std::deque<Job> jobs_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::size_t pendingBytes_ = 0;
    std::size_t pendingFiles_ = 0;
    std::size_t unannounced_ = 0;  // finishing jobs queued since the writer was last woken
    std::uint64_t piecesQueued_ = 0;
    std::uint64_t jobsQueued_ = 0;
    std::uint64_t jobsDone_ = 0;
    Status status_;
    std::vector<CloseFailure> closeFailures_;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace tamsin
