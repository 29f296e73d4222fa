#pragma once
// Recognising directory and FAT blocks by their content alone, for volumes
// whose tables no longer say where those blocks are. Only fields every volume
// defines decide: a record's parent id or special marker, its name space and
// its name's length and characters, a suballocation record's number; FAT
// entries' sequence and next values.

#include <cstdint>
#include <span>

namespace tamsin {

enum class RecordKind {
    Empty,          // parent 0, DOS name space, no name: a slot never used
    Free,           // 0xFFFFFFFF
    Root,           // 0xFFFFFFFD
    Suballocation,  // 0xFFFFFFFB with a record number 0..4
    Trustee,        // 0xFFFFFFFE
    Restriction,    // 0xFFFFFFFC
    Entry,          // a file's or folder's record in one of the name spaces
    Invalid,
};

// What one 128-byte directory record is.
RecordKind classifyRecord(std::span<const std::uint8_t> record);

// The directory number of the folder a record belongs to: its parent id;
// for trustee and restriction records the folder they lie in (@12); 0 for
// the root and suballocation records. Meaningful for records other than
// Empty, Free and Invalid.
std::uint32_t recordOwner(std::span<const std::uint8_t> record);

struct DirectoryBlockMatch {
    bool directory = false;     // every record valid, and one more than an empty or free slot
    std::uint32_t entries = 0;  // Entry records
    bool holdsRoot = false;     // a root record: the first block of the table
    // Each 4 KiB unit holds the records of one owner, as NetWare allots
    // them; a volume written otherwise mixes them, so this adds confidence
    // and decides nothing.
    bool singleOwner = false;
    std::uint32_t owner = 0;    // of the first record that has one
};

// Whether block reads as a block of the directory table: every record
// valid and at least one that is more than an empty or free slot.
DirectoryBlockMatch matchDirectoryBlock(std::span<const std::uint8_t> block);

// Whether block reads as a block of a FAT whose first entry is that of
// volume block firstEntry: {sequence, next} pairs whose sequence stays below
// 2^24, whose next is 0 only beside sequence 0, whose next names a block
// below blockCount unless it is an end or a fragment reference, no block
// named twice, and at least one entry not all zero. Entries of blocks past
// the volume's count are left undefined by the format and decide nothing.
bool matchFatBlock(std::span<const std::uint8_t> block, std::uint32_t blockCount, std::uint64_t firstEntry);

} // namespace tamsin
