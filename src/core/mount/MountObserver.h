#pragma once
// What a mount reports while it runs, and the one question it asks.

#include <cstdint>
#include <string>

namespace tamsin {

enum class TableKind : std::uint16_t { Fat = 1, Det = 2 };
enum class CopyChoice { First = 1, Second = 2, Cancel = 0 };

// Milestones a front end follows to show and hide its controls.
enum class MountStage {
    ReadingTables,     // chains of the first table are being read; Stop not yet offered
    Matching,          // copies are compared; Stop is offered from here on
    WalkingDirectory,  // the directory walk starts (the wizard advances its step display)
    BuildingTree,      // the walk and lost-data pass are done; Stop is withdrawn
};

class MountObserver {
public:
    virtual ~MountObserver() = default;

    virtual void mountStatus(const std::string& /*text*/) {}
    virtual void mountProgress(int /*percent*/) {}
    virtual void mountInstruction(const std::string& /*text*/) {}
    virtual void mountStage(MountStage /*stage*/) {}
    // After every decoded folder or file: the counts so far and its raw name.
    virtual void mountCounters(std::uint32_t /*folders*/, std::uint32_t /*files*/, const std::string& /*lastName*/) {}

    // The two copies of a table differ (or their comparison was stopped):
    // which one to use. Blocks the mount until answered.
    virtual CopyChoice chooseCopy(TableKind kind) = 0;
};

} // namespace tamsin
