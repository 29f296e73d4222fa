#pragma once
// Shared steps of the commands that work on a mounted volume: open the disk,
// read its volume tables, pick volume N and mount it with progress on a
// terminal and the copy chooser answered from options or a prompt.

#include "SearchSupport.h"

#include "common/CodePage.h"
#include "session/Session.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tamsin::cli {

inline constexpr int kExitCopyChoiceNeeded = 3;

struct MountOptions {
    std::string disk;
    int volume = -1;
    std::string snapshot;  // load this snapshot instead of mounting
    bool forceSnapshot = false;  // load it even when DISK does not hold its entries
    SearchOptions search;  // pick volume N from a volume search instead of the volume tables
    int fatCopy = 0;  // 1 or 2 to answer the FAT chooser; 0 to ask
    int detCopy = 0;
    std::string codePage = "CP437";
    std::vector<std::string> with;  // further disks: other segments and mirror members
    std::string map;                // DISK's rescue map
    bool noMap = false;             // ignore maps beside the images
    AccessMode accessMode = AccessMode::Native;
};

struct MountedDisk {
    explicit MountedDisk(AccessMode mode) : session(mode) {}

    Session session;
    std::unique_ptr<CodePageConverter> names;
    std::string diskPath;
};

// Mounts the volume (or loads the snapshot); on failure writes the message
// to err and sets status.
std::unique_ptr<MountedDisk> mountFromOptions(const MountOptions& options, std::ostream& err, int& status);

} // namespace tamsin::cli
