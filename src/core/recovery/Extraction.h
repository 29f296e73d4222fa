#pragma once
// Copies one file of the mounted volume to the local file system by following
// its chain through the chosen FAT (FileCopier) into a destination file made
// under the duplicate rule (DestinationFile). The volume is only ever read.

#include "common/FileDescriptor.h"
#include "recovery/RecoverySettings.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tamsin {

class FileWriter;
class MountedVolume;
class SectorReader;
class SuballocationChains;
struct TreeNode;

// What an extraction tells the user as it happens; the front ends word it.
enum class ExtractNotice {
    ChecksumError,      // a compressed file's stored header does not carry its size
    CompressedNotOpened,  // a compressed file was asked to be opened for viewing
};
// A copy writes its file in pieces of up to this many bytes; a file of one
// piece is written in one go when its data is read.
inline constexpr std::uint64_t kCopyPieceBytes = std::uint64_t{1} << 20;

// Flags of a recovery run, shared between the worker and the front end.
struct RecoveryRunState {
    std::atomic<bool> recoveryAborted{false};  // no further file is created
    std::atomic<bool> skipCurrentFile{false};  // the file being copied is left as it stands
    std::atomic<bool> recoveryFinished{false};
    std::atomic<std::uint32_t> filesStarted{0};

    void reset()
    {
        recoveryAborted = false;
        skipCurrentFile = false;
        recoveryFinished = false;
    }
};

class ExtractionObserver {
public:
    virtual ~ExtractionObserver() = default;
    // Recovery mode: a file is about to be written (filesStarted before it counts).
    virtual void fileStarted(const std::string& /*path*/, const std::string& /*name*/, std::uint32_t /*filesStarted*/) {}
    // Recovery mode: percentage of the file written so far.
    virtual void fileProgress(int /*percent*/) {}
    // Recovery mode: the destination could not be created. Return false to
    // abandon the run.
    virtual bool continueAfterCreateError(const std::string& /*path*/) { return true; }
    // Something for the user to know now.
    virtual void notice(ExtractNotice /*notice*/) {}
};

enum class ExtractMode { Quiet = 0, Recovery = 1 };

struct ExtractRequest {
    std::string destFolder;
    std::string name;  // destination file name, already safe for the local file system
    std::uint32_t size = 0;
    std::uint32_t firstBlock = 0;
    std::uint8_t flags = 0;  // the node's attributesHigh (0x04 = compressed)
    std::uint32_t dateTime = 0;  // packed creation stamp; used as modification time when that is not valid
    std::uint32_t modifiedDateTime = 0;  // packed modification stamp; a valid one becomes the file's modification time
    ExtractMode mode = ExtractMode::Quiet;
    DuplicateAction duplicates = DuplicateAction::Rename;  // recovery mode only
};

// The request that copies node's data and times into folder/name.
ExtractRequest extractRequestFor(const TreeNode& node, std::string folder, std::string name, ExtractMode mode);

enum class ExtractOutcome {
    Written,            // the destination was written and closed (maybe shorter than the size)
    Aborted,            // the run was abandoned before this file; nothing created
    SkippedDuplicate,   // the name was taken and the rule is Skip; nothing created
    SkippedByUser,      // skip or stop during the copy; the partial file stays
    CreateFailed,       // the destination could not be created
    ChecksumError,      // compressed header does not carry the entry's size; empty file stays
    FragmentTooLarge,   // fragment-only file larger than one block; empty file stays
    WriteFailed,        // writing the destination failed (e.g. disk full); partial file stays
};

struct ExtractResult {
    ExtractOutcome outcome = ExtractOutcome::Aborted;
    std::string path;      // destination path used
    std::string nameUsed;  // differs from the request's name after a rename
    std::uint64_t bytesWritten = 0;
    std::uint64_t expectedBytes = 0;  // the size, or the stored length of a compressed file
    std::uint32_t unreadableSectors = 0;  // written as zeros
    std::uint64_t unreadableBytes = 0;    // bytes of the file, within its length, in those sectors
    bool fatLost = false;  // its chain met FAT entries that neither FAT copy could read
    bool missingFragment = false;  // a fragment's suballocation block could not be found
    bool chainLooped = false;
    int error = 0;  // errno of a failed create or write

    // Result 1 of the classic routine: the destination was written and closed.
    bool written() const { return outcome == ExtractOutcome::Written; }
    // Written, but not every byte could be recovered as it was.
    bool incomplete() const
    {
        return written() && (bytesWritten < expectedBytes || unreadableSectors > 0 || missingFragment);
    }
    // Bytes of the file lost to unreadable sectors: those written as zeros
    // and, when the chain broke on an unreadable FAT sector, those it no
    // longer reaches.
    std::uint64_t damagedBytes() const
    {
        const std::uint64_t unreached = fatLost && bytesWritten < expectedBytes ? expectedBytes - bytesWritten : 0;
        return unreadableBytes + unreached;
    }
};

// Creates the destination (duplicate rule and progress in recovery mode) and
// copies the file into it. With a writer, large files are written on its
// thread while they are read, and the file's time is set and the file closed
// there after this returns (the result is final all the same); the caller
// drains the writer before it relies on times or closed files. A run may
// pass the destination already made by createNewFile under the request's
// name: it is then taken as the file this call created, and the
// suballocation chains it keeps for all its files.
ExtractResult extractFile(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                          ExtractionObserver& observer, const ExtractRequest& request, FileWriter* writer = nullptr,
                          FileDescriptor created = {}, SuballocationChains* chains = nullptr);

} // namespace tamsin
