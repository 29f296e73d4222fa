#include "Commands.h"

#include "snapshot/Snapshot.h"

namespace tamsin::cli {

int runSnapshotSave(const SnapshotSaveOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const std::string path = snapshotPath(options.file);
    const SnapshotResult saved = saveSnapshot(mounted->session.mounted, 0, path);
    if (!saved.ok()) {
        err << "tamsin: " << saved.message << '\n';
        return kExitError;
    }
    out << "Saved snapshot " << path << " (" << mounted->session.mounted.folderCount() << " folders, "
        << mounted->session.mounted.fileCount() << " files)\n";
    return kExitOk;
}

} // namespace tamsin::cli
