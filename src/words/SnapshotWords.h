#pragma once
// Why a snapshot file could not be saved or loaded, as both front ends say
// it (the wizard pads the wrong-magic and wrong-version messages).

#include "snapshot/Snapshot.h"

#include <string>

namespace tamsin::words {

// The message for a failed save or load; empty for Ok.
std::string snapshotMessage(const SnapshotResult& result);

// What to ask or say when the disk does not confirm a snapshot
// (OtherEntries or NoneReadable).
std::string snapshotOtherDiskQuestion(SnapshotDiskMatch match);

} // namespace tamsin::words
