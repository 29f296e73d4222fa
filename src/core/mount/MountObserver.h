#pragma once
// What a mount reports while it runs, and the one question it asks.

#include <cstdint>
#include <string>

namespace tamsin {

enum class TableKind : std::uint16_t { Fat = 1, Det = 2 };
enum class CopyChoice { First = 1, Second = 2, Cancel = 0 };

// Milestones of a mount, in order.
enum class MountStage {
    ReadingTables,     // the FAT chains are read; a stop request ends a sector-by-sector retry only
    Matching,          // the copies are compared; from here on a stop request ends the phase under way
    WalkingDirectory,  // the directory walk starts: folders and files are decoded from here on
    BuildingTree,      // the walk and lost-data pass are done; the folder tree is built, which cannot be stopped
};

// The phase a mount is in, in the order they come.
enum class MountStatus {
    ReadingFirstFat,
    ReadingSecondFat,
    MatchingFat,       // only when both FAT chains have the same length
    ReadingFirstDet,
    ReadingSecondDet,
    MatchingDet,       // only when both DET chains have the same length
    Mounting,          // the directory walk of the named volume
    SearchingLostData,
    CreatingTree,
};

// What a user of the volume can do, as a mount starts and ends.
enum class MountInstruction {
    Mounting,      // the mount has started; nothing is browsable until it ends
    SelectVolume,  // the mount ended without a volume (invalid, or a copy choice was cancelled): pick one
    Browsing,      // the mount completed: its folders and files can be browsed, opened and recovered
};

class MountObserver {
public:
    virtual ~MountObserver() = default;

    // volumeName is the raw name (DOS code page) of the volume mounted.
    virtual void mountStatus(MountStatus /*status*/, const std::string& /*volumeName*/) {}
    virtual void mountProgress(int /*percent*/) {}
    virtual void mountInstruction(MountInstruction /*instruction*/) {}
    virtual void mountStage(MountStage /*stage*/) {}
    // After every decoded folder or file: the counts so far and its raw name.
    virtual void mountCounters(std::uint32_t /*folders*/, std::uint32_t /*files*/, const std::string& /*lastName*/) {}

    // The two copies of a table differ (or their comparison was stopped):
    // which one to use. Blocks the mount until answered.
    virtual CopyChoice chooseCopy(TableKind kind) = 0;
};

} // namespace tamsin
