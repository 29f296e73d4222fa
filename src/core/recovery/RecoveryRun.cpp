#include "recovery/RecoveryRun.h"

#include "mount/FolderPaths.h"
#include "mount/MountedVolume.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileWriter.h"
#include "recovery/RecoverySettings.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
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
    std::string folderFor(std::uint32_t item, std::string& error)
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
                if (!makeFolder(paths_[*it], error))
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
                if (!makeFolder(paths_[*it], error))
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

    static bool makeFolder(const std::string& path, std::string& error)
    {
        if (::mkdir(path.c_str(), 0755) == 0)
            return true;
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

    for (const PlannedFile& planned : planner.files) {
        const TreeNode& node = volume.files[planned.position];
        if (!settings.takesFile(node.deletedMarker)) {
            ++report.skippedDeleted;
            continue;
        }
        ExtractResult result;
        const std::string folder = run.recoveryAborted ? std::string() : folders.folderFor(planned.folderItem, error);
        if (run.recoveryAborted) {
            result.outcome = ExtractOutcome::Aborted;
        } else if (folder.empty()) {
            result.outcome = ExtractOutcome::CreateFailed;
            report.problems.push_back({decodeName(node.name), error});
            ++report.failed;
            observer.fileFinished(node, result);
            continue;
        } else {
            const std::string name = safeFileName(decodeName(node.name));
            std::string nameUsed = name;
            // Rename finds a free name itself; overwrite and skip would meet
            // a file of this run as if it had been there before.
            const bool renames = settings.duplicateAction() == DuplicateAction::Rename;
            if (!renames)
                for (unsigned n = 1; made.contains(joinPath(folder, nameUsed)); ++n)
                    nameUsed = duplicateName(n, name);
            ExtractRequest request = extractRequestFor(node, folder, nameUsed, ExtractMode::Recovery);
            request.duplicates = settings.duplicateAction();
            result = extractFile(volume, reader, run, observer, request, &writer);
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
