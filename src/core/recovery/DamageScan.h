#pragma once
// Which tables, folders and files of the mounted volume lie on sectors that
// cannot be read: from a rescue map, hot-fix bad bits, a missing segment or
// the device itself. The scan reads both table copies and every file's data
// (nothing is written) and counts the bytes each one loses.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tamsin {

class MountedVolume;
class SectorReader;

enum class DamageKind { Table, Folder, File };

// "table", "folder" or "file".
const char* damageKindName(DamageKind kind);

struct DamageRow {
    DamageKind kind = DamageKind::File;
    std::string table;           // tables: "FAT" or "DET"
    std::uint32_t position = 0;  // folders and files: index in the volume's folders or files
    // Tables: bytes in sectors that neither copy could read, of the table's
    // bytes. Files: bytes of the file, within its size, that were unreadable
    // or that its broken chain no longer reaches, of its size. Folders: 0 and
    // 0 (a folder whose own entry was lost with an unreadable DET sector).
    std::uint64_t unreadableBytes = 0;
    std::uint64_t totalBytes = 0;

    // Share of the bytes that read intact, 0..1; 1 when there are none.
    double intactShare() const;
};

struct DamageReport {
    std::vector<DamageRow> rows;  // tables first, then folders, then files, each in list order
    std::uint64_t lostFatSectors = 0;
    std::uint64_t lostDetSectors = 0;
    std::uint64_t filesScanned = 0;
    bool stopped = false;
};

class DamageObserver {
public:
    virtual ~DamageObserver() = default;
    virtual void damageProgress(int /*percent*/) {}
};

// Scans the mounted volume. A stop request ends the scan between reads; the
// rows found so far are kept and stopped is set.
DamageReport scanDamage(const MountedVolume& volume, const SectorReader& reader, DamageObserver& observer,
                        const std::atomic<bool>& stop);

} // namespace tamsin
