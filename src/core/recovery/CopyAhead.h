#pragma once
// Makes the folders and files of a rename-rule recovery run ahead of its
// copy, on a thread of its own, and copies small files ahead while the run
// copies a large one.
//
// Thread contract:
// - The CopyAhead thread owns the DestinationTree (and its MadePaths), its
//   own SuballocationChains, FirstBlockPrefetch and RecoveryRunState, from
//   construction until stop() returns. The run's thread touches none of them
//   meanwhile; after stop() (which joins) the DestinationTree is the run's.
// - A PreparedFile belongs to the CopyAhead thread until take() hands it
//   over; from then on it is the run's, descriptor and kept reports included.
// - The run tells the thread how far it got through finished() and
//   copyingLargeFile(); everything they share is under one mutex.
// - Both threads read the volume through the same SectorReader, whose reads
//   are safe from several threads (disk/Device.h).
// - The run's flags (RecoveryRunState) are atomics the thread only reads.

#include "common/FileDescriptor.h"
#include "recovery/DestinationTree.h"
#include "recovery/Extraction.h"
#include "recovery/FileChain.h"
#include "recovery/Prefetch.h"
#include "recovery/RecoverySettings.h"
#include "recovery/RunPlan.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamsin {

class FileWriter;
class MountedVolume;
class SectorReader;
struct TreeNode;

// The reports a copy made ahead of the run gave, to be given again when the
// run comes to its file.
class KeptReports : public ExtractionObserver {
public:
    void fileProgress(int percent) override;
    void notice(ExtractNotice notice) override;

    // The copy reported no progress, or only its end: a skip or stop asked
    // at that report would not have changed it.
    bool endedAtItsOnlyProgressReport() const
    {
        return progressReports_ == 0 || (progressReports_ == 1 && lastPercent_ == 100);
    }

    void replay(ExtractionObserver& to) const;

private:
    struct Report {
        int percent;
        ExtractNotice notice = ExtractNotice::ChecksumError;
        bool isNotice = false;
    };
    std::vector<Report> reports_;
    std::size_t progressReports_ = 0;
    int lastPercent_ = 0;
};

// Where a file of the run goes, worked out (and, ahead of the copy, made)
// before its copy starts.
struct PreparedFile {
    bool ready = false;  // worked out; otherwise the copy works it out itself
    bool taken = true;   // the deleted-files rule takes the file
    std::string folder;  // empty when the folder could not be made
    FolderFailure failure;    // why not
    std::string displayName;  // the decoded name
    std::string name;         // the destination name
    FileDescriptor fd;        // made ahead; invalid when not made
    std::vector<std::string> madeFolders;  // folders made for this file, outermost first
    // Copied ahead as well: the file is written, timed and closed, and the
    // copy's result and reports stand for the run's own.
    bool copiedAhead = false;
    ExtractResult result;
    KeptReports reports;
    int closeError = 0;

    // Removes the file made (or copied) ahead for a file the run does not
    // start, and adds the folders made for it to those to remove once the
    // files made in them are gone.
    void discard(std::vector<std::string>& folders);
};

// Folder, names and deleted-files rule of one planned file; with create, the
// file is also made new, as the copy would first try to.
PreparedFile prepareFile(const MountedVolume& volume, const RunRules& rules, DestinationTree& folders,
                         const PlannedFile& planned, bool create);

// A file that holds a name, or that cannot be made, holds the thread back
// until the run's copy has dealt with it, so that the destination changes in
// the same order as when each file is made as its copy starts. What was made
// for a file the run does not start (the run was stopped) is removed when
// the run takes it.
//
// While the run copies a file of more than one piece, whose writes wait for
// the destination disk, the thread also copies the files of one block at
// most after it, so that the file system makes and fills them while the disk
// writes. Such a copy stands for the run's own only where nothing could have
// turned out otherwise: every read delivered at once (a damaged place is
// left to the run, which retries it) and no skip or stop asked at a progress
// report could have cut it short (it reported progress only at its end).
// Anything else is emptied and left to the run, and a read that failed ends
// copying ahead for the run. Nothing is copied ahead that the destination's
// free space might then lack for the files before it.
class CopyAhead {
public:
    // Files made but not yet taken by the copy, each holding a descriptor.
    static constexpr std::size_t kAhead = 64;
    // Files copied ahead (closed, holding no descriptor) at most.
    static constexpr std::size_t kCopyAhead = 32768;
    // Free space the destination keeps beyond the bytes of the files
    // between the copy and the creator, for its own records.
    static constexpr std::uint64_t kSpareBytes = std::uint64_t{128} << 20;

    CopyAhead(const MountedVolume& volume, const SectorReader& reader, RunRules rules, const RecoveryRunState& run,
              const std::vector<PlannedFile>& files, DestinationTree& folders, const std::string& destination);
    ~CopyAhead();  // stops, and removes what was made for files not taken
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    // Ends the thread; files it has not got to are then worked out by the run.
    void stop();

    // File i (taken in order), once the thread has got to it or has
    // stopped; not ready in the second case.
    PreparedFile take(std::size_t i);

    // The copy of file i is over: the thread may go past it.
    void finished(std::size_t i);

    // The copy is at a file of more than one piece, or no longer.
    void copyingLargeFile(bool large);

private:
    void work();
    // Whether the thread may make file i now, and whether it copies it too.
    // Under the lock.
    bool mayGoOn(std::size_t i, bool oneBlock, bool& copy);
    // The destination's free space, looked at again every few dozen files.
    std::uint64_t freeBytes();
    // Copies file i into the file made for it, sets its time and closes it.
    // A copy that cannot stand for the run's own is emptied again, and the
    // run copies the file as it copies one only made ahead.
    void copyAhead(std::size_t i, const TreeNode& node, PreparedFile& file);

    const MountedVolume& volume_;
    const SectorReader& reader_;
    const RunRules rules_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    DestinationTree& folders_;
    const std::string destination_;
    // The thread's own: the copies ahead read on it.
    SuballocationChains chains_;
    FirstBlockPrefetch prefetch_;
    RecoveryRunState ownRun_;  // never skipped nor stopped: a stop removes what was copied ahead
    const std::uint64_t blockBytes_;
    bool copyAhead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PreparedFile> ready_;  // files from taken_ on
    std::size_t taken_ = 0;
    std::size_t finished_ = 0;     // files whose copy is over
    std::size_t holdUntil_ = 0;    // the thread waits until that many copies are over
    std::size_t descriptors_ = 0;  // held by the files made and not taken
    bool copyingLarge_ = false;
    // The sizes of the files from summedFrom_ to summedTo_ (finished_ and
    // the thread's file, once looked at), and the free space last seen.
    std::uint64_t bytesAhead_ = 0;
    std::size_t summedFrom_ = 0;
    std::size_t summedTo_ = 0;
    std::uint64_t freeBytes_ = 0;
    std::uint64_t freeChecks_ = 0;
    bool stopping_ = false;
    bool ended_ = false;
    std::thread thread_;
};

// The run's copy of a file copied ahead: the reports its copy gave, then its
// result. A skip or stop asked at the file's start is taken where the copy
// takes it: the file is emptied and copied here as the run copies any other.
ExtractResult takeCopiedAhead(const MountedVolume& volume, const SectorReader& reader, const RunRules& rules,
                              RecoveryRunState& run, ExtractionObserver& observer, const TreeNode& node,
                              PreparedFile& prepared, FileWriter& writer, SuballocationChains& chains);

} // namespace tamsin
