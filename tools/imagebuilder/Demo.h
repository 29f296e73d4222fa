#pragma once
// The disk the demo and the tool's --demo option write.

#include "imagebuilder/DiskDescription.h"

namespace tamsin::imagebuilder {

// A 256 MiB disk: slot 0 an empty FAT32 partition of 32 MiB at sector 2048,
// slot 1 a NetWare partition over the rest of the disk holding the volumes
// SYS (48 MiB) and VOL1 (96 MiB) with 4 KiB blocks, hot-fix header at probe 1.
// SYS holds LOGIN, PUBLIC, SYSTEM (with a deleted AUTOEXEC.BAK) and
// USERS/ALICE, USERS/BOB and the deleted USERS/CAROL, with long names, a
// compressed file (ALICE/Customer Address List.txt), a suballocated tail
// (ALICE/NOTES.TXT) and a fragment-only file (BOB/TODO.TXT); VOL1 holds a
// small DATA, ARCHIVE and SHARED tree.
DiskSpec demoDiskSpec();

} // namespace tamsin::imagebuilder
