// What a correct reader sees of a volume: where its segments lie, which of
// its sectors it cannot read, and so which file bytes come out as zeros.

#include "imagebuilder/SetPlan.h"

#include <algorithm>

namespace tamsin::imagebuilder::detail {

namespace {

// Collects the unreadable byte ranges of one file, merged, inside its length.
class RangeList {
public:
    explicit RangeList(std::uint64_t length) : length_(length) {}
    void add(std::uint64_t offset, std::uint64_t length)
    {
        if (offset >= length_)
            return;
        length = std::min(length, length_ - offset);
        if (!ranges_.empty() && ranges_.back().offset + ranges_.back().length == offset)
            ranges_.back().length += length;
        else
            ranges_.push_back({offset, length});
    }
    std::vector<ByteRange> take()
    {
        std::sort(ranges_.begin(), ranges_.end(), [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
        std::vector<ByteRange> merged;
        for (const ByteRange& range : ranges_) {
            if (!merged.empty() && merged.back().offset + merged.back().length >= range.offset)
                merged.back().length = std::max(merged.back().offset + merged.back().length, range.offset + range.length)
                    - merged.back().offset;
            else
                merged.push_back(range);
        }
        return merged;
    }

private:
    std::uint64_t length_;
    std::vector<ByteRange> ranges_;
};

// Blocks in the chain as linked, then the fragment, as the reader reads them.
std::vector<ByteRange> unreadableBytes(const ManifestEntry& entry, const VolumeManifest& manifest,
                                       const std::vector<SegmentSource>& sources)
{
    const std::uint32_t spb = manifest.sectorsPerBlock;
    const std::uint64_t blockBytes = std::uint64_t{spb} * kSectorBytes;
    RangeList ranges(entry.content.length);
    for (std::size_t k = 0; k < entry.dataBlocks.size(); ++k)
        for (std::uint32_t o = 0; o < spb; ++o)
            if (!readable(sources, spb, std::uint64_t{entry.dataBlocks[k]} * spb + o))
                ranges.add(k * blockBytes + std::uint64_t{o} * kSectorBytes, kSectorBytes);
    if (entry.fragment != 0) {
        const std::uint32_t sizeClass = (entry.fragment >> 24) & kMaxSizeClass;
        const std::uint32_t position = entry.fragment & kMaxFragmentPosition;
        const auto chain = std::find_if(manifest.suballocationChains.begin(), manifest.suballocationChains.end(),
                                        [&](const auto& item) { return item.first == sizeClass; });
        const std::uint64_t length = entry.content.length;
        // A fragment-only file starts with its fragment; a tail follows the whole blocks.
        const std::uint64_t fragmentStart = entry.dataBlocks.empty() ? 0 : length - length % blockBytes;
        const std::uint64_t firstSector = std::uint64_t{sizeClass} * position;
        for (std::uint64_t j = 0; fragmentStart + j * kSectorBytes < length; ++j) {
            const std::uint64_t chainSector = firstSector + j;
            bool ok = false;
            if (chain != manifest.suballocationChains.end() && chainSector / spb < chain->second.blocks.size())
                ok = readable(sources, spb, std::uint64_t{chain->second.blocks[chainSector / spb]} * spb + chainSector % spb);
            if (!ok)
                ranges.add(fragmentStart + j * kSectorBytes, kSectorBytes);
        }
    }
    return ranges.take();
}

} // namespace

std::vector<ManifestSegment> manifestSegments(const std::vector<SegmentSource>& sources)
{
    std::vector<ManifestSegment> segments;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const SegmentSource& source = sources[i];
        const PartitionPlan& reader = source.group->reader();
        ManifestSegment& segment = segments.emplace_back();
        segment.disk = reader.layout.disk;
        segment.partitionSlot = reader.layout.slot;
        segment.startSector = reader.home(source.root);
        segment.sizeSectors = source.sizeSectors;
        segment.firstVolumeBlock = source.firstBlock;
        segment.volumeRoot = source.root;
        segment.index = static_cast<std::uint8_t>(i);
        segment.present = source.present;
    }
    return segments;
}

bool readable(const std::vector<SegmentSource>& sources, std::uint32_t sectorsPerBlock, std::uint64_t volumeSector)
{
    const std::uint64_t block = volumeSector / sectorsPerBlock;
    for (const SegmentSource& source : sources) {
        const std::uint64_t first = source.firstBlock;
        if (block < first || block >= first + source.sizeSectors / sectorsPerBlock)
            continue;
        if (!source.present)
            return false;
        const std::uint64_t logical = source.root + (volumeSector - first * sectorsPerBlock);
        return !source.group->unreadable.contains(static_cast<std::uint32_t>(logical));
    }
    return false;
}

void finishManifest(VolumeManifest& manifest, const std::vector<SegmentSource>& sources, bool atZero)
{
    manifest.segments = manifestSegments(sources);
    manifest.complete = std::all_of(sources.begin(), sources.end(), [](const SegmentSource& source) { return source.present; });
    const std::uint32_t spb = manifest.sectorsPerBlock;
    if (atZero) {
        // Written from volume sector 0: entry and mirror sectors are volume sectors.
        auto home = [&](std::uint64_t volumeSector) {
            const ManifestSegment* segment = manifest.segmentOf(static_cast<std::uint32_t>(volumeSector / spb));
            return segment ? segment->startSector + (volumeSector - std::uint64_t{segment->firstVolumeBlock} * spb)
                           : volumeSector;
        };
        const std::uint64_t perBlock = std::uint64_t{spb} * kEntriesPerSector;
        for (ManifestEntry& entry : manifest.entries) {
            entry.entrySector = home(entry.entrySector);
            // Without a copy 2 block there, the mirror sector counts within its block.
            if (entry.position / perBlock < manifest.det[1].blocks.size())
                entry.mirrorSector = home(entry.mirrorSector);
        }
        manifest.startSector = manifest.segments.front().startSector;
    }
    const bool anyUnreadable = std::any_of(sources.begin(), sources.end(), [](const SegmentSource& source) {
        return !source.present || !source.group->unreadable.empty();
    });
    if (!anyUnreadable)
        return;
    for (ManifestEntry& entry : manifest.entries) {
        if (entry.folder || !entry.content.known)
            continue;
        entry.unreadable = unreadableBytes(entry, manifest, sources);
        manifest.incompleteFiles += entry.incomplete() ? 1 : 0;
    }
}

} // namespace tamsin::imagebuilder::detail
