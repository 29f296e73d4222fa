#include "recovery/CopyAhead.h"

#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"
#include "recovery/DestinationFile.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileCopier.h"
#include "recovery/FileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tamsin {

void KeptReports::fileProgress(int percent)
{
    reports_.push_back({percent});
    ++progressReports_;
    lastPercent_ = percent;
}

void KeptReports::notice(ExtractNotice notice)
{
    reports_.push_back({0, notice, true});
}

void KeptReports::replay(ExtractionObserver& to) const
{
    for (const Report& report : reports_) {
        if (report.isNotice)
            to.notice(report.notice);
        else
            to.fileProgress(report.percent);
    }
}

void PreparedFile::discard(std::vector<std::string>& folders)
{
    if (fd.valid() || copiedAhead) {
        fd = FileDescriptor();
        copiedAhead = false;
        ::unlink(joinPath(folder, name).c_str());
    }
    folders.insert(folders.end(), madeFolders.begin(), madeFolders.end());
    madeFolders.clear();
}

PreparedFile prepareFile(const MountedVolume& volume, const RunRules& rules, DestinationTree& folders,
                         const PlannedFile& planned, bool create)
{
    PreparedFile prepared;
    prepared.ready = true;
    const TreeNode& node = volume.files[planned.position];
    if (!rules.takesFile(node.deletedMarker)) {
        prepared.taken = false;
        return prepared;
    }
    prepared.displayName = folders.decode(node.name);
    prepared.folder = folders.folderFor(planned.folderItem, prepared.failure, &prepared.madeFolders);
    if (prepared.folder.empty())
        return prepared;
    prepared.name = safeFileName(prepared.displayName);
    if (create)
        prepared.fd = createNewFile(joinPath(prepared.folder, prepared.name));
    return prepared;
}

CopyAhead::CopyAhead(const MountedVolume& volume, const SectorReader& reader, RunRules rules,
                     const RecoveryRunState& run, const std::vector<PlannedFile>& files, DestinationTree& folders,
                     const std::string& destination) :
    volume_(volume), reader_(reader), rules_(rules), run_(run), files_(files), folders_(folders),
    destination_(destination), chains_(volume, reader), prefetch_(volume, reader, rules, run, files, chains_),
    blockBytes_(std::uint64_t{volume.sectorsPerBlock} * kSectorSize),
    copyAhead_(reader.accessMode() == AccessMode::Native),  // a helper library reads one request at a time
    thread_([this] { work(); })
{
}

CopyAhead::~CopyAhead()
{
    stop();
    std::vector<std::string> folders;
    for (PreparedFile& left : ready_)
        left.discard(folders);
    removeFolders(folders);
}

void CopyAhead::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

PreparedFile CopyAhead::take(std::size_t i)
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

void CopyAhead::finished(std::size_t i)
{
    {
        std::lock_guard lock(mutex_);
        finished_ = i + 1;
    }
    changed_.notify_all();
}

void CopyAhead::copyingLargeFile(bool large)
{
    {
        std::lock_guard lock(mutex_);
        if (copyingLarge_ == large)
            return;
        copyingLarge_ = large;
    }
    changed_.notify_all();
}

void CopyAhead::work()
{
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const TreeNode& node = volume_.files[files_[i].position];
        // Files of one block at most are read in one go, so that their
        // copies ahead stand; a file the rule does not take is passed over
        // as one of them: nothing is made for it.
        const bool oneBlock = node.size <= blockBytes_ || !rules_.takesFile(node.deletedMarker);
        bool copy = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || mayGoOn(i, oneBlock, copy); });
            if (stopping_)
                break;
        }
        if (run_.recoveryAborted)
            break;
        PreparedFile file = prepareFile(volume_, rules_, folders_, files_[i], true);
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

bool CopyAhead::mayGoOn(std::size_t i, bool oneBlock, bool& copy)
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
    // descriptor) so that the thread gets to the small ones after it.
    copy = oneBlock;
    return within || oneBlock || descriptors_ < 2 * kAhead;
}

std::uint64_t CopyAhead::freeBytes()
{
    if (freeChecks_++ % 64 == 0) {
        struct statvfs st {};
        freeBytes_ = ::statvfs(destination_.c_str(), &st) == 0 ? std::uint64_t{st.f_bavail} * st.f_frsize : 0;
    }
    return freeBytes_;
}

void CopyAhead::copyAhead(std::size_t i, const TreeNode& node, PreparedFile& file)
{
    ExtractRequest request = extractRequestFor(node, file.folder, file.name, ExtractMode::Recovery);
    request.duplicates = rules_.duplicates;
    ExtractResult& result = file.result;
    result.nameUsed = file.name;
    result.path = joinPath(file.folder, file.name);
    bool readFailed = false;
    {
        const TentativeReadScope tentative;
        prefetch_.before(i);
        copyFileContents(volume_, reader_, ownRun_, file.reports, request, file.fd.get(), result, nullptr, &chains_);
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

ExtractResult takeCopiedAhead(const MountedVolume& volume, const SectorReader& reader, const RunRules& rules,
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
    request.duplicates = rules.duplicates;
    copyFileContents(volume, reader, run, observer, request, fd.get(), again, &writer, &chains);
    writer.finish(std::move(fd), destinationTime(request, again), again.path);
    return again;
}

} // namespace tamsin
