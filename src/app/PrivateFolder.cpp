#include "PrivateFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tamsin::app {
namespace {

// mkdtemp makes the folder with mode 0700; empty when it fails. The pid
// file lets a later run tell an abandoned folder from a live one.
std::string makeUnder(const char* base)
{
    if (!base || !*base)
        return {};
    std::string pattern = std::string(base) + "/tamsin-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data()))
        return {};
    const std::string folder(name.data());
    std::ofstream(folder + "/" + PrivateFolder::kPidFile) << ::getpid() << '\n';
    return folder;
}

// Whether the folder's pid file names a process that is gone.
bool abandoned(const std::filesystem::path& folder)
{
    std::ifstream in(folder / PrivateFolder::kPidFile);
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid == ::getpid())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

const std::string& PrivateFolder::path()
{
    if (path_.empty())
        path_ = makeUnder(std::getenv("XDG_RUNTIME_DIR"));
    if (path_.empty())
        path_ = makeUnder(std::getenv("TMPDIR"));
    if (path_.empty())
        path_ = makeUnder("/tmp");
    return path_;
}

int PrivateFolder::removeAbandoned()
{
    int removed = 0;
    std::set<std::filesystem::path> bases;
    for (const char* base : {static_cast<const char*>(std::getenv("XDG_RUNTIME_DIR")),
                             static_cast<const char*>(std::getenv("TMPDIR")), "/tmp"})
        if (base && *base)
            bases.insert(base);
    for (const auto& base : bases) {
        std::error_code error;
        for (const auto& item : std::filesystem::directory_iterator(base, error)) {
            const std::string name = item.path().filename().string();
            struct stat info {};
            if (name.size() != 13 || !name.starts_with("tamsin-") || ::lstat(item.path().c_str(), &info) != 0
                || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || !abandoned(item.path()))
                continue;
            std::error_code removeError;
            if (std::filesystem::remove_all(item.path(), removeError) > 0 && !removeError)
                ++removed;
        }
    }
    return removed;
}

void PrivateFolder::remove()
{
    if (path_.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    path_.clear();
}

} // namespace tamsin::app
