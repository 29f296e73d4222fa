#pragma once
// The texts of the two reports the recovery commands show: the end of a
// recovery run, and what is known of the volume's compressed files.

#include "recovery/CompressedFiles.h"
#include "recovery/DamageScan.h"
#include "recovery/RecoveryRun.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace tamsin {
class MountedVolume;
}

namespace tamsin::app {

class NameCodec;

// Files written, incomplete, skipped and failed, bytes, and one line per
// problem. destination is the folder the run wrote into.
QString recoveryReportText(const RecoveryReport& report, const QString& destination);

// One paragraph per compressed file (path, entry size, whether its stored
// header carries that size, stored length), then how they are recovered.
QString compressedFilesText(const MountedVolume& volume, const std::vector<CompressedFileInfo>& files,
                            const NameCodec& names);

// The damage report: the tables' lost sectors first, then one line per
// folder and file (path, bytes unreadable of its size, share intact), or a
// line saying nothing is damaged.
QString damageReportText(const MountedVolume& volume, const DamageReport& report, const NameCodec& names);

// The same two reports as JSON objects, for saving: the counts and one
// {path, problem} per problem; the damaged tables, folders and files with
// the keys of `tamsin damage --json`.
QByteArray recoveryReportJson(const RecoveryReport& report, const QString& destination);
QByteArray damageReportJson(const MountedVolume& volume, const DamageReport& report, const NameCodec& names);

// The overall line of a running recovery: "File 3 of 19, 120 KB of 446 KB"
// and, once known, ", about 2 min left".
struct OverallProgress {
    std::uint64_t filesDone = 0;
    std::uint64_t files = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytes = 0;
    double secondsLeft = -1;  // negative: not known yet
    int percent() const;
};
QString overallProgressText(const OverallProgress& progress);

} // namespace tamsin::app
