#include "disk/HelperLibraries.h"

#include <cstdlib>
#include <dlfcn.h>

namespace fs = std::filesystem;

namespace tamsin {
namespace {

void* openLibrary(const fs::path& folder, const char* name)
{
    // Bound now, so that a library with unresolved symbols counts as corrupted
    // here rather than failing in the middle of a read.
    return ::dlopen((folder / name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <typename Function>
bool lookUp(void* library, const char* symbol, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, symbol));
    return function != nullptr;
}

bool isUnder(const fs::path& path, const fs::path& folder)
{
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace

std::string HelperLibraries::load(const fs::path& folder)
{
    disk32_ = openLibrary(folder, kDisk32Name);
    if (!disk32_)
        return kDisk32Missing;
    if (!lookUp(disk32_, "ReadDisk32", readDisk_))
        return kDisk32Corrupted;
    if (!lookUp(disk32_, "CheckInt13Extension32", checkInt13Extension_))
        return kDisk32Corrupted;
    disk2_ = openLibrary(folder, kDisk2Name);
    if (!disk2_)
        return kDisk2Missing;
    if (!lookUp(disk2_, "get_drive_geometry32", getDriveGeometry_))
        return kDisk2Corrupted;
    if (!lookUp(disk32_, "find_hard_disk32", findHardDisk_))
        return kDisk32Corrupted;
    return {};
}

std::uint16_t HelperLibraries::findHardDisks() const
{
    std::uint16_t count = 0;
    findHardDisk_(&count);
    return count;
}

std::uint32_t HelperLibraries::checkInt13Extension(std::uint32_t diskNumber) const
{
    return checkInt13Extension_(diskNumber);
}

HelperGeometry HelperLibraries::driveGeometry(std::uint32_t diskNumber) const
{
    HelperGeometry geometry;
    getDriveGeometry_(diskNumber & 0xFF, &geometry.cylinders, &geometry.heads, &geometry.sectorsPerTrack);
    return geometry;
}

void HelperLibraries::readDisk(std::uint32_t diskNumber, std::uint32_t cylinder, std::uint32_t head,
                               std::uint32_t sector, std::uint32_t count, void* buffer, std::uint32_t lba,
                               std::uint32_t int13Extensions) const
{
    const std::lock_guard lock(readMutex_);
    readDisk_(diskNumber, cylinder, head, sector, count, buffer, lba, int13Extensions);
}

HelperLibraries& HelperLibraries::process()
{
    static HelperLibraries libraries;
    return libraries;
}

fs::path HelperLibraries::defaultFolder()
{
    if (const char* folder = std::getenv("TAMSIN_HELPER_DIR"); folder && *folder)
        return folder;
    std::error_code ec;
    const fs::path exeDir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    const fs::path buildTree = fs::weakly_canonical(TAMSIN_BUILD_TREE, ec);
    if (!buildTree.empty() && isUnder(exeDir, buildTree))
        return TAMSIN_BUILD_HELPER_DIR;
    return (exeDir / TAMSIN_INSTALLED_HELPER_DIR).lexically_normal();
}

} // namespace tamsin
