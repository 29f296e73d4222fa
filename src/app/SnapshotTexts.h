#pragma once
// The wizard's messages for snapshot files that cannot be saved or loaded,
// as displayed (the blanks are part of the texts).

#include "snapshot/Snapshot.h"

#include <string>

namespace tamsin::texts {

inline constexpr const char* kUnableToOpenMessage = "Unable to open the file";
inline constexpr const char* kInvalidMagicPrefix = "    Invalid version of the file found : ";
inline constexpr const char* kVersionMismatchMessage =
    "              version of file does not match with current version 1.0";

} // namespace tamsin::texts

namespace tamsin::app {

// The message for a failed save or load; empty for Ok.
std::string snapshotMessage(const SnapshotResult& result);

// What to ask before loading a snapshot the disk does not confirm
// (OtherEntries or NoneReadable).
std::string snapshotOtherDiskQuestion(SnapshotDiskMatch match);

} // namespace tamsin::app
