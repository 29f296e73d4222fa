#pragma once
// The volumes the mount, recovery, find and snapshot tests read, described
// once, so that the same volumes can also be written with noise in every byte
// the format leaves undefined (see NoisyTwinsTest).

#include "imagebuilder/DiskDescription.h"
#include "imagebuilder/VolumeContents.h"

#include <functional>
#include <string>
#include <vector>

namespace tamsin::test {

// DOCS (one file with a long name), the deleted OLD with a deleted file, a
// compressed file, a suballocated tail and ROOT.TXT.
imagebuilder::VolumeContents mountSample();

// USERS/ANN, a deleted file and names that must not leave the destination.
imagebuilder::VolumeContents recoveryTree();

// A live and a deleted folder OLDDATA: A.TXT and NOTES.TXT in the live one,
// NOTES.TXT (other bytes) and B.TXT in the deleted one.
imagebuilder::VolumeContents sameNameFolders();

// SYSTEM/MAIL, a deleted file with a long name, a compressed file, a file
// whose folder is gone and a long name that ends in .BAK.
imagebuilder::VolumeContents commandSample();

// Files and a folder named through name-space chains (LONG, NFS, MAC), one
// chain looping; the root lists DOS, LONG, NFS, MAC.
imagebuilder::DiskSpec nameSpaceDisk();

// A long-name record in the slot after ALPHA.TXT that belongs to BETA.TXT,
// and a deleted file whose chain leads nowhere.
imagebuilder::VolumeContents nextSlotOwners();

// A DOS entry whose @120 is not its number, heading records that carry it.
imagebuilder::VolumeContents chainPrimaryEntries();

struct SampleVolume {
    std::string name;
    std::function<imagebuilder::DiskSpec()> disk;
};

// Each of the above as a disk, the demo disk, and a generated volume of 3,000
// entries with deleted files, long names in the next slot and chained ones.
std::vector<SampleVolume> sampleVolumes();

// Sets the noise seed of every volume with contents on the disk.
void addNoise(imagebuilder::DiskSpec& disk, std::uint64_t seed);

} // namespace tamsin::test
