#include "DiskArgument.h"

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"
#include "disk/RescueMap.h"

#include <algorithm>
#include <cctype>

namespace tamsin::cli {

std::optional<DiskInfo> resolveDisk(const std::string& argument, std::string& error)
{
    const bool isIndex = !argument.empty() && argument.size() <= 5
        && std::all_of(argument.begin(), argument.end(), [](unsigned char c) { return std::isdigit(c); });
    if (isIndex) {
        const EnumerationResult listed = enumerateDisks();
        const std::size_t index = std::stoul(argument);
        if (const DiskInfo* disk = listed.table.disk(index))
            return *disk;
        error = "no disk with index " + argument + " (see 'tamsin disks'; " + std::to_string(listed.table.diskCount)
            + " listed)";
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
        const auto disk = resolveDisk(argument, error);
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
