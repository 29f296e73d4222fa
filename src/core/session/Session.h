#pragma once
// The application state both front ends own: one instance of each shared
// table, living for the whole run.

#include "disk/DiskInfo.h"
#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"
#include "volumes/VolumeInfo.h"

namespace tamsin {

struct Session {
    DiskTable disks;
    SectorReader reader;
    VolumeTable volumes;
    MountedVolume mounted;
};

} // namespace tamsin
