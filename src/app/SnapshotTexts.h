#pragma once
// The wizard's messages for snapshot files that cannot be saved or loaded,
// as displayed (the blanks are part of the texts).

#include "SnapshotWords.h"

#include "snapshot/Snapshot.h"

#include <string>

namespace tamsin::texts {

inline constexpr const char* kInvalidMagicPrefix = "    Invalid version of the file found : ";
inline constexpr const char* kVersionMismatchMessage =
    "              version of file does not match with current version 1.0";

} // namespace tamsin::texts

namespace tamsin::app {

// The message for a failed save or load; empty for Ok.
std::string snapshotMessage(const SnapshotResult& result);

} // namespace tamsin::app
