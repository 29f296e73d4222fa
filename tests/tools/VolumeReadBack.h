#pragma once
// Reads a volume's FAT, DET and file data back from an image file with
// pread and the little-endian readers, following chains the way the
// reader does, so tests check the bytes rather than the builder's plan.

#include "ImageFile.h"

#include "common/LittleEndian.h"
#include "imagebuilder/VolumeContents.h"

#include <array>
#include <optional>
#include <vector>

namespace tamsin::imagebuilder::testing {

struct FatPair {
    std::uint32_t sequence = 0;
    std::uint32_t next = 0;
    bool operator==(const FatPair&) const = default;
};

// A chain as walked: the blocks whose entries carried the expected
// sequence, then either the value that ended it or the block whose entry
// broke the sequence (a revisited block, or a damaged first entry).
struct Walk {
    std::vector<std::uint32_t> blocks;
    std::optional<std::uint32_t> endValue;
    std::optional<std::uint32_t> brokenAt;
};

using DetEntry = std::array<std::uint8_t, kDirEntrySize>;

class VolumeReadBack {
public:
    VolumeReadBack(const ImageFile& image, std::uint64_t startSector, std::uint32_t sectorsPerBlock)
        : image_(image), start_(startSector), spb_(sectorsPerBlock)
    {
    }

    std::uint64_t blockSector(std::uint32_t block) const { return start_ + std::uint64_t{block} * spb_; }
    std::vector<std::uint8_t> block(std::uint32_t block) const
    {
        return image_.bytes(blockSector(block) * kSectorBytes, std::size_t{spb_} * kSectorBytes);
    }

    // Entry n of the FAT stored in `fatList`: sector n / 64 of the chain,
    // looked up in the last listed block when the list is too short.
    FatPair fatEntry(const std::vector<std::uint32_t>& fatList, std::uint32_t n) const
    {
        const std::uint32_t sector = n / kFatEntriesPerSector;
        const std::size_t position = std::min<std::size_t>(sector / spb_, fatList.size() - 1);
        const SectorBytes bytes = image_.sector(blockSector(fatList[position]) + sector % spb_);
        const std::size_t offset = (n % kFatEntriesPerSector) * kFatEntrySize;
        return {readU32(bytes, offset), readU32(bytes, offset + 4)};
    }

    // A FAT copy's own chain: each entry is found through the blocks listed so far.
    Walk walkFat(std::uint32_t first) const { return walk(nullptr, first, false); }

    // Any other chain through a FAT copy's block list. Chains end at values
    // with the top bit set (fragment references of file tails); DET chains
    // also at 0.
    Walk walkChain(const std::vector<std::uint32_t>& fatList, std::uint32_t first, bool det = false) const
    {
        return walk(&fatList, first, det);
    }

    // The 128 bytes at a DET position of a copy given by its blocks.
    DetEntry detEntry(const std::vector<std::uint32_t>& detBlocks, std::uint32_t position) const
    {
        const std::uint32_t perBlock = spb_ * kEntriesPerSector;
        const std::uint64_t sector =
            blockSector(detBlocks.at(position / perBlock)) + position % perBlock / kEntriesPerSector;
        const std::uint64_t offset = sector * kSectorBytes + position % kEntriesPerSector * kDirEntrySize;
        const auto bytes = image_.bytes(offset, kDirEntrySize);
        DetEntry entry{};
        std::copy(bytes.begin(), bytes.end(), entry.begin());
        return entry;
    }

    // `length` bytes of a file whose chain is `blocks`.
    std::vector<std::uint8_t> chainData(const std::vector<std::uint32_t>& blocks, std::size_t length) const
    {
        std::vector<std::uint8_t> data;
        for (std::uint32_t b : blocks) {
            const auto bytes = block(b);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        data.resize(std::min(data.size(), length));
        return data;
    }

    // `length` bytes of the fragment `reference` names, given the class's chain.
    std::vector<std::uint8_t> fragmentData(const std::vector<std::uint32_t>& classChain, std::uint32_t reference,
                                           std::size_t length) const
    {
        const std::uint32_t sizeClass = (reference >> 24) & 0x7F;
        const std::uint32_t start = sizeClass * (reference & 0xFFFFFF);
        std::vector<std::uint8_t> run = block(classChain.at(start / spb_));
        if (start / spb_ + 1 < classChain.size()) {
            const auto next = block(classChain[start / spb_ + 1]);
            run.insert(run.end(), next.begin(), next.end());
        }
        const std::size_t from = std::size_t{start % spb_} * kSectorBytes;
        return {run.begin() + static_cast<std::ptrdiff_t>(from),
                run.begin() + static_cast<std::ptrdiff_t>(std::min(run.size(), from + length))};
    }

private:
    Walk walk(const std::vector<std::uint32_t>* fatList, std::uint32_t first, bool det) const
    {
        Walk result;
        std::vector<std::uint32_t> listed = {first};
        std::uint32_t current = first;
        for (std::uint32_t expected = 0; expected < 1'000'000; ++expected) {
            const FatPair entry = fatEntry(fatList ? *fatList : listed, current);
            if (entry.sequence != expected) {
                result.brokenAt = current;
                return result;
            }
            result.blocks.push_back(current);
            const bool ends = entry.next >= 0x80000000u || (det && entry.next == 0);
            if (ends) {
                result.endValue = entry.next;
                return result;
            }
            current = entry.next;
            listed.push_back(current);
        }
        ADD_FAILURE() << "chain from block " << first << " does not end";
        return result;
    }

    const ImageFile& image_;
    std::uint64_t start_;
    std::uint32_t spb_;
};

} // namespace tamsin::imagebuilder::testing
