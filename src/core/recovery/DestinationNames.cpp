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
    // "/" and control characters (C0, DEL, and C1 as UTF-8 writes them),
    // which would put newlines or terminal escapes into file names.
    std::string name;
    name.reserve(utf8Name.size());
    for (std::size_t i = 0; i < utf8Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8Name[i]);
        if (c == 0xC2 && i + 1 < utf8Name.size() && (static_cast<unsigned char>(utf8Name[i + 1]) & 0xE0) == 0x80) {
            name += '_';
            ++i;
        } else {
            name += c == '/' || c < 0x20 || c == 0x7F ? '_' : utf8Name[i];
        }
    }
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
