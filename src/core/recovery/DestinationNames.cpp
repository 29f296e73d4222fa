#include "recovery/DestinationNames.h"

#include <algorithm>
#include <sys/stat.h>

namespace tamsin {

std::string safeFileName(const std::string& utf8Name)
{
    if (utf8Name.empty())
        return "_";
    if (utf8Name == "." || utf8Name == "..")
        return std::string(utf8Name.size(), '_');
    std::string name = utf8Name;
    std::replace(name.begin(), name.end(), '/', '_');
    constexpr std::size_t kNameMax = 255;
    if (name.size() > kNameMax) {
        std::size_t cut = kNameMax;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return name;
}

std::string joinPath(const std::string& destFolder, const std::string& name)
{
    if (destFolder.empty() || destFolder.back() == '/')
        return destFolder + name;
    return destFolder + "/" + name;
}

std::string duplicateName(unsigned n, const std::string& name)
{
    std::string result = "Copy (";
    result.append(std::to_string(n)).append(" ) of ").append(name);
    return result;
}

bool pathExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace tamsin
