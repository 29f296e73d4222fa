#include "snapshot/SnapshotDiskCheck.h"

#include "common/LittleEndian.h"
#include "disk/Device.h"
#include "disk/SectorReader.h"
#include "mount/DirEntryFields.h"
#include "mount/DirectoryWalk.h"
#include "mount/TreeNode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace tamsin {
namespace {

using namespace direntry;

// The name of the entry of the given name space and length limit, or empty.
std::string entryName(std::span<const std::uint8_t> entry, std::uint8_t nameSpace, std::uint32_t maxLength)
{
    const std::uint8_t length = entry[kNameLength];
    if (entry[kNameSpace] != nameSpace || length == 0 || length > maxLength)
        return {};
    const char* begin = reinterpret_cast<const char*>(entry.data() + kName);
    return std::string(begin, strnlen(begin, length));
}

// Whether a DOS entry could carry this name: 8.3, no lower case, no blanks.
bool fitsDosNameSpace(std::string_view name)
{
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view extension = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3 || extension.find('.') != std::string_view::npos)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == ' ' || (c >= 'a' && c <= 'z'); });
}

// Whether the entry at the node's slot is the node's own: by its DOS name, by
// a long name in the next slot, or, for a node shown by a name no DOS entry
// can carry (taken from its name-space chain), by the fields the walk took
// from that DOS entry.
bool sectorHoldsNode(std::span<const std::uint8_t> sector, const TreeNode& node)
{
    constexpr std::uint32_t kSlots = kSectorSize / kDirEntrySize;
    const std::uint16_t slot = node.entrySlot;
    if (slot >= kSlots)
        return false;
    const auto entry = sector.subspan(std::size_t{slot} * kDirEntrySize, kDirEntrySize);
    const std::string_view name = node.name;
    if (entryName(entry, kDosNameSpace, kMaxDosNameLength) == name)
        return true;
    if (slot + 1u < kSlots
        && entryName(sector.subspan(std::size_t{slot + 1u} * kDirEntrySize, kDirEntrySize), kLongNameSpace,
                     kMaxLongNameLength) == name)
        return true;
    return !fitsDosNameSpace(name) && entry[kNameSpace] == kDosNameSpace && entry[kAttributes] == node.attributes
           && entry[kAttributesHigh] == node.attributesHigh && readU32(entry, kSize) == node.size
           && readU32(entry, kFirstBlock) == node.firstBlock && readU32(entry, kDateTime) == node.dateTime
           && readU32(entry, kDeletedMarker) == node.deletedMarker;
}

} // namespace

std::vector<const TreeNode*> snapshotSamples(const std::vector<TreeNode>& folders, const std::vector<TreeNode>& files,
                                             const std::vector<std::size_t>& withoutEntry)
{
    // Candidate k is the node at position k plus the number of non-candidates
    // before it.
    const std::size_t count = folders.size() + files.size() - withoutEntry.size();
    const std::size_t samples = std::min(count, kSnapshotSamples);
    std::vector<const TreeNode*> picked;
    std::size_t passed = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const std::size_t k = i * count / samples;
        while (passed < withoutEntry.size() && withoutEntry[passed] <= k + passed)
            ++passed;
        const std::size_t position = k + passed;
        picked.push_back(position < folders.size() ? &folders[position] : &files[position - folders.size()]);
    }
    return picked;
}

SnapshotDiskMatch checkSnapshotSamples(const std::vector<const TreeNode*>& samples,
                                       const std::vector<const SectorReader*>& disks)
{
    if (samples.empty())
        return SnapshotDiskMatch::Unknown;
    std::size_t confirmed = 0;
    std::size_t differing = 0;
    std::size_t pastEnd = 0;
    std::array<std::uint8_t, kSectorSize> sector{};
    for (const TreeNode* node : samples) {
        bool onSomeDisk = false;
        bool read = false;
        bool held = false;
        for (const SectorReader* disk : disks) {
            const std::uint64_t diskSectors = disk->device() ? disk->device()->sizeBytes() / kSectorSize : 0;
            if (node->entrySector >= diskSectors)
                continue;
            onSomeDisk = true;
            if (disk->readSectors(node->entrySector, 1, sector) != 0)
                continue;
            read = true;
            if ((held = sectorHoldsNode(sector, *node)))
                break;
        }
        confirmed += held;
        differing += read && !held;
        pastEnd += !onSomeDisk;
    }
    if (confirmed > 0 && differing == 0 && pastEnd == 0)
        return SnapshotDiskMatch::Matches;
    return differing > 0 || confirmed > 0 ? SnapshotDiskMatch::OtherEntries : SnapshotDiskMatch::NoneReadable;
}

} // namespace tamsin
