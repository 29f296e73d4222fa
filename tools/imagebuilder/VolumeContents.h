#pragma once
// What a volume segment holds: folders and files, how their blocks are
// allocated, and knobs that damage or vary the FAT and DET for tests.
//
// On-disk layout written for a segment whose block 0 starts at sector S
// (block b starts at S + b * sectorsPerBlock):
//   FAT   one table of 8-byte entries {u32 sequence, u32 next}, one per block,
//         stored twice, each copy in its own chain of blocks
//   DET   128-byte directory entries, four per sector, stored twice, each copy
//         a chain of blocks; position p lies in the copy's chain block
//         p / (4 * sectorsPerBlock), sector (p / 4) % sectorsPerBlock, slot p % 4
//   data  file chains and suballocation chains, linked through the FAT
// Blocks are allocated from block 1 on, contiguously unless told otherwise,
// in this order: FAT copy 1, FAT copy 2, DET copy 1, DET copy 2,
// suballocation chains by size class, files in directory order.
//
// DET positions: the volume entry (FD FF FF FF) at 0, the suballocation
// records that hold a root next, then every node depth first (a folder, then
// its children), each long-name entry right after its DOS entry, then the
// generated tree, then raw entries without a position, then from the next
// sector on the name-space records (root records first) that are neither
// adjacent nor given a position.
// Raw entries and name-space records with a position are placed first and the
// rest flows around them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamsin::imagebuilder {

// FAT.
inline constexpr std::uint32_t kFatEntrySize = 8;
inline constexpr std::uint32_t kFatEntriesPerSector = 64;
inline constexpr std::uint32_t kChainEnd = 0xFFFFFFFF;

// DET entries.
inline constexpr std::uint32_t kDirEntrySize = 128;
inline constexpr std::uint32_t kEntriesPerSector = 4;
inline constexpr std::size_t kDetParentId = 0;
inline constexpr std::size_t kDetAttributes = 4;       // u32; byte 4 and byte 7 carry the flags below
inline constexpr std::size_t kDetAttributesHigh = 7;
inline constexpr std::size_t kDetRecordNumber = 9;     // suballocation records
inline constexpr std::size_t kDetFlags = 9;            // DOS entries: flag bits, which the reader does not use
inline constexpr std::size_t kDetNameSpace = 10;
inline constexpr std::size_t kDetNameLength = 11;
inline constexpr std::size_t kDetName = 12;
inline constexpr std::size_t kDetRoots = 16;           // suballocation records: 28 u32 roots
inline constexpr std::size_t kDetDateTime = 24;
inline constexpr std::size_t kDetModifiedDateTime = 40; // DOS entries: last updated
inline constexpr std::size_t kDetSize = 48;
inline constexpr std::size_t kDetFirstBlock = 52;
inline constexpr std::size_t kDetDeletedMarker = 108;
inline constexpr std::size_t kDetOwnId = 120;       // PrimaryEntry in name-space records
inline constexpr std::size_t kDetNameList = 124;    // the next record of the same file's name-space chain
inline constexpr std::size_t kDetNfsTotalLength = 52;
// The root entry at position 0.
inline constexpr std::size_t kRootNameSpaceCount = 11;
inline constexpr std::size_t kRootByteTable = 12;   // one byte per name space, 10 of them
inline constexpr std::size_t kRootNibbleTable = 16; // one nibble per name space, low first, 12 of them
inline constexpr std::size_t kRootVolumeFlags = 23;
inline constexpr std::size_t kRootCreated = 24;
inline constexpr std::size_t kRootByteTableSize = 10;
inline constexpr std::size_t kRootNibbleTableSize = 12;
inline constexpr std::uint8_t kNibbleTableFlags = 0x30; // VolumeFlags bits that select the nibble table

inline constexpr std::uint32_t kVolumeEntryParent = 0xFFFFFFFD;  // the first entry of every DET copy
inline constexpr std::uint32_t kSuballocationParent = 0xFFFFFFFB;
inline constexpr std::uint8_t kDosNameSpace = 0;
inline constexpr std::uint8_t kMacNameSpace = 1;
inline constexpr std::uint8_t kNfsNameSpace = 2;
inline constexpr std::uint8_t kFtamNameSpace = 3;
inline constexpr std::uint8_t kLongNameSpace = 4;
inline constexpr std::uint8_t kNtNameSpace = 5;
inline constexpr std::uint32_t kFolderAttribute = 0x10;
inline constexpr std::uint32_t kCompressedAttribute = 0x04000000; // 0x04 in byte 7
inline constexpr std::size_t kMaxDosNameLength = 15;   // longer DOS names make the reader drop the entry
inline constexpr std::size_t kMaxLongNameLength = 80;  // longer long names are not joined
inline constexpr std::size_t kPlainDosNameLength = 12; // longer DOS names reach the date field
inline constexpr std::size_t kMaxNameBytes = kDirEntrySize - kDetName;
// Name-space record names may run up to PrimaryEntry, which they never overwrite.
inline constexpr std::size_t kMaxOddNameSpaceName = kDetOwnId - kDetName;
// The reader follows at most this many links of a name-space chain.
inline constexpr std::uint32_t kMaxNameSpaceLinks = 8;

// "DOS", "MAC", "NFS", "FTAM", "LONG", "NT" for 0..5; empty for other codes.
const char* nameSpaceName(std::uint8_t nameSpace);
// The bytes a record of the name space holds at 12 without oddName:
// MAC 31, NFS 40, LONG, NT and FTAM 80; 0 for other name spaces.
std::size_t nameSpaceNameField(std::uint8_t nameSpace);
// The bytes the reader takes from a record's name: @11 clamped to MAC 32,
// NFS 40, LONG and NT 80; 0 for name spaces whose names it does not take.
std::size_t nameSpaceNameClamp(std::uint8_t nameSpace);

// Suballocation.
inline constexpr std::uint32_t kSuballocationRecords = 5;
inline constexpr std::uint32_t kRootsPerRecord = 28;
inline constexpr std::uint32_t kSuballocationRootCount = kSuballocationRecords * kRootsPerRecord;
inline constexpr std::uint32_t kMaxSizeClass = 127;
inline constexpr std::uint32_t kMaxFragmentPosition = 0xFFFFFF;

// The deleted marker written for "deleted" entries when no value is given.
inline constexpr std::uint32_t kDefaultDeletedMarker = 1;

// The packed date and time of an entry: bits 0-4 seconds/2, 5-10 minutes,
// 11-15 hours, 16-20 day, 21-24 month, 25-31 years since 1980 (1980..2059).
constexpr std::uint32_t packDateTime(int year, int month, int day, int hour, int minute, int second)
{
    return static_cast<std::uint32_t>(second / 2) | (static_cast<std::uint32_t>(minute) << 5)
        | (static_cast<std::uint32_t>(hour) << 11) | (static_cast<std::uint32_t>(day) << 16)
        | (static_cast<std::uint32_t>(month) << 21) | (static_cast<std::uint32_t>(year - 1980) << 25);
}

inline constexpr std::uint32_t kDefaultDateTime = packDateTime(1998, 6, 15, 12, 0, 0);

// A firstBlock or FAT next naming a fragment: top bit set, size class in bits
// 24-30, position in bits 0-23. The fragment starts sizeClass * position
// sectors into the suballocation chain of that class.
constexpr std::uint32_t fragmentReference(std::uint32_t sizeClass, std::uint32_t position)
{
    return 0x80000000u | ((sizeClass & 0x7F) << 24) | (position & kMaxFragmentPosition);
}

// Byte `offset` of the deterministic data of a file whose pattern seed is
// `seed`: a hash of the seed and the 4-byte word index, so misplaced sectors
// and blocks show.
std::uint8_t patternByte(std::uint32_t seed, std::uint64_t offset);

// How a chain's blocks are picked from the free blocks.
enum class BlockOrder {
    Contiguous,  // consecutive free blocks
    Interleaved, // every other free block, leaving gaps that later chains fill
    Reverse,     // the contiguous blocks linked from the highest down
};

// Allocation and damage settings of one chain (a FAT or DET copy, or a file).
struct ChainKnobs {
    std::vector<std::uint32_t> blocks;        // the chain's blocks in order; empty: allocated
    std::optional<BlockOrder> order;          // default: contiguous (files: the volume's fileOrder)
    std::optional<std::uint32_t> length;      // blocks in the chain instead of what the contents need
    std::optional<std::uint32_t> firstSequence; // written in the first block's entry instead of 0
    std::optional<std::uint32_t> loopTo;      // the last block's next names the chain's block at this position
    std::optional<std::uint32_t> lastNext;    // written as the last block's next instead of the end marker
    // Files: which block of the file each block holds (its FAT sequence),
    // rising, the last one the file's last block (before a fragment tail); a
    // number that skips ahead leaves a hole, file bytes that read as zeros
    // and take no block. Empty: 0, 1, 2, ... The chain has one block per number.
    std::vector<std::uint32_t> fileBlocks;
};

// Where a file's stored bytes go.
enum class Storage {
    Blocks,            // whole blocks; the last one partly used
    SuballocationTail, // whole blocks, the rest in a fragment named by the last block's FAT next
    FragmentOnly,      // a single fragment named by the entry's firstBlock
};

// A compressed file: attribute bit 26, a 12-byte header at the start of the
// stored stream (u32 checkSize at 4, u32 storedLength at 8) over the file's
// pattern or explicit bytes. storedLength bytes are stored and are what
// extraction writes.
struct Compression {
    std::optional<std::uint32_t> storedLength;     // default: half the size, at least 12
    std::optional<std::uint32_t> checkSize;        // written instead of the entry's size
    std::optional<std::uint32_t> headerStoredLength; // written instead of the stored length
};

// A name-space record (MAC, NFS, FTAM, LONG or NT) of a file or folder,
// linked into the chain its DOS entry heads: DOS @124 names the first record,
// each record's @124 the next, the last holds 0. A record holds the DOS
// entry's parent at 0, its attributes at 4, the name space at 10, the name's
// length at 11 and the name at 12 (NFS also the length at 52), the DOS
// entry's DET position at 120. Root records (RootRecord::records) hold
// 0xFFFFFFFD at 0 and 0 at 4 and 120.
struct NameSpaceRecord {
    std::uint8_t nameSpace = kLongNameSpace; // 1 MAC, 2 NFS, 3 FTAM, 4 LONG, 5 NT
    std::string name;                        // 1 to nameSpaceNameField bytes (root records: 0 too)
    bool oddName = false;                    // allows 0 to 108 bytes (up to PrimaryEntry)
    std::optional<std::uint8_t> nameLength;  // written at 11 instead of the name's length
    std::optional<std::uint8_t> totalLength; // NFS: written at 52 instead of the name's length
    // Where the record goes: by default after every other entry; or at a
    // DET position; or (`adjacent`) right after the DOS entry and its
    // long-name entry, in the same sector when up to three follow it.
    std::optional<std::uint32_t> position;
    bool adjacent = false;
    std::optional<std::uint32_t> parentId;     // written at 0 instead of the DOS entry's parent
    std::optional<std::uint32_t> primaryEntry; // written at 120 instead of the DOS entry's position
    std::optional<std::uint32_t> next;         // written at 124 instead of the next record's position (0 last)
};

// A folder or file. Folders hold children; files hold data.
struct Node {
    bool folder = false;
    std::string name;                    // DOS name: 1..12 bytes
    std::optional<std::string> longName; // 1..80 bytes, a long-name entry right after the DOS entry
    // Allows DOS names of 13+ bytes (13..15 overwrite the date, 16+ make the
    // reader drop the entry) and long names of 81+ bytes, up to 116.
    bool oddNames = false;
    // Puts the DOS entry in slot 3 so that its long name opens the next sector
    // and is not joined.
    bool longNameInNextSector = false;
    std::optional<std::uint8_t> nameSpace; // written instead of 0; others than 0 are skipped by the reader
    // Name-space records chained from the DOS entry, in chain order, at most
    // one per name space.
    std::vector<NameSpaceRecord> nameSpaceRecords;
    std::optional<std::uint32_t> nameList; // written at 124 instead of the first record's position (or 0)

    std::optional<std::uint32_t> ownId;    // default: the DET position of its entry
    std::optional<std::uint32_t> parentId; // default: the containing folder's ownId, 0 at the top
    std::optional<std::uint32_t> dateTime; // packed; default: the volume's defaultDateTime
    std::optional<std::uint32_t> modifiedDateTime; // packed, written at 40; default: nothing (0)
    std::uint32_t attributes = 0;          // more attribute bits, ORed over the folder and compressed bits
    std::uint32_t deletedMarker = 0;       // written at 108 (the deletor's id); non-zero: deleted
    std::uint8_t flags = 0;                // written at 9 (servers: 0x20 deleted, 0x04 subdirectory); decides nothing

    // Files. The stored bytes are `data` followed by pattern bytes up to the
    // stored length (the size, or the compressed stored length).
    std::uint32_t size = 0;
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> patternSeed; // default: the ownId
    std::optional<Compression> compressed;
    Storage storage = Storage::Blocks;
    std::optional<std::uint32_t> sizeClass; // fragment size class; default: the sectors the fragment needs
    ChainKnobs chain;
    std::optional<std::uint32_t> firstBlock; // written instead of the planned first block

    std::vector<Node> children; // folders only, in directory order
};

// Shorthands for the common cases.
Node folderNode(std::string name, std::vector<Node> children = {});
Node fileNode(std::string name, std::uint32_t size);
Node fileNode(std::string name, std::vector<std::uint8_t> data);
Node textFileNode(std::string name, const std::string& text);

// Generated entries: `entries` folders and files in all, each folder (and
// the top level) holding up to `perFolder` of them, folders nested about
// `depth` levels, filled breadth first after the described tree. Folders are
// named D0000001, D0000002, ..., files F0000001.DAT, F0000002.DAT, ... and
// long names "Generated document <n>.txt" (a long-name entry after the DOS
// entry, or a chained LONG record after every other entry); file data is the
// pattern of the file's ownId. Dates vary with the number.
struct GeneratedTree {
    std::uint32_t entries = 0;
    std::uint32_t perFolder = 100;
    std::uint32_t depth = 3;
    std::uint32_t deletedEvery = 10;  // every n-th file is deleted; 0: none
    std::uint32_t longNameEvery = 0;  // every n-th file gets a long name; 0: none
    std::uint32_t chainedLongNameEvery = 0; // every n-th file gets a chained LONG record; 0: none
    std::uint32_t fileSize = 0;       // bytes of pattern data in every file
};

// A 128-byte entry written as it is at a DET position.
struct RawEntry {
    std::optional<std::uint32_t> position; // default: after all other entries
    std::array<std::uint8_t, kDirEntrySize> bytes{};
    bool inCopy1 = true;
    bool inCopy2 = true;
};

// Bytes written over one FAT entry (index = block number, offset 0..7) or
// one DET entry (index = DET position, offset 0..127) of copy 2 only.
struct BytePatch {
    std::uint32_t index = 0;
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// How the root entry lists the volume's name spaces.
enum class NameSpaceTable {
    Bytes,   // one byte per name space at 12..21
    Nibbles, // one nibble per name space at 16..21, low nibble first
};

// The root entry at DET position 0: 0xFFFFFFFD at 0, the name-space count at
// 11, the table, VolumeFlags at 23, the creation stamp at 24, and at 124 the
// first root name-space record.
struct RootRecord {
    std::vector<std::uint8_t> nameSpaces = {kDosNameSpace}; // the table, ns[0] first: up to 10 bytes or 12 nibbles
    std::optional<std::uint8_t> nameSpaceCount; // written at 11 instead of the table's length
    std::optional<NameSpaceTable> table;        // default: nibbles when volumeFlags has 0x10 or 0x20
    std::uint8_t volumeFlags = 0;
    std::uint32_t created = 0; // packed
    std::vector<NameSpaceRecord> records;   // root records of other name spaces, chained; not adjacent
    std::optional<std::uint32_t> nameList;  // written at 124 instead of the first record's position (or 0)
};

struct VolumeContents {
    std::vector<Node> nodes; // the top level, in directory order
    std::optional<RootRecord> root; // none: the root entry is FD FF FF FF and zeros
    std::optional<GeneratedTree> generate;
    std::vector<RawEntry> rawEntries;
    std::uint32_t defaultDateTime = kDefaultDateTime;
    BlockOrder fileOrder = BlockOrder::Contiguous; // for files whose chain gives no order

    // Index 0 is copy 1. A FAT chain's default length covers every block's
    // entry; a shorter one leaves the entries beyond it in its last block,
    // where the reader looks for them. A DET chain's default length holds
    // every entry; extra blocks are empty, missing ones drop their entries.
    std::array<ChainKnobs, 2> fatChains;
    std::array<ChainKnobs, 2> detChains;
    std::vector<BytePatch> fatCopy2Patches;
    std::vector<BytePatch> detCopy2Patches;

    // Set: every byte the format leaves undefined is filled with random
    // values of this seed, as other servers and tools leave them: bytes 8
    // and 9 of DOS entries and their name field past the name, @124 of
    // entries without name-space records, the owner, link and unused bytes of
    // long-name records in the slot after their entry, bytes 8 and 9 of
    // other name-space records and the tails of chained LONG/NT names, the
    // unused bytes of suballocation records, free directory slots (parent
    // 0xFFFFFFFF, the rest random), FAT entries past the volume's blocks and
    // the unused fields (@36 of the plain layout, @56) of the volume's
    // table entry. Noise never names a directory record. What the reader
    // decodes stays the same.
    std::optional<std::uint64_t> noiseSeed;
};

// The 128 bytes of a suballocation record: parentId 0xFFFFFFFB, the record
// number at byte 9, 28 roots from byte 16.
std::array<std::uint8_t, kDirEntrySize> suballocationRecord(std::uint8_t recordNumber,
                                                            const std::array<std::uint32_t, kRootsPerRecord>& roots);

} // namespace tamsin::imagebuilder
