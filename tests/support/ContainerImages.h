#pragma once
// Container copies of builder-made raw images, written by qemu-img and
// ewfacquire, for reading the same disk through every container format.

#include "disk/DiskFormat.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tamsin::test {

struct ContainerKind {
    std::string label;  // also the test-name suffix: vmdkSparse, vhdFixed, ...
    DiskFormat format;
};

// Every variant: VMDK monolithic sparse, monolithic flat, split sparse (2 GB
// extents); VHD dynamic and fixed; VHDX; QCOW2; EWF in 1 MiB segments.
std::vector<ContainerKind> containerKinds();

// Writes the container copy of raw into folder and returns the file to open
// (the descriptor or first segment); name, without extension, names it.
// Fails the test (with the tool's message) when the tool is missing or fails.
std::filesystem::path makeContainer(const std::filesystem::path& raw, const ContainerKind& kind,
                                    const std::filesystem::path& folder, const std::string& name = "disk");

} // namespace tamsin::test
