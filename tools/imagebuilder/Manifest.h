#pragma once
// What the builder wrote into a volume segment with contents: the table
// chains and every DET entry the reader decodes as a folder or file, so that
// tests can compare a mount of the image against it.

#include "imagebuilder/VolumeContents.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin::imagebuilder {

struct BuiltLayout;

// The bytes a file's blocks and fragment hold: `prefix`, then pattern bytes
// of `patternSeed`, `length` bytes in all; compressed files carry their
// header (checkSize at 4, storedLength at 8) over bytes 4..11. These are the
// bytes a correct extraction writes (for compressed files: the stored stream
// up to its stored length).
struct FileContent {
    bool known = false; // false for entries planted as raw bytes
    std::uint32_t length = 0;
    std::uint32_t patternSeed = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> prefix; // null: none
    bool compressedHeader = false;
    std::uint32_t checkSize = 0;
    std::uint32_t headerStoredLength = 0;
};

// Fills `out` with content bytes from `offset` on; bytes past the length are zero.
void contentBytes(const FileContent& content, std::uint64_t offset, std::span<std::uint8_t> out);

// Why the reader stops following a DOS entry's name-space chain.
enum class ChainEnd : std::uint8_t {
    Zero,         // a NameList of 0
    Revisited,    // a DET position already visited (the DOS entry's own included)
    LinkLimit,    // kMaxNameSpaceLinks records were taken and another link follows
    Outside,      // a position past DET copy 1
    DosRecord,    // a record of name space 0 (not taken)
    NotRecord,    // an entry whose parent field is a special value, 0xFFFFFFFB and up (not taken)
    OtherPrimary, // a record whose PrimaryEntry is not the DOS entry's position (not taken)
};

// "zero", "revisited", "linkLimit", "outside", "dosRecord", "notRecord", "otherPrimary".
const char* chainEndName(ChainEnd end);

// A record the reader takes on a DOS entry's name-space chain.
struct ChainRecord {
    std::uint32_t position = 0;
    std::uint8_t nameSpace = 0;
    // The name as the reader takes it: @11 bytes clamped to the name space's
    // field (nameSpaceNameClamp), cut at the first NUL. Empty: no name taken
    // (also for FTAM and unknown name spaces).
    std::string name;
};

// A name-space record the builder wrote for an entry, as the builder encodes
// it into DET copy 1 (a position past a shortened DET chain is not in the image).
struct WrittenNameSpaceRecord {
    std::uint32_t position = 0;
    std::uint8_t nameSpace = 0;
    std::uint8_t nameLength = 0;     // byte 11
    std::uint32_t primaryEntry = 0;  // byte 120
    std::uint32_t next = 0;          // byte 124
};

// A DOS entry's name-space chain as the reader walks it, and the records the
// builder wrote for the entry.
struct NameSpaceChain {
    std::vector<ChainRecord> taken; // in chain order
    ChainEnd end = ChainEnd::Zero;
    std::vector<WrittenNameSpaceRecord> written; // in chain order
};

struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const ByteRange&) const = default;
};

// A DET entry the reader decodes as a folder or file.
struct ManifestEntry {
    bool folder = false;
    // The name shown: the first LONG, else NFS, else MAC name taken from the
    // chain; else the long-name entry in the next slot of the same sector
    // (slots 0..2, length 1..80); else the DOS name; cut at the first NUL.
    std::string name;
    std::string dosName; // bytes 12.. of the DOS entry, @11 of up to 15, cut at the first NUL
    std::uint32_t parentId = 0;
    std::uint32_t ownId = 0;
    std::uint32_t size = 0;
    std::uint32_t firstBlock = 0;
    std::uint32_t dateTime = 0;
    std::uint32_t modifiedDateTime = 0; // entry byte 40
    std::uint32_t deletedMarker = 0;
    std::uint8_t attributes = 0;     // entry byte 4
    std::uint8_t attributesHigh = 0; // entry byte 7
    std::uint32_t position = 0;      // DET position of the entry
    std::uint64_t entrySector = 0;   // absolute sector in DET copy 1
    // The same position in DET copy 2; when copy 2 has no block there, the
    // sector's number within its block counting from 1 (what the reader reports).
    std::uint64_t mirrorSector = 0;
    std::uint16_t slot = 0;
    std::vector<std::uint32_t> dataBlocks; // files: the chain as linked, loops not repeated
    std::uint32_t fragment = 0;            // fragment reference of the tail or fragment-only data; 0: none
    FileContent content;                   // files

    std::uint32_t nameList = 0; // entry byte 124: the first record of the name-space chain
    // Null when nameList is 0 and the builder wrote no records for the entry
    // (most entries: kept out of line to keep large manifests small).
    std::shared_ptr<const NameSpaceChain> nameSpaceChain;

    // File bytes a correct extraction cannot read (a lost sector of a
    // redirected block that no in-sync mirror member delivers, or a block of a
    // missing segment), in file order: expectedData() holds zeros there.
    std::vector<ByteRange> unreadable;
    // Holes of a sparse file: bytes no block holds, zeros in expectedData().
    std::vector<ByteRange> holes;

    bool deleted() const { return deletedMarker != 0; }
    bool incomplete() const { return !unreadable.empty(); }
    // The records the reader takes from the chain, in chain order.
    const std::vector<ChainRecord>& chain() const;
    // Why the walk stopped (Zero when nameList is 0).
    ChainEnd chainEnd() const { return nameSpaceChain ? nameSpaceChain->end : ChainEnd::Zero; }
    // The builder's records for the entry, in chain order.
    const std::vector<WrittenNameSpaceRecord>& nameSpaceRecords() const;
    // The first name taken from the chain for the name space, or nullptr.
    const std::string* chainName(std::uint8_t nameSpace) const;
    bool compressed() const { return (attributesHigh & (kCompressedAttribute >> 24)) != 0; }
};

// The bytes a correct extraction of the file writes: zeros in holes and where unreadable.
std::vector<std::uint8_t> expectedData(const ManifestEntry& entry);

// A chain as written: its blocks in order, the sequence in the first block's
// entry and the next in the last block's entry.
struct ChainManifest {
    std::vector<std::uint32_t> blocks;
    std::uint32_t firstSequence = 0;
    std::uint32_t lastNext = kChainEnd;
};

// One segment of a volume as the reader reports it.
struct ManifestSegment {
    std::size_t disk = 0;          // index of the disk in the set (0 for a single disk)
    int partitionSlot = 0;         // the partition the reader reads the segment from
    std::uint64_t startSector = 0; // home disk sector of its first sector: P + H + volumeRoot
    std::uint32_t sizeSectors = 0;
    std::uint32_t firstVolumeBlock = 0;
    std::uint32_t volumeRoot = 0;  // logical sector of the data area
    std::uint8_t index = 0;        // segment index
    bool present = true;           // false: no table entry, the reader does not find it
};

struct VolumeManifest {
    std::string name;
    // Home disk sector of the first segment; for a volume of several
    // segments use `segments` (or blockSector).
    std::uint64_t startSector = 0;
    std::uint32_t sizeSectors = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t sectorsPerBlock = 0;
    std::array<ChainManifest, 2> fat; // index 0 is copy 1
    std::array<ChainManifest, 2> det;
    std::array<std::uint32_t, kSuballocationRootCount> suballocationRoots{};
    std::vector<std::pair<std::uint32_t, ChainManifest>> suballocationChains; // by size class
    std::uint32_t detPositions = 0; // positions laid out in DET copy 1, padding included
    // From the root entry (position 0 with 0xFFFFFFFD at 0 and name space 0):
    // the names "DOS", "MAC", "NFS", "FTAM", "LONG", "NT" of the first
    // max(@11, 1) table entries (at most the table's size), in table order,
    // each once, other codes skipped; ["DOS"] when none is left or there is no
    // root entry. And the creation stamp at 24 (0 without a root entry).
    std::vector<std::string> nameSpaces;
    std::uint32_t created = 0;
    std::vector<ManifestEntry> entries; // in DET copy 1 order
    // Every segment in segment order, present or not; one for a volume of
    // one segment. Entry and mirror sectors are home sectors of these.
    std::vector<ManifestSegment> segments;
    bool complete = true;              // every segment has its table entry
    std::uint32_t incompleteFiles = 0; // entries with unreadable bytes

    // The segment holding volume block `block`, or nullptr.
    const ManifestSegment* segmentOf(std::uint32_t block) const
    {
        for (const ManifestSegment& segment : segments)
            if (block >= segment.firstVolumeBlock && sectorsPerBlock != 0
                && block - segment.firstVolumeBlock < segment.sizeSectors / sectorsPerBlock)
                return &segment;
        return nullptr;
    }
    // Home disk sector of a block's first sector, on its segment's disk; past
    // every segment, as if the first segment went on.
    std::uint64_t blockSector(std::uint32_t block) const
    {
        if (const ManifestSegment* segment = segmentOf(block))
            return segment->startSector + std::uint64_t{block - segment->firstVolumeBlock} * sectorsPerBlock;
        return startSector + std::uint64_t{block} * sectorsPerBlock;
    }
    // The first entry named `name` (as the reader takes it), or nullptr.
    const ManifestEntry* find(std::string_view name) const;
};

// The manifests of every segment with contents as one JSON document:
// {"volumes": [{"partitionSlot", "name", "startSector", ..., "entries": [...]}],
//  "partitions": [...], "rows": [...]} (format in tools/mkimage/README.md).
// Written entry by entry, so that large volumes need little memory.
void writeManifestJson(const BuiltLayout& layout, std::ostream& out);

struct DiskSetLayout;
// The same for several disks: "disks" with their paths (when given, one per
// disk), then every volume with contents (those of each disk in disk order,
// then the spanned ones), every partition and every table row.
void writeManifestJson(const DiskSetLayout& layout, std::ostream& out, const std::vector<std::string>& paths = {});

std::uint32_t crc32(std::span<const std::uint8_t> bytes);

} // namespace tamsin::imagebuilder
