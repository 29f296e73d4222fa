#include "DiskArgument.h"

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"
#include "disk/HelperDisk.h"
#include "disk/HelperLibraries.h"
#include "disk/RescueMap.h"

#include <algorithm>
#include <cctype>

namespace tamsin::cli {

std::optional<DiskInfo> resolveDisk(const std::string& argument, AccessMode mode, std::string& error)
{
    const bool helper = mode == AccessMode::Helper;
    const bool isIndex = !argument.empty() && argument.size() <= 5
        && std::all_of(argument.begin(), argument.end(), [](unsigned char c) { return std::isdigit(c); });
    if (isIndex) {
        const DiskTable listed = helper ? listHelperDisks(HelperLibraries::process()) : enumerateDisks().table;
        const std::size_t index = std::stoul(argument);
        if (const DiskInfo* disk = listed.disk(index))
            return *disk;
        error = "no disk with index " + argument + " (see 'tamsin " + (helper ? "--access-mode F " : "") + "disks'; "
            + std::to_string(listed.diskCount) + " listed)";
        return std::nullopt;
    }
    if (helper) {
        error = argument + ": in access mode F a disk is named by its index from 'tamsin --access-mode F disks'; "
                           "devices and image files are read in access mode N";
        return std::nullopt;
    }
    DiskInfo disk;
    if (!probeDiskPath(argument, disk, error))
        return std::nullopt;
    if (!disk.mediaPresent) {
        error = argument + ": no sectors to read (empty file or no medium)";
        return std::nullopt;
    }
    return disk;
}

bool attachRescueMap(SectorReader& reader, const std::string& mapPath, bool noMap, std::ostream& err)
{
    std::string path;
    std::string error;
    if (!useRescueMap(reader, mapPath, !noMap, path, error)) {
        err << "tamsin: rescue map " << path << ": " << error << '\n';
        return false;
    }
    if (!path.empty())
        err << "tamsin: reading " << reader.device()->path() << " with the rescue map " << path << " ("
            << reader.rescueMap()->unreadableSectors() << " sectors not rescued are unreadable)\n";
    return true;
}

bool openMoreDisks(Session& session, const std::vector<std::string>& arguments, bool noMap, std::ostream& err)
{
    for (const std::string& argument : arguments) {
        std::string error;
        const auto disk = resolveDisk(argument, session.reader.accessMode(), error);
        if (!disk) {
            err << "tamsin: --with " << argument << ": " << error << '\n';
            return false;
        }
        OpenError openError;
        SectorReader& reader = session.addDisk();
        if (!reader.openDisk(*disk, &openError)) {
            err << "tamsin: " << openError.message << '\n';
            return false;
        }
        if (!attachRescueMap(reader, {}, noMap, err))
            return false;
    }
    return true;
}

} // namespace tamsin::cli
