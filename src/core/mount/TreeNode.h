#pragma once
// One decoded folder or file of the directory model.

#include "mount/NodeName.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamsin {

inline constexpr std::uint8_t kFolderAttribute = 0x10;      // in attributes (entry byte 4)
inline constexpr std::uint8_t kCompressedAttribute = 0x04;  // in attributesHigh (entry byte 7)
inline constexpr std::size_t kMaxNodeNameLength = 255;

// The fields of the root record a report shows.
struct RootRecord {
    bool found = false;
    std::vector<std::uint8_t> nameSpaces;  // codes in table order, DOS (0) first
    std::uint32_t createdDateTime = 0;     // packed stamp at @24
    std::uint8_t volumeFlags = 0;
};

// "DOS", "MAC", "NFS", "FTAM", "LONG", "NT" for name-space codes 0..5; empty otherwise.
const char* nameSpaceName(std::uint8_t code);

// DOS names of nodes shown by another name space's name, by node key. Filled
// in list order during a walk; lookups need finish() first. A sorted vector
// keeps a million-entry volume's table small.
class DosNameTable {
public:
    void add(std::uint64_t key, std::string name) { entries_.emplace_back(key, std::move(name)); }
    // Sorts by key; of several names for one key the first added stays.
    void finish();
    const std::string* find(std::uint64_t key) const;
    void clear() { entries_ = decltype(entries_)(); }  // frees the memory too
    bool empty() const { return entries_.empty(); }

private:
    std::vector<std::pair<std::uint64_t, std::string>> entries_;
};

// Fields are laid out widest first: a volume holds a million of these.
struct TreeNode {
    NodeName name;  // raw bytes in the volume's code page, 1..255 bytes, no NUL
    std::uint32_t parentId = 0;
    std::uint32_t ownId = 0;
    std::uint32_t size = 0;
    std::uint32_t firstBlock = 0;
    std::uint32_t dateTime = 0;
    std::uint32_t deletedMarker = 0;
    std::uint32_t ordinal = 0;   // position counter of its list when it was added
    std::uint32_t treeItem = 0;  // folders: key of its item in the last tree build; 0 = not in the tree
    std::uint32_t entrySector = 0;
    std::uint32_t mirrorSector = 0;
    std::uint32_t modifiedDateTime = 0;  // packed stamp at @40; not kept in snapshots
    std::uint16_t entrySlot = 0;
    std::uint8_t attributes = 0;
    std::uint8_t attributesHigh = 0;

    bool isFolder() const { return (attributes & kFolderAttribute) != 0; }
    bool isDeleted() const { return deletedMarker != 0; }
    bool isCompressed() const { return (attributesHigh & kCompressedAttribute) != 0; }
    // A folder the lost-data pass made for a missing parent: no entry on the disk holds it.
    bool isPlaceholder() const { return entrySector == 0 && mirrorSector == 0; }
};

static_assert(sizeof(TreeNode) == 64);

} // namespace tamsin
