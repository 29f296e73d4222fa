#pragma once
// Recovery snapshot files: what browsing needs of one mounted volume (its
// fields, every folder and file node, the suballocation roots and the chain
// of the FAT copy in use), saved so a later run can skip reading the tables.

#include "snapshot/SnapshotDiskCheck.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;

inline constexpr const char* kSnapshotMagic = "vsp4.02";
inline constexpr const char* kSnapshotVersion = "1.0";
inline constexpr const char* kSnapshotExtension = ".VSNP";

enum class SnapshotStatus {
    Ok,
    CannotOpen,     // the file cannot be opened or read (loading), or created (saving)
    WrongMagic,     // the file does not start with kSnapshotMagic
    WrongVersion,   // its version is not kSnapshotVersion
    Damaged,        // the file is cut short, holds impossible lengths or counts, or has bytes past its end
    WriteFailed,    // saving: the file could not be written completely; an existing file is untouched
    OtherDisk,      // loading: the disk does not hold the snapshot's entries and loading was declined
};

// What is wrong with a damaged snapshot file.
enum class SnapshotDamage {
    None,
    ShortStart,              // the file ends inside its magic or version
    ShortHeader,             // the volume's fields are cut short
    ImpossibleBlockSize,     // the volume's block size is 0 or larger than any volume has
    MissingCount,            // the count of a node list is missing
    TooManyNodes,            // a node list counts more records than the file can hold
    ShortRecord,             // a node record is cut short
    ImpossibleRecordLength,  // a node record's length is out of range
    BadRecordName,           // a node record's name is empty or holds a NUL byte
    ShortSuballocationRoots, // the suballocation roots are cut short
    ShortFatList,            // the FAT block list is cut short
    BytesAfterFatList,       // bytes follow the FAT block list
};

enum class SnapshotNodeList { Folders, Files };

struct SnapshotResult {
    SnapshotStatus status = SnapshotStatus::Ok;
    std::string path;  // the file written or read
    int error = 0;     // CannotOpen when saving, and WriteFailed: errno of the failed call
    std::string foundMagic;  // WrongMagic: the file's first seven bytes (fewer in a shorter file) up to a zero byte
    SnapshotDamage damage = SnapshotDamage::None;       // Damaged: what is wrong
    SnapshotNodeList damagedList = SnapshotNodeList::Folders;  // Damaged, MissingCount to BadRecordName: where
    SnapshotDiskMatch diskMatch = SnapshotDiskMatch::Unknown;  // OtherDisk: what the disk check found
    bool ok() const { return status == SnapshotStatus::Ok; }
};

// path with ".VSNP" appended unless it ends so already, in any letter case.
std::string withSnapshotExtension(const std::string& path);

// The file name a choice in the save dialog becomes: the file-name part
// upper-cased (the folders keep their case), then withSnapshotExtension.
std::string snapshotPath(const std::string& chosen);

// Writes volume to path (use snapshotPath or withSnapshotExtension first). The bytes go to a temporary
// file in the same folder that replaces path only once complete.
SnapshotResult saveSnapshot(const MountedVolume& volume, std::uint16_t diskNumber, const std::string& path);

// The disks a snapshot is loaded for, the selected one first. When disks
// are given and their sampled directory sectors do not confirm the
// snapshot's names (checkSnapshotSamples), loadAnyway is asked whether to
// load it all the same, given what the check found; without it, or when it
// answers false, loading ends with OtherDisk.
struct SnapshotDiskGuard {
    std::vector<const SectorReader*> disks;
    std::function<bool(SnapshotDiskMatch match)> loadAnyway;
};

// Reads path and, only when every check passes, replaces volume's fields,
// node lists, suballocation roots and chosen FAT list, then rebuilds the
// index and folder tree. On any failure volume is left as it was.
SnapshotResult loadSnapshot(MountedVolume& volume, const std::string& path, std::uint16_t* diskNumber = nullptr,
                            const SnapshotDiskGuard& guard = {});

} // namespace tamsin
