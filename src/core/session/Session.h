#pragma once
// The application state both front ends own: one instance of each shared
// table, living for the whole run.

#include "disk/DiskInfo.h"
#include "disk/SectorReader.h"
#include "mount/MountedVolume.h"
#include "recovery/Extraction.h"
#include "recovery/RecoverySettings.h"
#include "search/FileFilters.h"
#include "volumes/VolumeInfo.h"

namespace tamsin {

struct Session {
    DiskTable disks;
    SectorReader reader;
    VolumeTable volumes;
    MountedVolume mounted;
    RecoverySettings settings{reader.defaultSectorsPerAttempt()};
    FileFilters filters;
    RecoveryRunState recovery;

    // Stores the retry count in the settings and hands it to the reader.
    bool setRetryCount(std::uint16_t count)
    {
        if (!settings.setRetryCount(count))
            return false;
        reader.setRetryCount(count);
        return true;
    }
};

} // namespace tamsin
