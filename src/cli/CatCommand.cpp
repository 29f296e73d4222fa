#include "Commands.h"
#include "RecoveryWords.h"
#include "VolumePaths.h"

#include "recovery/Extraction.h"
#include "recovery/FileCopier.h"

#include <unistd.h>

namespace tamsin::cli {

int runCat(const CatOptions& options, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;
    const auto entry = resolveEntry(volume, *mounted->names, options.path);
    if (!entry || entry->isFolder) {
        err << "tamsin: " << (entry ? "is a folder: " : "no file ") << options.path << '\n';
        return kExitError;
    }
    const TreeNode& file = volume.files[entry->file];
    ExtractRequest request;
    request.size = file.size;
    request.firstBlock = file.firstBlock;
    request.flags = file.attributesHigh;
    RecoveryRunState run;
    ExtractionObserver quiet;
    ExtractResult result;
    copyFileContents(volume, mounted->session.reader, run, quiet, request, STDOUT_FILENO, result);
    const std::string problem = words::describeProblem(result);
    if (!problem.empty()) {
        err << "tamsin: " << options.path << ": " << problem << '\n';
        return kExitError;
    }
    return kExitOk;
}

} // namespace tamsin::cli
