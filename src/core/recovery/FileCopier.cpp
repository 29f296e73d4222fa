#include "recovery/FileCopier.h"

#include "common/LittleEndian.h"
#include "common/FileDescriptor.h"
#include "disk/SectorReader.h"
#include "mount/FatEntryReader.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"
#include "recovery/FileChain.h"
#include "recovery/FileWriter.h"
#include "recovery/Prefetch.h"

#include <algorithm>
#include <deque>
#include <optional>
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

    // Copies one fragment: the sectors of it that hold the file's next
    // bytes (fragmentSectors), until size bytes are written. Bytes past its
    // length belong to the next fragment of the class, never to this file.
    bool copyFragment(std::uint32_t reference)
    {
        // The chain is read only after the pieces before it are written, as
        // when every write was made here: a failed one ends the copy first.
        if (!settle())
            return false;
        const FragmentSectors found = fragmentSectors(volume_, fat_, reference, size_ - queued_, chains_);
        for (const SectorRun& sectors : found.runs) {
            if (!copySectors(sectors.first, sectors.count))
                return false;
            if (cancelled_ || complete())
                return true;
        }
        if (found.missing)
            result_.missingFragment = true;
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
    bool afterHole = false;
    for (const FileExtent& extent : fileExtents(chain, size, volume.sectorsPerBlock, kMaxRunSectors / std::max(volume.sectorsPerBlock, 1u))) {
        // A skip or stop is taken before each block of the chain (a hole
        // and the blocks after it are one step).
        if (!afterHole && (run.skipCurrentFile || run.recoveryAborted)) {
            run.skipCurrentFile = false;
            result.outcome = ExtractOutcome::SkippedByUser;
            return;
        }
        afterHole = extent.kind == FileExtent::Kind::Hole;
        if (extent.kind == FileExtent::Kind::Fragment) {
            copier.copyFragment(extent.value);
            break;
        }
        if (extent.kind == FileExtent::Kind::Hole) {
            if (!copier.writeZeros(extent.bytes))
                return;
            continue;
        }
        copier.prefetchAhead(chain.values, extent.position);
        if (!copier.copySectors(volume.blockStart(extent.value), extent.bytes / kSectorSize))
            return;
    }
    if (copier.cancelled()) {
        run.skipCurrentFile = false;
        result.outcome = ExtractOutcome::SkippedByUser;
    }
}

} // namespace tamsin
