#pragma once
// Resolves the DISK argument of a command: an index from `tamsin disks` or a
// path to a block device or image file. In access mode F only an index
// names a disk: the helper libraries list the disks and read them.

#include "disk/DiskInfo.h"
#include "session/Session.h"

#include <optional>
#include <ostream>
#include <vector>
#include <string>

namespace tamsin::cli {

// The disk named by argument in access mode mode, or nothing with error set.
std::optional<DiskInfo> resolveDisk(const std::string& argument, AccessMode mode, std::string& error);

// Gives the open disk of reader its rescue map: mapPath when given, else
// (unless noMap) IMAGE.map or IMAGE.mapfile beside an image file, saying so
// on err. False, with the message on err, when the map cannot be used.
bool attachRescueMap(SectorReader& reader, const std::string& mapPath, bool noMap, std::ostream& err);

// Opens each DISK given with --with as a further disk of the session, each
// with the map beside it unless noMap. On a failure writes the message to err
// and returns false.
bool openMoreDisks(Session& session, const std::vector<std::string>& arguments, bool noMap, std::ostream& err);

} // namespace tamsin::cli
