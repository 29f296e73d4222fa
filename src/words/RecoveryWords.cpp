#include "RecoveryWords.h"

#include <cstring>

namespace tamsin::words {

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

std::string problemText(const RecoveryProblem& problem)
{
    switch (problem.kind) {
    case ProblemKind::File:
        break;
    case ProblemKind::FolderNotMade:
        return "cannot create folder " + problem.failure.folder + ": " + std::strerror(problem.failure.error);
    case ProblemKind::NotAFolder:
        return problem.failure.folder + " is not a folder";
    }
    return describeProblem(problem.result);
}

} // namespace tamsin::words
