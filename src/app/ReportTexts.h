#pragma once
// The texts of the two reports the recovery commands show: the end of a
// recovery run, and what is known of the volume's compressed files.

#include "recovery/CompressedFiles.h"
#include "recovery/DamageScan.h"
#include "recovery/RecoveryRun.h"

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

} // namespace tamsin::app
