#include "recovery/DestinationFile.h"

#include "mount/FolderContents.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {
namespace {

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

// Applies the duplicate rule to a taken name; false when the file is not to
// be written (skipped, or no free name), result saying why.
bool followDuplicateRule(RecoveryRunState& run, ExtractionObserver& observer, const ExtractRequest& request,
                         FileWriter* writer, ExtractResult& result)
{
    if (request.duplicates == DuplicateAction::Skip) {
        result.outcome = ExtractOutcome::SkippedDuplicate;
        return false;
    }
    if (request.duplicates == DuplicateAction::Rename) {
        // Bounded, so that no destination can keep the search going.
        for (unsigned n = 1; n <= kMaxDuplicateNames; ++n) {
            const std::string candidate = duplicateName(n, request.name);
            if (!pathExists(joinPath(request.destFolder, candidate))) {
                result.nameUsed = candidate;
                result.path = joinPath(request.destFolder, candidate);
                return true;
            }
        }
        result.outcome = ExtractOutcome::CreateFailed;
        result.error = EEXIST;
        if (!observer.continueAfterCreateError(result.path))
            run.recoveryAborted = true;
        return false;
    }
    // Overwriting: a file of this run still waiting to be closed may be this
    // one, and its time must be set before it is written again.
    if (writer)
        writer->drain();
    // A file with other names (hard links) is replaced, not written through:
    // those names keep their data. So is a pipe, socket or device node, which
    // would take the data elsewhere (or make the open wait). A link or folder
    // stays and fails the open.
    struct stat st {};
    if (::lstat(result.path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)
        && (!S_ISREG(st.st_mode) || st.st_nlink > 1))
        ::unlink(result.path.c_str());
    return true;
}

} // namespace

FileDescriptor createNewFile(const std::string& path)
{
    return FileDescriptor(::open(path.c_str(), kCreateFlags | O_EXCL, 0644));
}

FileDescriptor openDestination(RecoveryRunState& run, ExtractionObserver& observer, const ExtractRequest& request,
                               FileWriter* writer, FileDescriptor created, ExtractResult& result)
{
    const bool recoveryMode = request.mode == ExtractMode::Recovery;
    result.nameUsed = request.name;
    result.path = joinPath(request.destFolder, request.name);
    FileDescriptor fd = std::move(created);
    // A run first tries to make the file new: when that works the name was
    // free, which saves asking. Anything else takes the way below.
    if (!fd.valid() && recoveryMode && writer)
        fd = createNewFile(result.path);
    if (!fd.valid() && recoveryMode && pathExists(result.path)
        && !followDuplicateRule(run, observer, request, writer, result))
        return {};
    if (fd.valid() || recoveryMode) {
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
    }
    return fd;
}

std::optional<timespec> destinationTime(const ExtractRequest& request, const ExtractResult& result)
{
    timespec when{};
    if (result.outcome == ExtractOutcome::Written
        && (entryTime(request.modifiedDateTime, when) || entryTime(request.dateTime, when)))
        return when;
    return std::nullopt;
}

void closeDestination(FileDescriptor fd, const ExtractRequest& request, ExtractResult& result, FileWriter* writer)
{
    const std::optional<timespec> when = destinationTime(request, result);
    if (writer) {
        writer->finish(std::move(fd), when, result.path);
        return;
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
}

} // namespace tamsin
