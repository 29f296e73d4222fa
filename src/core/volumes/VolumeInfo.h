#pragma once
// NetWare volume segments as found in volume tables, and the table of them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tamsin {

class VolumeLayout;

struct VolumeInfo {
    std::string name;  // raw bytes from the volume table, in the volume's DOS code page
    std::uint32_t firstFatBlock = 0;
    std::uint32_t secondFatBlock = 0;
    std::uint32_t firstDetBlock = 0;
    std::uint32_t secondDetBlock = 0;
    std::uint64_t sizeSectors = 0;
    std::uint64_t startSector = 0;  // absolute sector of block 0
    std::uint32_t blockCount = 0;
    std::uint32_t sectorsPerBlock = 0;
    std::uint32_t treeItem = 0;  // the record's item in a front end's volume list; 0 = none

    // Where the row came from and the volume it belongs to. A row of the
    // simple kind is segment 0 of 1; multi-segment volumes give one row per
    // segment, all sharing one layout.
    std::string diskPath;               // disk holding the segment (the first mirror member's)
    std::uint32_t diskIndex = 0;        // its position among the session's disks
    std::uint32_t segment = 0;          // 0-based segment index
    std::uint32_t segmentCount = 1;
    std::uint32_t volumeBlocks = 0;     // blocks of the whole volume
    std::uint32_t firstVolumeBlock = 0; // first volume block the segment holds
    std::vector<std::string> mirrors;   // paths of every mirror member's disk; empty when not mirrored
    // How to read the whole volume; null: blocks lie from startSector on the
    // session's first disk (volumes found by a search, records made by hand).
    std::shared_ptr<const VolumeLayout> layout;

    bool complete() const;
};

class VolumeTable {
public:
    static constexpr std::size_t kCapacity = 256;

    void clear() { records_.clear(); }
    // Appends a record; returns false (and keeps nothing) once the table is full.
    bool append(VolumeInfo record);

    std::uint32_t volumeCount() const { return static_cast<std::uint32_t>(records_.size()); }
    bool full() const { return records_.size() >= kCapacity; }
    const std::vector<VolumeInfo>& records() const { return records_; }
    VolumeInfo& operator[](std::size_t i) { return records_[i]; }
    const VolumeInfo& operator[](std::size_t i) const { return records_[i]; }

private:
    std::vector<VolumeInfo> records_;
};

// "Volume End": one past the last sector.
std::uint64_t volumeEndSector(const VolumeInfo& volume);

// What the rows shown for a picked volume tell, in their order.
enum class VolumeProperty { Type, Start, End, Size };

struct VolumePropertyRow {
    VolumeProperty property;
    std::string value;
};

// The volume's type, start and end sectors and size in megabytes (rounded down).
std::vector<VolumePropertyRow> volumeProperties(const VolumeInfo& volume);

} // namespace tamsin
