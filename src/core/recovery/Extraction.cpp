#include "recovery/Extraction.h"

#include "mount/TreeNode.h"
#include "recovery/DestinationFile.h"
#include "recovery/DestinationNames.h"
#include "recovery/FileCopier.h"

#include <unistd.h>
#include <utility>

namespace tamsin {

ExtractRequest extractRequestFor(const TreeNode& node, std::string folder, std::string name, ExtractMode mode)
{
    ExtractRequest request;
    request.destFolder = std::move(folder);
    request.name = std::move(name);
    request.size = node.size;
    request.firstBlock = node.firstBlock;
    request.flags = node.attributesHigh;
    request.dateTime = node.dateTime;
    request.modifiedDateTime = node.modifiedDateTime;
    request.mode = mode;
    return request;
}

ExtractResult extractFile(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                          ExtractionObserver& observer, const ExtractRequest& request, FileWriter* writer,
                          FileDescriptor created, SuballocationChains* chains)
{
    ExtractResult result;
    if (run.recoveryAborted) {
        // Nothing is created for a file the run does not start.
        if (created.valid()) {
            created = FileDescriptor();
            ::unlink(joinPath(request.destFolder, request.name).c_str());
        }
        return result;
    }
    run.skipCurrentFile = false;
    FileDescriptor fd = openDestination(run, observer, request, writer, std::move(created), result);
    if (!fd.valid())
        return result;
    copyFileContents(volume, reader, run, observer, request, fd.get(), result, writer, chains);
    closeDestination(std::move(fd), request, result, writer);
    return result;
}

} // namespace tamsin
