#pragma once
// Recovery snapshot files: what browsing needs of one mounted volume (its
// fields, every folder and file node, the suballocation roots and the chain
// of the FAT copy in use), saved so a later run can skip reading the tables.

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

inline constexpr const char* kUnableToOpenMessage = "Unable to open the file";
inline constexpr const char* kInvalidMagicPrefix = "    Invalid version of the file found : ";
inline constexpr const char* kVersionMismatchMessage =
    "              version of file does not match with current version 1.0";

enum class SnapshotStatus {
    Ok,
    CannotOpen,     // kUnableToOpenMessage
    WrongMagic,     // kInvalidMagicPrefix + the file's first seven bytes as text
    WrongVersion,   // kVersionMismatchMessage
    Damaged,        // the file is cut short, holds impossible lengths or counts, or has bytes past its end
    WriteFailed,    // saving: the file could not be written completely; an existing file is untouched
    OtherDisk,      // loading: the disk does not hold the snapshot's entries and loading was declined
};

struct SnapshotResult {
    SnapshotStatus status = SnapshotStatus::Ok;
    std::string message;  // the text to show the user; empty for Ok
    std::string path;     // the file written or read
    int error = 0;        // CannotOpen: errno of the failed open
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
// snapshot's names (checkSnapshotSamples), loadAnyway is asked the question
// of snapshotOtherDiskQuestion; without it, or when it answers false,
// loading ends with OtherDisk and that question as the message.
struct SnapshotDiskGuard {
    std::vector<const SectorReader*> disks;
    std::function<bool(const std::string& question)> loadAnyway;
};

// Reads path and, only when every check passes, replaces volume's fields,
// node lists, suballocation roots and chosen FAT list, then rebuilds the
// index and folder tree. On any failure volume is left as it was.
SnapshotResult loadSnapshot(MountedVolume& volume, const std::string& path, std::uint16_t* diskNumber = nullptr,
                            const SnapshotDiskGuard& guard = {});

} // namespace tamsin
