#pragma once
// A recovery run: the files of a selection (or of the whole volume) copied
// under a destination folder, with the folder structure of the tree
// recreated, the deleted-files rule applied, and a report at the end.

#include "recovery/DestinationTree.h"
#include "recovery/Extraction.h"
#include "recovery/RecoverySettings.h"
#include "recovery/RunPlan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;
struct TreeNode;

enum class ProblemKind {
    File,           // a file's copy ended short of whole: result tells how
    FolderNotMade,  // a folder could not be made for the file (failure)
    NotAFolder,     // the destination names something other than a folder (failure)
};

struct RecoveryProblem {
    std::string path;  // destination path; a file's decoded name when its folder failed
    ProblemKind kind = ProblemKind::File;
    ExtractResult result;   // File
    FolderFailure failure;  // FolderNotMade and NotAFolder

    // The destination refused the file: it, or its folder, could not be
    // created, or writing it failed.
    bool destinationFailed() const
    {
        return kind == ProblemKind::FolderNotMade
            || (kind == ProblemKind::File
                && (result.outcome == ExtractOutcome::CreateFailed || result.outcome == ExtractOutcome::WriteFailed));
    }
};

struct RecoveryReport {
    std::uint64_t filesWritten = 0;      // incomplete ones included
    std::uint64_t incomplete = 0;        // written, but short, with unreadable sectors or a missing fragment
    std::uint64_t skippedDuplicates = 0;
    std::uint64_t skippedDeleted = 0;    // left out by the deleted-files rule
    std::uint64_t skippedByUser = 0;     // skip or stop during the copy
    std::uint64_t notStarted = 0;        // left after the run was stopped
    std::uint64_t failed = 0;            // could not be created or written, checksum errors, oversized fragments
    std::uint64_t bytesWritten = 0;
    bool stopped = false;
    std::vector<RecoveryProblem> problems;
};

class RecoveryRunObserver : public ExtractionObserver {
public:
    // Before the first file: how many files the run will copy and their
    // bytes, as the entries give them (files the deleted-files rule leaves
    // out are not counted).
    virtual void runPlanned(std::uint64_t /*files*/, std::uint64_t /*bytes*/) {}
    // A file the run counted is taken up; fileFinished follows.
    virtual void fileBegins(const TreeNode& /*node*/) {}
    // After each file of the run, whatever its outcome.
    virtual void fileFinished(const TreeNode& /*node*/, const ExtractResult& /*result*/) {}
};

// Clears the run flags, copies every selected file once (a file named by
// several parts of the selection is taken at its first) in tree order, and sets
// recoveryFinished at the end. Creates destination (and the folders under
// it) as needed. Under the rename rule the folders and new files are made a
// few dozen files ahead of the copy, in the same order, and while a large
// file is copied the small files after it are copied too, each ending as its
// own copy would; what was made for files that a stop leaves unstarted is
// removed before this returns.
// The rules are those of the run's start (RecoverySettings::rules()).
RecoveryReport runRecovery(const MountedVolume& volume, const SectorReader& reader, RunRules rules, RecoveryRunState& run, RecoveryRunObserver& observer, const RecoverySelection& selection,
                           const std::string& destination, const NameDecoder& decodeName);

} // namespace tamsin
