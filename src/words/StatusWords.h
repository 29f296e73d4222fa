#pragma once
// The status lines of a mount's phases and of a volume search's runs, as
// both front ends show them.

#include "mount/MountObserver.h"

#include <cstdint>
#include <string>

namespace tamsin::words {

// volumeName is the raw name the Mounting phase shows.
std::string mountStatusText(MountStatus status, const std::string& volumeName);

// "Scanning sector <scanned> Of <total>".
std::string scanningStatus(std::uint64_t scanned, std::uint64_t total);

} // namespace tamsin::words
