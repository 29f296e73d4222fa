#include "imagebuilder/VolumeWriter.h"

#include "common/LittleEndian.h"
#include "imagebuilder/Noise.h"
#include "imagebuilder/SectorSink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tamsin::imagebuilder::detail {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr std::uint32_t kMaxBlocks = 1u << 25;     // the FAT is held in memory: 256 MiB at most
constexpr std::uint32_t kMaxPositions = 1u << 26;  // DET positions: 8 GiB of entries
constexpr std::uint32_t kMaxGenerated = 9'999'999; // generated names have seven digits
constexpr std::uint32_t kCompressedHeaderBytes = 12;

// Thrown while planning; VolumeWriter::plan turns it into an Error.
struct PlanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& message)
{
    throw PlanError(message);
}

std::uint32_t ceilDiv(std::uint64_t a, std::uint64_t b)
{
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

std::string number(std::uint64_t value)
{
    return std::to_string(value);
}

struct FatEntry {
    std::uint32_t sequence = 0;
    std::uint32_t next = 0;
};

enum class Occupant : std::uint8_t { Empty, VolumeEntry, Record, Raw, Dos, LongName, NameSpace };

// What one DET position holds; index is an item, raw entry, suballocation
// record or name-space record number.
struct Slot {
    Occupant kind = Occupant::Empty;
    std::uint32_t index = 0;
};

// One folder or file in directory order, described or generated.
struct Item {
    const Node* node = nullptr;   // null: generated
    std::uint32_t parent = kNone; // item of the containing folder; kNone at the top
    std::uint32_t serial = 0;     // generated: number among the generated folders or files
    bool folder = false;
    std::uint8_t nameSpaceCount = 0; // at most one record per name space
    std::uint32_t ownId = 0;
    std::uint32_t parentId = 0;
    std::uint32_t storedLength = 0;
    std::uint32_t chainLength = 0;
    std::uint32_t chainOffset = 0; // its blocks in blockPool
    std::uint32_t fragmentLength = 0;
    std::uint32_t fragment = 0; // reference; 0: none
    std::uint32_t position = 0; // DET position of the DOS entry
    std::uint32_t nameSpaceOffset = 0; // its name-space records in nameSpaceRecords
};

// A name-space record to place: the root's (item kNone) or an item's.
struct NameSpaceSlot {
    std::uint32_t item = kNone;
    std::uint32_t record = 0; // index in the root's or the node's records
    std::uint32_t position = kNone;
};

// The fields an entry is encoded from.
struct NodeView {
    std::string name;
    std::optional<std::string> longName;
    std::uint8_t nameSpace = kDosNameSpace;
    std::uint32_t attributes = 0;
    std::uint32_t dateTime = 0;
    std::uint32_t size = 0;
    std::uint32_t deletedMarker = 0;
    std::uint8_t flags = 0;
};

// One suballocation chain: fragments of `sizeClass` sectors each.
struct FragmentClass {
    std::uint32_t fragments = 0; // positions handed out
    std::uint64_t sectors = 0;   // sectors the fragments reach
    std::vector<std::uint32_t> blocks;
};

// Free-block bookkeeping over blocks 0..capacity-1; block 0 is never handed
// out. The bitmap grows as blocks are taken, so a volume sized to fit can use
// a large capacity.
class Allocator {
public:
    explicit Allocator(std::uint32_t capacity) : capacity_(capacity) { reserve(0); }

    bool reserve(std::uint32_t block)
    {
        if (block >= capacity_)
            return false;
        if (block >= used_.size())
            used_.resize(std::max<std::size_t>(std::size_t{block} + 1, used_.size() * 2), false);
        if (used_[block])
            return false;
        used_[block] = true;
        end_ = std::max(end_, block + 1);
        return true;
    }

    // n blocks in `order`; `first` (reserved already) leads when given.
    bool take(std::uint32_t n, BlockOrder order, std::optional<std::uint32_t> first, std::vector<std::uint32_t>& out)
    {
        out.clear();
        if (n == 0)
            return true;
        if (first) {
            out.push_back(*first);
        } else {
            cursor_ = nextFree(cursor_);
            if (cursor_ == kNone || !reserve(cursor_))
                return false;
            out.push_back(cursor_);
        }
        const std::uint32_t step = order == BlockOrder::Interleaved ? 2 : 1;
        while (out.size() < n) {
            const std::uint32_t block = out.back() + step < out.back() ? kNone : nextFree(out.back() + step);
            if (block == kNone || !reserve(block))
                return false;
            out.push_back(block);
        }
        if (order == BlockOrder::Reverse)
            std::reverse(out.begin() + (first ? 1 : 0), out.end());
        return true;
    }

    std::uint32_t end() const { return end_; }
    std::vector<bool> takeBitmap()
    {
        used_.resize(end_);
        return std::move(used_);
    }

private:
    std::uint32_t nextFree(std::uint32_t from) const
    {
        for (std::uint32_t block = from; block < capacity_; ++block)
            if (block >= used_.size() || !used_[block])
                return block;
        return kNone;
    }

    std::uint32_t capacity_;
    std::vector<bool> used_;
    std::uint32_t cursor_ = 1;
    std::uint32_t end_ = 0;
};

std::string generatedName(bool folder, std::uint32_t serial)
{
    char text[16];
    std::snprintf(text, sizeof text, folder ? "D%07u" : "F%07u.DAT", serial + 1);
    return text;
}

std::uint32_t generatedDate(std::uint32_t serial)
{
    return packDateTime(1995 + static_cast<int>(serial % 5), 1 + static_cast<int>(serial % 12),
                        1 + static_cast<int>(serial % 28), 8 + static_cast<int>(serial % 10),
                        static_cast<int>(serial % 60), static_cast<int>(serial * 2 % 60));
}

// The number of folders each folder holds so that `folders` folders nest
// about `depth` levels: the smallest s with s^depth >= folders.
std::uint32_t branching(std::uint32_t folders, std::uint32_t depth)
{
    std::uint32_t s = 1;
    for (;; ++s) {
        std::uint64_t reach = 1;
        for (std::uint32_t level = 0; level < depth && reach < folders; ++level)
            reach *= s;
        if (reach >= folders)
            return s;
    }
}

// The name the reader takes from bytes: cut at the first NUL.
std::string cutName(std::span<const std::uint8_t> entry, std::size_t length)
{
    const char* begin = reinterpret_cast<const char*>(entry.data() + kDetName);
    return std::string(begin, strnlen(begin, length));
}

std::string generatedLongName(std::uint32_t serial)
{
    return std::string("Generated document ").append(std::to_string(serial + 1)).append(".txt");
}

// What is wrong with a name-space record, or nothing.
std::optional<std::string> recordError(const NameSpaceRecord& record, bool root)
{
    const std::uint8_t ns = record.nameSpace;
    if (ns < kMacNameSpace || ns > kNtNameSpace)
        return "the name space must be 1 (MAC), 2 (NFS), 3 (FTAM), 4 (LONG) or 5 (NT), not " + number(ns);
    const std::size_t least = root || record.oddName ? 0 : 1;
    const std::size_t most = record.oddName ? kMaxOddNameSpaceName : nameSpaceNameField(ns);
    if (record.name.size() < least || record.name.size() > most)
        return std::string("the ") + nameSpaceName(ns) + " name must have " + number(least) + " to " + number(most)
            + " bytes, not " + number(record.name.size())
            + (record.oddName ? "" : " (oddName allows 0 to " + number(kMaxOddNameSpaceName) + ")");
    if (record.totalLength && ns != kNfsNameSpace)
        return std::string("totalLength only goes with NFS records");
    if (record.position && record.adjacent)
        return std::string("give either position or adjacent, not both");
    if (record.position && *record.position == 0)
        return std::string("position 0 is the root entry");
    if (root && record.adjacent)
        return std::string("root records cannot be adjacent; give a position");
    return std::nullopt;
}

// The name space listed twice among records, or nothing.
std::optional<std::uint8_t> duplicateNameSpace(const std::vector<NameSpaceRecord>& records)
{
    std::array<bool, 256> seen{};
    for (const NameSpaceRecord& record : records) {
        if (seen[record.nameSpace])
            return record.nameSpace;
        seen[record.nameSpace] = true;
    }
    return std::nullopt;
}

NameSpaceTable tableOf(const RootRecord& root)
{
    return root.table.value_or((root.volumeFlags & kNibbleTableFlags) != 0 ? NameSpaceTable::Nibbles
                                                                           : NameSpaceTable::Bytes);
}

} // namespace

struct VolumeWriter::Plan {
    const SegmentSpec& segment;
    const VolumeContents& contents;
    std::string where;

    std::uint32_t spb = 0;
    std::uint32_t blockBytes = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t sizeSectors = 0;

    std::vector<Item> items;
    std::vector<Slot> slots; // DET positions in order
    std::vector<NameSpaceSlot> nameSpaceRecords; // the root's first, then the items' in order
    std::uint32_t rootRecordCount = 0;
    std::map<std::uint32_t, FragmentClass> classes;
    std::array<std::uint32_t, kSuballocationRootCount> roots{};
    std::array<bool, kSuballocationRecords> recordNeeded{};
    std::unordered_map<std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>> prefixes; // by item

    std::array<std::uint32_t, 2> fatLength{};
    std::array<std::uint32_t, 2> detLength{};
    std::array<std::vector<std::uint32_t>, 2> fatBlocks;
    std::array<std::vector<std::uint32_t>, 2> detBlocks;
    std::vector<std::uint32_t> blockPool;
    std::vector<bool> used;
    std::vector<FatEntry> table;
    // FAT entries kept in the last block of a copy's chain because the
    // chain is too short to hold them: physical FAT sector -> (slot, entry).
    std::array<std::map<std::uint64_t, std::vector<std::pair<std::uint32_t, FatEntry>>>, 2> aliases;

    Plan(const SegmentSpec& s, std::string w) : segment(s), contents(*s.contents), where(std::move(w)) {}

    // Planning steps, in order.
    void flatten();
    void planStorage();
    void placeEntries();
    void allocate();
    void link();
    void mapAliases();
    void checkPatches() const;

    // Helpers.
    std::string pathOf(std::uint32_t item) const;
    [[noreturn]] void failItem(std::uint32_t item, const std::string& message) const;
    NodeView view(const Item& item) const;
    bool hasLongName(const Item& item) const;
    std::uint32_t firstBlockOf(const Item& item) const;
    FileContent contentOf(std::uint32_t item) const;
    void addNodes(const std::vector<Node>& nodes, std::uint32_t parent);
    void addGenerated(const GeneratedTree& generate);
    void checkNode(const Node& node, std::uint32_t item) const;
    void checkRoot() const;
    bool hasChainedLongName(const Item& item) const;
    const NameSpaceRecord* recordSpec(const NameSpaceSlot& slot) const;
    [[noreturn]] void failRecord(std::uint32_t record, const std::string& message) const;
    void listNameSpaceRecords();
    std::uint32_t nameListOf(const Item& item) const;
    bool runAllocation(std::uint32_t capacity, std::uint32_t fatDefault);
    void linkChain(const std::vector<std::uint32_t>& blocks, const ChainKnobs& knobs, std::uint32_t end,
                   const std::string& what);
    std::uint64_t fatPhysicalSector(int copy, std::uint32_t block) const;
    bool isUsed(std::uint64_t block) const { return block < used.size() && used[block]; }

    // Writing.
    void writeFat(int copy, std::uint64_t start, SectorSink& sink) const;
    void writeDet(int copy, std::uint64_t start, SectorSink& sink, VolumeManifest* manifest) const;
    void encodeSlot(std::uint32_t position, int copy, std::span<std::uint8_t> out) const;
    void encodeSlotFields(std::uint32_t position, int copy, std::span<std::uint8_t> out) const;
    void addSlotNoise(const Noise& noise, std::uint32_t position, std::span<std::uint8_t> out) const;
    void encodeRoot(std::span<std::uint8_t> out) const;
    void encodeNameSpaceRecord(std::uint32_t record, std::span<std::uint8_t> out) const;
    void copy1Entry(std::uint32_t position, std::span<std::uint8_t> out) const;
    bool isDosRecord(std::uint32_t position) const;
    std::uint64_t copy1Positions() const { return std::uint64_t{detLength[0]} * spb * kEntriesPerSector; }
    ChainEnd walkNameSpaces(std::uint32_t dosPosition, std::uint32_t dosPrimary, std::uint32_t nameList,
                            std::vector<ChainRecord>& chain) const;
    void describeRoot(VolumeManifest& manifest) const;
    void decodeSector(std::span<const std::uint8_t> sector, std::uint32_t firstPosition, std::uint64_t entrySector,
                      std::uint64_t mirrorSector, VolumeManifest& manifest) const;
    void writeData(std::uint64_t start, SectorSink& sink) const;
};

std::string VolumeWriter::Plan::pathOf(std::uint32_t item) const
{
    std::vector<std::string> names;
    for (std::uint32_t at = item; at != kNone; at = items[at].parent)
        names.push_back(items[at].node ? items[at].node->name : generatedName(items[at].folder, items[at].serial));
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty())
            path += '/';
        path += *name;
    }
    return path;
}

void VolumeWriter::Plan::failItem(std::uint32_t item, const std::string& message) const
{
    std::string text = where;
    text.append(": ").append(pathOf(item)).append(": ").append(message);
    fail(text);
}

NodeView VolumeWriter::Plan::view(const Item& item) const
{
    NodeView v;
    if (item.node) {
        const Node& node = *item.node;
        v.name = node.name;
        v.longName = node.longName;
        v.nameSpace = node.nameSpace.value_or(kDosNameSpace);
        v.attributes = node.attributes | (node.folder ? kFolderAttribute : 0)
            | (node.compressed ? kCompressedAttribute : 0);
        v.dateTime = node.dateTime.value_or(contents.defaultDateTime);
        v.size = node.folder ? 0 : node.size;
        v.deletedMarker = node.deletedMarker;
        v.flags = node.flags;
        return v;
    }
    const GeneratedTree& generate = *contents.generate;
    v.name = generatedName(item.folder, item.serial);
    v.dateTime = generatedDate(item.serial);
    if (item.folder) {
        v.attributes = kFolderAttribute;
        return v;
    }
    const std::uint32_t ordinal = item.serial + 1;
    if (hasLongName(item))
        v.longName = generatedLongName(item.serial);
    if (generate.deletedEvery != 0 && ordinal % generate.deletedEvery == 0)
        v.deletedMarker = kDefaultDeletedMarker;
    v.size = generate.fileSize;
    return v;
}

bool VolumeWriter::Plan::hasLongName(const Item& item) const
{
    if (item.node)
        return item.node->longName.has_value();
    const std::uint32_t every = contents.generate->longNameEvery;
    return !item.folder && every != 0 && (item.serial + 1) % every == 0;
}

bool VolumeWriter::Plan::hasChainedLongName(const Item& item) const
{
    if (item.node)
        return false;
    const std::uint32_t every = contents.generate->chainedLongNameEvery;
    return !item.folder && every != 0 && (item.serial + 1) % every == 0;
}

// The described record, or nullptr for a generated file's LONG record.
const NameSpaceRecord* VolumeWriter::Plan::recordSpec(const NameSpaceSlot& slot) const
{
    if (slot.item == kNone)
        return &contents.root->records[slot.record];
    const Node* node = items[slot.item].node;
    return node ? &node->nameSpaceRecords[slot.record] : nullptr;
}

void VolumeWriter::Plan::failRecord(std::uint32_t record, const std::string& message) const
{
    const NameSpaceSlot& slot = nameSpaceRecords[record];
    if (slot.item == kNone)
        fail(where + ": root.records[" + number(slot.record) + "]: " + message);
    failItem(slot.item, "nameSpaceRecords[" + number(slot.record) + "]: " + message);
}

void VolumeWriter::Plan::listNameSpaceRecords()
{
    if (contents.root)
        for (std::uint32_t k = 0; k < contents.root->records.size(); ++k)
            nameSpaceRecords.push_back({kNone, k, kNone});
    rootRecordCount = static_cast<std::uint32_t>(nameSpaceRecords.size());
    for (std::uint32_t index = 0; index < items.size(); ++index) {
        Item& item = items[index];
        item.nameSpaceOffset = static_cast<std::uint32_t>(nameSpaceRecords.size());
        const std::size_t count = item.node ? item.node->nameSpaceRecords.size() : hasChainedLongName(item) ? 1 : 0;
        for (std::uint32_t k = 0; k < count; ++k)
            nameSpaceRecords.push_back({index, k, kNone});
        item.nameSpaceCount = static_cast<std::uint8_t>(count);
    }
}

// What the DOS entry holds at 124: the first record of its chain, unless told otherwise.
std::uint32_t VolumeWriter::Plan::nameListOf(const Item& item) const
{
    if (item.node && item.node->nameList)
        return *item.node->nameList;
    return item.nameSpaceCount != 0 ? nameSpaceRecords[item.nameSpaceOffset].position : 0;
}

void VolumeWriter::Plan::checkRoot() const
{
    if (!contents.root)
        return;
    const RootRecord& root = *contents.root;
    const bool nibbles = tableOf(root) == NameSpaceTable::Nibbles;
    const std::size_t size = nibbles ? kRootNibbleTableSize : kRootByteTableSize;
    if (root.nameSpaces.size() > size)
        fail(where + ": root: the " + (nibbles ? "nibble" : "byte") + " table holds at most " + number(size)
             + " name spaces, not " + number(root.nameSpaces.size()));
    for (std::size_t k = 0; k < root.nameSpaces.size(); ++k)
        if (nibbles && root.nameSpaces[k] > 0x0F)
            fail(where + ": root.nameSpaces[" + number(k) + "]: " + number(root.nameSpaces[k])
                 + " does not fit the nibble table");
    for (std::size_t k = 0; k < root.records.size(); ++k)
        if (const auto error = recordError(root.records[k], true))
            fail(where + ": root.records[" + number(k) + "]: " + *error);
    if (const auto twice = duplicateNameSpace(root.records))
        fail(where + ": root.records: two records of name space " + nameSpaceName(*twice));
}

std::uint32_t VolumeWriter::Plan::firstBlockOf(const Item& item) const
{
    if (item.node && item.node->firstBlock)
        return *item.node->firstBlock;
    if (item.folder)
        return 0;
    if (item.chainLength > 0)
        return blockPool[item.chainOffset];
    if (item.fragment != 0)
        return item.fragment;
    return kChainEnd;
}

FileContent VolumeWriter::Plan::contentOf(std::uint32_t index) const
{
    const Item& item = items[index];
    FileContent content;
    content.known = true;
    content.length = item.storedLength;
    content.patternSeed = item.node && item.node->patternSeed ? *item.node->patternSeed : item.ownId;
    if (const auto prefix = prefixes.find(index); prefix != prefixes.end())
        content.prefix = prefix->second;
    if (item.node && item.node->compressed) {
        const Compression& compressed = *item.node->compressed;
        content.compressedHeader = true;
        content.checkSize = compressed.checkSize.value_or(item.node->size);
        content.headerStoredLength = compressed.headerStoredLength.value_or(item.storedLength);
    }
    return content;
}

void VolumeWriter::Plan::checkNode(const Node& node, std::uint32_t item) const
{
    const std::size_t maxDos = node.oddNames ? kMaxNameBytes : kPlainDosNameLength;
    const std::size_t maxLong = node.oddNames ? kMaxNameBytes : kMaxLongNameLength;
    if (node.name.empty() || node.name.size() > maxDos)
        failItem(item, "the DOS name must have 1 to " + number(maxDos) + " bytes"
                           + (node.oddNames ? "" : " (oddNames allows up to 116)"));
    if (node.longName && (node.longName->empty() || node.longName->size() > maxLong))
        failItem(item, "the long name must have 1 to " + number(maxLong) + " bytes"
                           + (node.oddNames ? "" : " (oddNames allows up to 116)"));
    if (node.longNameInNextSector && !node.longName)
        failItem(item, "longNameInNextSector needs a long name");
    for (std::size_t k = 0; k < node.nameSpaceRecords.size(); ++k)
        if (const auto error = recordError(node.nameSpaceRecords[k], false))
            failItem(item, "nameSpaceRecords[" + number(k) + "]: " + *error);
    if (const auto twice = duplicateNameSpace(node.nameSpaceRecords))
        failItem(item, std::string("nameSpaceRecords: two records of name space ") + nameSpaceName(*twice));
    if (node.folder) {
        const bool fileSettings = node.size != 0 || !node.data.empty() || node.patternSeed || node.compressed
            || node.storage != Storage::Blocks || node.sizeClass || !node.chain.blocks.empty() || node.chain.order
            || node.chain.length || node.chain.firstSequence || node.chain.loopTo || node.chain.lastNext
            || !node.chain.fileBlocks.empty();
        if (fileSettings)
            failItem(item, "a folder holds no data");
        return;
    }
    if (!node.children.empty())
        failItem(item, "a file has no children");
    if (node.chain.loopTo && node.chain.lastNext)
        failItem(item, "give either loopTo or lastNext, not both");
    if (!node.chain.blocks.empty() && node.chain.length && *node.chain.length != node.chain.blocks.size())
        failItem(item, "the chain length differs from its number of blocks");
    if (node.storage == Storage::FragmentOnly && (!node.chain.blocks.empty() || node.chain.length || !node.chain.fileBlocks.empty()))
        failItem(item, "a fragment-only file has no chain");
}

void VolumeWriter::Plan::addNodes(const std::vector<Node>& nodes, std::uint32_t parent)
{
    for (const Node& node : nodes) {
        const auto index = static_cast<std::uint32_t>(items.size());
        Item item;
        item.node = &node;
        item.parent = parent;
        item.folder = node.folder;
        items.push_back(item);
        checkNode(node, index);
        if (node.folder)
            addNodes(node.children, index);
    }
}

// Breadth first: each container (the top level first, then the generated
// folders in order) takes perFolder entries, the first of them folders
// while folders remain to be made.
void VolumeWriter::Plan::addGenerated(const GeneratedTree& generate)
{
    if (generate.entries > kMaxGenerated)
        fail(where + ": generate: at most " + number(kMaxGenerated) + " entries");
    if (generate.perFolder == 0 || generate.depth == 0)
        fail(where + ": generate: perFolder and depth must be at least 1");
    const std::uint32_t n = generate.entries;
    const std::uint32_t perFolder = generate.perFolder;
    const std::uint32_t folders = n <= perFolder ? 0 : ceilDiv(n, perFolder) - 1;
    const std::uint32_t subfolders = folders == 0 ? 0 : std::min(branching(folders, generate.depth), perFolder);

    items.reserve(items.size() + n);
    std::vector<std::uint32_t> containers = {kNone};
    std::uint32_t made = 0;
    std::uint32_t foldersMade = 0;
    std::uint32_t filesMade = 0;
    for (std::size_t next = 0; made < n && next < containers.size(); ++next) {
        const std::uint32_t container = containers[next];
        for (std::uint32_t k = 0; k < perFolder && made < n; ++k, ++made) {
            Item item;
            item.parent = container;
            item.folder = k < subfolders && foldersMade < folders;
            item.serial = item.folder ? foldersMade++ : filesMade++;
            if (item.folder)
                containers.push_back(static_cast<std::uint32_t>(items.size()));
            items.push_back(item);
        }
    }
}

void VolumeWriter::Plan::flatten()
{
    checkRoot();
    addNodes(contents.nodes, kNone);
    if (contents.generate)
        addGenerated(*contents.generate);
}

// Stored lengths, chain lengths and fragments, in directory order.
void VolumeWriter::Plan::planStorage()
{
    for (std::uint32_t index = 0; index < items.size(); ++index) {
        Item& item = items[index];
        if (item.folder)
            continue;
        if (!item.node) {
            item.storedLength = contents.generate->fileSize;
            item.chainLength = ceilDiv(item.storedLength, blockBytes);
            continue;
        }
        const Node& node = *item.node;
        std::uint32_t length = node.size;
        if (node.compressed) {
            length = node.compressed->storedLength.value_or(std::max(kCompressedHeaderBytes, node.size / 2));
            if (length < kCompressedHeaderBytes)
                failItem(index, "a compressed file stores at least its 12-byte header");
        }
        if (node.data.size() > length)
            failItem(index, "the data (" + number(node.data.size()) + " bytes) is longer than the "
                                + number(length) + " bytes stored");
        if (!node.data.empty())
            prefixes.emplace(index, std::make_shared<const std::vector<std::uint8_t>>(node.data));
        item.storedLength = length;

        std::uint32_t fragmentLength = 0;
        switch (node.storage) {
        case Storage::Blocks:
            item.chainLength = ceilDiv(length, blockBytes);
            break;
        case Storage::SuballocationTail:
            item.chainLength = length / blockBytes;
            fragmentLength = length % blockBytes;
            if (item.chainLength == 0 || fragmentLength == 0)
                failItem(index, "a suballocation tail needs at least one whole block and a partial one ("
                                    + number(length) + " bytes stored, blocks of " + number(blockBytes) + ")");
            break;
        case Storage::FragmentOnly:
            fragmentLength = length;
            if (length == 0 || length > blockBytes)
                failItem(index, "a fragment-only file stores 1 to " + number(blockBytes) + " bytes");
            break;
        }
        if (!node.chain.blocks.empty())
            item.chainLength = static_cast<std::uint32_t>(node.chain.blocks.size());
        else if (node.chain.length)
            item.chainLength = *node.chain.length;
        else if (!node.chain.fileBlocks.empty())
            item.chainLength = static_cast<std::uint32_t>(node.chain.fileBlocks.size());
        if (!node.chain.fileBlocks.empty()) {
            const auto& numbers = node.chain.fileBlocks;
            if (numbers.size() != item.chainLength)
                failItem(index, "fileBlocks needs one number per block of the chain");
            for (std::size_t k = 0; k < numbers.size(); ++k)
                if ((k > 0 && numbers[k] <= numbers[k - 1])
                    || std::uint64_t{numbers[k]} * blockBytes >= std::max<std::uint32_t>(length, 1))
                    failItem(index, "fileBlocks rise and lie within the stored length");
            // The file ends in its last block or, after it, in its fragment: no hole at the end.
            const std::uint32_t blocks = node.storage == Storage::Blocks ? ceilDiv(length, blockBytes) : length / blockBytes;
            if (numbers.back() + 1 != blocks)
                failItem(index, "fileBlocks end with the file's last block (" + number(blocks - 1) + ")");
        }

        if (fragmentLength == 0) {
            if (node.sizeClass)
                failItem(index, "sizeClass only goes with a suballocation tail or a fragment-only file");
            continue;
        }
        const std::uint32_t need = ceilDiv(fragmentLength, kSectorBytes);
        const std::uint32_t sizeClass = node.sizeClass.value_or(need);
        if (sizeClass < need || sizeClass > kMaxSizeClass)
            failItem(index, "size class " + number(sizeClass) + " does not fit: the fragment needs " + number(need)
                                + " sectors, classes go up to " + number(kMaxSizeClass));
        FragmentClass& chain = classes[sizeClass];
        if (chain.fragments > kMaxFragmentPosition)
            failItem(index, "too many fragments of size class " + number(sizeClass));
        const std::uint32_t position = chain.fragments++;
        chain.sectors = std::max(chain.sectors, std::uint64_t{sizeClass} * position + need);
        item.fragment = fragmentReference(sizeClass, position);
        item.fragmentLength = fragmentLength;
        recordNeeded[sizeClass / kRootsPerRecord] = true;
    }
}

// DET positions: raw entries and name-space records at their positions, the
// volume entry at 0, the suballocation records, then every item in order with
// its long name and adjacent name-space records in the next slots of the same
// sector, then raw entries without a position, then the other name-space
// records.
void VolumeWriter::Plan::placeEntries()
{
    auto isFree = [&](std::uint64_t p) { return p >= slots.size() || slots[p].kind == Occupant::Empty; };
    auto occupy = [&](std::uint32_t p, Occupant kind, std::uint32_t index) {
        if (p >= slots.size())
            slots.resize(std::size_t{p} + 1);
        slots[p] = {kind, index};
    };
    auto checkRoom = [&](std::uint64_t p) {
        if (p >= kMaxPositions)
            fail(where + ": more than " + number(kMaxPositions) + " DET positions");
    };

    for (std::uint32_t k = 0; k < contents.rawEntries.size(); ++k) {
        const auto& position = contents.rawEntries[k].position;
        if (!position)
            continue;
        checkRoom(*position);
        if (!isFree(*position))
            fail(where + ": rawEntries[" + number(k) + "]: position " + number(*position) + " is taken");
        occupy(*position, Occupant::Raw, k);
    }
    if (contents.root && !isFree(0))
        fail(where + ": root: position 0 holds a raw entry");
    listNameSpaceRecords();
    for (std::uint32_t r = 0; r < nameSpaceRecords.size(); ++r) {
        const NameSpaceRecord* described = recordSpec(nameSpaceRecords[r]);
        if (!described || !described->position)
            continue;
        const std::uint32_t p = *described->position;
        checkRoom(p);
        if (!isFree(p))
            failRecord(r, "position " + number(p) + " is taken");
        occupy(p, Occupant::NameSpace, r);
        nameSpaceRecords[r].position = p;
    }
    if (isFree(0))
        occupy(0, Occupant::VolumeEntry, 0);

    std::uint32_t cursor = 1;
    auto nextFree = [&](std::uint32_t from) {
        while (!isFree(from))
            ++from;
        checkRoom(from);
        return from;
    };
    for (std::uint32_t record = 0; record < kSuballocationRecords; ++record) {
        if (!recordNeeded[record])
            continue;
        cursor = nextFree(cursor);
        occupy(cursor++, Occupant::Record, record);
    }

    std::unordered_set<std::uint32_t> folderIds;
    for (std::uint32_t index = 0; index < items.size(); ++index) {
        Item& item = items[index];
        const Node* node = item.node;
        const bool hasLong = hasLongName(item);
        const bool split = node && node->longNameInNextSector;
        // Entries right after the DOS entry: the long name, then adjacent records.
        std::uint32_t followers = hasLong ? 1 : 0;
        if (node)
            for (const NameSpaceRecord& record : node->nameSpaceRecords)
                followers += record.adjacent ? 1 : 0;
        auto fits = [&](std::uint32_t p) {
            for (std::uint32_t k = 1; k <= followers; ++k)
                if (!isFree(std::uint64_t{p} + k))
                    return false;
            const std::uint32_t slot = p % kEntriesPerSector;
            if (split)
                return slot == kEntriesPerSector - 1;
            return followers < kEntriesPerSector ? slot + followers < kEntriesPerSector : slot == 0;
        };
        std::uint32_t p = cursor;
        for (;; ++p) {
            p = nextFree(p);
            if (followers == 0 || fits(p))
                break;
        }
        occupy(p, Occupant::Dos, index);
        item.position = p;
        cursor = p + 1;
        if (hasLong) {
            checkRoom(std::uint64_t{p} + 1);
            occupy(p + 1, Occupant::LongName, index);
            cursor = p + 2;
        }
        for (std::uint32_t k = 0; k < item.nameSpaceCount; ++k) {
            if (!node || !node->nameSpaceRecords[k].adjacent)
                continue;
            checkRoom(cursor);
            occupy(cursor, Occupant::NameSpace, item.nameSpaceOffset + k);
            nameSpaceRecords[item.nameSpaceOffset + k].position = cursor++;
        }

        item.ownId = node && node->ownId ? *node->ownId : p;
        if (node && node->parentId)
            item.parentId = *node->parentId;
        else
            item.parentId = item.parent == kNone ? 0 : items[item.parent].ownId;
        if (item.folder && !folderIds.insert(item.ownId).second)
            failItem(index, "folder id " + number(item.ownId) + " is already used by another folder");
    }

    for (std::uint32_t k = 0; k < contents.rawEntries.size(); ++k) {
        if (contents.rawEntries[k].position)
            continue;
        cursor = nextFree(cursor);
        occupy(cursor++, Occupant::Raw, k);
    }
    // The other records start a sector, so that no DOS entry has one of them
    // in its next slot, where the reader would take a LONG record as its name.
    bool aligned = false;
    for (std::uint32_t r = 0; r < nameSpaceRecords.size(); ++r) {
        if (nameSpaceRecords[r].position != kNone)
            continue;
        if (!aligned) {
            cursor = (cursor + kEntriesPerSector - 1) / kEntriesPerSector * kEntriesPerSector;
            aligned = true;
        }
        cursor = nextFree(cursor);
        occupy(cursor, Occupant::NameSpace, r);
        nameSpaceRecords[r].position = cursor++;
    }
}

// Allocates every chain in a volume of `capacity` blocks; false when they
// do not fit. fatDefault is the length of FAT chains given none.
bool VolumeWriter::Plan::runAllocation(std::uint32_t capacity, std::uint32_t fatDefault)
{
    Allocator allocator(capacity);
    auto reserveAll = [&](const std::vector<std::uint32_t>& blocks, const std::string& what) {
        for (std::uint32_t block : blocks)
            if (!allocator.reserve(block))
                fail(where + ": " + what + ": block " + number(block)
                     + (block >= capacity ? " lies outside the segment" : " is used twice"));
    };
    const std::array<const ChainKnobs*, 4> tables = {&contents.fatChains[0], &contents.fatChains[1],
                                                     &contents.detChains[0], &contents.detChains[1]};
    const std::array<std::optional<std::uint32_t>, 4> starts = {segment.firstFatBlock, segment.secondFatBlock,
                                                                segment.firstDetBlock, segment.secondDetBlock};
    const std::array<const char*, 4> tableNames = {"FAT copy 1", "FAT copy 2", "DET copy 1", "DET copy 2"};
    const std::array<const char*, 4> startNames = {"firstFatBlock", "secondFatBlock", "firstDetBlock",
                                                   "secondDetBlock"};

    for (int t = 0; t < 4; ++t)
        reserveAll(tables[t]->blocks, tableNames[t]);
    for (std::uint32_t index = 0; index < items.size(); ++index)
        if (items[index].node && !items[index].node->chain.blocks.empty())
            reserveAll(items[index].node->chain.blocks, pathOf(index));
    for (int t = 0; t < 4; ++t)
        if (tables[t]->blocks.empty() && starts[t] && !allocator.reserve(*starts[t]))
            fail(where + ": " + startNames[t] + " " + number(*starts[t])
                 + (*starts[t] >= capacity ? " lies outside the segment" : " is used twice"));

    for (int t = 0; t < 4; ++t) {
        std::vector<std::uint32_t>& blocks = t < 2 ? fatBlocks[t] : detBlocks[t - 2];
        if (!tables[t]->blocks.empty()) {
            blocks = tables[t]->blocks;
            continue;
        }
        const std::uint32_t length = t < 2 ? (tables[t]->length ? *tables[t]->length : fatDefault) : detLength[t - 2];
        if (!allocator.take(length, tables[t]->order.value_or(BlockOrder::Contiguous), starts[t], blocks))
            return false;
    }
    for (auto& [sizeClass, chain] : classes)
        if (!allocator.take(ceilDiv(chain.sectors, spb), BlockOrder::Contiguous, std::nullopt, chain.blocks))
            return false;

    blockPool.clear();
    std::vector<std::uint32_t> blocks;
    for (Item& item : items) {
        item.chainOffset = static_cast<std::uint32_t>(blockPool.size());
        if (item.folder || item.chainLength == 0)
            continue;
        if (item.node && !item.node->chain.blocks.empty()) {
            blocks = item.node->chain.blocks;
        } else {
            const BlockOrder order =
                item.node && item.node->chain.order ? *item.node->chain.order : contents.fileOrder;
            if (!allocator.take(item.chainLength, order, std::nullopt, blocks))
                return false;
        }
        blockPool.insert(blockPool.end(), blocks.begin(), blocks.end());
    }
    blockCount = std::max(blockCount, allocator.end());
    used = allocator.takeBitmap();
    return true;
}

void VolumeWriter::Plan::allocate()
{
    const std::uint32_t neededDet = std::max<std::uint32_t>(1, ceilDiv(slots.size(), kEntriesPerSector * spb));
    for (int copy = 0; copy < 2; ++copy) {
        const ChainKnobs& det = contents.detChains[copy];
        const ChainKnobs& fat = contents.fatChains[copy];
        for (const ChainKnobs* knobs : {&det, &fat})
            if (!knobs->blocks.empty() && knobs->length && *knobs->length != knobs->blocks.size())
                fail(where + ": a table chain's length differs from its number of blocks");
        detLength[copy] = !det.blocks.empty() ? static_cast<std::uint32_t>(det.blocks.size())
                                              : det.length.value_or(neededDet);
        if (detLength[copy] == 0 || (fat.length && *fat.length == 0))
            fail(where + ": FAT and DET chains need at least one block");
    }
    auto fatFor = [&](std::uint64_t blocks) {
        return std::max<std::uint32_t>(1, ceilDiv(ceilDiv(blocks, kFatEntriesPerSector), spb));
    };
    const bool fatLengthsGiven = (contents.fatChains[0].length || !contents.fatChains[0].blocks.empty())
        && (contents.fatChains[1].length || !contents.fatChains[1].blocks.empty());

    if (segment.sizeSectors == 0) {
        // Sized to fit: grow the FAT until it covers every block allocated.
        std::uint32_t fat = 1;
        for (;;) {
            blockCount = 0;
            if (!runAllocation(kMaxBlocks, fat))
                fail(where + ": the contents need more than " + number(kMaxBlocks) + " blocks");
            const std::uint32_t needed = fatFor(blockCount);
            if (needed <= fat || fatLengthsGiven)
                break;
            fat = needed;
        }
        if (std::uint64_t{blockCount} * spb > 0xFFFFFFFFu)
            fail(where + ": the contents need more than 2^32 sectors");
        sizeSectors = blockCount * spb;
    } else {
        blockCount = blockCountOf(segment);
        sizeSectors = segment.sizeSectors;
        if (blockCount > kMaxBlocks)
            fail(where + ": a volume with contents has at most " + number(kMaxBlocks) + " blocks");
        const std::uint32_t capacity = std::min(blockCount, sizeSectors / spb);
        if (!runAllocation(capacity, fatFor(blockCount)))
            fail(where + ": the contents do not fit into the segment's " + number(capacity) + " blocks");
    }
    for (int copy = 0; copy < 2; ++copy)
        fatLength[copy] = static_cast<std::uint32_t>(fatBlocks[copy].size());
    for (auto& [sizeClass, chain] : classes)
        roots[sizeClass] = chain.blocks.front();
}

void VolumeWriter::Plan::linkChain(const std::vector<std::uint32_t>& blocks, const ChainKnobs& knobs,
                                   std::uint32_t end, const std::string& what)
{
    if (blocks.empty())
        return;
    if (knobs.loopTo && *knobs.loopTo >= blocks.size())
        fail(where + ": " + what + ": loopTo " + number(*knobs.loopTo) + " is past the chain's "
             + number(blocks.size()) + " blocks");
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        FatEntry& entry = table[blocks[k]];
        entry.sequence = static_cast<std::uint32_t>(k);
        entry.next = k + 1 < blocks.size() ? blocks[k + 1] : end;
    }
    for (std::size_t k = 0; k < knobs.fileBlocks.size() && k < blocks.size(); ++k)
        table[blocks[k]].sequence = knobs.fileBlocks[k];
    if (knobs.firstSequence)
        table[blocks.front()].sequence = *knobs.firstSequence;
    if (knobs.loopTo)
        table[blocks.back()].next = blocks[*knobs.loopTo];
    if (knobs.lastNext)
        table[blocks.back()].next = *knobs.lastNext;
}

void VolumeWriter::Plan::link()
{
    table.assign(blockCount, FatEntry{});
    for (int copy = 0; copy < 2; ++copy) {
        linkChain(fatBlocks[copy], contents.fatChains[copy], kChainEnd, copy == 0 ? "FAT copy 1" : "FAT copy 2");
        linkChain(detBlocks[copy], contents.detChains[copy], kChainEnd, copy == 0 ? "DET copy 1" : "DET copy 2");
    }
    for (const auto& [sizeClass, chain] : classes)
        linkChain(chain.blocks, ChainKnobs{}, kChainEnd, "suballocation chain");
    std::vector<std::uint32_t> blocks;
    for (std::uint32_t index = 0; index < items.size(); ++index) {
        const Item& item = items[index];
        if (item.chainLength == 0)
            continue;
        blocks.assign(blockPool.begin() + item.chainOffset, blockPool.begin() + item.chainOffset + item.chainLength);
        linkChain(blocks, item.node ? item.node->chain : ChainKnobs{}, item.fragment != 0 ? item.fragment : kChainEnd,
                  pathOf(index));
    }
}

std::uint64_t VolumeWriter::Plan::fatPhysicalSector(int copy, std::uint32_t block) const
{
    const std::uint64_t sector = block / kFatEntriesPerSector;
    const std::uint64_t covered = std::uint64_t{fatLength[copy]} * spb;
    return sector < covered ? sector : covered - spb + sector % spb;
}

// Entries the copy's chain is too short to hold go where the reader looks
// for them: the same sector of the chain's last block.
void VolumeWriter::Plan::mapAliases()
{
    for (int copy = 0; copy < 2; ++copy) {
        const std::uint64_t coveredEntries = std::uint64_t{fatLength[copy]} * spb * kFatEntriesPerSector;
        for (std::uint64_t block = coveredEntries; block < blockCount; ++block) {
            if (!isUsed(block))
                continue;
            const std::uint64_t sector = fatPhysicalSector(copy, static_cast<std::uint32_t>(block));
            const auto slot = static_cast<std::uint32_t>(block % kFatEntriesPerSector);
            const std::uint64_t natural = sector * kFatEntriesPerSector + slot;
            auto& aliased = aliases[copy][sector];
            const bool clash = isUsed(natural)
                || std::any_of(aliased.begin(), aliased.end(), [&](const auto& a) { return a.first == slot; });
            if (clash)
                fail(where + ": FAT copy " + number(copy + 1) + " is too short: the entry of block "
                     + number(block) + " would land on another block's entry");
            aliased.emplace_back(slot, table[block]);
        }
    }
}

void VolumeWriter::Plan::checkPatches() const
{
    for (const BytePatch& patch : contents.fatCopy2Patches)
        if (patch.offset + patch.bytes.size() > kFatEntrySize)
            fail(where + ": fatCopy2Patches: " + number(patch.bytes.size()) + " bytes at offset "
                 + number(patch.offset) + " run past the 8-byte entry");
    const std::uint64_t positions = std::uint64_t{detLength[1]} * spb * kEntriesPerSector;
    for (const BytePatch& patch : contents.detCopy2Patches) {
        if (patch.offset + patch.bytes.size() > kDirEntrySize)
            fail(where + ": detCopy2Patches: " + number(patch.bytes.size()) + " bytes at offset "
                 + number(patch.offset) + " run past the 128-byte entry");
        if (patch.index >= positions)
            fail(where + ": detCopy2Patches: position " + number(patch.index) + " is past DET copy 2");
    }
}

void VolumeWriter::Plan::writeFat(int copy, std::uint64_t start, SectorSink& sink) const
{
    std::vector<std::uint8_t> buffer(blockBytes);
    const std::span<std::uint8_t> bytes(buffer);
    for (std::uint32_t k = 0; k < fatLength[copy]; ++k) {
        std::fill(buffer.begin(), buffer.end(), 0);
        for (std::uint32_t o = 0; o < spb; ++o) {
            const std::uint64_t sector = std::uint64_t{k} * spb + o;
            const auto inSector = bytes.subspan(std::size_t{o} * kSectorBytes, kSectorBytes);
            const std::uint64_t firstEntry = sector * kFatEntriesPerSector;
            for (std::uint32_t slot = 0; slot < kFatEntriesPerSector; ++slot) {
                if (firstEntry + slot < blockCount) {
                    const FatEntry& entry = table[firstEntry + slot];
                    writeU32(inSector, slot * kFatEntrySize, entry.sequence);
                    writeU32(inSector, slot * kFatEntrySize + 4, entry.next);
                } else if (contents.noiseSeed) {
                    // Entries past the volume's blocks belong to no block.
                    Noise(*contents.noiseSeed).fill(inSector, Noise::Domain::Fat, sector, slot * kFatEntrySize,
                                                    kSectorBytes);
                    break;
                }
            }
            if (const auto aliased = aliases[copy].find(sector); aliased != aliases[copy].end())
                for (const auto& [slot, entry] : aliased->second) {
                    writeU32(inSector, slot * kFatEntrySize, entry.sequence);
                    writeU32(inSector, slot * kFatEntrySize + 4, entry.next);
                }
            if (copy == 1)
                for (const BytePatch& patch : contents.fatCopy2Patches)
                    if (fatPhysicalSector(copy, patch.index) == sector) {
                        const std::size_t at = (patch.index % kFatEntriesPerSector) * kFatEntrySize + patch.offset;
                        std::copy(patch.bytes.begin(), patch.bytes.end(), inSector.begin() + at);
                    }
        }
        sink.writeSectors(start + std::uint64_t{fatBlocks[copy][k]} * spb, buffer);
    }
}

// The entry at a DET position (out starts zeroed): its fields, then noise
// where the format leaves bytes undefined. Positions past the laid-out ones
// are free slots.
void VolumeWriter::Plan::encodeSlot(std::uint32_t position, int copy, std::span<std::uint8_t> out) const
{
    if (position < slots.size())
        encodeSlotFields(position, copy, out);
    if (contents.noiseSeed)
        addSlotNoise(Noise(*contents.noiseSeed), position, out);
}

void VolumeWriter::Plan::addSlotNoise(const Noise& noise, std::uint32_t position, std::span<std::uint8_t> out) const
{
    constexpr auto kDirectory = Noise::Domain::Directory;
    const Occupant kind = position < slots.size() ? slots[position].kind : Occupant::Empty;
    // Name bytes run from 12 for the longer of the length byte and the bytes written.
    auto nameEnd = [&](std::size_t written) { return std::min<std::size_t>(kDetName + std::max<std::size_t>(out[kDetNameLength], written), kDetOwnId); };
    switch (kind) {
    case Occupant::Empty:
        // A free slot: its parent field says so, the rest means nothing.
        noise.fill(out, kDirectory, position, 0, kDirEntrySize);
        writeU32(out, kDetParentId, 0xFFFFFFFF);
        return;
    case Occupant::VolumeEntry:
    case Occupant::Raw:
        return;
    case Occupant::Record:
        noise.fill(out, kDirectory, position, kDetAttributes, kDetRecordNumber);
        noise.fill(out, kDirectory, position, kDetNameSpace, kDetRoots);
        return;
    case Occupant::Dos: {
        const Item& item = items[slots[position].index];
        noise.fill(out, kDirectory, position, 8, 10);
        const std::size_t end = kDetName + view(item).name.size();
        if (end < kDetDateTime)
            noise.fill(out, kDirectory, position, end, kDetDateTime);
        if (nameListOf(item) == 0)
            writeU32(out, kDetNameList, noise.farNumber(kDirectory, position, kDetNameList));
        return;
    }
    case Occupant::LongName: {
        // Unchained: only its name space, length and name are defined.
        const Item& item = items[slots[position].index];
        noise.fill(out, kDirectory, position, kDetAttributes, kDetNameSpace);
        noise.fill(out, kDirectory, position, nameEnd(view(item).longName->size()), kDetOwnId);
        writeU32(out, kDetOwnId, noise.farNumber(kDirectory, position, kDetOwnId));
        writeU32(out, kDetNameList, noise.farNumber(kDirectory, position, kDetNameList));
        return;
    }
    case Occupant::NameSpace: {
        noise.fill(out, kDirectory, position, 8, 10);
        const NameSpaceSlot& slot = nameSpaceRecords[slots[position].index];
        const std::uint8_t nameSpace = out[kDetNameSpace];
        if (slot.item != kNone && (nameSpace == kLongNameSpace || nameSpace == kNtNameSpace)) {
            const NameSpaceRecord* described = recordSpec(slot);
            const std::size_t written = described ? described->name.size() : generatedLongName(items[slot.item].serial).size();
            noise.fill(out, kDirectory, position, nameEnd(written), kDetOwnId);
        }
        return;
    }
    }
}

void VolumeWriter::Plan::encodeSlotFields(std::uint32_t position, int copy, std::span<std::uint8_t> out) const
{
    const Slot& slot = slots[position];
    switch (slot.kind) {
    case Occupant::Empty:
        return;
    case Occupant::VolumeEntry:
        encodeRoot(out);
        return;
    case Occupant::NameSpace:
        encodeNameSpaceRecord(slot.index, out);
        return;
    case Occupant::Record: {
        std::array<std::uint32_t, kRootsPerRecord> part{};
        std::copy_n(roots.begin() + slot.index * kRootsPerRecord, kRootsPerRecord, part.begin());
        const auto record = suballocationRecord(static_cast<std::uint8_t>(slot.index), part);
        std::copy(record.begin(), record.end(), out.begin());
        return;
    }
    case Occupant::Raw: {
        const RawEntry& raw = contents.rawEntries[slot.index];
        if (copy == 0 ? raw.inCopy1 : raw.inCopy2)
            std::copy(raw.bytes.begin(), raw.bytes.end(), out.begin());
        return;
    }
    case Occupant::Dos:
    case Occupant::LongName:
        break;
    }
    const Item& item = items[slot.index];
    const NodeView v = view(item);
    writeU32(out, kDetParentId, item.parentId);
    const std::string& name = slot.kind == Occupant::Dos ? v.name : *v.longName;
    if (slot.kind == Occupant::Dos) {
        writeU32(out, kDetAttributes, v.attributes);
        out[kDetNameSpace] = v.nameSpace;
        writeU32(out, kDetDateTime, v.dateTime);
        writeU32(out, kDetSize, v.size);
        writeU32(out, kDetFirstBlock, firstBlockOf(item));
        writeU32(out, kDetDeletedMarker, v.deletedMarker);
        out[kDetFlags] = v.flags;
        writeU32(out, kDetOwnId, item.ownId);
        if (item.node && item.node->modifiedDateTime)
            writeU32(out, kDetModifiedDateTime, *item.node->modifiedDateTime);
        writeU32(out, kDetNameList, nameListOf(item));
    } else {
        out[kDetNameSpace] = kLongNameSpace;
    }
    // The name goes last: names past 12 bytes overwrite the date.
    out[kDetNameLength] = static_cast<std::uint8_t>(name.size());
    std::memcpy(out.data() + kDetName, name.data(), name.size());
}

void VolumeWriter::Plan::encodeRoot(std::span<std::uint8_t> out) const
{
    writeU32(out, kDetParentId, kVolumeEntryParent);
    if (!contents.root)
        return;
    const RootRecord& root = *contents.root;
    out[kRootNameSpaceCount] = root.nameSpaceCount.value_or(static_cast<std::uint8_t>(root.nameSpaces.size()));
    const bool nibbles = tableOf(root) == NameSpaceTable::Nibbles;
    for (std::size_t k = 0; k < root.nameSpaces.size(); ++k) {
        if (nibbles)
            out[kRootNibbleTable + k / 2] |= static_cast<std::uint8_t>((root.nameSpaces[k] & 0x0F) << (k % 2 * 4));
        else
            out[kRootByteTable + k] = root.nameSpaces[k];
    }
    out[kRootVolumeFlags] = root.volumeFlags;
    writeU32(out, kRootCreated, root.created);
    const std::uint32_t first = rootRecordCount != 0 ? nameSpaceRecords[0].position : 0;
    writeU32(out, kDetNameList, root.nameList.value_or(first));
}

void VolumeWriter::Plan::encodeNameSpaceRecord(std::uint32_t record, std::span<std::uint8_t> out) const
{
    const NameSpaceSlot& slot = nameSpaceRecords[record];
    const NameSpaceRecord* described = recordSpec(slot);
    std::uint32_t parent = kVolumeEntryParent;
    std::uint32_t attributes = 0;
    std::uint32_t primary = 0;
    std::uint32_t next = 0;
    if (slot.item == kNone) {
        if (record + 1 < rootRecordCount)
            next = nameSpaceRecords[record + 1].position;
    } else {
        const Item& item = items[slot.item];
        parent = item.parentId;
        attributes = view(item).attributes;
        primary = item.position;
        if (slot.record + 1 < item.nameSpaceCount)
            next = nameSpaceRecords[record + 1].position;
    }
    const std::string name = described ? described->name : generatedLongName(items[slot.item].serial);
    const std::uint8_t nameSpace = described ? described->nameSpace : kLongNameSpace;
    if (described) {
        parent = described->parentId.value_or(parent);
        primary = described->primaryEntry.value_or(primary);
        next = described->next.value_or(next);
    }
    writeU32(out, kDetParentId, parent);
    writeU32(out, kDetAttributes, attributes);
    out[kDetNameSpace] = nameSpace;
    if (nameSpace == kNfsNameSpace)
        out[kDetNfsTotalLength] = described && described->totalLength
            ? *described->totalLength
            : static_cast<std::uint8_t>(std::min<std::size_t>(name.size(), 0xFF));
    writeU32(out, kDetOwnId, primary);
    writeU32(out, kDetNameList, next);
    // The name goes last: odd names past the field overwrite what follows it, up to 120.
    out[kDetNameLength] = described && described->nameLength ? *described->nameLength : static_cast<std::uint8_t>(name.size());
    std::memcpy(out.data() + kDetName, name.data(), name.size());
}

// The bytes of DET copy 1 at a position; past the entries laid out, a free slot.
void VolumeWriter::Plan::copy1Entry(std::uint32_t position, std::span<std::uint8_t> out) const
{
    std::fill(out.begin(), out.end(), 0);
    encodeSlot(position, 0, out);
}

// Follows a DOS entry's name-space chain in DET copy 1 as the reader does
// and collects the records it takes.
ChainEnd VolumeWriter::Plan::walkNameSpaces(std::uint32_t dosPosition, std::uint32_t dosPrimary, std::uint32_t nameList,
                                           std::vector<ChainRecord>& chain) const
{
    std::vector<std::uint32_t> visited = {dosPosition};
    std::array<std::uint8_t, kDirEntrySize> record{};
    for (std::uint32_t at = nameList;;) {
        if (at == 0)
            return ChainEnd::Zero;
        if (std::find(visited.begin(), visited.end(), at) != visited.end())
            return ChainEnd::Revisited;
        if (chain.size() == kMaxNameSpaceLinks)
            return ChainEnd::LinkLimit;
        if (at >= copy1Positions())
            return ChainEnd::Outside;
        copy1Entry(at, record);
        const std::uint8_t nameSpace = record[kDetNameSpace];
        if (nameSpace == kDosNameSpace)
            return ChainEnd::DosRecord;
        if (readU32(record, kDetParentId) >= kSuballocationParent)
            return ChainEnd::NotRecord;
        // The DOS entry's own @120 is its number too.
        if (readU32(record, kDetOwnId) != dosPosition && readU32(record, kDetOwnId) != dosPrimary)
            return ChainEnd::OtherPrimary;
        visited.push_back(at);
        const std::size_t length = std::min<std::size_t>(record[kDetNameLength], nameSpaceNameClamp(nameSpace));
        chain.push_back({at, nameSpace, cutName(record, length)});
        at = readU32(record, kDetNameList);
    }
}

// Whether DET copy 1 holds a DOS record (name space 0, an ordinary parent
// id, a name length of 1 to 15) at a position.
bool VolumeWriter::Plan::isDosRecord(std::uint32_t position) const
{
    if (position >= copy1Positions())
        return false;
    std::array<std::uint8_t, kDirEntrySize> record{};
    copy1Entry(position, record);
    return record[kDetNameSpace] == kDosNameSpace && readU32(record, kDetParentId) < kSuballocationParent
        && record[kDetNameLength] >= 1 && record[kDetNameLength] <= kMaxDosNameLength;
}

// The volume's name spaces and creation stamp from the root entry, read the
// way the reader reads them.
void VolumeWriter::Plan::describeRoot(VolumeManifest& manifest) const
{
    std::array<std::uint8_t, kDirEntrySize> root{};
    copy1Entry(0, root);
    manifest.nameSpaces.clear();
    manifest.created = 0;
    if (readU32(root, kDetParentId) == kVolumeEntryParent && root[kDetNameSpace] == kDosNameSpace) {
        manifest.created = readU32(root, kRootCreated);
        const bool nibbles = (root[kRootVolumeFlags] & kNibbleTableFlags) != 0;
        const std::size_t size = nibbles ? kRootNibbleTableSize : kRootByteTableSize;
        const std::size_t count = std::min<std::size_t>(std::max<std::size_t>(root[kRootNameSpaceCount], 1), size);
        for (std::size_t k = 0; k < count; ++k) {
            const std::string name = nameSpaceName(nibbles ? (root[kRootNibbleTable + k / 2] >> (k % 2 * 4)) & 0x0F
                                                           : root[kRootByteTable + k]);
            if (!name.empty() && std::find(manifest.nameSpaces.begin(), manifest.nameSpaces.end(), name)
                    == manifest.nameSpaces.end())
                manifest.nameSpaces.push_back(name);
        }
    }
    if (manifest.nameSpaces.empty())
        manifest.nameSpaces.emplace_back(nameSpaceName(kDosNameSpace));
}

// Decodes a DET copy 1 sector as the reader does: suballocation records, and
// DOS entries with the name their name-space chain gives, else the long name
// of the next entry in the same sector.
void VolumeWriter::Plan::decodeSector(std::span<const std::uint8_t> sector, std::uint32_t firstPosition,
                                      std::uint64_t entrySector, std::uint64_t mirrorSector,
                                      VolumeManifest& manifest) const
{
    for (std::uint32_t s = 0; s < kEntriesPerSector; ++s) {
        const auto entry = sector.subspan(std::size_t{s} * kDirEntrySize, kDirEntrySize);
        const std::uint32_t parentId = readU32(entry, kDetParentId);
        if (parentId == kSuballocationParent && entry[kDetRecordNumber] < kSuballocationRecords)
            for (std::uint32_t i = 0; i < kRootsPerRecord; ++i)
                manifest.suballocationRoots[entry[kDetRecordNumber] * kRootsPerRecord + i] =
                    readU32(entry, kDetRoots + 4 * i);
        if (parentId >= kSuballocationParent || entry[kDetNameSpace] != kDosNameSpace)
            continue;
        const std::uint8_t dosLength = entry[kDetNameLength];
        if (dosLength == 0 || dosLength > kMaxDosNameLength)
            continue;
        std::string dosName = cutName(entry, dosLength);
        const std::uint32_t position = firstPosition + s;
        const std::uint32_t nameList = readU32(entry, kDetNameList);
        std::vector<ChainRecord> chain;
        const ChainEnd chainEnd = nameList != 0 ? walkNameSpaces(position, readU32(entry, kDetOwnId), nameList, chain) : ChainEnd::Zero;
        std::optional<std::string> name;
        for (const std::uint8_t preferred : {kLongNameSpace, kNfsNameSpace, kMacNameSpace})
            for (const ChainRecord& record : chain)
                if (!name && record.nameSpace == preferred && !record.name.empty())
                    name = record.name;
        if (!name && s + 1 < kEntriesPerSector) {
            const auto next = sector.subspan(std::size_t{s + 1} * kDirEntrySize, kDirEntrySize);
            const std::uint8_t longLength = next[kDetNameLength];
            if (next[kDetNameSpace] == kLongNameSpace && longLength >= 1 && longLength <= kMaxLongNameLength) {
                // A LONG record whose @120 is the position of another DOS record
                // is that record's name; a name cut to nothing is taken only
                // from a record whose @120 names this entry.
                const std::uint32_t owner = readU32(next, kDetOwnId);
                std::string longName = cutName(next, longLength);
                const bool ours = owner == position || owner == readU32(entry, kDetOwnId);
                if (ours || (!longName.empty() && !isDosRecord(owner)))
                    name = std::move(longName);
            }
        }
        if (!name)
            name = dosName;
        // A next-slot long name that cuts to nothing drops the entry, unless
        // the entry heads a name-space chain: then its DOS name stands.
        if (name->empty() && nameList != 0)
            name = dosName;
        if (name->empty())
            continue;

        ManifestEntry& e = manifest.entries.emplace_back();
        e.attributes = entry[kDetAttributes];
        e.attributesHigh = entry[kDetAttributesHigh];
        e.folder = (e.attributes & kFolderAttribute) != 0;
        e.name = std::move(*name);
        e.dosName = std::move(dosName);
        e.modifiedDateTime = readU32(entry, kDetModifiedDateTime);
        e.nameList = nameList;
        std::vector<WrittenNameSpaceRecord> written;
        e.parentId = parentId;
        e.ownId = readU32(entry, kDetOwnId);
        e.size = readU32(entry, kDetSize);
        e.firstBlock = readU32(entry, kDetFirstBlock);
        e.dateTime = readU32(entry, kDetDateTime);
        e.deletedMarker = readU32(entry, kDetDeletedMarker);
        e.position = position;
        e.entrySector = entrySector;
        e.mirrorSector = mirrorSector;
        e.slot = static_cast<std::uint16_t>(s);
        if (e.position < slots.size() && slots[e.position].kind == Occupant::Dos) {
            const std::uint32_t index = slots[e.position].index;
            const Item& item = items[index];
            for (std::uint32_t k = 0; k < item.nameSpaceCount; ++k) {
                const std::uint32_t at = nameSpaceRecords[item.nameSpaceOffset + k].position;
                std::array<std::uint8_t, kDirEntrySize> record{};
                encodeSlot(at, 0, record);
                written.push_back({at, record[kDetNameSpace], record[kDetNameLength], readU32(record, kDetOwnId),
                                   readU32(record, kDetNameList)});
            }
            if (!item.folder) {
                e.dataBlocks.assign(blockPool.begin() + item.chainOffset,
                                    blockPool.begin() + item.chainOffset + item.chainLength);
                e.fragment = item.fragment;
                e.content = contentOf(index);
                // Holes: the blocks of the file that fileBlocks skips.
                std::uint64_t expected = 0;
                for (const std::uint32_t fileBlock : item.node ? item.node->chain.fileBlocks : std::vector<std::uint32_t>{}) {
                    if (fileBlock > expected)
                        e.holes.push_back({expected * blockBytes, (fileBlock - expected) * blockBytes});
                    expected = fileBlock + 1;
                }
            }
        }
        if (nameList != 0 || !written.empty())
            e.nameSpaceChain = std::make_shared<const NameSpaceChain>(
                NameSpaceChain{std::move(chain), chainEnd, std::move(written)});
    }
}

// As the reader does: an entry whose parent id names no folder's ownId but
// the DET position of a folder whose ownId differs goes under that folder.
static void reattachToRenumberedFolders(VolumeManifest& manifest)
{
    std::unordered_set<std::uint32_t> ownIds;
    std::unordered_map<std::uint32_t, std::uint32_t> byPosition;
    for (const ManifestEntry& e : manifest.entries)
        if (e.folder)
            ownIds.insert(e.ownId);
    for (const ManifestEntry& e : manifest.entries)
        if (e.folder && e.ownId != e.position && e.ownId != 0 && !ownIds.contains(e.position))
            byPosition.emplace(e.position, e.ownId);
    for (ManifestEntry& e : manifest.entries)
        if (e.parentId != 0 && !ownIds.contains(e.parentId))
            if (const auto it = byPosition.find(e.parentId); it != byPosition.end())
                e.parentId = it->second;
}

void VolumeWriter::Plan::writeDet(int copy, std::uint64_t start, SectorSink& sink, VolumeManifest* manifest) const
{
    const std::uint32_t perBlock = spb * kEntriesPerSector;
    std::vector<std::uint8_t> buffer(blockBytes);
    const std::span<std::uint8_t> bytes(buffer);
    for (std::uint32_t k = 0; k < detLength[copy]; ++k) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const std::uint64_t firstPosition = std::uint64_t{k} * perBlock;
        const std::uint64_t laidOut = contents.noiseSeed ? firstPosition + perBlock : slots.size();
        for (std::uint32_t i = 0; i < perBlock && firstPosition + i < laidOut; ++i)
            encodeSlot(static_cast<std::uint32_t>(firstPosition + i), copy,
                       bytes.subspan(std::size_t{i} * kDirEntrySize, kDirEntrySize));
        if (copy == 1)
            for (const BytePatch& patch : contents.detCopy2Patches)
                if (patch.index / perBlock == k)
                    std::copy(patch.bytes.begin(), patch.bytes.end(),
                              buffer.begin() + (patch.index % perBlock) * kDirEntrySize + patch.offset);
        const std::uint64_t blockStart = start + std::uint64_t{detBlocks[copy][k]} * spb;
        sink.writeSectors(blockStart, buffer);
        if (!manifest)
            continue;
        const bool paired = k < detLength[1];
        for (std::uint32_t o = 0; o < spb; ++o) {
            const std::uint64_t mirror = paired ? start + std::uint64_t{detBlocks[1][k]} * spb + o : o + 1;
            decodeSector(bytes.subspan(std::size_t{o} * kSectorBytes, kSectorBytes),
                         static_cast<std::uint32_t>(firstPosition + o * kEntriesPerSector), blockStart + o, mirror,
                         *manifest);
        }
    }
}

void VolumeWriter::Plan::writeData(std::uint64_t start, SectorSink& sink) const
{
    // Suballocation chains: every fragment of a class in one buffer.
    std::map<std::uint32_t, std::vector<std::uint8_t>> fragmentData;
    for (const auto& [sizeClass, chain] : classes)
        fragmentData[sizeClass].assign(std::size_t{blockBytes} * chain.blocks.size(), 0);

    std::vector<std::uint8_t> buffer(blockBytes);
    for (std::uint32_t index = 0; index < items.size(); ++index) {
        const Item& item = items[index];
        if (item.folder || (item.chainLength == 0 && item.fragment == 0))
            continue;
        const FileContent content = contentOf(index);
        const std::vector<std::uint32_t>* fileBlocks = item.node ? &item.node->chain.fileBlocks : nullptr;
        for (std::uint32_t k = 0; k < item.chainLength; ++k) {
            const std::uint64_t fileBlock = fileBlocks && k < fileBlocks->size() ? (*fileBlocks)[k] : k;
            contentBytes(content, fileBlock * blockBytes, buffer);
            sink.writeSectors(start + std::uint64_t{blockPool[item.chainOffset + k]} * spb, buffer);
        }
        if (item.fragment != 0) {
            const std::uint32_t sizeClass = (item.fragment >> 24) & kMaxSizeClass;
            const std::uint32_t position = item.fragment & kMaxFragmentPosition;
            const std::uint64_t offset = std::uint64_t{sizeClass} * position * kSectorBytes;
            contentBytes(content, item.storedLength - item.fragmentLength,
                         std::span<std::uint8_t>(fragmentData[sizeClass]).subspan(offset, item.fragmentLength));
        }
    }
    for (const auto& [sizeClass, chain] : classes) {
        const std::span<const std::uint8_t> bytes(fragmentData[sizeClass]);
        for (std::size_t k = 0; k < chain.blocks.size(); ++k)
            sink.writeSectors(start + std::uint64_t{chain.blocks[k]} * spb, bytes.subspan(k * blockBytes, blockBytes));
    }
}

VolumeWriter::VolumeWriter(std::unique_ptr<Plan> plan) : plan_(std::move(plan)) {}

VolumeWriter::~VolumeWriter() = default;

Result<std::unique_ptr<VolumeWriter>> VolumeWriter::plan(const SegmentSpec& segment, const std::string& where)
{
    auto plan = std::make_unique<Plan>(segment, where);
    try {
        if (segment.sizeSectors == 0) {
            if (segment.blockCount)
                fail(where + ": a segment sized to fit its contents takes sectorsPerBlock, not blockCount");
            plan->spb = segment.sectorsPerBlock.value_or(kDefaultSectorsPerBlock);
        } else {
            plan->spb = sectorsPerBlockOf(segment);
        }
        if (plan->spb == 0)
            fail(where + ": a segment with contents needs blocks");
        if (plan->spb > 0xFFFFFFFFu / kSectorBytes)
            fail(where + ": blocks of " + number(plan->spb) + " sectors are too large");
        plan->blockBytes = plan->spb * kSectorBytes;
        plan->flatten();
        plan->planStorage();
        plan->placeEntries();
        plan->allocate();
        plan->link();
        plan->mapAliases();
        plan->checkPatches();
    } catch (const PlanError& error) {
        return Error{error.what()};
    }
    return std::unique_ptr<VolumeWriter>(new VolumeWriter(std::move(plan)));
}

std::uint32_t VolumeWriter::sizeSectors() const
{
    return plan_->sizeSectors;
}

std::uint32_t VolumeWriter::blockCount() const
{
    return plan_->blockCount;
}

std::uint32_t VolumeWriter::sectorsPerBlock() const
{
    return plan_->spb;
}

std::array<std::uint32_t, 4> VolumeWriter::tableBlocks() const
{
    const Plan& p = *plan_;
    return {p.segment.firstFatBlock.value_or(p.fatBlocks[0].front()),
            p.segment.secondFatBlock.value_or(p.fatBlocks[1].front()),
            p.segment.firstDetBlock.value_or(p.detBlocks[0].front()),
            p.segment.secondDetBlock.value_or(p.detBlocks[1].front())};
}

std::shared_ptr<const VolumeManifest> VolumeWriter::write(std::uint64_t startSector, SectorSink& sink) const
{
    const Plan& p = *plan_;
    auto manifest = std::make_shared<VolumeManifest>();
    manifest->name = p.segment.name;
    manifest->startSector = startSector;
    manifest->sizeSectors = p.sizeSectors;
    manifest->blockCount = p.blockCount;
    manifest->sectorsPerBlock = p.spb;
    manifest->detPositions = static_cast<std::uint32_t>(p.slots.size());
    for (int copy = 0; copy < 2; ++copy) {
        for (const auto& [chain, blocks] : {std::pair{&manifest->fat[copy], &p.fatBlocks[copy]},
                                            std::pair{&manifest->det[copy], &p.detBlocks[copy]}}) {
            chain->blocks = *blocks;
            chain->firstSequence = p.table[blocks->front()].sequence;
            chain->lastNext = p.table[blocks->back()].next;
        }
    }
    for (const auto& [sizeClass, chain] : p.classes)
        manifest->suballocationChains.push_back({sizeClass, ChainManifest{chain.blocks, 0, kChainEnd}});
    manifest->entries.reserve(p.items.size());
    p.describeRoot(*manifest);

    p.writeFat(0, startSector, sink);
    p.writeFat(1, startSector, sink);
    p.writeDet(0, startSector, sink, manifest.get());
    reattachToRenumberedFolders(*manifest);
    p.writeDet(1, startSector, sink, nullptr);
    if (sink.wantsData())
        p.writeData(startSector, sink);
    return manifest;
}

} // namespace tamsin::imagebuilder::detail
