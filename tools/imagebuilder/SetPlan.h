#pragma once
// Internal: a set of disks planned for writing. planSet validates the whole
// description and decides where everything lies and what a correct reader
// will see; emitSet writes it through one sink per disk.

#include "imagebuilder/ImageBuilder.h"
#include "imagebuilder/PartitionHeaders.h"
#include "imagebuilder/VolumeWriter.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tamsin::imagebuilder::detail {

class SectorSink;

// One entry of a partition's volume table.
struct EntryPlan {
    VolumeTableEntry entry;
    int ownSegment = -1;     // index in the partition's own segments, or -1
    int spanned = -1;        // index in DiskSetSpec::volumes, or -1
};

struct PartitionPlan {
    const PartitionSpec* described = nullptr;
    std::string where; // "partitions[i]" with the disk's prefix
    PartitionLayout layout;
    bool sizedToFit = false;
    std::vector<std::unique_ptr<VolumeWriter>> writers; // per own segment; null without contents
    std::vector<EntryPlan> table;                       // in table order
    std::uint32_t dataEnd = kFirstSegmentSector;        // logical sector after the last segment placed
    std::uint32_t dataSectors = 0;                      // T with headers, N - H without
    const PartitionHeaders* headers = nullptr;
    std::optional<HotfixTables> hotfix;
    int group = -1;

    std::uint32_t hotfixLength() const { return layout.hotfixLength; }
    // Home disk sector of logical sector s.
    std::uint64_t home(std::uint64_t logical) const { return layout.startSector + std::uint64_t{hotfixLength()} + logical; }
    const std::map<std::uint32_t, Redirection>& redirects() const;
    bool lost(std::uint32_t logicalSector) const; // a bad sector of a redirected block
};

struct DiskPlan {
    const DiskSpec* described = nullptr;
    std::string prefix; // "" or "disks[d]."
    BuiltLayout layout;
    std::vector<PartitionPlan> partitions; // in description order

    PartitionPlan* inSlot(int slot);
};

// A logical partition: the members of a mirror group, or one partition.
struct GroupPlan {
    std::vector<PartitionPlan*> members; // disk and slot order
    PartitionPlan* primary = nullptr;    // the one described with the table and volumes
    std::vector<bool> inSync;
    std::size_t reading = 0;             // the member the reader reads from
    std::set<std::uint32_t> unreadable;  // logical sectors no in-sync member delivers

    PartitionPlan& reader() const { return *members[reading]; }
    // The member the reader takes logical sector s from, or nothing.
    std::optional<std::size_t> source(std::uint32_t logicalSector) const;
};

struct SpannedSegmentPlan {
    PartitionPlan* partition = nullptr; // as described (a group primary)
    std::uint32_t root = 0;
    std::uint32_t sizeSectors = 0;
    std::uint32_t firstBlock = 0;
    bool entry = true;
};

struct SpannedPlan {
    const SpannedVolumeSpec* described = nullptr;
    std::string where;
    SegmentSpec whole; // the volume as one segment, for the writer (which keeps a reference)
    std::unique_ptr<VolumeWriter> writer;
    std::vector<SpannedSegmentPlan> segments;
    std::uint32_t blockCount = 0;
    SpannedVolumeLayout layout;
};

struct SetPlan {
    std::vector<DiskPlan> disks;
    std::vector<GroupPlan> groups;
    std::vector<std::unique_ptr<SpannedPlan>> spanned;
    bool anyUnreadable = false; // lost sectors or missing segments somewhere

    GroupPlan& groupOf(const PartitionPlan& partition) { return groups[static_cast<std::size_t>(partition.group)]; }
};

// Thrown while planning; planSet turns it into an Error.
struct PlanFailure {
    std::string message;
};
[[noreturn]] void throwPlanFailure(std::string message);

// Message pieces shared by the planners.
inline std::string indexed(const std::string& list, std::size_t index)
{
    return list + "[" + std::to_string(index) + "]";
}
inline std::string refText(PartitionRef ref)
{
    return "disk " + std::to_string(ref.disk) + " slot " + std::to_string(ref.slot);
}

// The steps after partitions, tables and sizes are planned (GroupPlanner.cpp):
// mirror groups of every NetWare partition; ids, flags and hot-fix tables
// and the member the reader reads; the sectors no in-sync member delivers
// and damage the reader would read; with unreadable sectors, the FAT and
// DET of every volume must read.
void formGroups(SetPlan& plan);
void planHeaders(SetPlan& plan);
void planReadView(SetPlan& plan);
void checkTablesReadable(SetPlan& plan);

// The descriptions must outlive the plan. `namedDisks`: error messages start
// with "disks[d].".
Result<std::unique_ptr<SetPlan>> planSet(const std::vector<const DiskSpec*>& disks,
                                         const std::vector<SpannedVolumeSpec>& volumes, bool namedDisks);

// Writes everything, disk d through sinks[d], in the documented order, and
// fills in the manifests and rows.
void emitSet(SetPlan& plan, const std::vector<SectorSink*>& sinks);

// The layout of a planned (and emitted) set.
DiskSetLayout takeLayout(SetPlan& plan);

// Where the reader finds one segment of a volume.
struct SegmentSource {
    const GroupPlan* group = nullptr;
    std::uint32_t root = 0;
    std::uint32_t firstBlock = 0;
    std::uint32_t sizeSectors = 0;
    bool present = true;
};

// The segments of a volume as the reader reports them (home sectors of the
// member it reads).
std::vector<ManifestSegment> manifestSegments(const std::vector<SegmentSource>& sources);

// Whether the reader can read volume sector v.
bool readable(const std::vector<SegmentSource>& sources, std::uint32_t sectorsPerBlock, std::uint64_t volumeSector);

// Fills in the segments of `manifest`, maps the entry and mirror sectors of a
// volume written from volume sector 0 (`atZero`) to home disk sectors, and
// marks the file bytes the reader cannot read.
void finishManifest(VolumeManifest& manifest, const std::vector<SegmentSource>& sources, bool atZero);

} // namespace tamsin::imagebuilder::detail
