#include "recovery/DestinationTree.h"

#include "mount/MountedVolume.h"
#include "recovery/DestinationNames.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {
namespace {

bool isNonFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool makeFolder(const std::string& path, FolderFailure& failure, std::vector<std::string>* made)
{
    if (::mkdir(path.c_str(), 0755) == 0) {
        if (made)
            made->push_back(path);
        return true;
    }
    const int code = errno;
    struct stat st {};
    if (code == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    failure = {path, code == EEXIST ? ENOTDIR : code};
    return false;
}

} // namespace

void MadePaths::add(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        made_.insert({st.st_dev, st.st_ino});
}

bool MadePaths::contains(const std::string& path) const
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && made_.contains({st.st_dev, st.st_ino});
}

DestinationTree::DestinationTree(const MountedVolume& volume, std::string destination, NameDecoder decodeName,
                                 MadePaths& made) :
    volume_(volume), decodeName_(std::move(decodeName)), madePaths_(made), paths_(volume.tree.size()),
    made_(volume.tree.size(), false)
{
    if (!paths_.empty())
        paths_[FolderTree::kRootItem] = std::move(destination);
}

std::string DestinationTree::folderFor(std::uint32_t item, FolderFailure& failure, std::vector<std::string>* made)
{
    if (paths_.empty())
        return {};
    std::vector<std::uint32_t> chain;
    for (std::uint32_t i = item; !made_[i]; i = volume_.tree.item(i).parent) {
        chain.push_back(i);
        if (i == FolderTree::kRootItem)
            break;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (*it == FolderTree::kRootItem) {
            if (!makeFolder(paths_[*it], failure, made))
                return {};
        } else {
            const std::string& parent = paths_[volume_.tree.item(*it).parent];
            const std::string name = safeFileName(decodeName_(volume_.folderForItem(*it)->name));
            paths_[*it] = joinPath(parent, name);
            // Folders that get the same path are one folder (a live and a
            // deleted folder of one name recover together); a file already
            // holding the name (a recovered file whose safe name equals the
            // folder's) moves the folder to "Copy (n ) of".
            for (unsigned n = 1; isNonFolder(paths_[*it]); ++n)
                paths_[*it] = joinPath(parent, duplicateName(n, name));
            if (!makeFolder(paths_[*it], failure, made))
                return {};
            madePaths_.add(paths_[*it]);
        }
        made_[*it] = true;
    }
    return paths_[item];
}

bool makeDestination(const std::string& path, FolderFailure& failure)
{
    std::string partial;
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t slash = path.find('/', at + 1);
        partial = path.substr(0, slash);
        at = slash;
        if (partial.empty() || pathExists(partial))
            continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            failure = {partial, errno};
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        failure = {path, ENOTDIR, true};
        return false;
    }
    return true;
}

void removeFolders(const std::vector<std::string>& folders)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        ::rmdir(it->c_str());
}

} // namespace tamsin
