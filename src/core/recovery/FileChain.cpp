#include "recovery/FileChain.h"

#include "disk/SectorReader.h"
#include "mount/FatEntryReader.h"
#include "mount/MountedVolume.h"
#include "mount/VolumeReader.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace tamsin {

bool withinVolume(const MountedVolume& volume, std::uint32_t value)
{
    const std::uint64_t perBlock = std::uint64_t{volume.sectorsPerBlock} * kFatEntriesPerSector;
    const std::uint64_t covered =
        perBlock * std::max(volume.chosenFatList.blockCount(), volume.otherFatList.blockCount());
    const std::uint64_t limit = std::max<std::uint64_t>(volume.blockCount, covered);
    return limit == 0 || value < limit;  // neither known: every value may be a block
}

FileChain buildFileChain(const MountedVolume& volume, FatEntryReader& fat, std::uint32_t first, std::uint64_t maxValues)
{
    FileChain chain;
    if ((first & kTopBit) == 0 && !withinVolume(volume, first))
        return chain;
    chain.values.push_back(first);
    // A first value with the top bit set names no block whose entry could be read.
    if (volume.chosenFatList.empty() || (first & kTopBit) != 0)
        return chain;
    std::unordered_set<std::uint32_t> visited{first};
    // The first value is a block (0 included); after it, 0 or a value with
    // the top bit set ends the chain.
    std::uint32_t current = first;
    while (chain.values.size() < maxValues && (chain.values.size() == 1 || (current != 0 && (current & kTopBit) == 0))) {
        const FatEntry entry = fat.entryOf(volume.chosenFatList, current);
        const std::uint32_t next = entry.next;
        chain.indexes.push_back(entry.sequence);
        if (next != 0 && (next & kTopBit) == 0 && !withinVolume(volume, next))
            break;
        if (next != 0 && (next & kTopBit) == 0 && !visited.insert(next).second) {
            chain.looped = true;
            break;
        }
        chain.values.push_back(next);
        current = next;
    }
    return chain;
}

std::vector<FileExtent> fileExtents(const FileChain& chain, std::uint64_t size, std::uint32_t sectorsPerBlock,
                                    std::uint32_t maxRunBlocks)
{
    std::vector<FileExtent> extents;
    const std::uint64_t blockBytes = std::uint64_t{sectorsPerBlock} * kSectorSize;
    if (blockBytes == 0)
        return extents;
    const auto& values = chain.values;
    const std::uint64_t sizeBlocks = (size + blockBytes - 1) / blockBytes;
    // The file block the chain's value at k holds when next is the first not yet placed.
    auto indexAt = [&](std::size_t k, std::uint64_t next) {
        const std::uint64_t index = k < chain.indexes.size() ? chain.indexes[k] : next;
        return index > next && index < sizeBlocks ? index : next;
    };
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < values.size() && next * blockBytes < size;) {
        const std::uint32_t value = values[i];
        if (value == 0xFFFFFFFFu || (value == 0 && i > 0))
            break;
        if (isFragmentReference(value)) {
            extents.push_back({FileExtent::Kind::Fragment, next * blockBytes, 0, value, i});
            break;
        }
        const std::uint64_t index = indexAt(i, next);
        if (index > next)
            extents.push_back({FileExtent::Kind::Hole, next * blockBytes, (index - next) * blockBytes, 0, i});
        std::size_t j = i + 1;
        while (j < values.size() && values[j] == values[j - 1] + 1 && (values[j] & kTopBit) == 0
               && indexAt(j, index + (j - i)) == index + (j - i) && j - i < maxRunBlocks)
            ++j;
        extents.push_back({FileExtent::Kind::Blocks, index * blockBytes, (j - i) * blockBytes, value, i});
        next = index + (j - i);
        i = j;
    }
    return extents;
}

bool chainHasBlockAt(const FileChain& chain, std::uint64_t position)
{
    if (position >= chain.values.size())
        return false;
    const std::uint32_t v = chain.values[position];
    return (v & kTopBit) == 0 && (position == 0 || v != 0);
}

const FileChain* SuballocationChains::chain(std::uint32_t sizeClass, std::uint64_t maxValues)
{
    if (sizeClass >= classes_.size() || volume_.suballocationRoots[sizeClass] == 0)
        return nullptr;
    Followed& followed = classes_[sizeClass];
    // A chain that ended before the values it was followed for is whole.
    const bool whole = followed.asked > 0 && followed.chain.values.size() < followed.asked;
    if (!followed.lost && !whole && followed.asked < maxValues) {
        // Followed again from the root for twice as many values, so that the
        // whole chain costs a few times its length however many files ask.
        const std::uint64_t asked = std::max({maxValues, 2 * followed.asked, std::uint64_t{64}});
        FatEntryReader fat(volume_, reader_);
        followed.chain = buildFileChain(volume_, fat, volume_.suballocationRoots[sizeClass], asked);
        followed.asked = asked;
        followed.lost = fat.lostEntries() > 0;
    }
    return followed.lost ? nullptr : &followed.chain;
}

const FileChain& suballocationChain(const MountedVolume& volume, FatEntryReader& fat, SuballocationChains* chains,
                                    std::uint32_t sizeClass, std::uint64_t maxValues, FileChain& own)
{
    if (const FileChain* kept = chains ? chains->chain(sizeClass, maxValues) : nullptr)
        return *kept;
    own = buildFileChain(volume, fat, volume.suballocationRoots[sizeClass], maxValues);
    return own;
}

FragmentSectors fragmentSectors(const MountedVolume& volume, FatEntryReader& fat, std::uint32_t reference,
                                std::uint64_t bytes, SuballocationChains* chains)
{
    FragmentSectors found;
    const FragmentReference fragment = decodeFragmentReference(reference);
    const std::uint32_t spb = volume.sectorsPerBlock;
    std::uint64_t left = std::min<std::uint64_t>(fragment.sizeClass, (bytes + kSectorSize - 1) / kSectorSize);
    if (fragment.sizeClass == 0 || spb == 0 || volume.suballocationRoots[fragment.sizeClass] == 0) {
        found.missing = true;
        return found;
    }
    const std::uint64_t s = fragment.startSector();
    const std::uint64_t p = s / spb;
    FileChain own;
    const FileChain& chain = suballocationChain(volume, fat, chains, fragment.sizeClass, p + 2, own);
    for (std::uint64_t position = p; position <= p + 1 && left > 0; ++position) {
        if (!chainHasBlockAt(chain, position)) {
            found.missing = true;
            break;
        }
        const std::uint64_t from = position == p ? s % spb : 0;
        const std::uint64_t count = std::min<std::uint64_t>(left, spb - from);
        found.runs.push_back({volume.blockStart(chain.values[position]) + from, count});
        left -= count;
    }
    return found;
}

std::optional<std::uint64_t> fragmentStartSector(const MountedVolume& volume, FatEntryReader& fat,
                                                 std::uint32_t reference, SuballocationChains* chains)
{
    const FragmentReference fragment = decodeFragmentReference(reference);
    const std::uint32_t root = volume.suballocationRoots[fragment.sizeClass];
    const std::uint64_t s = fragment.startSector();
    const std::uint64_t p = s / volume.sectorsPerBlock;
    if (root == 0)
        return std::nullopt;
    FileChain own;
    const FileChain& followed = suballocationChain(volume, fat, chains, fragment.sizeClass, p + 1, own);
    if (!chainHasBlockAt(followed, p))
        return std::nullopt;
    return volume.blockStart(followed.values[p]) + s % volume.sectorsPerBlock;
}

} // namespace tamsin
