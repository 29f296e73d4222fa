#include "recovery/DamageScan.h"

#include "common/LittleEndian.h"
#include "disk/SectorReader.h"
#include "disk/Sector.h"
#include "mount/MountedVolume.h"
#include "mount/FatEntryReader.h"
#include "mount/VolumeReader.h"
#include "recovery/FileChain.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

namespace tamsin {

const char* damageKindName(DamageKind kind)
{
    switch (kind) {
    case DamageKind::Table:
        return "table";
    case DamageKind::Folder:
        return "folder";
    case DamageKind::File:
        break;
    }
    return "file";
}

double DamageRow::intactShare() const
{
    if (totalBytes == 0)
        return 1.0;
    return static_cast<double>(totalBytes - std::min(unreadableBytes, totalBytes)) / static_cast<double>(totalBytes);
}

namespace {

struct TableDamage {
    std::uint64_t lostSectors = 0;
    std::uint64_t totalSectors = 0;
};

// Reads every block of a table copy's chain; a sector it cannot read counts
// as lost when the other copy's block at the same position cannot supply it
// either. Blocks a looping chain lists twice are read once.
TableDamage scanTable(const MountedVolume& volume, const VolumeReader& io, const BlockList& chosen,
                      const BlockList& other, const std::atomic<bool>& stop)
{
    constexpr std::uint32_t kRun = 64;
    const std::uint32_t spb = volume.sectorsPerBlock;
    std::vector<std::uint8_t> buffer(std::size_t{std::min(spb, kRun)} * kSectorSize);
    std::array<std::uint8_t, kSectorSize> one{};
    std::vector<std::uint32_t> unreadable;
    std::unordered_set<std::uint32_t> seen;
    TableDamage damage;
    for (std::uint32_t k = 0; k < chosen.blockCount() && !stop.load(); ++k) {
        if (!seen.insert(chosen.nodes[k].block).second)
            continue;
        damage.totalSectors += spb;
        const std::uint64_t s = volume.blockStart(chosen.nodes[k].block);
        const bool paired = k < other.blockCount();
        const std::uint64_t m = paired ? volume.blockStart(other.nodes[k].block) : 0;
        for (std::uint32_t i = 0; i < spb; i += kRun) {
            const std::uint32_t run = std::min(kRun, spb - i);
            unreadable.clear();
            io.read(s + i, run, buffer, &unreadable);
            for (std::uint32_t j : unreadable)
                if (!paired || io.read(m + i + j, 1, one) != 0)
                    ++damage.lostSectors;
        }
    }
    return damage;
}

// Reads each file's data where a copy would read it, and counts the bytes of
// it, within its length, that cannot be read or that a chain broken on
// unreadable FAT sectors no longer reaches. Nothing is written anywhere.
class FileDamage {
public:
    FileDamage(const MountedVolume& volume, const SectorReader& reader, const std::atomic<bool>& stop,
               DamageObserver& observer, std::uint64_t totalBytes) :
        volume_(volume), io_(volume, reader), chains_(volume, reader), stop_(stop), observer_(observer),
        totalBytes_(std::max<std::uint64_t>(totalBytes, 1))
    {
    }

    // The bytes of the file lost, at most its size; none when a stop came
    // while it was read.
    std::optional<std::uint64_t> lostBytes(const TreeNode& file)
    {
        FatEntryReader fat(volume_, io_);
        length_ = file.size;
        covered_ = 0;
        unreadable_ = 0;
        const std::uint64_t blockBytes = std::uint64_t{volume_.sectorsPerBlock} * kSectorSize;
        const bool fragmentOnly = isFragmentReference(file.firstBlock);
        // A copy leaves these empty: there is nothing of them to lose.
        if ((fragmentOnly && file.size > blockBytes) || (!fragmentOnly && !firstBlockHoldsData(volume_, file.firstBlock)))
            return 0;
        if ((file.attributesHigh & kCompressedFlag) != 0) {
            // The stored header carries the length; one that cannot be read loses the file whole.
            const std::optional<std::uint64_t> header =
                fragmentOnly ? fragmentStartSector(volume_, fat, file.firstBlock, &chains_) : volume_.blockStart(file.firstBlock);
            std::array<std::uint8_t, kSectorSize> sector{};
            if (!header)
                return 0;
            if (io_.read(*header, 1, sector) != 0)
                return file.size;
            if (readU32(sector, 4) != file.size)
                return 0;
            length_ = readU32(sector, 8);
        }
        if (fragmentOnly) {
            readFragment(fat, file.firstBlock);
        } else {
            const FileChain chain = buildFileChain(volume_, fat, file.firstBlock, (length_ + blockBytes - 1) / blockBytes + 1);
            for (const FileExtent& extent : fileExtents(chain, length_, volume_.sectorsPerBlock, kRunBlocks)) {
                if (stop_.load())
                    break;
                if (extent.kind == FileExtent::Kind::Hole) {
                    covered_ += std::min(extent.bytes, length_ - covered_);
                } else if (extent.kind == FileExtent::Kind::Fragment) {
                    readFragment(fat, extent.value);
                    break;
                } else {
                    readSectors(volume_.blockStart(extent.value), extent.bytes / kSectorSize);
                }
            }
        }
        if (stop_.load())
            return std::nullopt;
        const std::uint64_t unreached = fat.lostEntries() > 0 && covered_ < length_ ? length_ - covered_ : 0;
        return std::min<std::uint64_t>(unreadable_ + unreached, file.size);
    }

    // The file's bytes are done with, whatever became of them.
    void fileDone(std::uint64_t size)
    {
        doneBytes_ += size;
        report(doneBytes_);
    }

private:
    static constexpr std::uint8_t kCompressedFlag = 0x04;
    static constexpr std::uint32_t kRunSectors = 2048;  // 1 MiB a read
    static constexpr std::uint32_t kRunBlocks = 64;

    void readFragment(FatEntryReader& fat, std::uint32_t reference)
    {
        const FragmentSectors found = fragmentSectors(volume_, fat, reference, length_ - covered_, &chains_);
        for (const SectorRun& run : found.runs)
            readSectors(run.first, run.count);
    }

    void readSectors(std::uint64_t first, std::uint64_t count)
    {
        while (count > 0 && covered_ < length_ && !stop_.load()) {
            const auto run = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                {count, kRunSectors, (length_ - covered_ + kSectorSize - 1) / kSectorSize}));
            buffer_.resize(std::size_t{run} * kSectorSize);
            unreadableSectors_.clear();
            io_.read(first, run, buffer_, &unreadableSectors_);
            const std::uint64_t bytes = std::min<std::uint64_t>(buffer_.size(), length_ - covered_);
            for (std::uint32_t i : unreadableSectors_)
                unreadable_ += std::min<std::uint64_t>(kSectorSize, bytes - std::uint64_t{i} * kSectorSize);
            covered_ += bytes;
            first += run;
            count -= run;
            report(doneBytes_ + covered_);
        }
    }

    void report(std::uint64_t bytes)
    {
        // Tables take the first 10 percent.
        const int percent = 10 + static_cast<int>(std::min<std::uint64_t>(bytes * 90 / totalBytes_, 90));
        if (percent != lastPercent_)
            observer_.damageProgress(lastPercent_ = percent);
    }

    const MountedVolume& volume_;
    VolumeReader io_;
    SuballocationChains chains_;
    const std::atomic<bool>& stop_;
    DamageObserver& observer_;
    const std::uint64_t totalBytes_;
    std::uint64_t doneBytes_ = 0;
    int lastPercent_ = -1;
    // The file being read: its length, the bytes of it reached so far, and those unreadable.
    std::uint64_t length_ = 0;
    std::uint64_t covered_ = 0;
    std::uint64_t unreadable_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint32_t> unreadableSectors_;
};

} // namespace

DamageReport scanDamage(const MountedVolume& volume, const SectorReader& reader, DamageObserver& observer,
                        const std::atomic<bool>& stop)
{
    DamageReport report;
    const VolumeReader io(volume, reader);
    // A stop also ends a sector-by-sector retry pass under way.
    const ReadCancelScope cancel{&stop};
    observer.damageProgress(0);

    const TableDamage fat = scanTable(volume, io, volume.chosenFatList, volume.otherFatList, stop);
    const TableDamage det = scanTable(volume, io, volume.chosenDetList, volume.otherDetList, stop);
    report.lostFatSectors = fat.lostSectors;
    report.lostDetSectors = det.lostSectors;
    if (fat.lostSectors > 0)
        report.rows.push_back({DamageKind::Table, "FAT", 0, fat.lostSectors * kSectorSize, fat.totalSectors * kSectorSize});
    if (det.lostSectors > 0)
        report.rows.push_back({DamageKind::Table, "DET", 0, det.lostSectors * kSectorSize, det.totalSectors * kSectorSize});
    if (stop.load()) {
        report.stopped = true;
        return report;
    }
    observer.damageProgress(10);

    // A folder made up for entries whose own folder was not found has no
    // entry sector; with directory sectors lost, its entry was likely among them.
    if (det.lostSectors > 0)
        for (std::uint32_t k = 0; k < volume.folderCount(); ++k) {
            const TreeNode& folder = volume.folders[k];
            if (folder.isPlaceholder())
                report.rows.push_back({DamageKind::Folder, {}, k, 0, 0});
        }

    std::uint64_t totalBytes = 0;
    for (const TreeNode& file : volume.files)
        totalBytes += file.size;
    FileDamage damage(volume, reader, stop, observer, totalBytes);
    for (std::uint32_t k = 0; k < volume.fileCount(); ++k) {
        if (stop.load()) {
            report.stopped = true;
            break;
        }
        const TreeNode& file = volume.files[k];
        if (file.size > 0) {
            const std::optional<std::uint64_t> lost = damage.lostBytes(file);
            if (!lost) {
                report.stopped = true;
                break;
            }
            if (*lost > 0)
                report.rows.push_back({DamageKind::File, {}, k, *lost, file.size});
        }
        ++report.filesScanned;
        damage.fileDone(file.size);
    }
    if (!report.stopped)
        observer.damageProgress(100);
    return report;
}

} // namespace tamsin
