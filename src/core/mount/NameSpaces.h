#pragma once
// The other name spaces of a directory: MAC, NFS, LONG and NT records hang
// off each DOS record in a chain (@124 names the next record's directory
// number; each record's @120 names the DOS record). The walk collects the
// records and chains; resolve() gives each node the name it is shown by.

#include "mount/TreeNode.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;

inline constexpr std::uint32_t kMaxNameSpaceLinks = 8;

// The root record's fields (directory number 0).
RootRecord decodeRootRecord(std::span<const std::uint8_t> entry);

class NameSpaceRecords {
public:
    // A record of another name space than DOS at directory number dirNo.
    void addRecord(std::uint32_t dirNo, std::span<const std::uint8_t> entry);
    // A DOS record at dirNo, whose @120 is primary, and whose chain starts
    // at firstLink (non-zero); node is its position in the folder or file list.
    void addChain(bool folder, std::uint32_t node, std::uint32_t dirNo, std::uint32_t primary, std::uint32_t firstLink);

    // Replaces the names of the chained nodes by their LONG name, else NFS,
    // else MAC name. A chain ends at 0, at a number already visited, after
    // kMaxNameSpaceLinks links, at a number without a record, or at a record
    // that names another DOS record (its @120 is neither the DOS record's
    // number nor the DOS record's own @120). Nodes whose chain gives no such
    // name keep theirs.
    // The DOS name of a renamed node is kept in volume.dosNames, which is
    // ready for lookups afterwards.
    void resolve(MountedVolume& volume);

    bool empty() const { return chains_.empty(); }

private:
    // Records are kept in one array and their shown names in one buffer: a
    // large volume has a record for every long name.
    struct Record {
        std::uint32_t dirNo = 0;
        std::uint32_t primary = 0;  // @120: the DOS record it belongs to
        std::uint32_t next = 0;     // @124
        std::uint32_t nameOffset = 0;
        std::uint8_t nameLength = 0;  // names of MAC, NFS and LONG records only
        std::uint8_t nameSpace = 0;
    };
    const Record* find(std::uint32_t dirNo) const;
    struct Chain {
        bool folder = false;
        std::uint32_t node = 0;
        std::uint32_t dirNo = 0;
        std::uint32_t primary = 0;  // the DOS record's @120
        std::uint32_t firstLink = 0;
    };
    std::vector<Record> records_;  // sorted by directory number unless unsorted_
    bool unsorted_ = false;
    std::string names_;
    std::vector<Chain> chains_;
};

} // namespace tamsin
