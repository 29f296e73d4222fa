#pragma once
// The whole mount of a picked volume: table chains, copy choice, directory
// walk, lost-data pass and folder tree.

#include <string>

namespace tamsin {

class MountedVolume;
class MountObserver;
class SectorReader;

enum class MountResult {
    Completed,  // also after a stop during the walk: what was decoded is kept
    Abandoned,  // Cancel in a copy chooser; no tree was built
    Invalid,    // the volume's block size is 0 or larger than any volume has (a damaged table entry)
};

// Runs the mount on the calling thread over volume's volume fields. Clears
// stopRequested at the start of each phase; sets busy while it runs.
MountResult mountVolume(MountedVolume& volume, const SectorReader& reader, MountObserver& observer);

} // namespace tamsin
