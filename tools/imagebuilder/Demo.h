#pragma once
// The disk the demo and the tool's --demo option write.

#include "imagebuilder/DiskDescription.h"

namespace tamsin::imagebuilder {

// A 256 MiB disk: slot 0 an empty FAT32 partition of 32 MiB at sector 2048,
// slot 1 a NetWare partition over the rest of the disk holding the volumes
// SYS (48 MiB) and VOL1 (96 MiB) with 4 KiB blocks, hot-fix header at probe 1.
DiskSpec demoDiskSpec();

} // namespace tamsin::imagebuilder
