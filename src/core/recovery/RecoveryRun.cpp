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
#include <mutex>
#include <optional>
#include <sys/stat.h>
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
                // A file already holding the name (a recovered file whose safe
                // name equals the folder's), or a folder this run made for
                // another entry, moves the folder to "Copy (n ) of".
                for (unsigned n = 1; isNonFolder(paths_[*it]) || madePaths_.contains(paths_[*it]); ++n)
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

    // Removes the new, empty file made for a file the run does not start,
    // and adds the folders made for it to those to remove once the files
    // made in them are gone.
    void discard(std::vector<std::string>& folders)
    {
        if (fd.valid()) {
            fd = FileDescriptor();
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

// Makes the folders and files of a run ahead of the copy, in the run's order,
// on a thread of its own: creating a file costs a local file system more than
// writing a small one, and the two then overlap. A file whose name is taken,
// or that cannot be made, holds the creator back until its copy has dealt
// with it, so that the destination changes in the same order as when each
// file is made as its copy starts. What was made for a file the run does not
// start (the run was stopped) is removed when the copy takes it.
class AheadCreator {
public:
    // Files made but not yet taken by the copy, each holding a descriptor.
    static constexpr std::size_t kAhead = 64;

    AheadCreator(const MountedVolume& volume, const RecoverySettings& settings, const RecoveryRunState& run,
                 const std::vector<PlannedFile>& files, FolderMaker& folders, const NameDecoder& decodeName) :
        volume_(volume), settings_(settings), run_(run), files_(files), folders_(folders), decodeName_(decodeName),
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

private:
    void work()
    {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || (i < finished_ + kAhead && holdUntil_ <= finished_); });
                if (stopping_)
                    break;
            }
            if (run_.recoveryAborted)
                break;
            PreparedFile file = prepareFile(volume_, settings_, folders_, decodeName_, files_[i], true);
            const bool hold = file.taken && !file.folder.empty() && !file.fd.valid();
            {
                std::lock_guard lock(mutex_);
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

    const MountedVolume& volume_;
    const RecoverySettings& settings_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    FolderMaker& folders_;
    const NameDecoder& decodeName_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PreparedFile> ready_;  // files from taken_ on
    std::size_t taken_ = 0;
    std::size_t finished_ = 0;   // files whose copy is over
    std::size_t holdUntil_ = 0;  // the creator waits until that many copies are over
    bool stopping_ = false;
    bool ended_ = false;
    std::thread thread_;
};

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
        volume_(volume), io_(volume, reader), settings_(settings), run_(run), files_(files), chains_(chains),
        runs_(reader)
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

    void add(std::uint64_t volumeSector, std::uint64_t sectors) { runs_.add(io_.diskSector(volumeSector), sectors); }

    const MountedVolume& volume_;
    VolumeReader io_;
    const RecoverySettings& settings_;
    const RecoveryRunState& run_;
    const std::vector<PlannedFile>& files_;
    SuballocationChains& chains_;
    PrefetchRuns runs_;
    std::size_t next_ = 0;  // files before it were asked for
};

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
        ahead.emplace(volume, settings, run, planner.files, folders, decodeName);

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
        } else {
            std::string nameUsed = prepared.name;
            if (!renames)
                for (unsigned n = 1; made.contains(joinPath(prepared.folder, nameUsed)); ++n)
                    nameUsed = duplicateName(n, prepared.name);
            ExtractRequest request = extractRequestFor(node, prepared.folder, nameUsed, ExtractMode::Recovery);
            request.duplicates = settings.duplicateAction();
            result = extractFile(volume, reader, run, observer, request, &writer, std::move(prepared.fd), &chains);
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
