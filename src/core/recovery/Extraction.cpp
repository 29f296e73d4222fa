#include "recovery/Extraction.h"

#include "common/LittleEndian.h"
#include "disk/FileDevice.h"
#include "disk/SectorReader.h"
#include "mount/FatEntryReader.h"
#include "mount/FolderContents.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileChain.h"
#include "recovery/FileWriter.h"
#include "recovery/Prefetch.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tamsin {

namespace {

constexpr std::uint8_t kCompressedFlag = 0x04;
// Sectors are read in runs of up to 1 MiB and written in pieces of up to 1 MiB;
// a stop or skip takes effect between reads.
constexpr std::uint32_t kMaxRunSectors = 2048;
constexpr std::uint64_t kPieceBytes = kCopyPieceBytes;
static_assert(kPieceBytes == std::uint64_t{kMaxRunSectors} * kSectorSize);
// How far ahead of the copy the blocks of a large file are asked for.
constexpr std::uint64_t kPrefetchBytes = std::uint64_t{8} << 20;
// Names tried for a file whose name is taken before it counts as failed.
constexpr unsigned kMaxDuplicateNames = 10000;
// Never follow a link planted at the destination.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;

// The packed entry date as a time, when it names a real date and time.
bool entryTime(std::uint32_t value, timespec& out)
{
    const NetWareDateTime packed = decodeNetWareDateTime(value);
    std::tm tm{};
    tm.tm_sec = static_cast<int>(packed.seconds);
    tm.tm_min = static_cast<int>(packed.minutes);
    tm.tm_hour = static_cast<int>(packed.hours);
    tm.tm_mday = static_cast<int>(packed.day);
    tm.tm_mon = static_cast<int>(packed.month) - 1;
    tm.tm_year = static_cast<int>(packed.year) - 1900;
    tm.tm_isdst = -1;
    if (tm.tm_sec > 59 || tm.tm_min > 59 || tm.tm_hour > 23 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_mon < 0
        || tm.tm_mon > 11)
        return false;
    const std::tm asked = tm;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != asked.tm_mday)  // 31 Feb and the like
        return false;
    out = {t, 0};
    return true;
}

// Copies the sectors of one file into its open destination. With a writer,
// the pieces of a file larger than one piece are written on the writer's
// thread while the next ones are read. Progress is reported after each read,
// with or without a writer, so that a skip or stop asked for from the
// progress report ends the copy after the same read either way; the
// result counts a piece once it is written, and a failed write ends the
// result as if it had been made here.
class FileCopier {
public:
    FileCopier(const MountedVolume& volume, const SectorReader& reader, const RecoveryRunState& run,
               ExtractionObserver& observer, ExtractResult& result, int fd, bool recoveryMode, FileWriter* writer,
               SuballocationChains* chains) :
        volume_(volume), reader_(reader), io_(volume, reader), run_(run), observer_(observer), result_(result), fd_(fd),
        recoveryMode_(recoveryMode), writer_(writer), chains_(chains), fat_(volume, io_)
    {
    }

    FatEntryReader& fat() { return fat_; }
    SuballocationChains* chains() { return chains_; }
    const VolumeReader& io() const { return io_; }
    void setSize(std::uint64_t size) { size_ = size; }
    // Every byte of the size is written or queued.
    bool complete() const { return queued_ >= size_; }
    bool failed() const { return result_.outcome == ExtractOutcome::WriteFailed; }

    // Keeps the disk reading the blocks of a file larger than one piece up to
    // kPrefetchBytes ahead of chain position i, so that reading overlaps the
    // copy; a file with a sector that failed is not asked for again.
    void prefetchAhead(const std::vector<std::uint32_t>& values, std::size_t i)
    {
        if (size_ <= kPieceBytes || result_.unreadableSectors > 0 || prefetchedTo_ >= values.size())
            return;
        const std::uint64_t blockBytes = std::uint64_t{volume_.sectorsPerBlock} * kSectorSize;
        const std::size_t window = std::max<std::size_t>(2, kPrefetchBytes / blockBytes);
        if (prefetchedTo_ > i + window / 2)
            return;
        const std::size_t to = i + window;
        const std::size_t reached = prefetchBlocks(volume_, io_, values, std::max(prefetchedTo_, i), to);
        prefetchedTo_ = reached < std::min(to, values.size()) ? values.size() : to;
    }

    // Waits for the pieces queued; false when one of them failed, the result
    // then saying so as if that write had been made here.
    bool settle() { return handOver() && collect(pending_.empty() ? 0 : pending_.back().piece); }
    // A skip or stop came during a read; what that read left unread is not written.
    bool cancelled() const { return cancelled_; }

    // Copies count sectors from firstSector, stopping once size bytes are
    // written or, with maxBytes, after that many bytes. False when writing failed.
    bool copySectors(std::uint64_t firstSector, std::uint64_t count, std::uint64_t maxBytes = UINT64_MAX)
    {
        std::uint64_t done = 0;
        const std::uint64_t end = maxBytes > size_ - queued_ ? size_ : queued_ + maxBytes;
        while (done < count && queued_ < end && !cancelled_) {
            const std::uint64_t remaining = end - queued_;
            const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                {count - done, (kPieceBytes - held_) / kSectorSize, (remaining + kSectorSize - 1) / kSectorSize}));
            const std::span<std::uint8_t> room = roomFor(std::size_t{run} * kSectorSize);
            unreadable_.clear();
            const std::uint32_t unread = io_.read(firstSector + done, run, room, &unreadable_);
            if (unread > 0 && (run_.skipCurrentFile || run_.recoveryAborted)) {
                cancelled_ = true;
                return true;
            }
            result_.unreadableSectors += unread;
            const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(room.size(), remaining));
            std::uint64_t lostBytes = 0;
            for (std::uint32_t i : unreadable_)
                lostBytes += std::min<std::uint64_t>(kSectorSize, bytes - std::size_t{i} * kSectorSize);
            result_.unreadableBytes += lostBytes;
            if (!keep(bytes, unread, lostBytes))
                return false;
            done += run;
        }
        return true;
    }

    // Writes bytes zeros (a hole of a sparse file), no further than the size.
    bool writeZeros(std::uint64_t bytes)
    {
        while (bytes > 0 && !complete()) {
            const auto n = static_cast<std::size_t>(std::min({bytes, kPieceBytes - held_, size_ - queued_}));
            const std::span<std::uint8_t> room = roomFor(n);
            std::fill(room.begin(), room.end(), std::uint8_t{0});
            if (!keep(n, 0, 0))
                return false;
            bytes -= n;
        }
        return true;
    }

    // Copies one fragment: from its sector in its suballocation block on, for
    // the fragment's length (size class x 512 bytes, which may run into the
    // next block of that chain), or until size bytes are written. Bytes past
    // that length belong to the next fragment of the class, never to this file.
    bool copyFragment(std::uint32_t reference)
    {
        const FragmentReference fragment = decodeFragmentReference(reference);
        std::uint64_t left = std::uint64_t{fragment.sizeClass} * kSectorSize;
        if (left == 0) {
            result_.missingFragment = true;  // size class 0 holds no bytes
            return true;
        }
        const std::uint32_t spb = volume_.sectorsPerBlock;
        const std::uint64_t s = fragment.startSector();
        const std::uint64_t p = s / spb;
        const std::uint32_t o = static_cast<std::uint32_t>(s % spb);
        const std::uint32_t root = volume_.suballocationRoots[fragment.sizeClass];
        // The chain is read only after the pieces before it are written, as
        // when every write was made here: a failed one ends the copy first.
        if (!settle())
            return false;
        FileChain own;
        const FileChain& chain =
            root != 0 ? suballocationChain(volume_, fat_, chains_, fragment.sizeClass, p + 2, own) : own;
        for (std::uint64_t position = p; position <= p + 1 && !complete() && !cancelled_; ++position) {
            if (root == 0 || !chainHasBlockAt(chain, position)) {
                result_.missingFragment = true;
                return true;
            }
            const std::uint64_t first = volume_.blockStart(chain.values[position]) + (position == p ? o : 0);
            const std::uint64_t before = queued_;
            if (!copySectors(first, spb - (position == p ? o : 0), left))
                return false;
            left -= std::min(left, queued_ - before);
            if (left == 0)
                break;
        }
        return true;
    }

private:
    struct Pending {
        std::uint64_t piece;  // the writer's number
        std::size_t bytes;
        std::uint32_t unreadSectors;
        std::uint64_t unreadBytes;
    };

    // The bytes after those held in the buffer, to be read into.
    std::span<std::uint8_t> roomFor(std::size_t bytes)
    {
        if (buffer_.size() < held_ + bytes)
            buffer_.resize(held_ + bytes);
        return std::span(buffer_).subspan(held_, bytes);
    }

    // Adds the bytes just placed after those held. Bytes read from blocks
    // apart on the disk gather into one piece: a write (and, for the writer,
    // a hand-over) per 64 KiB block of a fragmented file cost more than the
    // copy. A full piece, and the last of the file, goes out at once; the
    // rest goes out when the copy ends, whatever ends it.
    bool keep(std::size_t bytes, std::uint32_t unreadSectors, std::uint64_t unreadBytes)
    {
        held_ += bytes;
        heldUnreadSectors_ += unreadSectors;
        heldUnreadBytes_ += unreadBytes;
        queued_ += bytes;
        if ((held_ + kSectorSize > kPieceBytes || complete()) && !handOver())
            return false;
        if (recoveryMode_)
            observer_.fileProgress(static_cast<int>(queued_ * 100 / size_));
        return true;
    }

    // Writes the bytes held: here, or queued for the writer when the file
    // takes more than one piece and this is not its last one written with
    // nothing before it pending.
    bool handOver()
    {
        const std::size_t bytes = std::exchange(held_, 0);
        const Pending piece{0, bytes, std::exchange(heldUnreadSectors_, 0), std::exchange(heldUnreadBytes_, 0)};
        if (bytes == 0 || failed())
            return !failed();
        const bool queue = writer_ && size_ > kPieceBytes && (!complete() || !pending_.empty());
        if (!queue) {
            if (!writeAll(bytes))
                return false;
            result_.bytesWritten += bytes;
            return true;
        }
        buffer_.resize(bytes);
        std::vector<std::uint8_t> next = writer_->takeBuffer();
        pending_.push_back(piece);
        pending_.back().piece = writer_->write(fd_, std::exchange(buffer_, std::move(next)));
        return collect(0);
    }

    // Takes the pieces the writer has handled (waiting for piece waitFor):
    // written ones count; at a failed one the copy ends as if its write had
    // failed here, before the pieces after it were read.
    bool collect(std::uint64_t waitFor)
    {
        if (pending_.empty())
            return !failed();
        const FileWriter::Status status = writer_->status(waitFor);
        while (!pending_.empty() && pending_.front().piece <= status.done) {
            if (status.failedPiece != 0 && pending_.front().piece >= status.failedPiece) {
                for (std::size_t i = 1; i < pending_.size(); ++i) {
                    result_.unreadableSectors -= pending_[i].unreadSectors;
                    result_.unreadableBytes -= pending_[i].unreadBytes;
                }
                pending_.clear();
                writer_->clearFailure();
                result_.outcome = ExtractOutcome::WriteFailed;
                result_.error = status.error;
                return false;
            }
            result_.bytesWritten += pending_.front().bytes;
            pending_.pop_front();
        }
        return true;
    }

    bool writeAll(std::size_t bytes)
    {
        if (const int error = tamsin::writeAll(fd_, std::span(buffer_).first(bytes)); error != 0) {
            result_.outcome = ExtractOutcome::WriteFailed;
            result_.error = error;
            return false;
        }
        return true;
    }

    const MountedVolume& volume_;
    const SectorReader& reader_;
    VolumeReader io_;
    const RecoveryRunState& run_;
    ExtractionObserver& observer_;
    ExtractResult& result_;
    int fd_;
    bool recoveryMode_;
    FileWriter* writer_;
    SuballocationChains* chains_;
    FatEntryReader fat_;
    std::uint64_t size_ = 0;
    std::uint64_t queued_ = 0;  // bytes written or queued
    std::deque<Pending> pending_;  // queued, in order, not yet taken
    std::size_t prefetchedTo_ = 0;  // chain positions before it were asked for
    std::vector<std::uint8_t> buffer_;
    std::size_t held_ = 0;  // bytes at the front of buffer_ read but not yet written or queued
    std::uint32_t heldUnreadSectors_ = 0;
    std::uint64_t heldUnreadBytes_ = 0;
    std::vector<std::uint32_t> unreadable_;
    bool cancelled_ = false;
};

// Reads the compressed-stream header of the first data sector. Returns the
// stored length when its check size equals size.
bool compressedLength(const VolumeReader& io, std::optional<std::uint64_t> sector, std::uint32_t size,
                      std::uint32_t& storedLength)
{
    std::uint8_t header[kSectorSize];
    if (!sector)
        return false;
    io.read(*sector, 1, header);
    if (readU32(header, 4) != size)
        return false;
    storedLength = readU32(header, 8);
    return true;
}

} // namespace

ExtractRequest extractRequestFor(const TreeNode& node, std::string folder, std::string name, ExtractMode mode)
{
    ExtractRequest request;
    request.destFolder = std::move(folder);
    request.name = std::move(name);
    request.size = node.size;
    request.firstBlock = node.firstBlock;
    request.flags = node.attributesHigh;
    request.dateTime = node.dateTime;
    request.modifiedDateTime = node.modifiedDateTime;
    request.mode = mode;
    return request;
}

std::optional<timespec> destinationTime(const ExtractRequest& request, const ExtractResult& result)
{
    timespec when{};
    if (result.outcome == ExtractOutcome::Written
        && (entryTime(request.modifiedDateTime, when) || entryTime(request.dateTime, when)))
        return when;
    return std::nullopt;
}

FileDescriptor createNewFile(const std::string& path)
{
    return FileDescriptor(::open(path.c_str(), kCreateFlags | O_EXCL, 0644));
}

ExtractResult extractFile(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                          ExtractionObserver& observer, const ExtractRequest& request, FileWriter* writer,
                          FileDescriptor created, SuballocationChains* chains)
{
    ExtractResult result;
    if (run.recoveryAborted) {
        // Nothing is created for a file the run does not start.
        if (created.valid()) {
            created = FileDescriptor();
            ::unlink(joinPath(request.destFolder, request.name).c_str());
        }
        return result;
    }
    run.skipCurrentFile = false;

    const bool recoveryMode = request.mode == ExtractMode::Recovery;
    result.nameUsed = request.name;
    result.path = joinPath(request.destFolder, request.name);
    FileDescriptor fd = std::move(created);
    // A run first tries to make the file new: when that works the name was
    // free, which saves asking. Anything else takes the way below.
    if (!fd.valid() && recoveryMode && writer)
        fd = createNewFile(result.path);
    if (fd.valid()) {
        observer.fileStarted(result.path, result.nameUsed, run.filesStarted++);
        observer.fileProgress(0);
    } else if (recoveryMode) {
        if (pathExists(result.path)) {
            if (request.duplicates == DuplicateAction::Skip) {
                result.outcome = ExtractOutcome::SkippedDuplicate;
                return result;
            }
            if (request.duplicates == DuplicateAction::Rename) {
                // Bounded, so that no destination can keep the search going.
                bool found = false;
                for (unsigned n = 1; n <= kMaxDuplicateNames && !found; ++n) {
                    const std::string candidate = duplicateName(n, request.name);
                    if (!pathExists(joinPath(request.destFolder, candidate))) {
                        result.nameUsed = candidate;
                        result.path = joinPath(request.destFolder, candidate);
                        found = true;
                    }
                }
                if (!found) {
                    result.outcome = ExtractOutcome::CreateFailed;
                    result.error = EEXIST;
                    if (!observer.continueAfterCreateError(result.path))
                        run.recoveryAborted = true;
                    return result;
                }
            } else {
                // Overwriting: a file of this run still waiting to be closed
                // may be this one, and its time must be set before it is written again.
                if (writer)
                    writer->drain();
                // A file with other names (hard links) is replaced, not
                // written through: those names keep their data. So is a pipe,
                // socket or device node, which would take the data elsewhere
                // (or make the open wait). A link or folder stays and fails
                // the open below.
                struct stat st {};
                if (::lstat(result.path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)
                    && (!S_ISREG(st.st_mode) || st.st_nlink > 1))
                    ::unlink(result.path.c_str());
            }
        }
        observer.fileStarted(result.path, result.nameUsed, run.filesStarted++);
        observer.fileProgress(0);
    }

    if (!fd.valid())
        fd = FileDescriptor(::open(result.path.c_str(), kCreateFlags | O_TRUNC, 0644));
    if (!fd.valid()) {
        result.outcome = ExtractOutcome::CreateFailed;
        result.error = errno;
        if (recoveryMode && !observer.continueAfterCreateError(result.path))
            run.recoveryAborted = true;
        return result;
    }

    copyFileContents(volume, reader, run, observer, request, fd.get(), result, writer, chains);
    const std::optional<timespec> when = destinationTime(request, result);
    if (writer) {
        writer->finish(std::move(fd), when, result.path);
        return result;
    }
    if (when) {
        const timespec times[2] = {*when, *when};
        ::futimens(fd.get(), times);
    }
    // A network or quota-bound file system may report only at the close that
    // the bytes did not all reach it. EINTR leaves the descriptor closed.
    if (::close(fd.release()) != 0 && errno != EINTR && result.outcome == ExtractOutcome::Written) {
        result.outcome = ExtractOutcome::WriteFailed;
        result.error = errno;
    }
    return result;
}

void copyFileContents(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                      ExtractionObserver& observer, const ExtractRequest& request, int fd, ExtractResult& result,
                      FileWriter* writer, SuballocationChains* chains)
{
    result.outcome = ExtractOutcome::Written;
    // Skip File and Stop Saving also end a read that is retrying a failing
    // run sector by sector.
    const ReadCancelScope cancel{&run.skipCurrentFile, &run.recoveryAborted};
    FileCopier copier(volume, reader, run, observer, result, fd, request.mode == ExtractMode::Recovery, writer, chains);
    // Whatever way the copy ends, the pieces queued are written (or their
    // failure taken) before it returns, and the result says whether the
    // chain met FAT sectors that neither copy could read.
    struct EndCopy {
        FileCopier& copier;
        ExtractResult& result;
        ~EndCopy()
        {
            copier.settle();
            result.fatLost = copier.fat().lostEntries() > 0;
        }
    } endCopy{copier, result};
    std::uint32_t size = request.size;
    const bool compressed = (request.flags & kCompressedFlag) != 0;

    if (isFragmentReference(request.firstBlock)) {
        if (size > std::uint64_t{volume.sectorsPerBlock} * kSectorSize) {
            result.outcome = ExtractOutcome::FragmentTooLarge;
            return;
        }
        if (compressed && !compressedLength(copier.io(), fragmentStartSector(volume, copier.fat(), request.firstBlock, copier.chains()), size, size)) {
            observer.notice(ExtractNotice::ChecksumError);
            result.outcome = ExtractOutcome::ChecksumError;
            return;
        }
        result.expectedBytes = size;
        copier.setSize(size);
        copier.copyFragment(request.firstBlock);
        if (copier.cancelled()) {
            run.skipCurrentFile = false;
            result.outcome = ExtractOutcome::SkippedByUser;
        }
        return;
    }

    if (!firstBlockHoldsData(volume, request.firstBlock)) {
        result.expectedBytes = size;
        return;
    }
    if (compressed && !compressedLength(copier.io(), volume.blockStart(request.firstBlock), size, size)) {
        observer.notice(ExtractNotice::ChecksumError);
        result.outcome = ExtractOutcome::ChecksumError;
        return;
    }
    result.expectedBytes = size;
    copier.setSize(size);

    const std::uint64_t blockBytes = std::uint64_t{volume.sectorsPerBlock} * kSectorSize;
    const FileChain chain = buildFileChain(volume, copier.fat(), request.firstBlock, (size + blockBytes - 1) / blockBytes + 1);
    result.chainLooped = chain.looped;
    const auto& values = chain.values;
    // Which block of the file the block at chain position k holds when next
    // is the first one not yet written: its FAT index when that skips ahead
    // within the size (the blocks skipped are holes), else next. An index
    // that does not move ahead, or lies past the size, is not trusted.
    const std::uint64_t sizeBlocks = (std::uint64_t{size} + blockBytes - 1) / blockBytes;
    auto indexAt = [&](std::size_t k, std::uint64_t next) {
        const std::uint64_t index = k < chain.indexes.size() ? chain.indexes[k] : next;
        return index > next && index < sizeBlocks ? index : next;
    };
    std::uint64_t nextIndex = 0;
    for (std::size_t i = 0; i < values.size() && !copier.complete();) {
        if (run.skipCurrentFile || run.recoveryAborted) {
            run.skipCurrentFile = false;
            result.outcome = ExtractOutcome::SkippedByUser;
            return;
        }
        const std::uint32_t value = values[i];
        if (value == 0xFFFFFFFFu || (value == 0 && i > 0))
            break;
        if (isFragmentReference(value)) {
            copier.copyFragment(value);
            break;
        }
        const std::uint64_t index = indexAt(i, nextIndex);
        if (!copier.writeZeros((index - nextIndex) * blockBytes))
            return;
        // Consecutive blocks holding consecutive parts of the file are copied as one run.
        std::size_t j = i + 1;
        while (j < values.size() && values[j] == values[j - 1] + 1 && (values[j] & kTopBit) == 0
               && indexAt(j, index + (j - i)) == index + (j - i)
               && (j - i) * volume.sectorsPerBlock < kMaxRunSectors)
            ++j;
        copier.prefetchAhead(values, i);
        if (!copier.copySectors(volume.blockStart(value), std::uint64_t{j - i} * volume.sectorsPerBlock))
            return;
        nextIndex = index + (j - i);
        i = j;
    }
    if (copier.cancelled()) {
        run.skipCurrentFile = false;
        result.outcome = ExtractOutcome::SkippedByUser;
    }
}

} // namespace tamsin
