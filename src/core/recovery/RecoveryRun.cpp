#include "recovery/RecoveryRun.h"

#include "mount/MountedVolume.h"
#include "recovery/CopyAhead.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileChain.h"
#include "recovery/FileWriter.h"
#include "recovery/Prefetch.h"

#include <optional>
#include <utility>

namespace tamsin {
namespace {

// Counts a file's outcome in the report, with a problem for any file that
// did not end written whole (or was left for a duplicate).
void countOutcome(RecoveryReport& report, const ExtractResult& result)
{
    switch (result.outcome) {
    case ExtractOutcome::Written:
        ++report.filesWritten;
        if (result.incomplete()) {
            ++report.incomplete;
            report.problems.push_back({result.path, ProblemKind::File, result, {}});
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
        report.problems.push_back({result.path, ProblemKind::File, result, {}});
        break;
    default:
        ++report.failed;
        report.problems.push_back({result.path, ProblemKind::File, result, {}});
        break;
    }
    report.bytesWritten += result.bytesWritten;
}

// A file whose close failed on the writer's thread was counted as written; it failed.
void countCloseFailures(RecoveryReport& report, FileWriter& writer)
{
    for (FileWriter::CloseFailure& closing : writer.takeCloseFailures()) {
        if (report.filesWritten > 0)
            --report.filesWritten;
        ++report.failed;
        ExtractResult failed;
        failed.outcome = ExtractOutcome::WriteFailed;
        failed.error = closing.error;
        failed.path = closing.path;
        report.problems.push_back({std::move(closing.path), ProblemKind::File, std::move(failed), {}});
    }
}

} // namespace

RecoveryReport runRecovery(const MountedVolume& volume, const SectorReader& reader, RunRules rules, RecoveryRunState& run,
                           RecoveryRunObserver& observer, const RecoverySelection& selection,
                           const std::string& destination, const NameDecoder& decodeName)
{
    run.reset();
    RecoveryReport report;
    const RunPlan plan = planRecovery(volume, selection, rules);
    observer.runPlanned(plan.takenFiles, plan.takenBytes);

    FolderFailure failure;
    if (!makeDestination(destination, failure)) {
        report.failed = plan.files.size();
        const ProblemKind kind = failure.notAFolder ? ProblemKind::NotAFolder : ProblemKind::FolderNotMade;
        report.problems.push_back({destination, kind, {}, failure});
        run.recoveryFinished = true;
        return report;
    }
    MadePaths made;
    DestinationTree folders(volume, destination, decodeName, made);
    // Writes, times and closes go on while the next file is read; every
    // result is final when extractFile returns.
    FileWriter writer;
    // Rename finds a free name itself; overwrite and skip would meet a file
    // of this run as if it had been there before, and make their own files.
    const bool renames = rules.duplicates == DuplicateAction::Rename;
    std::optional<CopyAhead> ahead;
    std::vector<std::string> abandonedFolders;  // made ahead for files the run did not start
    if (renames)
        ahead.emplace(volume, reader, rules, run, plan.files, folders, destination);

    SuballocationChains chains(volume, reader);
    FirstBlockPrefetch prefetch(volume, reader, rules, run, plan.files, chains);
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        prefetch.before(i);
        const PlannedFile& planned = plan.files[i];
        const TreeNode& node = volume.files[planned.position];
        PreparedFile prepared = ahead ? ahead->take(i) : PreparedFile{};
        // Whatever way this file ends, the copy-ahead thread may then go past it.
        struct Finished {
            std::optional<CopyAhead>& ahead;
            std::size_t i;
            ~Finished()
            {
                if (ahead)
                    ahead->finished(i);
            }
        } finished{ahead, i};
        if (!prepared.ready && !run.recoveryAborted) {
            if (ahead)
                ahead->stop();  // it has ended; the destination tree is this thread's now
            prepared = prepareFile(volume, rules, folders, planned, false);
        }
        if (prepared.ready ? !prepared.taken : !rules.takesFile(node.deletedMarker)) {
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
            report.problems.push_back({prepared.displayName, ProblemKind::FolderNotMade, {}, prepared.failure});
            ++report.failed;
            observer.fileFinished(node, result);
            continue;
        } else if (prepared.copiedAhead) {
            result = takeCopiedAhead(volume, reader, rules, run, observer, node, prepared, writer, chains);
        } else {
            std::string nameUsed = prepared.name;
            if (!renames)
                for (unsigned n = 1; made.contains(joinPath(prepared.folder, nameUsed)); ++n)
                    nameUsed = duplicateName(n, prepared.name);
            ExtractRequest request = extractRequestFor(node, prepared.folder, nameUsed, ExtractMode::Recovery);
            request.duplicates = rules.duplicates;
            // The copy-ahead thread copies small files while a large one is copied here.
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
        countOutcome(report, result);
        observer.fileFinished(node, result);
    }
    if (ahead)
        ahead->stop();
    removeFolders(abandonedFolders);
    writer.drain();  // every file closed with its time set
    countCloseFailures(report, writer);
    report.stopped = run.recoveryAborted;
    run.recoveryFinished = true;
    return report;
}

} // namespace tamsin
