#pragma once
// Names of recovered files on the local file system.

#include <string>

namespace tamsin {

// A name that cannot leave its folder: "/" and control characters become
// "_", "." and ".." become "_" and "__", and the name is cut (at a UTF-8
// character boundary) to the 255 bytes a Linux file name may hold.
std::string safeFileName(const std::string& utf8Name);

// destFolder joined with name by "/", unless destFolder already ends with one.
std::string joinPath(const std::string& destFolder, const std::string& name);

// "Copy (" n " ) of " name.
std::string duplicateName(unsigned n, const std::string& name);

// Whether anything (file, folder, link) exists at path.
bool pathExists(const std::string& path);

} // namespace tamsin
