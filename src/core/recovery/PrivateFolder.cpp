#include "recovery/PrivateFolder.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tamsin {
namespace {

// mkdtemp makes the folder with mode 0700; empty when it fails.
std::string makeUnder(const char* base)
{
    if (!base || !*base)
        return {};
    std::string pattern = std::string(base) + "/tamsin-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return ::mkdtemp(name.data()) ? std::string(name.data()) : std::string();
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

void PrivateFolder::remove()
{
    if (path_.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    path_.clear();
}

} // namespace tamsin
