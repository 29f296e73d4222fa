#include "DiskArgument.h"

#include "disk/DiskEnumerator.h"

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

} // namespace tamsin::cli
