#include "mount/DirectoryRebuild.h"

#include "common/LittleEndian.h"
#include "disk/Sector.h"
#include "mount/BlockContent.h"
#include "mount/DirEntryFields.h"
#include "mount/DirectoryWalk.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>

namespace tamsin {
namespace {

constexpr std::uint32_t kFolderAttribute = 0x10;
constexpr std::uint64_t kRunBytes = std::uint64_t{1} << 20;

// Whether the record is a folder's record in the DOS name space.
bool isFolderRecord(std::span<const std::uint8_t> record)
{
    return classifyRecord(record) == RecordKind::Entry && record[direntry::kNameSpace] == direntry::kDosNameSpace
        && (readU32(record, direntry::kAttributes) & kFolderAttribute) != 0;
}

} // namespace

std::vector<FoundDirectoryBlock> scanDirectoryBlocks(const MountedVolume& volume, const SectorReader& reader,
                                                     DirectoryScanObserver& observer, const std::atomic<bool>& stop)
{
    std::vector<FoundDirectoryBlock> found;
    const std::uint32_t spb = volume.sectorsPerBlock;
    if (spb == 0 || volume.blockCount == 0)
        return found;
    const VolumeReader io(volume, reader);
    const std::size_t blockBytes = std::size_t{spb} * kSectorSize;
    const auto runBlocks = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kRunBytes / blockBytes));
    std::vector<std::uint8_t> buffer(std::size_t{runBlocks} * blockBytes);
    int lastPercent = -1;
    for (std::uint32_t first = 0; first < volume.blockCount && !stop.load(); first += runBlocks) {
        const std::uint32_t blocks = std::min(runBlocks, volume.blockCount - first);
        const std::span<std::uint8_t> run = std::span(buffer).first(std::size_t{blocks} * blockBytes);
        io.read(volume.blockStart(first), blocks * spb, run);
        for (std::uint32_t k = 0; k < blocks; ++k) {
            const auto bytes = run.subspan(std::size_t{k} * blockBytes, blockBytes);
            if (matchDirectoryBlock(bytes).directory)
                found.push_back({first + k, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
        }
        const int percent = static_cast<int>(std::uint64_t{first + blocks} * 100 / volume.blockCount);
        if (percent != lastPercent)
            observer.directoryScanProgress(lastPercent = percent);
    }
    return found;
}

OrderedDirectory orderDirectoryBlocks(const std::vector<FoundDirectoryBlock>& found, std::uint32_t recordsPerBlock,
                                      std::optional<std::uint32_t> firstDirectoryBlock)
{
    OrderedDirectory order;
    if (recordsPerBlock == 0)
        return order;
    // Copies of one block (the second table copy) count once; the volume
    // table's first directory block is kept over its copy.
    std::vector<const FoundDirectoryBlock*> blocks;
    const auto lessBytes = [](const std::vector<std::uint8_t>* a, const std::vector<std::uint8_t>* b) { return *a < *b; };
    std::map<const std::vector<std::uint8_t>*, std::size_t, decltype(lessBytes)> byContent(lessBytes);
    for (const FoundDirectoryBlock& block : found) {
        const auto [at, added] = byContent.emplace(&block.bytes, blocks.size());
        if (added) {
            blocks.push_back(&block);
            continue;
        }
        ++order.duplicates;
        if (firstDirectoryBlock && block.block == *firstDirectoryBlock)
            blocks[at->second] = &block;
    }

    // Where each block holds folder records, and which directory numbers the records name as parents.
    std::map<std::uint32_t, std::vector<std::size_t>> folderAtSlot;  // slot -> blocks
    std::set<std::uint32_t> parents;
    std::optional<std::size_t> root;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const std::vector<std::uint8_t>& bytes = blocks[b]->bytes;
        for (std::uint32_t slot = 0; slot * kDirEntrySize < bytes.size() && slot < recordsPerBlock; ++slot) {
            const auto record = std::span(bytes).subspan(std::size_t{slot} * kDirEntrySize, kDirEntrySize);
            const RecordKind kind = classifyRecord(record);
            if (kind == RecordKind::Root && slot == 0
                && (!root || (firstDirectoryBlock && blocks[b]->block == *firstDirectoryBlock)))
                root = b;
            if (kind != RecordKind::Entry)
                continue;
            if (isFolderRecord(record))
                folderAtSlot[slot].push_back(b);
            if (const std::uint32_t parent = readU32(record, direntry::kParentId); parent != 0)
                parents.insert(parent);
        }
    }

    std::vector<bool> placed(blocks.size(), false);
    std::map<std::uint32_t, std::size_t> atPosition;
    const auto place = [&](std::uint32_t position, std::size_t b) {
        atPosition[position] = b;
        placed[b] = true;
        ++order.placedByContent;
    };
    if (root)
        place(0, *root);
    // A parent id fixes its position once a single unplaced block fits it;
    // placing one block can settle another's position, so this goes round
    // until nothing changes, then takes the lowest block where several fit.
    for (bool settleAmbiguous = false;;) {
        bool changed = false;
        for (std::uint32_t parent : parents) {
            const std::uint32_t position = parent / recordsPerBlock;
            if (atPosition.contains(position))
                continue;
            std::vector<std::size_t> fits;
            for (std::size_t b : folderAtSlot[parent % recordsPerBlock])
                if (!placed[b])
                    fits.push_back(b);
            if (fits.empty() || (fits.size() > 1 && !settleAmbiguous))
                continue;
            const std::size_t chosen = *std::min_element(fits.begin(), fits.end(), [&](std::size_t x, std::size_t y) {
                return blocks[x]->block < blocks[y]->block;
            });
            order.ambiguous += fits.size() > 1;
            place(position, chosen);
            changed = true;
            if (settleAmbiguous)
                break;  // one guess at a time: it may settle the others
        }
        if (changed)
            settleAmbiguous = false;
        else if (!settleAmbiguous)
            settleAmbiguous = true;
        else
            break;
    }

    // The rest fill the free positions in block order.
    std::vector<std::size_t> rest;
    for (std::size_t b = 0; b < blocks.size(); ++b)
        if (!placed[b])
            rest.push_back(b);
    std::sort(rest.begin(), rest.end(), [&](std::size_t x, std::size_t y) { return blocks[x]->block < blocks[y]->block; });
    const std::uint32_t highest = atPosition.empty() ? 0 : atPosition.rbegin()->first + 1;
    order.blocks.assign(std::max<std::size_t>(highest, 0), OrderedDirectory::kNoBlock);
    for (const auto& [position, b] : atPosition)
        order.blocks[position] = blocks[b]->block;
    std::size_t next = 0;
    for (std::size_t b : rest) {
        while (next < order.blocks.size() && order.blocks[next] != OrderedDirectory::kNoBlock)
            ++next;
        if (next == order.blocks.size())
            order.blocks.push_back(OrderedDirectory::kNoBlock);
        order.blocks[next] = blocks[b]->block;
        ++order.appended;
    }
    return order;
}

} // namespace tamsin
