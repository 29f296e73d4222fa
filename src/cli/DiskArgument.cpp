#include "DiskArgument.h"

#include "disk/DiskEnumerator.h"
#include "disk/FileDevice.h"

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

bool openMoreDisks(Session& session, const std::vector<std::string>& arguments, std::ostream& err)
{
    for (const std::string& argument : arguments) {
        std::string error;
        const auto disk = resolveDisk(argument, error);
        if (!disk) {
            err << "tamsin: --with " << argument << ": " << error << '\n';
            return false;
        }
        OpenError openError;
        if (!session.addDisk().openDisk(*disk, &openError)) {
            err << "tamsin: " << openError.message << '\n';
            return false;
        }
    }
    return true;
}

} // namespace tamsin::cli
