#include "mount/Mount.h"

#include "disk/SectorReader.h"

#include "mount/CopyMatching.h"
#include "mount/DirectoryWalk.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/TableChains.h"

namespace tamsin {
namespace {

// Decides which copy of a table to use: the first when both chains have the
// same length and identical sectors, else the user's choice. Returns 0 on Cancel.
int decideCopy(MountedVolume& volume, const SectorReader& reader, MountObserver& observer, TableKind kind,
               const BlockList& first, const BlockList& second)
{
    if (first.length() == second.length()) {
        const MountStatus matching = kind == TableKind::Fat ? MountStatus::MatchingFat : MountStatus::MatchingDet;
        observer.mountStatus(matching, volume.volumeName);
        auto& unreadable = kind == TableKind::Fat ? volume.tableDamage.fatUnreadable : volume.tableDamage.detUnreadable;
        if (compareCopies(volume, reader, first, second, observer, &unreadable))
            return 1;
    }
    switch (observer.chooseCopy(kind)) {
    case CopyChoice::First:
        return 1;
    case CopyChoice::Second:
        return 2;
    case CopyChoice::Cancel:
        break;
    }
    return 0;
}

struct BusyGuard {
    std::atomic<bool>& flag;
    explicit BusyGuard(std::atomic<bool>& f) : flag(f) { flag = true; }
    ~BusyGuard() { flag = false; }
};

} // namespace

MountResult mountVolume(MountedVolume& volume, const SectorReader& reader, MountObserver& observer)
{
    BusyGuard busy(volume.busy);
    // A stop also ends a sector-by-sector retry pass under way.
    const ReadCancelScope cancel{&volume.stopRequested};
    observer.mountInstruction(MountInstruction::Mounting);
    volume.releaseMount();
    if (!usableSectorsPerBlock(volume.sectorsPerBlock)) {
        observer.mountInstruction(MountInstruction::SelectVolume);
        return MountResult::Invalid;
    }
    observer.mountStage(MountStage::ReadingTables);
    observer.mountProgress(0);

    // A copy whose first blocks have their entries in FAT blocks it has not
    // listed yet finds them through the other copy's chain, which holds the
    // same table; copy 1 is read again that way if only copy 2 came out whole.
    observer.mountStatus(MountStatus::ReadingFirstFat, volume.volumeName);
    readFatChain(volume, reader, 1);
    observer.mountStatus(MountStatus::ReadingSecondFat, volume.volumeName);
    const BlockList& first = volume.fatList(1);
    readFatChain(volume, reader, 2, first.endedNormally ? &first : nullptr);
    if (!first.endedNormally && volume.fatList(2).endedNormally) {
        const BlockList second = volume.fatList(2);
        readFatChain(volume, reader, 1, &second);
    }

    volume.stopRequested = false;
    observer.mountStage(MountStage::Matching);
    const int fatCopy = decideCopy(volume, reader, observer, TableKind::Fat, volume.fatList(1), volume.fatList(2));
    if (fatCopy == 0) {
        observer.mountInstruction(MountInstruction::SelectVolume);
        return MountResult::Abandoned;
    }
    volume.chosenFatCopy = static_cast<std::uint16_t>(fatCopy);
    volume.chosenFatList = std::move(volume.fatList(fatCopy));
    volume.otherFatList = std::move(volume.fatList(fatCopy == 1 ? 2 : 1));
    volume.fatList(1).clear();
    volume.fatList(2).clear();

    volume.stopRequested = false;
    observer.mountProgress(0);
    observer.mountStatus(MountStatus::ReadingFirstDet, volume.volumeName);
    const std::uint32_t m1 = readDetChain(volume, reader, 1);
    observer.mountStatus(MountStatus::ReadingSecondDet, volume.volumeName);
    const std::uint32_t m2 = readDetChain(volume, reader, 2);

    const int detCopy = decideCopy(volume, reader, observer, TableKind::Det, volume.detList(1), volume.detList(2));
    if (detCopy == 0) {
        observer.mountInstruction(MountInstruction::SelectVolume);
        return MountResult::Abandoned;
    }
    volume.chosenDetCopy = static_cast<std::uint16_t>(detCopy);
    volume.chosenDetList = std::move(volume.detList(detCopy));
    volume.otherDetList = std::move(volume.detList(detCopy == 1 ? 2 : 1));
    volume.detList(1).clear();
    volume.detList(2).clear();
    volume.detBlockCount = detCopy == 1 ? m1 : m2;

    volume.stopRequested = false;
    observer.mountStage(MountStage::WalkingDirectory);
    observer.mountStatus(MountStatus::Mounting, volume.volumeName);
    observer.mountProgress(0);
    if (volume.detBlockCount == 0)
        volume.detBlockCount = 1;
    walkDirectory(volume, reader, observer);

    volume.stopRequested = false;
    observer.mountStatus(MountStatus::SearchingLostData, volume.volumeName);
    searchLostData(volume, observer);

    observer.mountStage(MountStage::BuildingTree);
    observer.mountProgress(0);
    observer.mountStatus(MountStatus::CreatingTree, volume.volumeName);
    volume.rebuildIndexAndTree([&](int percent) { observer.mountProgress(percent); });

    observer.mountInstruction(MountInstruction::Browsing);
    return MountResult::Completed;
}

} // namespace tamsin
