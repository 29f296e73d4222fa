#pragma once
// Resolves the DISK argument of a command: an index from `tamsin disks` or a
// path to a block device or image file.

#include "disk/DiskInfo.h"

#include <optional>
#include <string>

namespace tamsin::cli {

// The disk named by argument, or nothing with error set.
std::optional<DiskInfo> resolveDisk(const std::string& argument, std::string& error);

} // namespace tamsin::cli
