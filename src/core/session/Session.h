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

#include <memory>
#include <vector>

namespace tamsin {

struct Session {
    explicit Session(AccessMode mode = AccessMode::Native) : reader(mode) { disks.accessMode = mode; }

    DiskTable disks;
    SectorReader reader;  // the selected disk
    // Further disks read with it: segments of one volume may lie on several
    // disks, and mirror members on another disk.
    std::vector<std::unique_ptr<SectorReader>> moreDisks;
    VolumeTable volumes;
    MountedVolume mounted;
    RecoverySettings settings{reader.defaultSectorsPerAttempt()};
    FileFilters filters;
    RecoveryRunState recovery;

    // Stores the retry count in the settings and hands it to every reader.
    bool setRetryCount(std::uint16_t count)
    {
        if (!settings.setRetryCount(count))
            return false;
        reader.setRetryCount(count);
        for (auto& disk : moreDisks)
            disk->setRetryCount(count);
        return true;
    }

    // A new reader for a further disk, with the first disk's access mode and settings.
    SectorReader& addDisk()
    {
        auto& disk = moreDisks.emplace_back(std::make_unique<SectorReader>(reader.accessMode()));
        disk->setRetryCount(reader.retryCount());
        return *disk;
    }

    // Closes the further disks. Volume records and the mounted volume keep
    // pointers to them: empty the volume table and release the mount first.
    void closeMoreDisks() { moreDisks.clear(); }

    // Every open disk, the selected one first.
    std::vector<const SectorReader*> openDisks() const
    {
        std::vector<const SectorReader*> all{&reader};
        for (const auto& disk : moreDisks)
            all.push_back(disk.get());
        return all;
    }
};

} // namespace tamsin
