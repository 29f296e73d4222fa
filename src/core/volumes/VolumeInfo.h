#pragma once
// NetWare volume segments as found in volume tables, and the table of them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

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

// The label/value rows shown when a volume is picked: Volume Type, Start,
// End and Size, labels padded as displayed.
std::vector<std::pair<std::string, std::string>> volumePropertyRows(const VolumeInfo& volume);

} // namespace tamsin
