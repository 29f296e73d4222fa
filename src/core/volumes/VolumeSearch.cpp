#include "volumes/VolumeSearch.h"

#include "disk/SectorReader.h"
#include "volumes/VolumeTableFormat.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <vector>

namespace tamsin {
namespace {

// Unsigned decimal as a dialog field reads it: optional blanks around the
// digits, nothing else, at most 32 bits.
bool parseUnsigned(const std::string& text, std::uint32_t& value)
{
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    std::size_t end = text.size();
    while (end > at && text[end - 1] == ' ')
        --end;
    if (at == end)
        return false;
    std::uint64_t v = 0;
    for (std::size_t i = at; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (v > std::numeric_limits<std::uint32_t>::max())
            return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

// Serves runs of sectors from a larger chunk read in pieces, so a scan reads
// the disk in big steps while examining it run by run. While a piece is still
// in the cache, the sectors that begin like a volume table are noted, so that
// the runs without one need no look at their sectors.
class ChunkedScan {
public:
    ChunkedScan(const SectorReader& reader, std::uint32_t runLength, const std::atomic<bool>& stop) :
        reader_(reader), runLength_(runLength), stop_(stop)
    {
    }

    // The run of runLength sectors at first; rangeEnd bounds how far ahead a chunk reaches.
    std::span<const std::uint8_t> run(std::uint64_t first, std::uint64_t rangeEnd)
    {
        if (first < chunkStart_ || first + runLength_ > chunkStart_ + chunkSectors_)
            readChunk(first, rangeEnd);
        return std::span<const std::uint8_t>(chunk_).subspan((first - chunkStart_) * kSectorSize,
                                                             std::size_t{runLength_} * kSectorSize);
    }

    // Whether a sector of the run at first (served by run()) begins like a
    // volume table; false means none of them can be one.
    bool mayHoldTable(std::uint64_t first) const
    {
        const std::uint64_t from = first - chunkStart_;
        const auto at = std::lower_bound(candidates_.begin(), candidates_.end(), from);
        return at != candidates_.end() && *at < from + runLength_;
    }

private:
    // Each read is one system call: pieces of 64 KiB held a search from the
    // page cache to 0.7 of a plain sequential read, and how fast the kernel
    // copies a piece depends on its size and the buffer's differently from
    // one processor to the next (512 KiB in pieces of 256 KiB, the best on
    // one machine, ran at 0.75 of the read on another). Chunks of 1 MiB, the
    // size a plain copy reads, in two pieces follow the read's own pace, and
    // a stop still ends a chunk within a fraction of a second on a slow disk.
    static constexpr std::uint32_t kChunkSectors = 2048;  // 1 MiB
    static constexpr std::uint32_t kPollSectors = 1024;   // 512 KiB

    void readChunk(std::uint64_t first, std::uint64_t rangeEnd)
    {
        const std::uint64_t ahead = rangeEnd > first ? rangeEnd - first : 0;
        const std::uint64_t runs = std::clamp<std::uint64_t>((ahead + runLength_ - 1) / runLength_, 1,
                                                              std::max<std::uint32_t>(kChunkSectors / runLength_, 1));
        chunkStart_ = first;
        chunkSectors_ = runs * runLength_;
        chunk_.resize(chunkSectors_ * kSectorSize);
        candidates_.clear();
        // Read in pieces so that a stop request is seen at least every
        // kPollSectors; the first piece holds the run under way and is
        // always read. The rest of a stopped chunk becomes zeros.
        std::uint64_t at = 0;
        for (; at < chunkSectors_ && (at == 0 || !stop_.load()); at += kPollSectors) {
            const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPollSectors, chunkSectors_ - at));
            reader_.readSectorsZeroFilled(first + at, piece,
                                          std::span<std::uint8_t>(chunk_).subspan(at * kSectorSize,
                                                                                  std::size_t{piece} * kSectorSize));
            for (std::uint64_t s = at; s < at + piece; ++s)
                if (std::memcmp(chunk_.data() + s * kSectorSize, kVolumeTableSignature, sizeof kVolumeTableSignature - 1) == 0)
                    candidates_.push_back(s);
        }
        std::fill(chunk_.begin() + static_cast<std::ptrdiff_t>(std::min(at, chunkSectors_) * kSectorSize),
                  chunk_.end(), std::uint8_t{0});
    }

    const SectorReader& reader_;
    std::uint32_t runLength_;
    const std::atomic<bool>& stop_;
    std::vector<std::uint8_t> chunk_;
    std::vector<std::uint64_t> candidates_;  // chunk sectors noted, ascending
    std::uint64_t chunkStart_ = 0;
    std::uint64_t chunkSectors_ = 0;
};

} // namespace

RangeCheck checkSearchRange(const std::string& startText, const std::string& endText)
{
    RangeCheck check;
    if (!parseUnsigned(startText, check.range.start)) {
        check.problem = RangeProblem::BadStart;
        return check;
    }
    if (!parseUnsigned(endText, check.range.end)) {
        check.problem = RangeProblem::BadEnd;
        return check;
    }
    if (check.range.end <= check.range.start) {
        check.problem = RangeProblem::EndNotAfterStart;
        return check;
    }
    check.ok = true;
    return check;
}

std::uint64_t probeDataArea(const SectorReader& reader, std::uint64_t base, std::uint32_t firstDetBlock,
                            std::uint32_t sectorsPerBlock)
{
    const std::uint32_t offset = firstDetBlock * sectorsPerBlock;  // wraps at 32 bits, as the table stores it
    std::array<std::uint8_t, kSectorSize> sector{};
    for (std::uint64_t i = 0; i < 4; ++i) {
        const std::uint64_t candidate = base - 32 * i;
        reader.readSectorsZeroFilled(candidate + offset, 1, sector);
        if (sector[0] == 0xFD && sector[1] == 0xFF && sector[2] == 0xFF)
            return candidate;
    }
    return 0;
}

SearchOutcome searchVolumes(const SectorReader& reader, VolumeTable& table, SearchRange range, std::uint32_t runLength,
                            std::atomic<bool>& stopRequested, VolumeSearchObserver& observer)
{
    SearchOutcome outcome;
    stopRequested = false;
    table.clear();
    runLength = std::clamp<std::uint32_t>(runLength, 1, 100);
    const std::uint64_t end = range.end;
    const std::uint64_t total = end > range.start ? end - range.start : 0;
    // 64-bit cursor: however close the end lies to 2^32, the scan ends there.
    std::uint64_t cursor = range.start;
    std::uint64_t scanned = 0;
    ChunkedScan scan(reader, runLength, stopRequested);
    // A stop also ends a chunk that is being retried sector by sector.
    const ReadCancelScope cancel{&stopRequested};

    while (cursor < end) {
        if (stopRequested) {
            outcome.stopped = true;
            break;
        }
        observer.searchProgress(cursor, scanned, total, static_cast<int>(scanned * 100 / total));
        const auto run = scan.run(cursor, end);
        // A run with no sector that begins like a table is passed over whole.
        const bool mayHoldTable = scan.mayHoldTable(cursor);
        for (std::uint32_t k = 0; mayHoldTable && k < runLength; ++k) {
            const auto sector = run.subspan(std::size_t{k} * kSectorSize, kSectorSize);
            const std::uint32_t count = volumeTableEntryCount(sector);
            if (count == 0)
                continue;
            // The table's sector is numbered from the cursor as it stands now,
            // which earlier accepted entries of this run may have advanced.
            const std::uint64_t tableStart = cursor + k;
            std::uint64_t tableSector = tableStart;
            for (std::uint32_t e = 0; e < count; ++e) {
                const VolumeTableEntry entry = volumeTableEntry(sector, e);
                if (entry.nameLength < 2 || entry.nameLength > 16 || entry.blockCount == 0)
                    continue;
                const std::uint32_t spb = entry.sectorsPerBlock();
                if (spb % 2 != 0 || spb < 8 || spb > 128)
                    continue;
                // An entry with segment fields says where its segment lies:
                // VolumeRoot sectors into the data area, which starts 32
                // sectors before the first table copy. Segments end to end
                // from the tables are the fallback.
                std::uint64_t dataArea = 0;
                const std::uint64_t root = entry.volumeRoot;
                if (entry.hasSegmentFields() && root != 0 && root % 8 == 0 && tableStart + root >= 32)
                    dataArea = probeDataArea(reader, tableStart + root - 32, entry.firstDetBlock, spb);
                if (dataArea == 0)
                    dataArea = probeDataArea(reader, tableSector + 128, entry.firstDetBlock, spb);
                if (dataArea == 0)
                    continue;
                cursor += 200;
                tableSector += entry.sizeSectors;
                if (!table.append(volumeFromEntry(entry, dataArea))) {
                    outcome.tableFull = true;
                    continue;
                }
                observer.volumeFound(table[table.volumeCount() - 1], table.volumeCount());
            }
        }
        scanned += runLength;
        cursor += runLength;
    }
    return outcome;
}

} // namespace tamsin
