#include "recovery/RecoveryRun.h"

#include "disk/SectorReader.h"
#include "mount/FolderPaths.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileChain.h"
#include "recovery/FileWriter.h"
#include "recovery/RecoverySettings.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace tamsin {
namespace {

// The files to copy, each with the tree item of the folder it goes into.
struct PlannedFile {
    std::uint32_t position;
    std::uint32_t folderItem;
};

class Planner {
public:
    explicit Planner(const MountedVolume& volume) :
        volume_(volume), fileTaken_(volume.files.size(), false), itemTaken_(volume.tree.size(), false)
    {
    }

    // The item and its subtree, folders in tree order, each folder's files in list order.
    void addSubtree(std::uint32_t item)
    {
        std::vector<std::uint32_t> pending{item};
        while (!pending.empty()) {
            const std::uint32_t current = pending.back();
            pending.pop_back();
            if (!volume_.tree.contains(current) || itemTaken_[current])
                continue;
            itemTaken_[current] = true;
            addOwnFiles(current);
            const auto& children = volume_.tree.item(current).children;
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }

    // The files the folder lists, not those of its subfolders.
    void addOwnFiles(std::uint32_t item)
    {
        if (!volume_.tree.contains(item))
            return;
        const TreeNode* folder = volume_.folderForItem(item);
        // The children of id 0 are the root's, whichever folder claims that id.
        if (item == FolderTree::kRootItem || folder->ownId != 0)
            for (std::uint32_t file : volume_.index.childFiles(folder ? folder->ownId : 0))
                addFile(file, item);
    }

    void addFile(std::uint32_t position, std::uint32_t folderItem)
    {
        if (position < fileTaken_.size() && !fileTaken_[position]) {
            fileTaken_[position] = true;
            files.push_back({position, folderItem});
        }
    }

    std::vector<PlannedFile> files;

private:
    const MountedVolume& volume_;
    std::vector<bool> fileTaken_;
    std::vector<bool> itemTaken_;
};

// The files and folders a run has created, known by device and inode so that
// a name the destination file system takes as the same (letter case on FAT,
// for one) is recognised too. A name another entry of the run already took is
// never overwritten nor skipped by the duplicate rule: that rule is for what
// was in the destination before.
class MadePaths {
public:
    void add(const std::string& path)
    {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0)
            made_.insert({st.st_dev, st.st_ino});
    }
    bool contains(const std::string& path) const
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && made_.contains({st.st_dev, st.st_ino});
    }

private:
    using Key = std::pair<std::uint64_t, std::uint64_t>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const
        {
            return std::hash<std::uint64_t>{}(key.first * 0x9E3779B97F4A7C15u ^ key.second);
        }
    };
    std::unordered_set<Key, KeyHash> made_;
};

// The destination folder of each tree item, created on first use.
class FolderMaker {
public:
    FolderMaker(const MountedVolume& volume, std::string destination, const NameDecoder& decodeName, MadePaths& made) :
        volume_(volume), decodeName_(decodeName), madePaths_(made), paths_(volume.tree.size()),
        made_(volume.tree.size(), false)
    {
        if (!paths_.empty()) {
            paths_[FolderTree::kRootItem] = std::move(destination);
        }
    }

    // The folder's path, or empty with error set when it cannot be made.
    // made, when given, gets the folders this call created, outermost first.
    std::string folderFor(std::uint32_t item, std::string& error, std::vector<std::string>* made = nullptr)
    {
        if (paths_.empty())
            return {};
        std::vector<std::uint32_t> chain;
        for (std::uint32_t i = item; !made_[i]; i = volume_.tree.item(i).parent) {
            chain.push_back(i);
            if (i == FolderTree::kRootItem)
                break;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if (*it == FolderTree::kRootItem) {
                if (!makeFolder(paths_[*it], error, made))
                    return {};
            } else {
                const std::string& parent = paths_[volume_.tree.item(*it).parent];
                const std::string name = safeFileName(decodeName_(volume_.folderForItem(*it)->name));
                paths_[*it] = joinPath(parent, name);
                // Folders that get the same path are one folder (a live and a
                // deleted folder of one name recover together); a file already
                // holding the name (a recovered file whose safe name equals the
                // folder's) moves the folder to "Copy (n ) of".
                for (unsigned n = 1; isNonFolder(paths_[*it]); ++n)
                    paths_[*it] = joinPath(parent, duplicateName(n, name));
                if (!makeFolder(paths_[*it], error, made))
                    return {};
                madePaths_.add(paths_[*it]);
            }
            made_[*it] = true;
        }
        return paths_[item];
    }

private:
    static bool isNonFolder(const std::string& path)
    {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }

    static bool makeFolder(const std::string& path, std::string& error, std::vector<std::string>* made)
    {
        if (::mkdir(path.c_str(), 0755) == 0) {
            if (made)
                made->push_back(path);
            return true;
        }
        const int code = errno;
        struct stat st {};
        if (code == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return true;
        error = "cannot create folder " + path + ": " + std::strerror(code == EEXIST ? ENOTDIR : code);
        return false;
    }

    const MountedVolume& volume_;
    const NameDecoder& decodeName_;
    MadePaths& madePaths_;
    std::vector<std::string> paths_;
    std::vector<bool> made_;
};

// The reports a copy made ahead of the run gave, to be given again when the
// run comes to its file.
class KeptReports : public ExtractionObserver {
public:
    void fileProgress(int percent) override
    {
        reports_.push_back({percent});
        ++progressReports_;
        lastPercent_ = percent;
    }
    void notice(ExtractNotice notice) override { reports_.push_back({0, notice, true}); }

    // The copy reported no progress, or only its end: a skip or stop asked
    // at that report would not have changed it.
    bool endedAtItsOnlyProgressReport() const
    {
        return progressReports_ == 0 || (progressReports_ == 1 && lastPercent_ == 100);
    }

    void replay(ExtractionObserver& to) const
    {
        for (const Report& report : reports_) {
            if (report.isNotice)
                to.notice(report.notice);
            else
                to.fileProgress(report.percent);
        }
    }

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
    std::string error;   // why not
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
    void discard(std::vector<std::string>& folders)
    {
        if (fd.valid() || copiedAhead) {
            fd = FileDescriptor();
            copiedAhead = false;
            ::unlink(joinPath(folder, name).c_str());
        }
        folders.insert(folders.end(), madeFolders.begin(), madeFolders.end());
        madeFolders.clear();
    }
};

// Removes folders made for files the run did not start, innermost first; one
// that holds anything stays.
void removeFolders(const std::vector<std::string>& folders)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        ::rmdir(it->c_str());
}

// Folder, names and deleted-files rule of one planned file; with create, the
// file is also made new, as the copy would first try to.
PreparedFile prepareFile(const MountedVolume& volume, const RecoverySettings& settings, FolderMaker& folders,
                         const NameDecoder& decodeName, const PlannedFile& planned, bool create)
{
    PreparedFile prepared;
    prepared.ready = true;
    const TreeNode& node = volume.files[planned.position];
    if (!settings.takesFile(node.deletedMarker)) {
        prepared.taken = false;
        return prepared;
    }
    prepared.displayName = decodeName(node.name);
    prepared.folder = folders.folderFor(planned.folderItem, prepared.error, &prepared.madeFolders);
    if (prepared.folder.empty())
        return prepared;
    prepared.name = safeFileName(prepared.displayName);
    if (create)
        prepared.fd = createNewFile(joinPath(prepared.folder, prepared.name));
    return prepared;
}

// Asks the disk for the first data of the files ahead of the copy, a batch
// at a time: of each file's first block, the sectors its size takes (the
// whole block for larger files, whose later blocks the copy asks for itself);
// of a suballocated file, its fragment. Read one after another, each small
// file waited for the disk in turn; asked for together, the reads are queued
// at once and the system serves them in disk order. Nothing beyond what the
// copy is about to read is asked for, so a failing disk is not read more:
// not the rest of a block, not files the deleted-files rule leaves out,
// nothing after a stop. A hint: what is read does not change.
class FirstBlockPrefetch {
public:
    // Files asked for ahead of the copy; a new batch goes out when half are copied.
    static constexpr std::size_t kAheadFiles = 256;

    FirstBlockPrefetch(const MountedVolume& volume, const SectorReader& reader, const RecoverySettings& settings,
                       const RecoveryRunState& run, const std::vector<PlannedFile>& files,
                       SuballocationChains& chains) :
        volume_(volume), io_(volume, reader), settings_(settings), run_(run), files_(files), chains_(chains)
    {
    }

    // Before file i is copied.
    void before(std::size_t i)
    {
        if (next_ > i + kAheadFiles / 2 || next_ >= files_.size() || run_.recoveryAborted
            || volume_.sectorsPerBlock == 0)
            return;
        const std::size_t to = std::min(files_.size(), i + kAheadFiles);
        const std::uint64_t blockBytes = std::uint64_t{volume_.sectorsPerBlock} * kSectorSize;
        for (std::size_t k = std::max(next_, i); k < to; ++k) {
            const TreeNode& node = volume_.files[files_[k].position];
            if (node.size == 0 || (node.size > blockBytes && isFragmentReference(node.firstBlock))
                || !firstBlockHoldsData(volume_, node.firstBlock) || !settings_.takesFile(node.deletedMarker))
                continue;
            const std::uint64_t sectors = (std::min<std::uint64_t>(node.size, blockBytes) + kSectorSize - 1) / kSectorSize;
            if (isFragmentReference(node.firstBlock))
                addFragment(decodeFragmentReference(node.firstBlock), sectors);
            else
                add(volume_.blockStart(node.firstBlock), sectors);
        }
        runs_.flush();
        next_ = to;
    }

private:
    // The fragment's sectors, from its place in its block on and into the
    // next block of its chain, no more than its size class holds.
    void addFragment(const FragmentReference& fragment, std::uint64_t sectors)
    {
        const std::uint32_t spb = volume_.sectorsPerBlock;
        const std::uint64_t p = fragment.startSector() / spb;
        const std::uint64_t offset = fragment.startSector() % spb;
        const FileChain* chain = chains_.chain(fragment.sizeClass, p + 2);
        if (!chain)
            return;
        sectors = std::min<std::uint64_t>(sectors, fragment.sizeClass);
        for (std::uint64_t position = p; position <= p + 1 && sectors > 0 && chainHasBlockAt(*chain, position);
             ++position) {
            const std::uint64_t from = position == p ? offset : 0;
            const std::uint64_t count = std::min<std::uint64_t>(sectors, spb - from);
            add(volume_.blockStart(chain->values[position]) + from, count);
            sectors -= count;
        }
    }

    void add(std::uint64_t volumeSector, std::uint64_t sectors) { runs_.add(io_.diskPlace(volumeSector), sectors); }

    const MountedVolume& volume_;
    VolumeReader io_;
    const RecoverySettings& settings_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    SuballocationChains& chains_;
    PrefetchRuns runs_;
    std::size_t next_ = 0;  // files before it were asked for
};

// Makes the folders and files of a run ahead of the copy, in the run's order,
// on a thread of its own: creating a file costs a local file system more than
// writing a small one, and the two then overlap. A file whose name is taken,
// or that cannot be made, holds the creator back until its copy has dealt
// with it, so that the destination changes in the same order as when each
// file is made as its copy starts. What was made for a file the run does not
// start (the run was stopped) is removed when the copy takes it.
//
// While the copy works through a file of more than one piece, whose writes
// wait for the destination disk, the creator also copies the files of one
// block at most after it, so that the file system makes and fills them
// while the disk writes. Such a copy stands for the run's own only where nothing could
// have turned out otherwise: every read delivered at once (a damaged place
// is left to the run, which retries it) and no skip or stop asked at a
// progress report could have cut it short (it reported progress only at its
// end). Anything else is emptied and left to the run, and a read that
// failed ends copying ahead for the run. Nothing is copied ahead that the
// destination's free space might then lack for the files before it.
class AheadCreator {
public:
    // Files made but not yet taken by the copy, each holding a descriptor.
    static constexpr std::size_t kAhead = 64;
    // Files copied ahead (closed, holding no descriptor) at most.
    static constexpr std::size_t kCopyAhead = 32768;
    // Free space the destination keeps beyond the bytes of the files
    // between the copy and the creator, for its own records.
    static constexpr std::uint64_t kSpareBytes = std::uint64_t{128} << 20;

    AheadCreator(const MountedVolume& volume, const SectorReader& reader, const RecoverySettings& settings,
                 const RecoveryRunState& run, const std::vector<PlannedFile>& files, FolderMaker& folders,
                 const NameDecoder& decodeName, const std::string& destination) :
        volume_(volume), reader_(reader), settings_(settings), run_(run), files_(files), folders_(folders),
        decodeName_(decodeName), destination_(destination), chains_(volume, reader),
        prefetch_(volume, reader, settings, run, files, chains_),
        blockBytes_(std::uint64_t{volume.sectorsPerBlock} * kSectorSize),
        copyAhead_(reader.accessMode() == AccessMode::Native),  // a helper library reads one request at a time
        thread_([this] { work(); })
    {
    }

    ~AheadCreator()
    {
        stop();
        std::vector<std::string> folders;
        for (PreparedFile& left : ready_)
            left.discard(folders);
        removeFolders(folders);
    }

    // Ends the creator; files it has not got to are then worked out by the copy.
    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    // File i (taken in order), once the creator has got to it or has
    // stopped; not ready in the second case.
    PreparedFile take(std::size_t i)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return taken_ + ready_.size() > i || ended_; });
        if (ready_.empty() || taken_ != i)
            return {};
        PreparedFile file = std::move(ready_.front());
        ready_.pop_front();
        ++taken_;
        if (file.fd.valid())
            --descriptors_;
        return file;
    }

    // The copy of file i is over: the creator may go past it.
    void finished(std::size_t i)
    {
        {
            std::lock_guard lock(mutex_);
            finished_ = i + 1;
        }
        changed_.notify_all();
    }

    // The copy is at a file of more than one piece, or no longer.
    void copyingLargeFile(bool large)
    {
        {
            std::lock_guard lock(mutex_);
            if (copyingLarge_ == large)
                return;
            copyingLarge_ = large;
        }
        changed_.notify_all();
    }

private:
    void work()
    {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const TreeNode& node = volume_.files[files_[i].position];
            // Files of one block at most are read in one go, so that their
            // copies ahead stand; a file the rule does not take is passed
            // over as one of them: nothing is made for it.
            const bool oneBlock = node.size <= blockBytes_ || !settings_.takesFile(node.deletedMarker);
            bool copy = false;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || mayGoOn(i, oneBlock, copy); });
                if (stopping_)
                    break;
            }
            if (run_.recoveryAborted)
                break;
            PreparedFile file = prepareFile(volume_, settings_, folders_, decodeName_, files_[i], true);
            if (copy && file.taken && file.fd.valid())
                copyAhead(i, node, file);
            const bool hold = file.taken && !file.folder.empty() && !file.fd.valid() && !file.copiedAhead;
            {
                std::lock_guard lock(mutex_);
                if (file.fd.valid())
                    ++descriptors_;
                ready_.push_back(std::move(file));
                if (hold)
                    holdUntil_ = i + 1;
            }
            changed_.notify_all();
        }
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        changed_.notify_all();
    }

    // Whether the creator may make file i now, and whether it copies it
    // too. Under the lock.
    bool mayGoOn(std::size_t i, bool oneBlock, bool& copy)
    {
        if (holdUntil_ > finished_)
            return false;
        const bool within = i < finished_ + kAhead;
        copy = false;
        if (!copyAhead_ || !copyingLarge_ || i >= finished_ + kCopyAhead)
            return within;
        // The sizes of the files from the copy's (counted whole) to this one.
        for (; summedTo_ < i; ++summedTo_)
            bytesAhead_ += volume_.files[files_[summedTo_].position].size;
        for (; summedFrom_ < finished_; ++summedFrom_)
            bytesAhead_ -= volume_.files[files_[summedFrom_].position].size;
        if (bytesAhead_ + volume_.files[files_[i].position].size + kSpareBytes > freeBytes())
            return within;
        // Beyond the files made ahead, a larger file is made (holding its
        // descriptor) so that the creator gets to the small ones after it.
        copy = oneBlock;
        return within || oneBlock || descriptors_ < 2 * kAhead;
    }

    // The destination's free space, looked at again every few dozen files.
    std::uint64_t freeBytes()
    {
        if (freeChecks_++ % 64 == 0) {
            struct statvfs st {};
            freeBytes_ = ::statvfs(destination_.c_str(), &st) == 0 ? std::uint64_t{st.f_bavail} * st.f_frsize : 0;
        }
        return freeBytes_;
    }

    // Copies file i into the file made for it, sets its time and closes it.
    // A copy that cannot stand for the run's own is emptied again, and the
    // run copies the file as it copies one only made ahead.
    void copyAhead(std::size_t i, const TreeNode& node, PreparedFile& file)
    {
        ExtractRequest request = extractRequestFor(node, file.folder, file.name, ExtractMode::Recovery);
        request.duplicates = settings_.duplicateAction();
        ExtractResult& result = file.result;
        result.nameUsed = file.name;
        result.path = joinPath(file.folder, file.name);
        bool readFailed = false;
        {
            const TentativeReadScope tentative;
            prefetch_.before(i);
            copyFileContents(volume_, reader_, ownRun_, file.reports, request, file.fd.get(), result, nullptr,
                             &chains_);
            readFailed = tentative.failed();
        }
        if (readFailed)
            copyAhead_ = false;  // the disk is damaged: the run reads in its own order from here on
        if (readFailed || !file.reports.endedAtItsOnlyProgressReport()) {
            // Emptied, the file is as made: the run copies it as any other.
            if (::ftruncate(file.fd.get(), 0) != 0 || ::lseek(file.fd.get(), 0, SEEK_SET) != 0) {
                file.fd = FileDescriptor();  // made again by the run
                ::unlink(result.path.c_str());
            }
            file.result = ExtractResult();
            file.reports = KeptReports();
            return;
        }
        if (const std::optional<timespec> when = destinationTime(request, result)) {
            const timespec times[2] = {*when, *when};
            ::futimens(file.fd.get(), times);
        }
        // EINTR leaves the descriptor closed on Linux, its bytes handed over.
        if (::close(file.fd.release()) != 0 && errno != EINTR)
            file.closeError = errno;
        file.copiedAhead = true;
    }

    const MountedVolume& volume_;
    const SectorReader& reader_;
    const RecoverySettings& settings_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    FolderMaker& folders_;
    const NameDecoder& decodeName_;
    const std::string destination_;
    // The creator's own: the copies ahead read on this thread.
    SuballocationChains chains_;
    FirstBlockPrefetch prefetch_;
    RecoveryRunState ownRun_;  // never skipped nor stopped: a stop removes what was copied ahead
    const std::uint64_t blockBytes_;
    bool copyAhead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PreparedFile> ready_;  // files from taken_ on
    std::size_t taken_ = 0;
    std::size_t finished_ = 0;   // files whose copy is over
    std::size_t holdUntil_ = 0;  // the creator waits until that many copies are over
    std::size_t descriptors_ = 0;  // held by the files made and not taken
    bool copyingLarge_ = false;
    // The sizes of the files from summedFrom_ to summedTo_ (finished_ and
    // the creator's file, once looked at), and the free space last seen.
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
ExtractResult takeCopiedAhead(const MountedVolume& volume, const SectorReader& reader, const RecoverySettings& settings,
                              RecoveryRunState& run, ExtractionObserver& observer, const TreeNode& node,
                              PreparedFile& prepared, FileWriter& writer, SuballocationChains& chains)
{
    ExtractResult result = std::move(prepared.result);
    run.skipCurrentFile = false;
    observer.fileStarted(result.path, result.nameUsed, run.filesStarted++);
    observer.fileProgress(0);
    if (!run.skipCurrentFile && !run.recoveryAborted) {
        prepared.reports.replay(observer);
        if (prepared.closeError != 0)
            writer.closedElsewhere(result.path, prepared.closeError);
        return result;
    }
    ExtractResult again;
    again.path = result.path;
    again.nameUsed = result.nameUsed;
    FileDescriptor fd(::open(again.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd.valid()) {
        again.outcome = ExtractOutcome::CreateFailed;
        again.error = errno;
        if (!observer.continueAfterCreateError(again.path))
            run.recoveryAborted = true;
        return again;
    }
    ExtractRequest request = extractRequestFor(node, prepared.folder, prepared.name, ExtractMode::Recovery);
    request.duplicates = settings.duplicateAction();
    copyFileContents(volume, reader, run, observer, request, fd.get(), again, &writer, &chains);
    writer.finish(std::move(fd), destinationTime(request, again), again.path);
    return again;
}

bool makeDestination(const std::string& path, std::string& error)
{
    std::string partial;
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t slash = path.find('/', at + 1);
        partial = path.substr(0, slash);
        at = slash;
        if (partial.empty() || pathExists(partial))
            continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create folder " + partial + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

} // namespace

std::string describeProblem(const ExtractResult& result)
{
    switch (result.outcome) {
    case ExtractOutcome::Written:
        break;
    case ExtractOutcome::Aborted:
        return "not started: the run was stopped";
    case ExtractOutcome::SkippedDuplicate:
        return "skipped: a file of that name exists";
    case ExtractOutcome::SkippedByUser:
        return "skipped during the copy; the partial file was kept";
    case ExtractOutcome::CreateFailed:
        return std::string("cannot create: ") + std::strerror(result.error);
    case ExtractOutcome::ChecksumError:
        return "compressed file: the stored header does not match the file size (left empty)";
    case ExtractOutcome::FragmentTooLarge:
        return "suballocated file larger than one block (left empty)";
    case ExtractOutcome::WriteFailed:
        return std::string("write failed: ") + std::strerror(result.error);
    }
    std::string problem;
    auto add = [&](const std::string& part) { problem += (problem.empty() ? "" : "; ") + part; };
    if (result.bytesWritten < result.expectedBytes)
        add("incomplete: " + std::to_string(result.bytesWritten) + " of " + std::to_string(result.expectedBytes)
            + " bytes recovered" + (result.chainLooped ? " (the block chain loops)" : ""));
    if (result.missingFragment)
        add("a suballocation fragment is missing");
    if (result.unreadableSectors > 0)
        add(std::to_string(result.unreadableSectors) + " unreadable sector(s) written as zeros ("
            + std::to_string(result.unreadableBytes) + " of its bytes)");
    if (result.fatLost)
        add("its block chain runs through FAT sectors that neither FAT copy could read");
    return problem;
}

RecoveryReport runRecovery(const MountedVolume& volume, const SectorReader& reader, const RecoverySettings& settings,
                           RecoveryRunState& run, RecoveryRunObserver& observer, const RecoverySelection& selection,
                           const std::string& destination, const NameDecoder& decodeName)
{
    run.reset();
    RecoveryReport report;

    Planner planner(volume);
    if (selection.wholeVolume)
        planner.addSubtree(FolderTree::kRootItem);
    for (std::uint32_t item : selection.folderItems)
        planner.addSubtree(item);
    for (std::uint32_t item : selection.folderFiles)
        planner.addOwnFiles(item);
    for (std::uint32_t position : selection.files)
        if (position < volume.files.size())
            planner.addFile(position, parentItemOf(volume, volume.files[position]));  // the folder that lists it

    std::uint64_t plannedFiles = 0;
    std::uint64_t plannedBytes = 0;
    for (const PlannedFile& planned : planner.files) {
        const TreeNode& node = volume.files[planned.position];
        if (settings.takesFile(node.deletedMarker)) {
            ++plannedFiles;
            plannedBytes += node.size;
        }
    }
    observer.runPlanned(plannedFiles, plannedBytes);

    std::string error;
    if (!makeDestination(destination, error)) {
        report.failed = planner.files.size();
        report.problems.push_back({destination, error});
        run.recoveryFinished = true;
        return report;
    }
    MadePaths made;
    FolderMaker folders(volume, destination, decodeName, made);
    // Writes, times and closes go on while the next file is read; every
    // result is final when extractFile returns.
    FileWriter writer;
    // Rename finds a free name itself; overwrite and skip would meet a file
    // of this run as if it had been there before, and make their own files.
    const bool renames = settings.duplicateAction() == DuplicateAction::Rename;
    std::optional<AheadCreator> ahead;
    std::vector<std::string> abandonedFolders;  // made ahead for files the run did not start
    if (renames)
        ahead.emplace(volume, reader, settings, run, planner.files, folders, decodeName, destination);

    SuballocationChains chains(volume, reader);
    FirstBlockPrefetch prefetch(volume, reader, settings, run, planner.files, chains);
    for (std::size_t i = 0; i < planner.files.size(); ++i) {
        prefetch.before(i);
        const PlannedFile& planned = planner.files[i];
        const TreeNode& node = volume.files[planned.position];
        PreparedFile prepared = ahead ? ahead->take(i) : PreparedFile{};
        // Whatever way this file ends, the creator may then go past it.
        struct Finished {
            std::optional<AheadCreator>& ahead;
            std::size_t i;
            ~Finished()
            {
                if (ahead)
                    ahead->finished(i);
            }
        } finished{ahead, i};
        if (!prepared.ready && !run.recoveryAborted) {
            if (ahead)
                ahead->stop();  // it has ended; its folder maker is free
            prepared = prepareFile(volume, settings, folders, decodeName, planned, false);
        }
        // The deleted-files rule as it stood when the file was worked out.
        if (prepared.ready ? !prepared.taken : !settings.takesFile(node.deletedMarker)) {
            ++report.skippedDeleted;
            continue;
        }
        observer.fileBegins(node);
        ExtractResult result;
        if (run.recoveryAborted) {
            prepared.discard(abandonedFolders);
            result.outcome = ExtractOutcome::Aborted;
        } else if (prepared.folder.empty()) {
            result.outcome = ExtractOutcome::CreateFailed;
            report.problems.push_back({prepared.displayName, prepared.error});
            ++report.failed;
            observer.fileFinished(node, result);
            continue;
        } else if (prepared.copiedAhead) {
            result = takeCopiedAhead(volume, reader, settings, run, observer, node, prepared, writer, chains);
        } else {
            std::string nameUsed = prepared.name;
            if (!renames)
                for (unsigned n = 1; made.contains(joinPath(prepared.folder, nameUsed)); ++n)
                    nameUsed = duplicateName(n, prepared.name);
            ExtractRequest request = extractRequestFor(node, prepared.folder, nameUsed, ExtractMode::Recovery);
            request.duplicates = settings.duplicateAction();
            // The creator copies small files ahead while a large one is copied here.
            const bool large = ahead && node.size > kCopyPieceBytes;
            if (large)
                ahead->copyingLargeFile(true);
            result = extractFile(volume, reader, run, observer, request, &writer, std::move(prepared.fd), &chains);
            if (large)
                ahead->copyingLargeFile(false);
            if (result.outcome == ExtractOutcome::Aborted)
                prepared.discard(abandonedFolders);  // stopped just now: the file is gone, its folders go too
            if (!renames && result.outcome != ExtractOutcome::Aborted
                && result.outcome != ExtractOutcome::SkippedDuplicate && result.outcome != ExtractOutcome::CreateFailed)
                made.add(result.path);
        }

        switch (result.outcome) {
        case ExtractOutcome::Written:
            ++report.filesWritten;
            if (result.incomplete()) {
                ++report.incomplete;
                report.problems.push_back({result.path, describeProblem(result)});
            }
            break;
        case ExtractOutcome::Aborted:
            ++report.notStarted;
            break;
        case ExtractOutcome::SkippedDuplicate:
            ++report.skippedDuplicates;
            break;
        case ExtractOutcome::SkippedByUser:
            ++report.skippedByUser;
            report.problems.push_back({result.path, describeProblem(result)});
            break;
        default:
            ++report.failed;
            report.problems.push_back({result.path, describeProblem(result)});
            break;
        }
        report.bytesWritten += result.bytesWritten;
        observer.fileFinished(node, result);
    }
    if (ahead)
        ahead->stop();
    removeFolders(abandonedFolders);
    writer.drain();  // every file closed with its time set
    // A file whose close failed was counted as written; it failed.
    for (FileWriter::CloseFailure& closing : writer.takeCloseFailures()) {
        if (report.filesWritten > 0)
            --report.filesWritten;
        ++report.failed;
        ExtractResult failed;
        failed.outcome = ExtractOutcome::WriteFailed;
        failed.error = closing.error;
        report.problems.push_back({std::move(closing.path), describeProblem(failed)});
    }
    report.stopped = run.recoveryAborted;
    run.recoveryFinished = true;
    return report;
}

} // namespace tamsin
