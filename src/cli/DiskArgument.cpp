#include "DiskArgument.h"

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"
#include "disk/RescueMap.h"

#include <sys/stat.h>

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
    if (!reader.device())
        return true;
    const std::string& image = reader.device()->path();
    std::string path = mapPath;
    if (path.empty() && !noMap) {
        struct stat st {};
        if (::stat(image.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            path = mapBesideImage(image);
    }
    if (path.empty())
        return true;
    std::string error;
    auto map = RescueMap::load(path, reader.device()->sizeBytes(), error);
    if (!map) {
        err << "tamsin: rescue map " << path << ": " << error << '\n';
        return false;
    }
    err << "tamsin: reading " << image << " with the rescue map " << path << " (" << map->unreadableSectors()
        << " sectors not rescued are unreadable)\n";
    reader.setRescueMap(std::make_shared<const RescueMap>(std::move(*map)));
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
