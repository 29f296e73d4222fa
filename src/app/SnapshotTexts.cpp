#include "SnapshotTexts.h"

namespace tamsin::app {

std::string snapshotMessage(const SnapshotResult& result)
{
    switch (result.status) {
    case SnapshotStatus::WrongMagic:
        return texts::kInvalidMagicPrefix + result.foundMagic;
    case SnapshotStatus::WrongVersion:
        return texts::kVersionMismatchMessage;
    default:
        return words::snapshotMessage(result);
    }
}

} // namespace tamsin::app
