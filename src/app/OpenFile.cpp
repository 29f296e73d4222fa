#include "OpenFile.h"

#include "mount/TreeNode.h"

namespace tamsin::app {

OpenResult openFile(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                    ExtractionObserver& observer, const TreeNode& file, const std::string& safeName,
                    const std::string& tempFolder, bool openWith, Launcher& launcher)
{
    OpenResult result;
    if (tempFolder.empty())
        return result;  // no private folder could be made
    run.recoveryAborted = false;
    run.skipCurrentFile = false;
    if (file.isCompressed()) {
        observer.notice(ExtractNotice::CompressedNotOpened);
        result.outcome = OpenOutcome::CompressedRefused;
        return result;
    }
    const ExtractRequest request = extractRequestFor(file, tempFolder, safeName, ExtractMode::Quiet);
    result.extraction = extractFile(volume, reader, run, observer, request);
    if (!result.extraction.written())
        return result;
    if (openWith || !launcher.open(result.extraction.path))
        launcher.openWith(result.extraction.path);
    result.outcome = OpenOutcome::Launched;
    return result;
}

} // namespace tamsin::app
