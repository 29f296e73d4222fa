#pragma once
// The volume search from the command line: range from options (default the
// whole disk), a progress line on a terminal, and Ctrl-C as Stop.

#include "volumes/VolumeSearch.h"

#include <optional>
#include <ostream>
#include <string>

namespace tamsin {
struct DiskInfo;
struct Session;
} // namespace tamsin

namespace tamsin::cli {

struct SearchOptions {
    bool enabled = false;
    std::string start;  // empty: 0
    std::string end;    // empty: the disk's total sectors
    std::optional<int> runLength;  // none: the access mode's default (60, or 8 in mode F)
};

// Searches the open disk of session into session.volumes. False (message on
// err) when the range or run length is refused.
bool searchDisk(Session& session, const DiskInfo& disk, const SearchOptions& options, std::ostream& err,
                SearchOutcome& outcome);

} // namespace tamsin::cli
