#include "Commands.h"
#include "Messages.h"

#include "snapshot/Snapshot.h"

#include <cstring>
#include <filesystem>

namespace tamsin::cli {

int runSnapshotSave(const SnapshotSaveOptions& options, std::ostream& out, std::ostream& err)
{
    // A folder would become a hidden ".VSNP" inside it.
    std::error_code ec;
    if (options.file.empty() || options.file.back() == '/' || std::filesystem::is_directory(options.file, ec)) {
        err << "tamsin: " << (options.file.empty() ? std::string("\"\"") : options.file)
            << " is a folder: give the snapshot a file name\n";
        return kExitUsage;
    }
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const std::string path = withSnapshotExtension(options.file);
    const SnapshotResult saved = saveSnapshot(mounted->session.mounted, 0, path);
    if (!saved.ok()) {
        if (saved.status == SnapshotStatus::CannotOpen)
            err << "tamsin: cannot write the snapshot " << path << ": " << std::strerror(saved.error) << '\n';
        else
            err << "tamsin: " << snapshotMessage(saved) << '\n';
        return kExitError;
    }
    out << "Saved snapshot " << path << " (" << mounted->session.mounted.folderCount() << " folders, "
        << mounted->session.mounted.fileCount() << " files)\n";
    return kExitOk;
}

} // namespace tamsin::cli
