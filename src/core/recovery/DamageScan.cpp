#include "recovery/DamageScan.h"

#include "disk/FileDevice.h"
#include "disk/SectorReader.h"
#include "disk/Sector.h"
#include "mount/MountedVolume.h"
#include "mount/FatEntryReader.h"
#include "mount/VolumeReader.h"
#include "recovery/Extraction.h"
#include "recovery/FileChain.h"

#include <fcntl.h>

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

// Whether the first data sector of a file (where a compressed file keeps its
// header) cannot be read.
bool headerUnreadable(const MountedVolume& volume, const VolumeReader& io, std::uint32_t firstBlock)
{
    std::optional<std::uint64_t> sector;
    if (isFragmentReference(firstBlock)) {
        FatEntryReader fat(volume, io);
        sector = fragmentStartSector(volume, fat, firstBlock);
    } else if (firstBlock != 0xFFFFFFFFu) {
        sector = volume.blockStart(firstBlock);
    }
    std::array<std::uint8_t, kSectorSize> header{};
    return sector && io.read(*sector, 1, header) != 0;
}

// Turns the per-file progress of a copy into the scan's progress and its
// stop request into the copy's.
class FileScanObserver final : public ExtractionObserver {
public:
    FileScanObserver(DamageObserver& observer, RecoveryRunState& run, const std::atomic<bool>& stop,
                     std::uint64_t totalBytes) :
        observer_(observer), run_(run), stop_(stop), totalBytes_(std::max<std::uint64_t>(totalBytes, 1))
    {
    }

    void startFile(std::uint64_t size) { fileSize_ = size; }
    void finishFile() { doneBytes_ += fileSize_; report(doneBytes_); }

    void fileProgress(int percent) override
    {
        if (stop_.load())
            run_.recoveryAborted = true;
        report(doneBytes_ + fileSize_ * static_cast<std::uint64_t>(std::clamp(percent, 0, 100)) / 100);
    }

private:
    void report(std::uint64_t bytes)
    {
        // Tables take the first 10 percent.
        const int percent = 10 + static_cast<int>(std::min<std::uint64_t>(bytes * 90 / totalBytes_, 90));
        if (percent != lastPercent_)
            observer_.damageProgress(lastPercent_ = percent);
    }

    DamageObserver& observer_;
    RecoveryRunState& run_;
    const std::atomic<bool>& stop_;
    std::uint64_t totalBytes_;
    std::uint64_t doneBytes_ = 0;
    std::uint64_t fileSize_ = 0;
    int lastPercent_ = -1;
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
    // The data is read as a copy would read it and thrown away.
    FileDescriptor sink(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    RecoveryRunState run;
    FileScanObserver progress(observer, run, stop, totalBytes);
    SuballocationChains chains(volume, reader);
    for (std::uint32_t k = 0; k < volume.fileCount(); ++k) {
        if (stop.load() || run.recoveryAborted.load()) {
            report.stopped = true;
            break;
        }
        const TreeNode& file = volume.files[k];
        progress.startFile(file.size);
        if (file.size > 0 && sink.valid()) {
            ExtractRequest request;
            request.size = file.size;
            request.firstBlock = file.firstBlock;
            request.flags = file.attributesHigh;
            request.mode = ExtractMode::Recovery;  // per-run progress, which also carries the stop request
            ExtractResult result;
            copyFileContents(volume, reader, run, progress, request, sink.get(), result, nullptr, &chains);
            // A copy a stop cut short counts unread sectors that were never tried.
            if (result.outcome == ExtractOutcome::SkippedByUser || stop.load()) {
                report.stopped = true;
                break;
            }
            std::uint64_t lost = std::min<std::uint64_t>(result.damagedBytes(), file.size);
            // A compressed file whose header sector cannot be read is lost whole.
            if (result.outcome == ExtractOutcome::ChecksumError && headerUnreadable(volume, io, file.firstBlock))
                lost = file.size;
            if (lost > 0)
                report.rows.push_back({DamageKind::File, {}, k, lost, file.size});
        }
        ++report.filesScanned;
        progress.finishFile();
    }
    if (!report.stopped)
        observer.damageProgress(100);
    return report;
}

} // namespace tamsin
