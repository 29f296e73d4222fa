#pragma once
// The disks the wizard tests run on: the demo disk and variants of it.

#include "imagebuilder/ImageBuilder.h"

#include <string>

namespace tamsin::test {

// The demo disk's SYS volume as the builder lays it out.
const imagebuilder::VolumeManifest& demoSys();

// The demo disk with sector 0 wiped: no partition table, volumes only by search.
imagebuilder::DiskSpec demoWithoutPartitionTable();
// SYS's FAT copy 2 differs from copy 1 in one unused entry.
imagebuilder::DiskSpec demoWithFatMismatch();
// In SYS's DET copy 2 the entry of name is marked deleted.
imagebuilder::DiskSpec demoWithDetMismatch(const std::string& name);
// A disk with a partition table but no NetWare partition.
imagebuilder::DiskSpec diskWithoutNetWare();

} // namespace tamsin::test
