#pragma once
// Lists the machine's whole-disk block devices from sysfs, then the image
// files named by the user.

#include "disk/DiskInfo.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tamsin {

// Where device facts come from; tests point these at a fake tree.
struct DiskSources {
    std::filesystem::path sysBlock = "/sys/block";  // empty: list no devices, only images
    std::filesystem::path devDir = "/dev";
};

struct EnumerationResult {
    DiskTable table;
    std::vector<std::string> errors;  // one line per image that could not be probed
};

// Whether a /sys/block entry name is a disk we list (sd*, nvme*n*, vd*, hd*,
// xvd*, mmcblk*, loop*); partitions never appear in /sys/block.
bool isListedDiskName(const std::string& name);

// Block devices first (in a stable order), then the images in the order given.
EnumerationResult enumerateDisks(const std::vector<std::string>& imagePaths = {}, const DiskSources& sources = {});

// Probes one image file or device path given by the user. Returns false and
// sets error when it cannot be opened.
bool probeDiskPath(const std::string& path, DiskInfo& disk, std::string& error);

} // namespace tamsin
