#pragma once
// The disks the wizard tests run on: the demo disk and variants of it.

#include "imagebuilder/ImageBuilder.h"

#include <functional>
#include <string>
#include <vector>

namespace tamsin::test {

// The demo disk's SYS volume as the builder lays it out.
const imagebuilder::VolumeManifest& demoSys();

// The demo disk with sector 0 wiped: no partition table, volumes only by search.
imagebuilder::DiskSpec demoWithoutPartitionTable();
// SYS's FAT copy 2 differs from copy 1 in one unused entry.
imagebuilder::DiskSpec demoWithFatMismatch();
// In SYS's DET copy 2 the entry of name is marked deleted.
imagebuilder::DiskSpec demoWithDetMismatch(const std::string& name);
// The names of the folders that hold entry, from below the root down.
std::vector<std::string> holdingFolders(const imagebuilder::VolumeManifest& volume,
                                        const imagebuilder::ManifestEntry& entry);

// The contents of SYS in a demo disk description.
imagebuilder::VolumeContents& sysContents(imagebuilder::DiskSpec& diskSpec);
// The demo disk with the SYS node whose DOS name is name changed by change.
imagebuilder::DiskSpec demoWithNode(const std::string& name, const std::function<void(imagebuilder::Node&)>& change);
// A disk with a partition table but no NetWare partition.
imagebuilder::DiskSpec diskWithoutNetWare();

// Two disks, each with a NetWare partition at sector 2048. Disk 0 holds SYS
// and segment 0 of DATA (blocks 0..15, 16 sectors per block); disk 1 holds
// segment 1 (blocks 16..47). DATA's BIG.BIN runs from segment 0 into
// segment 1; REPORT.DOC has a LONG name and a modification stamp; LOST.TXT's
// parent is gone, so it lands in the placeholder folder Dir0.
imagebuilder::DiskSetSpec spannedDataSet();

} // namespace tamsin::test
