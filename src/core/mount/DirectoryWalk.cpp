#include "mount/DirectoryWalk.h"

#include "common/LittleEndian.h"
#include "disk/SectorReader.h"
#include "mount/DirEntryFields.h"
#include "mount/MountObserver.h"
#include "mount/MountedVolume.h"
#include "mount/NameSpaces.h"
#include "mount/VolumeReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tamsin {
namespace {

using namespace direntry;

constexpr std::uint32_t kRootsPerRecord = 28;
constexpr std::uint32_t kSuballocationRecords = 5;

// The name bytes up to the first NUL.
std::string nameAt(std::span<const std::uint8_t> entry, std::size_t length)
{
    const char* begin = reinterpret_cast<const char*>(entry.data() + kName);
    return std::string(begin, strnlen(begin, length));
}

// Entries name their folder by its directory number (@0). A folder whose
// @120 says another number is still known by it: entries that name no
// folder's @120 but such a folder's number are put under that folder.
void reattachToRenumberedFolders(MountedVolume& volume,
                                 const std::vector<std::pair<std::uint32_t, std::uint32_t>>& renumbered)
{
    if (renumbered.empty())
        return;
    std::unordered_set<std::uint32_t> ownIds;
    ownIds.reserve(volume.folders.size());
    for (const auto& folder : volume.folders)
        ownIds.insert(folder.ownId);
    std::unordered_map<std::uint32_t, std::uint32_t> byNumber;
    for (const auto& [dirNo, ownId] : renumbered)
        if (!ownIds.contains(dirNo))
            byNumber.emplace(dirNo, ownId);
    for (auto* list : {&volume.folders, &volume.files})
        for (TreeNode& node : *list)
            if (node.parentId != 0 && !ownIds.contains(node.parentId))
                if (const auto it = byNumber.find(node.parentId); it != byNumber.end())
                    node.parentId = it->second;
}

} // namespace

void DirectoryWalkState::addUncertainLongName(bool folder, std::uint32_t node, std::uint32_t owner,
                                              std::string dosName)
{
    uncertain_.push_back({folder, node, owner, std::move(dosName)});
}

void DirectoryWalkState::finish(MountedVolume& volume)
{
    if (!std::is_sorted(dosRecords_.begin(), dosRecords_.end()))
        std::sort(dosRecords_.begin(), dosRecords_.end());
    for (UncertainName& pending : uncertain_) {
        TreeNode& node = pending.folder ? volume.folders[pending.node] : volume.files[pending.node];
        if (std::binary_search(dosRecords_.begin(), dosRecords_.end(), pending.owner))
            node.name = volume.names.store(pending.dosName);
        else
            volume.dosNames.add(MountedVolume::dosNameKey(pending.folder, pending.node), std::move(pending.dosName));
    }
    uncertain_.clear();
    nameSpaces.resolve(volume);
    reattachToRenumberedFolders(volume, renumberedFolders);
}

void decodeDirectorySector(MountedVolume& volume, std::span<const std::uint8_t> sector, std::uint32_t entrySector,
                           std::uint32_t mirrorSector, MountObserver& observer, const DirectoryPosition* position)
{
    DirectoryWalkState* const walk = position ? position->walk : nullptr;
    for (std::uint32_t slot = 0; slot < kSectorSize / kDirEntrySize; ++slot) {
        const auto entry = sector.subspan(slot * kDirEntrySize, kDirEntrySize);
        const std::uint32_t parentId = readU32(entry, kParentId);
        const std::uint32_t dirNo = position ? position->firstDirNo + slot : 0;
        if (walk && dirNo == 0 && parentId == kRootParent && entry[kNameSpace] == kDosNameSpace)
            volume.root = decodeRootRecord(entry);
        if (walk && parentId < kSuballocationParent && entry[kNameSpace] != kDosNameSpace)
            walk->nameSpaces.addRecord(dirNo, entry);
        if (parentId == kSuballocationParent && entry[kRecordNumber] < kSuballocationRecords) {
            const std::size_t base = std::size_t{entry[kRecordNumber]} * kRootsPerRecord;
            for (std::uint32_t i = 0; i < kRootsPerRecord; ++i)
                volume.suballocationRoots[base + i] = readU32(entry, kSuballocationRoots + 4 * i);
        }
        if (parentId >= kSuballocationParent)
            continue;
        if (entry[kNameSpace] != kDosNameSpace)
            continue;
        const std::uint8_t dosLength = entry[kNameLength];
        if (dosLength == 0 || dosLength > kMaxDosNameLength)
            continue;
        if (walk)
            walk->addDosRecord(dirNo);
        std::string name = nameAt(entry, dosLength);
        std::string dosName = name;
        const std::uint32_t ownId = readU32(entry, kOwnId);
        const std::uint32_t nameList = readU32(entry, kNameList);

        // A long name is taken from the next entry of the same sector only.
        // Records of files created and deleted over time sit side by side, so
        // one whose @120 is the number of another DOS record is that record's
        // name; whether it is can be told only once the whole table is read.
        bool uncertain = false;
        std::uint32_t owner = 0;
        if (slot + 1 < kSectorSize / kDirEntrySize) {
            const auto next = sector.subspan((slot + 1) * kDirEntrySize, kDirEntrySize);
            const std::uint8_t longLength = next[kNameLength];
            if (next[kNameSpace] == kLongNameSpace && longLength >= 1 && longLength <= kMaxLongNameLength) {
                std::string longName = nameAt(next, longLength);
                owner = readU32(next, kOwnId);
                uncertain = walk && owner != dirNo && owner != ownId;
                // A name that cuts to nothing is not risked on an owner still
                // unknown: the entry keeps its DOS name.
                if (!(uncertain && longName.empty()))
                    name = std::move(longName);
                else
                    uncertain = false;
            }
        }
        // An entry heading a name-space chain is kept under its DOS name even
        // when the next-slot long name cuts to nothing; the chain may name it.
        if (name.empty() && nameList != 0)
            name = dosName;
        if (name.empty())
            continue;

        TreeNode node;
        node.attributes = entry[kAttributes];
        node.attributesHigh = entry[kAttributesHigh];
        node.name = volume.names.store(name);
        node.parentId = parentId;
        node.ownId = ownId;
        node.size = readU32(entry, kSize);
        node.firstBlock = readU32(entry, kFirstBlock);
        node.dateTime = readU32(entry, kDateTime);
        node.modifiedDateTime = readU32(entry, kModifiedDateTime);
        node.deletedMarker = readU32(entry, kDeletedMarker);
        const std::uint32_t listPosition = node.isFolder() ? volume.folderCount() : volume.fileCount();
        if (walk) {
            // (An @120 of 0 is the root's: its entries are not put at the top.)
            if (node.isFolder() && node.ownId != dirNo && node.ownId != 0)
                walk->renumberedFolders.emplace_back(dirNo, node.ownId);
            if (nameList != 0)
                walk->nameSpaces.addChain(node.isFolder(), listPosition, dirNo, node.ownId, nameList);
        }
        if (uncertain)
            walk->addUncertainLongName(node.isFolder(), listPosition, owner, std::move(dosName));
        else if (node.name != dosName)
            volume.dosNames.add(MountedVolume::dosNameKey(node.isFolder(), listPosition), std::move(dosName));
        node.entrySector = entrySector;
        node.mirrorSector = mirrorSector;
        node.entrySlot = static_cast<std::uint16_t>(slot);
        if (node.isFolder()) {
            node.ordinal = volume.folderCount();
            observer.mountCounters(volume.folderCount() + 1, volume.fileCount(), name);
            volume.addFolderNode(std::move(node));
        } else {
            node.ordinal = volume.fileCount();
            observer.mountCounters(volume.folderCount(), volume.fileCount() + 1, name);
            volume.addFileNode(std::move(node));
        }
    }
}

void walkDirectory(MountedVolume& volume, const SectorReader& reader, MountObserver& observer)
{
    const std::uint32_t spb = volume.sectorsPerBlock;
    const std::uint32_t blocks = volume.chosenDetList.blockCount();
    const std::uint32_t progressTotal = std::max<std::uint32_t>(volume.detBlockCount, 1);
    // Blocks are read in runs of up to 64 sectors: each sector is read once,
    // and a stop request is still seen before every sector.
    constexpr std::uint32_t kRun = 64;
    std::vector<std::uint8_t> buffer(std::size_t{std::min(spb, kRun)} * kSectorSize);
    const VolumeReader io(volume, reader);

    // Directory numbers count entries from the start of the chain.
    const std::uint64_t entriesPerBlock = std::uint64_t{spb} * (kSectorSize / kDirEntrySize);
    DirectoryWalkState state;
    struct FinishOnExit {
        MountedVolume& volume;
        DirectoryWalkState& state;
        ~FinishOnExit() { state.finish(volume); }
    } finishOnExit{volume, state};

    // A chain that loops ends with the block it came back to; that block's
    // entries were decoded already and are not decoded twice.
    std::unordered_set<std::uint32_t> walked;
    std::vector<std::uint32_t> unreadable;
    for (std::uint32_t k = 0; k < blocks; ++k) {
        if (volume.stopRequested.load())
            return;
        if (!walked.insert(volume.chosenDetList.nodes[k].block).second)
            continue;
        std::uint64_t s = volume.blockStart(volume.chosenDetList.nodes[k].block);
        const bool paired = k < volume.otherDetList.blockCount();
        // Without a paired block the mirror numbers count 1, 2, ... within the block.
        std::uint64_t m = paired ? volume.blockStart(volume.otherDetList.nodes[k].block) : 1;

        for (std::uint32_t i = 0; i < spb; i += kRun) {
            const std::uint32_t run = std::min(kRun, spb - i);
            if (volume.stopRequested.load())
                return;
            unreadable.clear();
            io.read(s, run, buffer, &unreadable);
            // A sector this copy cannot read is taken from the other copy's
            // block at the same position when that one reads.
            for (std::uint32_t j : unreadable) {
                std::array<std::uint8_t, kSectorSize> copy{};
                if (paired && io.read(m + j, 1, copy) == 0)
                    std::copy(copy.begin(), copy.end(), buffer.begin() + std::size_t{j} * kSectorSize);
                else
                    ++volume.tableDamage.lostDirectorySectors;  // its entries are lost
            }
            for (std::uint32_t j = 0; j < run; ++j) {
                if (j > 0 && volume.stopRequested.load())
                    return;
                const DirectoryPosition position{
                    static_cast<std::uint32_t>(k * entriesPerBlock + std::uint64_t{i + j} * (kSectorSize / kDirEntrySize)),
                    &state};
                // Entries report the disk sectors they were read from.
                const std::uint64_t mirror = paired ? io.diskSector(m) : m;
                decodeDirectorySector(volume, std::span<const std::uint8_t>(buffer).subspan(j * kSectorSize, kSectorSize),
                                      static_cast<std::uint32_t>(io.diskSector(s)), static_cast<std::uint32_t>(mirror),
                                      observer, &position);
                ++s;
                ++m;
            }
        }
        observer.mountProgress(static_cast<int>(std::uint64_t{k} * 100 / progressTotal));
    }
}

void searchLostData(MountedVolume& volume, MountObserver& observer)
{
    observer.mountProgress(0);
    std::unordered_set<std::uint32_t> ownIds;
    ownIds.reserve(volume.folders.size());
    for (const auto& folder : volume.folders)
        ownIds.insert(folder.ownId);

    std::uint32_t placeholders = 0;
    auto addPlaceholder = [&](std::uint32_t missingId) {
        TreeNode node;
        node.name = "Dir" + std::to_string(placeholders++);
        node.attributes = kFolderAttribute;  // a placeholder is a folder wherever it is shown
        node.ownId = missingId;
        ownIds.insert(missingId);
        volume.addFolderNode(std::move(node));
    };

    int lastPercent = -1;
    for (std::size_t k = 0; k < volume.folders.size(); ++k) {
        if (volume.stopRequested.load())
            break;
        const int percent = static_cast<int>(std::min<std::uint64_t>(k * 100 / volume.folders.size(), 99));
        if (percent != lastPercent)
            observer.mountProgress(lastPercent = percent);
        const std::uint32_t parentId = volume.folders[k].parentId;
        if (parentId != 0 && !ownIds.contains(parentId))
            addPlaceholder(parentId);
    }

    // Files whose folder is gone get a placeholder too, so that no decoded
    // file is left outside every folder. Cheap, so it runs even after a stop.
    for (std::size_t k = 0; k < volume.files.size(); ++k) {
        const std::uint32_t parentId = volume.files[k].parentId;
        if (parentId != 0 && !ownIds.contains(parentId))
            addPlaceholder(parentId);
    }
}

} // namespace tamsin
